// Frame callback cost at 640x480 and 1920x1080: the whole armed BufferCB
// (filter and JPEG baseline encode), the encode alone on the same frame, and
// the filter alone (fast path and plain loop).
#include "acquisition/FrameFilter.h"
#include "acquisition/SGCallback.h"
#include "dicom/codec/JpegCodec.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

// A camera-like BGR frame: smooth shading, edges and a little sensor noise,
// rows padded to 4 bytes as the pipeline delivers them.
struct Frame {
  int width;
  int height;
  std::size_t stride;
  std::vector<std::uint8_t> bytes;
};

Frame MakeFrame(int width, int height) {
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

void BM_BufferCB(benchmark::State &state) {
  const Frame frame = MakeFrame(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  fw::SGCallback callback;
  callback.SetFormat(frame.width, frame.height, frame.stride);
  callback.SetArmed(true);
  int n = 0;
  for (auto _ : state) {
    callback.BufferCB(0, frame.bytes.data(), frame.bytes.size());
    if (++n % 32 == 0) {
      callback.ClearFrames();
    }
  }
  callback.SetArmed(false);
}

void BM_JpegEncodeOnly(benchmark::State &state) {
  const Frame frame = MakeFrame(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(frame.width) * frame.height * 3);
  fw::FilterFrameToRgb(frame.bytes.data(), frame.stride, frame.width, frame.height, rgb.data());
  std::size_t bytes = 0;
  for (auto _ : state) {
    // A new stream each time, as every collected frame owns its own.
    std::vector<std::uint8_t> out;
    fw::JpegEncode8(frame.width, frame.height, 3, rgb.data(), fw::JPEG_MODE_BASELINE, out);
    benchmark::DoNotOptimize(out.data());
    bytes = out.size();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}

template <bool Fast> void BM_Filter(benchmark::State &state) {
  const Frame frame = MakeFrame(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(frame.width) * frame.height * 3);
  for (auto _ : state) {
    if (Fast) {
      fw::FilterFrameToRgb(frame.bytes.data(), frame.stride, frame.width, frame.height, rgb.data());
    } else {
      fw::FilterFrameToRgbScalar(frame.bytes.data(), frame.stride, frame.width, frame.height, rgb.data());
    }
    benchmark::DoNotOptimize(rgb.data());
  }
  state.SetLabel(Fast && fw::FrameFilterUsesSsse3() ? "ssse3" : "plain");
}

#define FRAME_SIZES Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond)
BENCHMARK(BM_BufferCB)->FRAME_SIZES;
BENCHMARK(BM_JpegEncodeOnly)->FRAME_SIZES;
BENCHMARK(BM_Filter<true>)->FRAME_SIZES;
BENCHMARK(BM_Filter<false>)->FRAME_SIZES;

} // namespace

BENCHMARK_MAIN();
