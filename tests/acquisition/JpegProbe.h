// Decodes a JPEG stream for the capture tests with libjpeg-turbo: the frame
// header (size, components, sampling) and the RGB samples.
#pragma once

#include <cstdint>
#include <vector>

namespace fw::test {

struct DecodedJpeg {
  bool ok = false;
  int width = 0;
  int height = 0;
  int components = 0;
  bool allSampled1x1 = false;
  bool baseline = false;
  std::vector<std::uint8_t> rgb; // width * height * 3, top-down
};

DecodedJpeg DecodeJpeg(const std::vector<std::uint8_t> &stream);

} // namespace fw::test
