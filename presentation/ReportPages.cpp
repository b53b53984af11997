// RenderReport: report pages painted with QPainter on an 8-bit grey QImage;
// the text is wrapped with QTextLayout, which also tells which characters
// each line holds, so a page's share of the text is known exactly.
#include "presentation/ReportPages.h"

#include "base/Log.h"
#include "dicom/Tags.h"
#include "presentation/DCMPresentation.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPen>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

namespace fw {

namespace {

constexpr int TEXT_LEFT = 100;
constexpr int TEXT_WIDTH = 700; // to x = 800
constexpr int FIRST_PAGE_TEXT_TOP = 460;
constexpr int LATER_PAGE_TEXT_TOP = 120;
constexpr int TEXT_BOTTOM = 900;
constexpr int TAB_STOP_CHARACTERS = 10;

// Font sizes are given in points on a 96 dpi page; the pixel size is fixed
// so the layout does not depend on the paint device's resolution.
QFont ReportFont(int points, bool bold) {
  QFont font(QStringLiteral("Verdana"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize((points * 96 + 36) / 72);
  font.setBold(bold);
  return font;
}

QString Latin1(std::string_view text) { return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())); }

// Characters first .. first + count of a text, the part beyond its end empty.
std::string_view Part(std::string_view text, std::size_t first, std::size_t count) {
  return first >= text.size() ? std::string_view{} : text.substr(first, count);
}

// One line of the wrapped report text: the characters it holds (counted in
// the original text, its line break included) and, unless it is an empty
// line, the layout line that draws it.
struct TextLine {
  std::size_t first = 0;
  std::size_t count = 0;
  const QTextLayout *layout = nullptr;
  int lineIndex = 0;
};

// The report text wrapped into TEXT_WIDTH pixels: one QTextLayout per
// paragraph (the text between line breaks), and the lines in order.
class WrappedText {
public:
  WrappedText(const std::string &text, const QFont &font, QPaintDevice *device) {
    const QFontMetrics metrics(font, device);
    lineHeight_ = std::max(1, metrics.height());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTabStopDistance(TAB_STOP_CHARACTERS * std::max(1, metrics.averageCharWidth()));

    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find_first_of("\r\n", start);
      std::size_t breakLength = 0;
      if (end == std::string::npos)
        end = text.size();
      else
        breakLength = text.compare(end, 2, "\r\n") == 0 ? 2 : 1;
      AddParagraph(std::string_view(text).substr(start, end - start), start, breakLength, font, device, option);
      start = end + breakLength;
    }
  }

  const std::vector<TextLine> &lines() const { return lines_; }
  int lineHeight() const { return lineHeight_; }
  int height() const {
    return static_cast<int>(
        std::min<std::size_t>(lines_.size() * lineHeight_, std::numeric_limits<std::int32_t>::max()));
  }

private:
  void AddParagraph(std::string_view paragraph, std::size_t offset, std::size_t breakLength, const QFont &font,
                    QPaintDevice *device, const QTextOption &option) {
    if (paragraph.empty()) {
      lines_.push_back({offset, breakLength, nullptr, 0});
      return;
    }
    auto layout = std::make_unique<QTextLayout>(Latin1(paragraph), font, device);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    layout->beginLayout();
    std::size_t taken = 0;
    int y = 0;
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
      line.setLineWidth(TEXT_WIDTH);
      line.setPosition(QPointF(0, y));
      y += lineHeight_;
      if (line.textLength() <= 0)
        break;
      lines_.push_back({offset + static_cast<std::size_t>(line.textStart()),
                        static_cast<std::size_t>(line.textLength()), layout.get(), line.lineNumber()});
      taken = static_cast<std::size_t>(line.textStart() + line.textLength());
    }
    layout->endLayout();
    // Lines end where the paragraph does; its line break belongs to its last
    // line, so the characters of all lines add up to the whole text.
    if (!lines_.empty() && lines_.back().layout == layout.get())
      lines_.back().count += paragraph.size() - taken + breakLength;
    else
      lines_.push_back({offset, paragraph.size() + breakLength, nullptr, 0});
    layouts_.push_back(std::move(layout));
  }

  int lineHeight_ = 1;
  std::vector<std::unique_ptr<QTextLayout>> layouts_;
  std::vector<TextLine> lines_;
};

// Whole lines fitting in a text rectangle of the given top.
std::size_t LinesPerPage(int top, int lineHeight) { return static_cast<std::size_t>((TEXT_BOTTOM - top) / lineHeight); }

