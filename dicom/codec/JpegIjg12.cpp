// The IJG 6b 12-bit build with the lossless extension: the 12-bit extended
// process, encoding and decoding (lossless streams up to 12 bits decode too).
#include "dicom/codec/JpegBuilds.h"
#include "dicom/codec/JpegCodec.h"
#include "dicom/codec/MemoryDestination.h"

// The library headers need these first and include no system headers.
#include <cstddef>
#include <cstdio>

#include <algorithm>
#include <new>
#include <string>
#define FW_JPEG_LOSSLESS_BUILD

namespace fw::ijg12 {
extern "C" {
#include <gdcm-3.0/gdcmjpeg/12/jerror.h>
#include <gdcm-3.0/gdcmjpeg/12/jpeglib.h>
}
namespace {
#include "dicom/codec/JpegBuild.inc"
} // namespace
} // namespace fw::ijg12

namespace fw::jpeg_builds {

void Ijg12EncodeExtended(int width, int height, int components, const std::uint8_t *samples, int quality,
                         std::vector<std::uint8_t> &output) {
  ijg12::EncodeImage(width, height, components, samples, {quality, false, false}, output);
}

int Ijg12Decode(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination, std::size_t destinationSize,
                JpegColour colour) {
  return ijg12::DecodeImage(stream, length, destination, destinationSize, colour);
}
} // namespace fw::jpeg_builds
