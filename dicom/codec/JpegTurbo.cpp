// The libjpeg-turbo build: 8-bit baseline encoding and 8-bit DCT decoding.
#include "dicom/codec/JpegBuilds.h"
#include "dicom/codec/JpegCodec.h"
#include "dicom/codec/MemoryDestination.h"

// The library headers need these first and include no system headers.
#include <cstddef>
#include <cstdio>

#include <algorithm>
#include <new>
#include <string>

namespace fw::turbo {
extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}
namespace {
#include "dicom/codec/JpegBuild.inc"
} // namespace
} // namespace fw::turbo

namespace fw::jpeg_builds {

void TurboEncodeBaseline(const ImageShape &shape, const std::uint8_t *samples, int quality, JpegChroma chroma,
                         std::vector<std::uint8_t> &output) {
  turbo::EncodeImage(shape.width, shape.height, shape.components, samples,
                     {quality, false, chroma == JpegChroma::Subsampled422}, output);
}

void TurboEncodeBaselineRows(const ImageShape &shape, const JpegRowSource &rows, int quality, JpegChroma chroma,
                             std::vector<std::uint8_t> &output) {
  turbo::EncodeImageRows(shape.width, shape.height, shape.components, rows,
                         {quality, false, chroma == JpegChroma::Subsampled422}, output);
}

int TurboDecode(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination, std::size_t destinationSize,
                JpegColour colour) {
  return turbo::DecodeImage(stream, length, destination, destinationSize, colour);
}
} // namespace fw::jpeg_builds