void DrawLine(QPainter &painter, int left, int top, const QString &text, int flags = Qt::AlignLeft | Qt::AlignTop) {
  painter.drawText(QRect(left, top, REPORT_PAGE_WIDTH - left, REPORT_PAGE_HEIGHT - top), flags | Qt::TextSingleLine,
                   text);
}

void DrawRule(QPainter &painter, int y) {
  painter.setPen(QPen(Qt::black, 10, Qt::SolidLine, Qt::FlatCap));
  painter.drawLine(100, y, 840, y);
}

void DrawHeader(QPainter &painter, const TImages &images, const ReportValues &values) {
  painter.setPen(Qt::black);
  painter.setFont(ReportFont(14, true));
  painter.drawText(QRect(100, 50, 650, 50), Qt::AlignCenter | Qt::TextSingleLine, QStringLiteral("Preliminary Report"));
  painter.setFont(ReportFont(20, false));
  DrawLine(painter, 100, 120, Latin1(images.institutionName));
  DrawRule(painter, 170);

  painter.setPen(Qt::black);
  painter.setFont(ReportFont(12, true));
  const std::string labelled[] = {
      "PATIENT: " + images.patientName,
      "ID: " + images.patientId,
      "DATE OF BIRTH: " + BirthDateText(images.patientBirthDate),
      "SEX: " + images.patientSex,
      "DESCRIPTION: " + images.studyDescription,
      "COMPLETION Flag: " + values.completionFlag,
      "VERIFICATION Flag: " + values.verificationFlag,
  };
  int top = 220;
  for (const std::string &line : labelled) {
    DrawLine(painter, 100, top, Latin1(line));
    top += 30;
  }
  DrawRule(painter, 430);
}

void DrawSignature(QPainter &painter, const ReportValues &values) {
  painter.setPen(Qt::black);
  painter.setFont(ReportFont(12, true));
  DrawLine(painter, 350, 950, Latin1("Signed: " + values.signer));
  DrawLine(painter, 350, 970, Latin1(ContentDateText(values.contentDate) + " " + ContentTimeText(values.contentTime)));
}

// The value type, signer and text of one Content Sequence item.
void TakeContentItem(const DcmObj &item, ReportValues &values) {
  const std::string valueType = item.FindText(tag::ValueType);
  if (valueType == "PNAME")
    values.signer = item.FindText(tag::PersonName);
  else if (valueType == "TEXT")
    values.text = item.FindText(tag::TextValue);
}

constexpr std::size_t kPageBytes = std::size_t{REPORT_PAGE_WIDTH} * REPORT_PAGE_HEIGHT;

// The formula's page count for the text's height, and more pages while
// lines are left.
std::size_t PageCount(int textHeight, std::size_t lineCount, int lineHeight) {
  std::size_t pages = static_cast<std::size_t>(ReportPageCount(textHeight));
  const std::size_t firstPageLines = LinesPerPage(FIRST_PAGE_TEXT_TOP, lineHeight);
  const std::size_t laterPageLines = LinesPerPage(LATER_PAGE_TEXT_TOP, lineHeight);
  if (lineCount > firstPageLines)
    pages = std::max(pages, 1 + (lineCount - firstPageLines + laterPageLines - 1) / laterPageLines);
  return pages;
}

// Draws the lines from next on that fit the page's text rectangle and moves
// next past them; returns the count of characters they hold.
std::size_t DrawPageText(QPainter &painter, const WrappedText &wrapped, bool firstPage, std::size_t &next) {
  const std::vector<TextLine> &lines = wrapped.lines();
  const int lineHeight = wrapped.lineHeight();
  const int top = firstPage ? FIRST_PAGE_TEXT_TOP : LATER_PAGE_TEXT_TOP;
  painter.setPen(Qt::black);
  const std::size_t end = std::min(lines.size(), next + LinesPerPage(top, lineHeight));
  std::size_t count = 0;
  for (int y = top; next < end; ++next, y += lineHeight) {
    const TextLine &line = lines[next];
    count += line.count;
    if (line.layout == nullptr)
      continue;
    const QTextLine layoutLine = line.layout->lineAt(line.lineIndex);
    layoutLine.draw(&painter, QPointF(TEXT_LEFT, y - layoutLine.y()));
  }
  return count;
}

// The canvas's rows without their padding, to kPageBytes at out.
void CopyPage(const QImage &canvas, std::uint8_t *out) {
  for (int row = 0; row < REPORT_PAGE_HEIGHT; ++row)
    std::memcpy(out + std::size_t{REPORT_PAGE_WIDTH} * row, canvas.constScanLine(row), REPORT_PAGE_WIDTH);
}

