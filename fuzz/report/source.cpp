// Fuzz target for the report pages: a Structured Report whose texts and
// Content Sequence shape come from the input is laid out as pages. Besides
// crashes it checks what must always hold: the pages together carry the
// whole report text, in order, and the pixels are exactly the pages.
//
// Input layout:
//   byte 0   flags: 1 the Content Sequence is flat (undefined length, items
//            as elements) instead of expanded; 2 an item in flat form inside
//            the expanded sequence; 4 a second TEXT item; 8 a PNAME item
//            after the TEXT items; 16 Modality "SR", so PrepareDisplayImage
//            draws the pages itself as the display path does
//   rest     texts separated by zero bytes, in this order: report text,
//            signer, Content Date, Content Time, Completion Flag,
//            Verification Flag, Patient's Name, Patient's Birth Date,
//            Institution Name, Study Description, second report text; a
//            missing text is empty
#include "dicom/DcmObj.h"
#include "presentation/ImageConversion.h"
#include "presentation/ReportPages.h"

#include <QGuiApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

enum Field { TEXT, SIGNER, DATE, TIME, COMPLETION, VERIFICATION, NAME, BIRTH, INSTITUTION, DESCRIPTION, TEXT2, FIELDS };

std::vector<std::string> SplitFields(const std::uint8_t *data, std::size_t size) {
  std::vector<std::string> fields(FIELDS);
  std::size_t field = 0;
  for (std::size_t i = 0; i < size && field < FIELDS; ++i) {
    if (data[i] == 0)
      ++field;
    else
      fields[field].push_back(static_cast<char>(data[i]));
  }
  return fields;
}

void AddItem(fw::DcmObj &sequence, const char *valueType, std::uint16_t element, const std::string &value) {
  fw::DcmObj item;
  item.PutText(0x0040, 0xA040, valueType);
  item.PutText(0x0040, element, value);
  sequence.InsertSequence(0xFFFE, 0xE000, item);
}

void AppendFlatItem(fw::DcmObj &container, const char *valueType, std::uint16_t element, const std::string &value) {
  container.Append(fw::DcmTag::FromBytes(0xFFFE, 0xE000, fw::UNDEFINED_LENGTH, nullptr, ""));
  container.Append(fw::DcmTag::FromText(0x0040, 0xA040, valueType));
  container.Append(fw::DcmTag::FromText(0x0040, element, value));
  container.Append(fw::DcmTag::FromBytes(0xFFFE, 0xE00D, 0, nullptr, ""));
}

} // namespace

// fontconfig keeps its font patterns for the life of the process; the leak
// check at exit must not take them for the target's.
extern "C" const char *__lsan_default_suppressions() { return "leak:libfontconfig\n"; }

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  // Fonts need an application object; no window is shown.
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QGuiApplication app(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1)
    return 0;
  const std::uint8_t flags = data[0];
  const std::vector<std::string> f = SplitFields(data + 1, size - 1);

  fw::DcmObj ds;
  ds.PutText(0x0008, 0x0023, f[DATE]);
  ds.PutText(0x0008, 0x0033, f[TIME]);
  if (flags & 16)
    ds.PutText(0x0008, 0x0060, "SR");
  ds.PutText(0x0008, 0x0080, f[INSTITUTION]);
  ds.PutText(0x0008, 0x1030, f[DESCRIPTION]);
  ds.PutText(0x0010, 0x0010, f[NAME]);
  ds.PutText(0x0010, 0x0030, f[BIRTH]);
  ds.PutText(0x0040, 0xA491, f[COMPLETION]);
  ds.PutText(0x0040, 0xA493, f[VERIFICATION]);
  if (flags & 1) {
    ds.Append(fw::DcmTag::FromBytes(0x0040, 0xA730, fw::UNDEFINED_LENGTH, nullptr, "SQ"));
    AppendFlatItem(ds, "PNAME", 0xA123, f[SIGNER]);
    AppendFlatItem(ds, "TEXT", 0xA160, f[TEXT]);
    ds.Append(fw::DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, ""));
  } else {
    fw::DcmObj sequence;
    AddItem(sequence, "PNAME", 0xA123, f[SIGNER]);
    AddItem(sequence, "TEXT", 0xA160, f[TEXT]);
    if (flags & 2)
      AppendFlatItem(sequence, "TEXT", 0xA160, f[TEXT2]);
    if (flags & 4)
      AddItem(sequence, "TEXT", 0xA160, f[TEXT2]);
    if (flags & 8)
      AddItem(sequence, "PNAME", 0xA123, f[TEXT2]);
    ds.InsertSequence(0x0040, 0xA730, sequence);
  }

  fw::TImages images;
  fw::PrepareDisplayImage(images, ds);
  if (flags & 16) {
    if (images.pixels.size() !=
        std::size_t{fw::REPORT_PAGE_WIDTH} * fw::REPORT_PAGE_HEIGHT * static_cast<std::size_t>(images.frameCount))
      std::abort();
    return 0;
  }
  const fw::ReportLayout layout = fw::RenderReportPages(images, ds);
  const std::string text = fw::CollectReportValues(ds).text;
  std::size_t next = 0;
  for (const auto &page : layout.pages) {
    if (page.first != next)
      std::abort();
    next += page.count;
  }
  if (next != text.size() || layout.pages.size() < static_cast<std::size_t>(fw::ReportPageCount(layout.textHeight)) ||
      images.frameCount != static_cast<std::int32_t>(layout.pages.size()) ||
      images.pixels.size() != layout.pages.size() * fw::REPORT_PAGE_WIDTH * fw::REPORT_PAGE_HEIGHT)
    std::abort();
  return 0;
}
