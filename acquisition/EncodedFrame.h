// One captured frame as it leaves the capture pipeline: a complete JPEG
// interchange stream (SOI .. EOI), 8-bit baseline YCbCr, quality 90, chroma
// 4:2:2 (luminance sampled 2x1, Cb and Cr 1x1).
#pragma once

#include <cstdint>
#include <vector>

namespace fw {

struct EncodedFrame {
  std::vector<std::uint8_t> data;
  std::int32_t length() const { return static_cast<std::int32_t>(data.size()); }
};

} // namespace fw
