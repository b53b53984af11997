// Decodes a JPEG stream for the capture tests with libjpeg-turbo: the frame
// header (size, components, sampling) and the RGB samples.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fw::test {

struct DecodedJpeg {
  bool ok = false;
  int width = 0;
  int height = 0;
  int components = 0;
  // Each component's sampling factors, "HxV" joined by ",": "2x1,1x1,1x1" is
  // 4:2:2 colour.
  std::string sampling;
  bool baseline = false;
  std::vector<std::uint8_t> rgb; // width * height * 3, top-down
};

DecodedJpeg DecodeJpeg(const std::vector<std::uint8_t> &stream);

} // namespace fw::test
