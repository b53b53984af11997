// Generated test pictures for the codec tests and benchmarks: smooth ramps
// with hard edges and a little noise, so lossy codecs have work to do and
// predictors see every kind of neighbour.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fw::test {

// Interleaved 8-bit samples, `components` per pixel.
inline std::vector<std::uint8_t> MakePicture8(int width, int height, int components) {
  std::vector<std::uint8_t> samples(static_cast<std::size_t>(width) * height * components);
  std::uint32_t noise = 12345;
  std::size_t i = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < components; ++c) {
        noise = noise * 1103515245u + 12345u;
        int v = (x * 255 / (width > 1 ? width - 1 : 1) + y * (c + 1) * 3) % 256;
        if ((x / 16 + y / 16) % 5 == 0)
          v = 255 - v; // hard edges
        v += static_cast<int>(noise >> 29) - 4;
        samples[i++] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
      }
  return samples;
}

// Interleaved samples of `bits` bits as 16-bit little-endian words.
inline std::vector<std::uint8_t> MakePicture16(int width, int height, int components, int bits) {
  std::vector<std::uint8_t> samples(static_cast<std::size_t>(width) * height * components * 2);
  const std::uint32_t top = (1u << bits) - 1;
  std::uint32_t noise = 777;
  std::size_t i = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < components; ++c) {
        noise = noise * 1103515245u + 12345u;
        std::uint32_t v = static_cast<std::uint32_t>((static_cast<std::uint64_t>(x + y + c * 7) * top) /
                                                     static_cast<std::uint64_t>(width + height));
        if ((x / 8 + y / 8) % 7 == 0)
          v = top - v;
        v = (v + (noise >> 28)) & top;
        samples[i++] = static_cast<std::uint8_t>(v);
        samples[i++] = static_cast<std::uint8_t>(v >> 8);
      }
  return samples;
}

// Peak signal-to-noise ratio in dB of two sample arrays of the same size;
// samples are bytes (wordSamples false) or 16-bit little-endian words.
inline double Psnr(const std::vector<std::uint8_t> &a, const std::vector<std::uint8_t> &b, double peak,
                   bool wordSamples = false) {
  double sum = 0;
  std::size_t count = 0;
  if (wordSamples) {
    for (std::size_t i = 0; i + 1 < a.size(); i += 2, ++count) {
      const double d = (a[i] | a[i + 1] << 8) - (b[i] | b[i + 1] << 8);
      sum += d * d;
    }
  } else {
    for (std::size_t i = 0; i < a.size(); ++i, ++count) {
      const double d = static_cast<double>(a[i]) - b[i];
      sum += d * d;
    }
  }
  if (sum == 0)
    return 1000;
  return 10 * std::log10(peak * peak / (sum / static_cast<double>(count)));
}

} // namespace fw::test
