// JPEG entry points of the DICOM toolkit: baseline (8-bit), extended (12-bit)
// and lossless (process 14, first-order prediction; 8 and 16 bits) streams,
// from and to memory.
//
// Sample layout everywhere: rows from the top, components interleaved per
// pixel (R, G, B for colour); 8-bit samples as bytes, 12- and 16-bit samples
// as 16-bit little-endian words.
//
// Encoders return 0 and the complete stream in `output`; a fatal error of the
// JPEG library (or arguments it cannot take) is thrown as JpegError; the
// content of `output` is then unspecified. Decoders return 0, or -1 when the
// stream cannot be decoded, is cut short or damaged, has more bits per sample
// than the decoder's build, or would not fit in destinationSize bytes
// (nothing is written past the destination). Lossless colour streams keep
// their stored values even when labelled YCbCr.
//
// Which library does the work:
//   JpegEncode8 mode 0, JpegDecode8 of SOF0/1/2 streams    libjpeg-turbo
//   JpegEncode8 mode 4, JpegDecode8 of SOF3 streams        IJG 6b, 8-bit build
//   JpegEncode12, JpegDecode12                             IJG 6b, 12-bit build
//   JpegEncode16, JpegDecode16                             IJG 6b, 16-bit build
// Every call builds its own codec objects, so calls may run on several
// threads at once.
#pragma once

#include "dicom/codec/ImageShape.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

namespace fw {

// A fatal error of a JPEG encoder, with the library's message.
class JpegError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Modes of JpegEncode8.
inline constexpr int JPEG_MODE_BASELINE = 0; // quality 90, baseline process
inline constexpr int JPEG_MODE_LOSSLESS = 4; // process 14, predictor 1, point transform 0

// Quality of the 12-bit extended process and of 8-bit baseline.
inline constexpr int JPEG_QUALITY_BASELINE = 90;
inline constexpr int JPEG_QUALITY_EXTENDED = 75;

// How a 3-component lossy stream that carries neither a JFIF nor an Adobe
// marker is turned into RGB. With either marker the stream says it itself
// and the hint is not used; lossless streams are never colour transformed.
enum class JpegColour {
  Guess, // the library's guess from the component identifiers
  Rgb,   // the components are R, G, B: no transform
  Ybr,   // the components are Y, Cb, Cr: converted to RGB
};

// Chroma sampling of a baseline colour stream (YCbCr). Grey and lossless
// streams sample every component 1x1 whatever is asked.
enum class JpegChroma {
  Full,          // every component 1x1 (4:4:4); DICOM calls it YBR_FULL
  Subsampled422, // luminance 2x1: one Cb and one Cr per two pixels of a row;
                 // DICOM calls it YBR_FULL_422
};

// 8-bit samples, 1 or 3 components. Returns 0, or -1 for a mode other than
// JPEG_MODE_BASELINE or JPEG_MODE_LOSSLESS (output untouched).
int JpegEncode8(const ImageShape &shape, const std::uint8_t *samples, int mode, std::vector<std::uint8_t> &output,
                JpegChroma chroma = JpegChroma::Full);

// Writes rows first .. first+count-1 of a picture, packed (width * components
// bytes each), at rows.
using JpegRowSource = std::function<void(int first, int count, std::uint8_t *rows)>;

// JpegEncode8 in JPEG_MODE_BASELINE of a picture produced a few rows at a
// time as the encoder asks for them; the stream is the one JpegEncode8 writes
// for the same samples and chroma, without the whole picture ever being held. Errors
// leave as JpegEncode8's do.
void JpegEncode8Rows(const ImageShape &shape, const JpegRowSource &rows, std::vector<std::uint8_t> &output,
                     JpegChroma chroma = JpegChroma::Full);

// 16-bit words of which the low 12 bits are the sample (higher bits are
// ignored); extended process at quality 75. Returns 0.
int JpegEncode12(const ImageShape &shape, const std::uint8_t *samples, std::vector<std::uint8_t> &output);

// 16-bit words; lossless at 16-bit precision, predictor 1. Returns 0.
int JpegEncode16(const ImageShape &shape, const std::uint8_t *samples, std::vector<std::uint8_t> &output);

// 8-bit baseline, extended or progressive streams, and lossless streams of
// up to 8 bits. Writes width x height x components bytes (colour as RGB;
// lossless colour streams keep their stored component values).
int JpegDecode8(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination, std::size_t destinationSize);
// JpegDecode8 with the colour space of marker-less colour streams given.
int JpegDecode8Colour(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination,
                      std::size_t destinationSize, JpegColour colour);

// 12-bit extended streams (and lossless ones up to 12 bits); writes 16-bit
// words.
int JpegDecode12(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination,
                 std::size_t destinationSize);
// JpegDecode12 with the colour space of marker-less colour streams given.
int JpegDecode12Colour(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination,
                       std::size_t destinationSize, JpegColour colour);

// Lossless streams of up to 16 bits; writes 16-bit words.
int JpegDecode16(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination,
                 std::size_t destinationSize);

// Second byte of SOF55, the frame header of a JPEG-LS stream.
inline constexpr int JPEG_LS_FRAME_MARKER = 0xF7;

// The frame header (SOFn) of a JPEG stream: which process wrote it and at
// what precision, so a caller can pick the decoder for it.
struct JpegFrameInfo {
  int marker = 0;    // second byte of the SOF marker: 0xC0 baseline, 0xC1 extended, 0xC3 lossless, ..., 0xF7 JPEG-LS
  int precision = 0; // bits per sample
  int rows = 0;
  int columns = 0;
  int components = 0;

  bool lossless() const { return marker == 0xC3 || marker == 0xC7 || marker == 0xCB || marker == 0xCF; }
};

// Walks the marker segments from SOI to the first SOFn (SOF55 included).
// Empty when the bytes are not a JPEG stream or end before its frame header.
std::optional<JpegFrameInfo> ReadJpegFrameHeader(const std::uint8_t *stream, std::size_t length);

} // namespace fw
