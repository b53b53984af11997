// A camera-like BGR frame for the capture and acquisition benchmarks: smooth
// shading, edges and a little sensor noise, rows padded to 4 bytes as the
// pipeline delivers them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace fw::bench {

struct Frame {
  int width;
  int height;
  std::size_t stride;
  std::vector<std::uint8_t> bytes;
};

inline Frame MakeFrame(int width, int height) {
  Frame f{width, height, (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4, {}};
  f.bytes.resize(f.stride * height);
  std::mt19937 random(5);
  std::uniform_int_distribution<int> noise(-3, 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double r = std::hypot(x - width / 2.0, y - height / 2.0) / width;
      const int base = static_cast<int>(128 + 100 * std::cos(r * 12)) + ((x / 64 + y / 64) % 2) * 20;
      std::uint8_t *p = f.bytes.data() + y * f.stride + x * 3;
      for (int k = 0; k < 3; ++k) {
        p[k] = static_cast<std::uint8_t>(std::clamp(base + 30 * (k - 1) + noise(random), 0, 255));
      }
    }
  }
  return f;
}

} // namespace fw::bench
