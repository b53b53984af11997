// Structured Reports drawn as printed pages: the values taken from the data
// set, the dates rearranged, the page count, and pages that carry the whole
// text however long it is, with its line breaks and tabs. A two-page report
// is written as PNG files into the test output folder for a person to look
// at.
#include "presentation/ImageConversion.h"
#include "presentation/ReportPages.h"

#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace fw {
namespace {

constexpr int W = REPORT_PAGE_WIDTH;
constexpr int H = REPORT_PAGE_HEIGHT;

// Content Sequence items: value type and value (Person Name for "PNAME",
// Text Value for "TEXT", nothing else for other types).
using Items = std::vector<std::pair<std::string, std::string>>;

void PutItems(DcmObj &ds, const Items &items) {
  DcmObj sequence;
  for (const auto &[type, value] : items) {
    DcmObj item;
    item.PutText(0x0040, 0xA040, type);
    if (type == "PNAME")
      item.PutText(0x0040, 0xA123, value);
    else if (type == "TEXT")
      item.PutText(0x0040, 0xA160, value);
    sequence.InsertSequence(0xFFFE, 0xE000, item);
  }
  ds.InsertSequence(0x0040, 0xA730, sequence);
}

std::unique_ptr<DcmObj> Report(const Items &items) {
  auto ds = std::make_unique<DcmObj>();
  ds->PutText(0x0008, 0x0023, "20240309");
  ds->PutText(0x0008, 0x0033, "141502");
  ds->PutText(0x0008, 0x0060, "SR");
  ds->PutText(0x0008, 0x0080, "Harbour General Hospital");
  ds->PutText(0x0008, 0x1030, "Upper GI endoscopy");
  ds->PutText(0x0010, 0x0010, "Doe^Jane");
  ds->PutText(0x0010, 0x0020, "PID-4711");
  ds->PutText(0x0010, 0x0030, "19800102");
  ds->PutText(0x0010, 0x0040, "F");
  ds->PutText(0x0040, 0xA491, "COMPLETE");
  ds->PutText(0x0040, 0xA493, "VERIFIED");
  PutItems(*ds, items);
  return ds;
}

std::unique_ptr<DcmObj> ReportWithText(const std::string &text) {
  return Report({{"PNAME", "Smith^John^^Dr"}, {"TEXT", text}});
}

// Dark pixels (below mid grey) of a page inside a rectangle.
int Ink(const TImages &images, int page, const QRect &area) {
  int dark = 0;
  const std::size_t base = static_cast<std::size_t>(page) * W * H;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      dark += images.pixels[base + static_cast<std::size_t>(y) * W + x] < 128;
  return dark;
}

// Rows of a page inside the text rectangle holding any dark pixel.
std::vector<int> InkedRows(const TImages &images, int page, int top) {
  std::vector<int> rows;
  for (int y = top; y < 900; ++y)
    if (Ink(images, page, QRect(100, y, 700, 1)) > 0)
      rows.push_back(y);
  return rows;
}

// Separate runs of inked rows: the lines of text drawn.
int Bands(const std::vector<int> &rows) {
  int bands = 0;
  for (std::size_t i = 0; i < rows.size(); ++i)
    bands += i == 0 || rows[i] != rows[i - 1] + 1;
  return bands;
}

// Height of the first run of inked rows.
int FirstBandHeight(const std::vector<int> &rows) {
  std::size_t i = 1;
  while (i < rows.size() && rows[i] == rows[i - 1] + 1)
    ++i;
  return rows.empty() ? 0 : static_cast<int>(i);
}

QImage Page(const TImages &images, int page) {
  QImage image(images.pixels.data() + static_cast<std::size_t>(page) * W * H, W, H, W, QImage::Format_Grayscale8);
  return image.copy();
}

std::string OutputPath(const std::string &name) {
  std::filesystem::create_directories(FW_TEST_OUTPUT_DIR);
  return std::string(FW_TEST_OUTPUT_DIR) + "/" + name;
}

// The characters of all pages, in page order, must be the whole text with
// nothing left out or drawn twice.
void ExpectWholeTextOnPages(const ReportLayout &layout, const std::string &text) {
  std::size_t next = 0;
  for (std::size_t page = 0; page < layout.pages.size(); ++page) {
    EXPECT_EQ(layout.pages[page].first, next) << "page " << page;
    next = layout.pages[page].first + layout.pages[page].count;
  }
  EXPECT_EQ(next, text.size());
}

// Lines "Line 1" .. "Line n", one paragraph each.
std::string NumberedLines(int n) {
  std::string text;
  for (int i = 1; i <= n; ++i)
    text += "Line " + std::to_string(i) + (i < n ? "\r\n" : "");
  return text;
}

TEST(ReportValues, TopLevelValuesAndTheLastItemOfEachKind) {
  auto ds = Report({{"PNAME", "First^Signer"},
                    {"TEXT", "first text"},
                    {"CODE", ""},
                    {"TEXT", "second text"},
                    {"PNAME", "Second^Signer"}});
  const ReportValues values = CollectReportValues(*ds);
  EXPECT_EQ(values.contentDate, "20240309");
  EXPECT_EQ(values.contentTime, "141502");
  EXPECT_EQ(values.completionFlag, "COMPLETE");
  EXPECT_EQ(values.verificationFlag, "VERIFIED");
  EXPECT_EQ(values.signer, "Second^Signer");
  EXPECT_EQ(values.text, "second text");
}

TEST(ReportValues, FlatContentSequenceGivesNoSignerAndNoText) {
  DcmObj ds;
  ds.PutText(0x0008, 0x0023, "20240309");
  // (0040,A730) of undefined length with its items as flat elements; the
  // Content Date inside an item is not the report's.
  ds.Append(DcmTag::FromBytes(0x0040, 0xA730, UNDEFINED_LENGTH, nullptr, "SQ"));
  ds.Append(DcmTag::FromBytes(0xFFFE, 0xE000, UNDEFINED_LENGTH, nullptr, ""));
  ds.Append(DcmTag::FromText(0x0008, 0x0023, "19990101"));
  ds.Append(DcmTag::FromText(0x0040, 0xA040, "TEXT"));
  ds.Append(DcmTag::FromText(0x0040, 0xA160, "flat text"));
  ds.Append(DcmTag::FromBytes(0xFFFE, 0xE00D, 0, nullptr, ""));
  ds.Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, ""));
  ds.PutText(0x0040, 0xA491, "PARTIAL");
  const ReportValues values = CollectReportValues(ds);
  EXPECT_EQ(values.signer, "");
  EXPECT_EQ(values.text, "");
  EXPECT_EQ(values.contentDate, "20240309");
  EXPECT_EQ(values.completionFlag, "PARTIAL");
}

