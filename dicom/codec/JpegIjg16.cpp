// The IJG 6b 16-bit build with the lossless extension: lossless encoding and decoding up to 16 bits.
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

namespace fw::ijg16 {
extern "C" {
#include <gdcm-3.0/gdcmjpeg/16/jerror.h>
#include <gdcm-3.0/gdcmjpeg/16/jpeglib.h>
}
namespace {
#include "dicom/codec/JpegBuild.inc"
} // namespace
} // namespace fw::ijg16

namespace fw::jpeg_builds {

void Ijg16EncodeLossless(int width, int height, int components, const std::uint8_t *samples,
                         std::vector<std::uint8_t> &output) {
  ijg16::EncodeImage(width, height, components, samples, {0, true, false}, output);
}

int Ijg16Decode(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination, std::size_t destinationSize,
                JpegColour colour) {
  return ijg16::DecodeImage(stream, length, destination, destinationSize, colour);
}
} // namespace fw::jpeg_builds
