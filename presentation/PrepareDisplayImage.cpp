// PrepareDisplayImage: the display image of an uncompressed data set.
#include "conversion/IconSkipper.h"
#include "presentation/ImageConversion.h"
#include "presentation/ReportPages.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

namespace fw {

namespace {

// A decimal integer from the start of a text (sign allowed), held within 32
// bits; nullopt-like false when no digit starts it.
bool ParseInteger(const std::string &text, std::int32_t &value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9')
    return false;
  std::int64_t number = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    number = std::min<std::int64_t>(number * 10 + (text[i] - '0'), std::numeric_limits<std::int32_t>::max());
  value = static_cast<std::int32_t>(negative ? -number : number);
  return true;
}

void TakePixels(TImages &images, const DcmTag &pixel) {
  const std::uint64_t frameBytes = std::uint64_t{images.columns} * images.rows * images.bitsAllocated / 8;
  const std::uint64_t total = frameBytes * static_cast<std::uint64_t>(images.frameCount);
  const ValueBytes &value = pixel.data;
  // Only what the value holds is taken: a short value gives fewer frames,
  // never an allocation the file's bytes do not back.
  if (!images.isColor) {
    images.pixels.assign(value.begin(),
                         value.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(total, value.size())));
    return;
  }
  const std::uint64_t colourFrame = 3 * frameBytes;
  const std::uint64_t available = std::min<std::uint64_t>(3 * total, value.size());
  const std::size_t plane = std::size_t{images.rows} * images.columns;
  // Planes of rows x columns bytes; samples of fewer bits stay as they are.
  if (images.planarConfiguration != 1 || colourFrame < 3 * plane) {
    images.pixels.assign(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(available));
    return;
  }
  // Three planes per frame to R, G, B triples; whole frames only.
  const std::uint64_t wholeFrames = colourFrame == 0 ? 0 : available / colourFrame;
  images.pixels.resize(wholeFrames * colourFrame);
  for (std::uint64_t f = 0; f < wholeFrames; ++f) {
    const std::uint8_t *in = value.data() + f * colourFrame;
    std::uint8_t *out = images.pixels.data() + f * colourFrame;
    for (std::size_t p = 0; p < plane; ++p) {
      out[3 * p] = in[p];
      out[3 * p + 1] = in[plane + p];
      out[3 * p + 2] = in[2 * plane + p];
    }
  }
}

// The texts and counts shown with the image, wherever they occur; false for
// any other element.
bool TakeDescription(TImages &images, const DcmTag &t) {
  switch (t.Key()) {
  case 0x00100010:
    images.patientName = t.GetText();
    return true;
  case 0x00100020:
    images.patientId = t.GetText();
    return true;
  case 0x00100030:
    images.patientBirthDate = t.GetText();
    return true;
  case 0x00100040:
    images.patientSex = t.GetText();
    return true;
  case 0x00081030:
    images.studyDescription = t.GetText();
    return true;
  case 0x00080080:
    images.institutionName = t.GetText();
    return true;
  case 0x00080060:
    images.modality = t.GetText();
    return true;
  case 0x00200013:
    if (!ParseInteger(t.GetText(), images.imageInstanceNumber))
      images.imageInstanceNumber = 0;
    return true;
  case 0x00280008:
    // A count that is not a number, or below one, is one frame: the pixel
    // data always holds at least one.
    if (!ParseInteger(t.GetText(), images.frameCount) || images.frameCount < 1)
      images.frameCount = 1;
    return true;
  default:
    return false;
  }
}

// The geometry and pixels of the main image; only called for elements
// outside an icon, whose own geometry must not replace it.
void TakeImageAttribute(TImages &images, const DcmTag &t) {
  switch (t.Key()) {
  case 0x00280006:
    images.planarConfiguration = t.GetUS();
    break;
  case 0x00280010:
    images.rows = t.GetUS();
    break;
  case 0x00280011:
    images.columns = t.GetUS();
    break;
  case 0x00280100:
    images.bitsAllocated = t.GetUS();
    break;
  case 0x00280004:
    images.photometric = t.GetText();
    images.isColor = images.photometric == "RGB" || images.photometric == "YBR_FULL422";
    images.isMonochrome1 = images.photometric == "MONOCHROME1";
    break;
  case 0x7FE00010:
    if (t.length != UNDEFINED_LENGTH)
      TakePixels(images, t);
    break;
  default:
    break;
  }
}

} // namespace

void PrepareDisplayImage(TImages &images, const DcmObj &ds) {
  IconSkipper icon;
  for (std::size_t i = 0; i < ds.Count(); ++i) {
    const DcmTag *t = ds.ElementAt(i);
    if (t == nullptr)
      continue;
    // Asked of every element: the skipper follows the nesting as it goes.
    const bool main = !icon.Skip(*t);
    if (!TakeDescription(images, *t) && main)
      TakeImageAttribute(images, *t);
  }
  // A Structured Report has no pixels of its own: its pages are drawn instead.
  if (images.modality == "SR")
    RenderReport(images, ds);
}

} // namespace fw
