// Frame callback cost at 640x480 and 1920x1080: the whole armed BufferCB
// (filter and JPEG baseline encode), the encode alone on the same frame with
// the same 4:2:2 chroma, and
// the filter alone (fast path and plain loop), and a plain copy of the frame.
#include "acquisition/FrameFilter.h"
#include "acquisition/SGCallback.h"
#include "bench/capture/CameraFrame.h"
#include "dicom/codec/JpegCodec.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

using fw::bench::Frame;
using fw::bench::MakeFrame;

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
    // A new stream each time, as every collected frame owns its own; sampled
    // as the callback samples, so the two stay comparable.
    std::vector<std::uint8_t> out;
    fw::JpegEncode8({frame.width, frame.height, 3}, rgb.data(), fw::JPEG_MODE_BASELINE, out, fw::CAPTURE_CHROMA);
    benchmark::DoNotOptimize(out.data());
    bytes = out.size();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}

// The floor of any callback: one copy of the device frame.
void BM_FrameCopy(benchmark::State &state) {
  const Frame frame = MakeFrame(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  std::vector<std::uint8_t> copy(frame.bytes.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), frame.bytes.data(), frame.bytes.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
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
  state.SetLabel(!Fast ? "plain" : fw::FrameFilterUsesAvx2() ? "avx2" : fw::FrameFilterUsesSsse3() ? "ssse3" : "plain");
}

#define FRAME_SIZES Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond)
BENCHMARK(BM_BufferCB)->FRAME_SIZES;
BENCHMARK(BM_JpegEncodeOnly)->FRAME_SIZES;
BENCHMARK(BM_FrameCopy)->FRAME_SIZES;
BENCHMARK(BM_Filter<true>)->FRAME_SIZES;
BENCHMARK(BM_Filter<false>)->FRAME_SIZES;

} // namespace

BENCHMARK_MAIN();
