// The JPEG entry points: each picks the library build for its sample size
// and process (see JpegCodec.h), and the frame header reader that lets a
// caller do the same for a stream it was handed.
#include "dicom/codec/JpegCodec.h"

#include "dicom/codec/JpegBuilds.h"

namespace fw {

int JpegEncode8(const ImageShape &shape, const std::uint8_t *samples, int mode, std::vector<std::uint8_t> &output,
                JpegChroma chroma) {
  switch (mode) {
  case JPEG_MODE_BASELINE:
    jpeg_builds::TurboEncodeBaseline(shape, samples, JPEG_QUALITY_BASELINE, chroma, output);
    return 0;
  case JPEG_MODE_LOSSLESS:
    jpeg_builds::Ijg8EncodeLossless(shape.width, shape.height, shape.components, samples, output);
    return 0;
  default:
    return -1;
  }
}

void JpegEncode8Rows(const ImageShape &shape, const JpegRowSource &rows, std::vector<std::uint8_t> &output,
                     JpegChroma chroma) {
  jpeg_builds::TurboEncodeBaselineRows(shape, rows, JPEG_QUALITY_BASELINE, chroma, output);
}

int JpegEncode12(const ImageShape &shape, const std::uint8_t *samples, std::vector<std::uint8_t> &output) {
  jpeg_builds::Ijg12EncodeExtended(shape.width, shape.height, shape.components, samples, JPEG_QUALITY_EXTENDED, output);
  return 0;
}

int JpegEncode16(const ImageShape &shape, const std::uint8_t *samples, std::vector<std::uint8_t> &output) {
  jpeg_builds::Ijg16EncodeLossless(shape.width, shape.height, shape.components, samples, output);
  return 0;
}

int JpegDecode8(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination,
                std::size_t destinationSize) {
  return JpegDecode8Colour(stream, length, destination, destinationSize, JpegColour::Guess);
}

int JpegDecode12(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination,
                 std::size_t destinationSize) {
  return JpegDecode12Colour(stream, length, destination, destinationSize, JpegColour::Guess);
}

int JpegDecode8Colour(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination,
                      std::size_t destinationSize, JpegColour colour) {
  // libjpeg-turbo has no lossless process; the IJG build has no SIMD.
  const std::optional<JpegFrameInfo> frame = ReadJpegFrameHeader(stream, length);
  if (frame && frame->lossless())
    return jpeg_builds::Ijg8Decode(stream, length, destination, destinationSize, colour);
  return jpeg_builds::TurboDecode(stream, length, destination, destinationSize, colour);
}

int JpegDecode12Colour(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination,
                       std::size_t destinationSize, JpegColour colour) {
  return jpeg_builds::Ijg12Decode(stream, length, destination, destinationSize, colour);
}

int JpegDecode16(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination,
                 std::size_t destinationSize) {
  return jpeg_builds::Ijg16Decode(stream, length, destination, destinationSize, JpegColour::Guess);
}

namespace {

constexpr std::uint8_t MARKER_PREFIX = 0xFF;
constexpr std::uint8_t SOI = 0xD8;
constexpr std::uint8_t EOI = 0xD9;
constexpr std::uint8_t SOS = 0xDA;
constexpr std::uint8_t TEM = 0x01;

bool IsStandalone(std::uint8_t marker) { return marker == SOI || marker == TEM || (marker >= 0xD0 && marker <= 0xD7); }

// SOF0..SOF15 without DHT (C4), JPG (C8) and DAC (CC), which share the range,
// and the JPEG-LS frame header SOF55, laid out as the others.
bool IsFrameHeader(std::uint8_t marker) {
  return (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) ||
         marker == JPEG_LS_FRAME_MARKER;
}

} // namespace

std::optional<JpegFrameInfo> ReadJpegFrameHeader(const std::uint8_t *stream, std::size_t length) {
  if (stream == nullptr || length < 4 || stream[0] != MARKER_PREFIX || stream[1] != SOI)
    return std::nullopt;
  std::size_t pos = 2;
  while (pos < length) {
    if (stream[pos] != MARKER_PREFIX)
      return std::nullopt;
    while (pos < length && stream[pos] == MARKER_PREFIX) // fill bytes
      ++pos;
    if (pos >= length)
      return std::nullopt;
    const std::uint8_t marker = stream[pos++];
    if (IsStandalone(marker))
      continue;
    if (marker == EOI || marker == SOS || pos + 2 > length)
      return std::nullopt;
    // The segment length counts its own two bytes.
    const std::size_t segment = static_cast<std::size_t>(stream[pos]) << 8 | stream[pos + 1];
    if (segment < 2 || segment > length - pos)
      return std::nullopt;
    if (IsFrameHeader(marker)) {
      // P, Y (2 bytes), X (2 bytes), Nf follow the length.
      if (segment < 8)
        return std::nullopt;
      JpegFrameInfo info;
      info.marker = marker;
      info.precision = stream[pos + 2];
      info.rows = stream[pos + 3] << 8 | stream[pos + 4];
      info.columns = stream[pos + 5] << 8 | stream[pos + 6];
      info.components = stream[pos + 7];
      return info;
    }
    pos += segment;
  }
  return std::nullopt;
}

} // namespace fw
