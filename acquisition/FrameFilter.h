// The frame filter of the capture callback: turns one top-down BGR frame into
// the upright red-green-blue picture the JPEG encoder receives, with every
// colour of rows 1 .. height-2 smoothed vertically as
//
//   out[r] = (in[r-1] + 2 * in[r] + in[r+1]) / 4     (integer division)
//
// Rows 0 and height-1 have only one neighbour; they are copies of the
// unfiltered picture lines (colour order swapped like every other row). A
// frame of height 2 or less therefore has no filtered row.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fw {

// source: height rows of width BGR pixels, row r starting at r * stride
// (stride >= width * 3). output: width * height * 3 bytes, packed, top-down.
void FilterFrameToRgb(const std::uint8_t *source, std::size_t stride, int width, int height, std::uint8_t *output);

// Rows firstRow .. firstRow+rowCount-1 (cut at height) of what
// FilterFrameToRgb writes, packed from output on (rowCount * width * 3 bytes).
// Lets an encoder take the picture a few rows at a time.
void FilterRowsToRgb(const std::uint8_t *source, std::size_t stride, int width, int height, int firstRow, int rowCount,
                     std::uint8_t *output);

// The plain per-pixel version, used on processors without SSSE3 (and by the
// tests as the reference).
void FilterFrameToRgbScalar(const std::uint8_t *source, std::size_t stride, int width, int height,
                            std::uint8_t *output);

// Whether FilterFrameToRgb takes the SSSE3 path on this processor, and
// whether it takes the wider AVX2 path (which needs SSSE3 too).
bool FrameFilterUsesSsse3();
bool FrameFilterUsesAvx2();

} // namespace fw
