// JPEG 2000 entry points: raw J2K codestreams (the form DICOM encapsulates,
// no JP2 wrapper) from and to memory through OpenJPEG. The encoder is in
// comj2k.cpp, the decoder in decomj2k.cpp.
//
// Sample layout: rows from the top, components interleaved per pixel;
// samples of up to 8 bits as bytes, 9 to 16 bits as 16-bit little-endian
// words, 17 to 32 bits as 32-bit little-endian words.
//
// Every call builds its own codec objects, so calls may run on several
// threads at once. Nothing is logged here: callers report failures.
#pragma once

#include "dicom/codec/ImageShape.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fw {

// Rates of J2kEncode: 0 is lossless, n a compression ratio of n.
inline constexpr int J2K_RATE_LOSSLESS = 0;
inline constexpr int J2K_RATE_LOSSY = 10;

// Highest precision J2kEncode takes. OpenJPEG's reversible wavelet keeps
// samples in 32-bit integers with fraction bits; from 24 bits on it was seen
// to return other samples than it was given, so precisions are kept two bits
// below that.
inline constexpr int J2K_MAX_BITS = 22;

// Encodes 1 (greyscale) or 3 (sRGB) components of `bits` unsigned bits each
// as one quality layer at `rate`, with the reversible wavelet and no colour
// transform. The codestream goes to `output`, extended to even length by one
// 0x00 byte. false (output unspecified) for another component count, a size
// OpenJPEG cannot take, bits outside 1..J2K_MAX_BITS, or a failed encoding.
bool J2kEncode(const std::uint8_t *samples, const ImageShape &shape, int bits, int rate,
               std::vector<std::uint8_t> &output);

// Decodes a J2K codestream (a JP2 file is accepted too) into destination,
// components interleaved, in the sample size of the components' precision.
// false when the stream does not decode, decodes to nothing, has components
// of different sizes or sample widths, or would not fit in destinationSize
// bytes (nothing is written past the destination).
//
// pixelRepresentation 0 or 1 decides how the samples are stored when the
// codestream's signedness differs (some writers label unsigned data signed
// or the reverse): 0 keeps the low `precision` bits as an unsigned value, 1
// sign-extends them from the precision. A negative value keeps the stream's
// own signedness.
bool J2kDecode(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination, std::size_t destinationSize,
               int pixelRepresentation = -1);

// The comment marker text of every codestream written here: it names the
// OpenJPEG version actually linked.
std::string J2kComment();

} // namespace fw