TEST(ReportValues, FlatItemsInsideAnExpandedSequenceGiveNothing) {
  DcmObj ds;
  DcmObj sequence;
  sequence.Append(DcmTag::FromBytes(0xFFFE, 0xE000, UNDEFINED_LENGTH, nullptr, ""));
  sequence.Append(DcmTag::FromText(0x0040, 0xA040, "TEXT"));
  sequence.Append(DcmTag::FromText(0x0040, 0xA160, "flat item text"));
  sequence.Append(DcmTag::FromBytes(0xFFFE, 0xE00D, 0, nullptr, ""));
  ds.InsertSequence(0x0040, 0xA730, sequence);
  EXPECT_EQ(CollectReportValues(ds).text, "");
}

TEST(ReportDates, RearrangedByCharacterPosition) {
  struct Case {
    std::string (*format)(std::string_view);
    const char *input;
    const char *expected;
  };
  const Case cases[] = {
      {BirthDateText, "19800102", "01/02/1980"},
      {ContentDateText, "20240309", "03/09/24"},
      {ContentTimeText, "141502", "14:15:02"},
      {ContentTimeText, "141502.123", "14:15:02"},
      // Short values: the parts beyond the end are empty.
      {BirthDateText, "1980", "//1980"},
      {ContentDateText, "202403", "03//24"},
      {ContentTimeText, "1415", "14:15:"},
      {BirthDateText, "", "//"},
      {ContentTimeText, "", "::"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(c.format(c.input), c.expected) << c.input;
}

TEST(ReportPageCount, FormulaAtItsBoundaries) {
  const std::pair<int, int> cases[] = {{0, 1},    {219, 1},  {220, 2},  {1049, 2}, {1050, 3}, {1879, 3},
                                       {1880, 4}, {2709, 4}, {2710, 5}, {3789, 5}, {3790, 6}};
  for (const auto &[height, pages] : cases)
    EXPECT_EQ(ReportPageCount(height), pages) << "text height " << height;
}

class ReportPages : public testing::Test {
protected:
  // PrepareDisplayImage as the display path calls it.
  static TImages Prepare(const DcmObj &ds) {
    TImages images;
    PrepareDisplayImage(images, ds);
    return images;
  }

  static ReportLayout Render(const DcmObj &ds, TImages &images) {
    PrepareDisplayImage(images, ds); // the texts; the pages are drawn again below
    return RenderReportPages(images, ds);
  }
};

TEST_F(ReportPages, ShortReportIsOneGreyPage) {
  const TImages images = Prepare(*ReportWithText("No abnormality detected."));
  EXPECT_EQ(images.frameCount, 1);
  EXPECT_EQ(images.columns, W);
  EXPECT_EQ(images.rows, H);
  EXPECT_EQ(images.bitsAllocated, 8);
  EXPECT_FALSE(images.isColor);
  ASSERT_EQ(images.pixels.size(), std::size_t{W} * H);
  EXPECT_GT(Ink(images, 0, QRect(100, 50, 650, 50)), 0);    // "Preliminary Report"
  EXPECT_GT(Ink(images, 0, QRect(100, 120, 700, 30)), 0);   // institution
  EXPECT_GT(Ink(images, 0, QRect(100, 166, 740, 8)), 2000); // first rule
  EXPECT_GT(Ink(images, 0, QRect(100, 426, 740, 8)), 2000); // second rule
  EXPECT_EQ(Bands(InkedRows(images, 0, 460)), 1);           // one line of text
  EXPECT_GT(Ink(images, 0, QRect(350, 950, 400, 18)), 0);   // "Signed: "
  EXPECT_GT(Ink(images, 0, QRect(350, 970, 400, 18)), 0);   // date and time
  EXPECT_EQ(Ink(images, 0, QRect(0, 0, W, 45)), 0);         // margins stay white
  EXPECT_EQ(Ink(images, 0, QRect(0, 1000, W, 100)), 0);
  EXPECT_EQ(Ink(images, 0, QRect(0, 0, 95, H)), 0);
}

TEST_F(ReportPages, OnlyTheLastTextItemIsPrinted) {
  const TImages both = Prepare(*Report({{"PNAME", "Smith^John"}, {"TEXT", "Alpha text."}, {"TEXT", "Beta text."}}));
  const TImages second = Prepare(*Report({{"PNAME", "Smith^John"}, {"TEXT", "Beta text."}}));
  const TImages first = Prepare(*Report({{"PNAME", "Smith^John"}, {"TEXT", "Alpha text."}}));
  EXPECT_EQ(both.pixels, second.pixels);
  EXPECT_NE(both.pixels, first.pixels);
}

TEST_F(ReportPages, MissingValuesLeaveTheLabelsAndNoText) {
  DcmObj ds;
  ds.PutText(0x0008, 0x0060, "SR");
  const TImages images = Prepare(ds);
  ASSERT_EQ(images.frameCount, 1);
  EXPECT_TRUE(InkedRows(images, 0, 460).empty());
  EXPECT_GT(Ink(images, 0, QRect(100, 220, 200, 200)), 0); // the labels
  EXPECT_GT(Ink(images, 0, QRect(350, 950, 100, 40)), 0);  // "Signed: " and "//" "::"
}

TEST_F(ReportPages, LineBreaksOfEachKindStartANewLine) {
  TImages reference;
  const std::string crlf = "First line\r\nSecond line";
  const ReportLayout crlfLayout = Render(*ReportWithText(crlf), reference);
  EXPECT_EQ(Bands(InkedRows(reference, 0, 460)), 2);
  ExpectWholeTextOnPages(crlfLayout, crlf);
  for (const std::string text : {"First line\nSecond line", "First line\rSecond line"}) {
    TImages images;
    const ReportLayout layout = Render(*ReportWithText(text), images);
    EXPECT_EQ(images.pixels, reference.pixels) << "line break of " << text.size() - 21 << " character(s)";
    ExpectWholeTextOnPages(layout, text);
  }
  // An empty line between two paragraphs keeps its height.
  TImages blank;
  Render(*ReportWithText("First line\r\n\r\nSecond line"), blank);
  const std::vector<int> rows = InkedRows(blank, 0, 460);
  const std::vector<int> closeRows = InkedRows(reference, 0, 460);
  ASSERT_FALSE(rows.empty());
  EXPECT_GT(rows.back(), closeRows.back() + 10);
}

TEST_F(ReportPages, TabMovesToTheNextStopOfTenAverageCharacters) {
  auto rightmostInk = [](const TImages &images) {
    int right = 0;
    for (int x = 100; x < 800; ++x)
      if (Ink(images, 0, QRect(x, 460, 1, 30)) > 0)
        right = x;
    return right;
  };
  const TImages tab = Prepare(*ReportWithText("A\tB"));
  const TImages space = Prepare(*ReportWithText("A B"));
  const TImages twoTabs = Prepare(*ReportWithText("A\t\tB"));
  // Verdana or its stand-in at 15 px averages 7 to 10 pixels per character.
  EXPECT_GE(rightmostInk(tab), 100 + 10 * 7);
  EXPECT_GT(rightmostInk(tab), rightmostInk(space) + 40);
  EXPECT_GE(rightmostInk(twoTabs) - rightmostInk(tab), 10 * 7);
}

TEST_F(ReportPages, LongTextIsDrawnCompletelyOverAllPages) {
  // Paragraphs with tabs and line breaks, a word longer than the text width,
  // and enough of them for several pages.
  std::string text;
  for (int i = 1; i <= 60; ++i) {
    text += "Finding " + std::to_string(i) +
            ":\tthe mucosa of the examined segment appears regular, with no "
            "ulceration, no bleeding and a normal vascular pattern throughout.";
    if (i % 7 == 0)
      text += "\r\n" + std::string(120, 'W');
    text += i % 5 == 0 ? "\r\n\r\n" : "\r\n";
  }
  text += "End of report.";
  TImages images;
  const ReportLayout layout = Render(*ReportWithText(text), images);
  ASSERT_GE(layout.pages.size(), 3u);
  EXPECT_GE(static_cast<int>(layout.pages.size()), ReportPageCount(layout.textHeight));
  EXPECT_EQ(images.frameCount, static_cast<int>(layout.pages.size()));
  ASSERT_EQ(images.pixels.size(), layout.pages.size() * W * H);
  ExpectWholeTextOnPages(layout, text);
  for (int page = 0; page < images.frameCount; ++page) {
    SCOPED_TRACE("page " + std::to_string(page));
    EXPECT_GT(Ink(images, page, QRect(350, 950, 400, 40)), 0); // signature on every page
    if (layout.pages[static_cast<std::size_t>(page)].count > 0) {
      EXPECT_FALSE(InkedRows(images, page, page == 0 ? 460 : 120).empty());
    }
    if (page > 0) {
      EXPECT_EQ(Ink(images, page, QRect(0, 0, W, 120)), 0); // no header
    }
    // Nothing crosses the bottom of the text rectangle or its right side.
    EXPECT_EQ(Ink(images, page, QRect(0, 901, W, 45)), 0);
    const int top = page == 0 ? 440 : 120;
    EXPECT_EQ(Ink(images, page, QRect(805, top, 45, 900 - top)), 0);
  }
}

TEST_F(ReportPages, TextNearTheTopOfAPageCountRangeIsNotCut) {
  // Text heights up to 3789 pixels count as five pages, which hold fewer
  // lines than that: the pages go on until the text is drawn.
  TImages one;
  const int lineHeight = Render(*ReportWithText("Line"), one).textHeight;
  ASSERT_GT(lineHeight, 10);
  const int lines = 3789 / lineHeight;
  const std::string text = NumberedLines(lines);
  TImages images;
  const ReportLayout layout = Render(*ReportWithText(text), images);
  ASSERT_EQ(layout.textHeight, lines * lineHeight);
  ASSERT_EQ(ReportPageCount(layout.textHeight), 5);
  EXPECT_GT(layout.pages.size(), 5u);
  ExpectWholeTextOnPages(layout, text);
  // Every line is drawn: the inked bands of all pages are the lines, and
  // later pages use the first page's font (lines "Line n" of equal height).
  int drawn = 0;
  const int firstLineHeight = FirstBandHeight(InkedRows(images, 0, 460));
  for (int page = 0; page < images.frameCount; ++page) {
    const std::vector<int> rows = InkedRows(images, page, page == 0 ? 460 : 120);
    drawn += Bands(rows);
    EXPECT_EQ(FirstBandHeight(rows), firstLineHeight) << "page " << page;
  }
  EXPECT_EQ(drawn, lines);
}

TEST_F(ReportPages, PagesTheTextDoesNotReachHoldTheSignatureOnly) {
  // Just past the first page's lines: the formula asks for two pages, the
  // second one may be empty of text but still carries the signature.
  TImages one;
  const int lineHeight = Render(*ReportWithText("Line"), one).textHeight;
  const int lines = 220 / lineHeight + 1;
  TImages images;
  const ReportLayout layout = Render(*ReportWithText(NumberedLines(lines)), images);
  ASSERT_EQ(ReportPageCount(layout.textHeight), 2);
  ASSERT_EQ(images.frameCount, 2);
  EXPECT_EQ(layout.pages[1].count, 0u);
  EXPECT_TRUE(InkedRows(images, 1, 120).empty());
  EXPECT_GT(Ink(images, 1, QRect(350, 950, 400, 40)), 0);
}

TEST_F(ReportPages, TwoPageReportPicturesForAPerson) {
  std::string text = "Indication:\tdyspepsia, weight loss.\r\n\r\n";
  for (int i = 1; i <= 20; ++i)
    text += "Finding " + std::to_string(i) +
            ":\tthe mucosa of the examined segment appears regular, with no ulceration or bleeding.\r\n";
  text += "\r\nConclusion:\tnormal examination. Continued on the second page until this last line.";
  TImages images;
  const ReportLayout layout = Render(*ReportWithText(text), images);
  ASSERT_EQ(images.frameCount, 2);
  ExpectWholeTextOnPages(layout, text);
  ASSERT_TRUE(Page(images, 0).save(QString::fromStdString(OutputPath("report-page-1.png")), "PNG"));
  ASSERT_TRUE(Page(images, 1).save(QString::fromStdString(OutputPath("report-page-2.png")), "PNG"));
}

} // namespace
} // namespace fw