// The pages become the frames of the display image.
void TakePages(TImages &images, std::size_t pages, std::vector<std::uint8_t> pixels) {
  images.columns = REPORT_PAGE_WIDTH;
  images.rows = REPORT_PAGE_HEIGHT;
  images.bitsAllocated = 8;
  images.isColor = false;
  images.isMonochrome1 = false;
  images.frameCount = static_cast<std::int32_t>(std::min<std::size_t>(pages, std::numeric_limits<std::int32_t>::max()));
  images.pixels = std::move(pixels);
}

} // namespace

ReportValues CollectReportValues(const DcmObj &ds) {
  ReportValues values;
  // Elements of undefined length (flat sequences and items) open a level,
  // delimiters close one: only depth 0 is the data set's top level.
  int depth = 0;
  for (std::size_t i = 0; i < ds.Count(); ++i) {
    if (const DcmObj *nested = ds.ContainerAt(i)) {
      if (depth == 0 && nested->header.Is(tag::ContentSequence))
        for (std::size_t k = 0; k < nested->Count(); ++k)
          if (const DcmObj *item = nested->ContainerAt(k))
            TakeContentItem(*item, values);
      continue;
    }
    const DcmTag *t = ds.ElementAt(i);
    if (t == nullptr)
      continue;
    if (t->group == 0xFFFE && (t->element == 0xE00D || t->element == 0xE0DD)) {
      depth = std::max(0, depth - 1);
      continue;
    }
    if (depth == 0) {
      switch (t->Key()) {
      case 0x00080023:
        values.contentDate = t->GetText();
        break;
      case 0x00080033:
        values.contentTime = t->GetText();
        break;
      case 0x0040A491:
        values.completionFlag = t->GetText();
        break;
      case 0x0040A493:
        values.verificationFlag = t->GetText();
        break;
      default:
        break;
      }
    }
    if (t->length == UNDEFINED_LENGTH)
      ++depth;
  }
  return values;
}

std::string BirthDateText(std::string_view d) {
  return std::string(Part(d, 4, 2)) + "/" + std::string(Part(d, 6, 2)) + "/" + std::string(Part(d, 0, 4));
}

std::string ContentDateText(std::string_view d) {
  return std::string(Part(d, 4, 2)) + "/" + std::string(Part(d, 6, 2)) + "/" + std::string(Part(d, 2, 2));
}

std::string ContentTimeText(std::string_view t) {
  return std::string(Part(t, 0, 2)) + ":" + std::string(Part(t, 2, 2)) + ":" + std::string(Part(t, 4, 2));
}

int ReportPageCount(int textHeight) {
  const long long t = static_cast<long long>(std::max(0, textHeight)) + FIRST_PAGE_TEXT_TOP + 150;
  const long long p0 = t / REPORT_PAGE_HEIGHT + 1;
  return static_cast<int>((t + 270 * p0) / REPORT_PAGE_HEIGHT + 1);
}

ReportLayout RenderReportPages(TImages &images, const DcmObj &ds) {
  ReportLayout result;
  if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()) == nullptr) {
    WriteLog("ERROR, RenderReport, no QGuiApplication: fonts are not available, the report has no pages");
    return result;
  }
  const ReportValues values = CollectReportValues(ds);

  QImage canvas;
  MakeGrayBitmap(canvas, REPORT_PAGE_WIDTH, REPORT_PAGE_HEIGHT, 0xFFFFFF);
  // Every page draws its share of the text in the font it was measured in.
  const QFont textFont = ReportFont(11, true);
  const WrappedText wrapped(values.text, textFont, &canvas);
  const std::vector<TextLine> &lines = wrapped.lines();
  result.textHeight = wrapped.height();
  const std::size_t pages = PageCount(result.textHeight, lines.size(), wrapped.lineHeight());

  std::vector<std::uint8_t> pixels(kPageBytes * pages);
  std::size_t next = 0;
  for (std::size_t page = 0; page < pages; ++page) {
    ReportLayout::PageText share;
    share.first = next < lines.size() ? lines[next].first : values.text.size();
    {
      QPainter painter(&canvas);
      painter.setRenderHint(QPainter::TextAntialiasing);
      if (page == 0)
        DrawHeader(painter, images, values);
      share.count = DrawPageText(painter, wrapped, page == 0, next);
      DrawSignature(painter, values);
    }
    CopyPage(canvas, pixels.data() + page * kPageBytes);
    canvas.fill(255);
    result.pages.push_back(share);
  }

  TakePages(images, pages, std::move(pixels));
  return result;
}

void RenderReport(TImages &images, const DcmObj &ds) { RenderReportPages(images, ds); }

} // namespace fw
