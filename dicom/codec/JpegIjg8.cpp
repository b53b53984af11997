// The IJG 6b 8-bit build with the lossless extension: 8-bit lossless encoding and decoding.
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

namespace fw::ijg8 {
extern "C" {
#include <gdcm-3.0/gdcmjpeg/8/jerror.h>
#include <gdcm-3.0/gdcmjpeg/8/jpeglib.h>
}
namespace {
#include "dicom/codec/JpegBuild.inc"
} // namespace
} // namespace fw::ijg8

namespace fw::jpeg_builds {

void Ijg8EncodeLossless(int width, int height, int components, const std::uint8_t *samples,
                        std::vector<std::uint8_t> &output) {
  ijg8::EncodeImage(width, height, components, samples, {0, true, false}, output);
}

int Ijg8Decode(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination, std::size_t destinationSize,
               JpegColour colour) {
  return ijg8::DecodeImage(stream, length, destination, destinationSize, colour);
}
} // namespace fw::jpeg_builds
