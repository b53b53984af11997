// RenderReport: a Structured Report laid out as printed pages, which become
// the frames of its display image (8-bit grey, 850 x 1100, 255 white).
//
// Page layout (pixels from the top-left corner; text black on white; sizes
// in points at 96 dpi, so 11 pt is a 15 px font):
//
//   element                                   where                       font
//   "Preliminary Report"                      centred in 100,50-750,100   14 bold
//   Institution Name                          100, 120                    20
//   rule, pen width 10                        (100,170) to (840,170)
//   "PATIENT: " ... "VERIFICATION Flag: "     100, 220 + 30 per line      12 bold
//   rule, pen width 10                        (100,430) to (840,430)
//   report text, word-wrapped                 100,460-800,900             11 bold
//   "Signed: " + signer                       350, 950                    12 bold
//   content date mm/dd/yy hh:mm:ss            350, 970                    12 bold
//
// The header (first line to the second rule) is on the first page only; later
// pages carry the text's continuation in 100,120-800,900, in the same 11 bold
// as the first page, and the signature block. Only whole lines are drawn; a
// page ends before the first line that would cross the rectangle's bottom.
//
// Page count: from the height h of the whole text wrapped into 700 pixels,
// t = h + 610, p0 = t / 1100 + 1, pages = (t + 270 p0) / 1100 + 1; more
// pages follow while any character is left, so no text is ever dropped.
// Pages the text does not reach hold the signature block only.
//
// The text's line breaks (CR LF, CR or LF) start a new line; a tab moves to
// the next stop of 10 average character widths.
#pragma once

#include "dicom/DcmObj.h"
#include "presentation/TImages.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

inline constexpr int REPORT_PAGE_WIDTH = 850;
inline constexpr int REPORT_PAGE_HEIGHT = 1100;

// What a report shows besides the patient and study texts of the TImages,
// collected from the data set's top level. The signer and the text come from
// the items of an expanded Content Sequence (0040,A730) whose Value Type
// (0040,A040) is "PNAME" (Person Name (0040,A123)) or "TEXT" (Text Value
// (0040,A160)); the last item of each kind wins. A flat Content Sequence, or
// items in flat form, give neither.
struct ReportValues {
  std::string contentDate;      // (0008,0023), yyyymmdd
  std::string contentTime;      // (0008,0033), hhmmss
  std::string completionFlag;   // (0040,A491)
  std::string verificationFlag; // (0040,A493)
  std::string signer;
  std::string text;
};

ReportValues CollectReportValues(const DcmObj &ds);

// Dates and times rearranged by character position (parts beyond the end of
// the text are empty): yyyymmdd as mm/dd/yyyy and as mm/dd/yy, hhmmss as
// hh:mm:ss.
std::string BirthDateText(std::string_view yyyymmdd);
std::string ContentDateText(std::string_view yyyymmdd);
std::string ContentTimeText(std::string_view hhmmss);

// The page count formula for a text of the given height in pixels.
int ReportPageCount(int textHeight);

// How a report was laid out: the wrapped text's height and, per page, the
// part of the text drawn on it (offset and count of characters of
// ReportValues::text; count 0 on pages the text did not reach).
struct ReportLayout {
  struct PageText {
    std::size_t first = 0;
    std::size_t count = 0;
  };
  int textHeight = 0;
  std::vector<PageText> pages;
};

// Replaces the geometry and pixels of images by the report's pages:
// columns 850, rows 1100, bitsAllocated 8, greyscale, frameCount pages.
// Fonts need a QGuiApplication: without one, no page is made (images stays
// as it was), one ERROR line is logged and the layout has no pages.
ReportLayout RenderReportPages(TImages &images, const DcmObj &ds);

// RenderReportPages without the layout; called by PrepareDisplayImage for
// Modality "SR".
void RenderReport(TImages &images, const DcmObj &ds);

} // namespace fw
