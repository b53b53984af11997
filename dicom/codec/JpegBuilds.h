// The four JPEG library builds behind the entry points of JpegCodec.h, one
// translation unit each (their headers cannot meet in one). Private to the
// codec library.
#pragma once

#include "dicom/codec/JpegCodec.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fw::jpeg_builds {

// libjpeg-turbo: 8-bit baseline encoding; 8-bit DCT decoding.
void TurboEncodeBaseline(const ImageShape &shape, const std::uint8_t *samples, int quality, JpegChroma chroma,
                         std::vector<std::uint8_t> &output);
void TurboEncodeBaselineRows(const ImageShape &shape, const JpegRowSource &rows, int quality, JpegChroma chroma,
                             std::vector<std::uint8_t> &output);
int TurboDecode(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination, std::size_t destinationSize,
                JpegColour colour);

// IJG 6b 8-bit build: lossless encoding; lossless decoding up to 8 bits.
void Ijg8EncodeLossless(int width, int height, int components, const std::uint8_t *samples,
                        std::vector<std::uint8_t> &output);
int Ijg8Decode(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination, std::size_t destinationSize,
               JpegColour colour);

// IJG 6b 12-bit build: extended encoding and decoding.
void Ijg12EncodeExtended(int width, int height, int components, const std::uint8_t *samples, int quality,
                         std::vector<std::uint8_t> &output);
int Ijg12Decode(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination, std::size_t destinationSize,
                JpegColour colour);

// IJG 6b 16-bit build: lossless encoding and decoding.
void Ijg16EncodeLossless(int width, int height, int components, const std::uint8_t *samples,
                         std::vector<std::uint8_t> &output);
int Ijg16Decode(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination, std::size_t destinationSize,
                JpegColour colour);

} // namespace fw::jpeg_builds
