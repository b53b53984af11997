// RLE Lossless frames: the byte-plane segments of the DICOM RLE encoding
// from and to interleaved samples.
//
// One frame is a 64-byte header (16 little-endian 32-bit numbers: the
// segment count, then the offset of each segment from the start of the
// frame, unused ones 0) followed by the segments. Each segment holds one
// byte plane of the image, PackBits-coded row by row: a control byte n of 0
// to 127 copies the next n + 1 bytes, -1 to -127 repeats the next byte
// 1 - n times, -128 does nothing. Planes are ordered by sample (R, G, B),
// and within a sample from the most significant byte down:
//
//   segment  = sample x bytesPerSample + (bytesPerSample - 1 - byte)
//
// where `byte` 0 is the least significant byte of the little-endian sample
// in memory. Samples in memory: rows from the top, components interleaved
// per pixel, 1, 2 or 4 bytes each, little endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fw {

// Most segments a frame can have (the header has room for 15 offsets).
inline constexpr int RLE_MAX_SEGMENTS = 15;

// Decodes one frame into destination (destinationSize bytes, which fixes
// the pixel count: destinationSize / segments). bytesPerSample is 1, 2 or
// 4; the segment count of the header decides the samples per pixel, which
// must be whole. false, before anything is written, when the header does
// not fit the frame (segment count, offsets outside the stream or not
// rising); false after a partial write when a segment ends before its
// plane is full. A segment longer than its plane is cut at the plane's end.
bool RleDecode(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination, std::size_t destinationSize,
               int bytesPerSample);

// Encodes one frame of columns x rows pixels, `components` samples of
// bytesPerSample bytes each, into output (replaced). Every segment is even:
// an odd one ends in one 0x00 byte. false for sizes outside what a frame can
// hold (more than RLE_MAX_SEGMENTS segments, empty image).
bool RleEncode(const std::uint8_t *samples, int columns, int rows, int components, int bytesPerSample,
               std::vector<std::uint8_t> &output);

} // namespace fw
