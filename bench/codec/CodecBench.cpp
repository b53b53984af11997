// Per-frame times of the codec entry points beside the bare library calls on
// the same frames: 8-bit colour baseline at 640x480 and 1920x1080 (the
// capture path), 16-bit lossless and JPEG 2000 at 512x512.
#include "bench/codec/BareLibraries.h"
#include "dicom/codec/J2kCodec.h"
#include "dicom/codec/JpegCodec.h"
#include "tests/dicom/codec/TestImages.h"

#include <benchmark/benchmark.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

void SetSize(benchmark::State &state, int width, int height) {
  state.counters["frame"] = benchmark::Counter(static_cast<double>(width) * height);
  state.SetLabel(std::to_string(width) + "x" + std::to_string(height));
}

void EntryJpegEncode8(benchmark::State &state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const Bytes frame = fw::test::MakePicture8(width, height, 3);
  Bytes stream;
  for (auto _ : state) {
    fw::JpegEncode8({width, height, 3}, frame.data(), fw::JPEG_MODE_BASELINE, stream);
    benchmark::DoNotOptimize(stream.data());
  }
  SetSize(state, width, height);
}

void BareTurboEncode(benchmark::State &state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const Bytes frame = fw::test::MakePicture8(width, height, 3);
  Bytes stream;
  for (auto _ : state) {
    bare::TurboEncode(width, height, 3, frame.data(), stream);
    benchmark::DoNotOptimize(stream.data());
  }
  SetSize(state, width, height);
}

void EntryJpegDecode8(benchmark::State &state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const Bytes frame = fw::test::MakePicture8(width, height, 3);
  Bytes stream, decoded(frame.size());
  fw::JpegEncode8({width, height, 3}, frame.data(), fw::JPEG_MODE_BASELINE, stream);
  for (auto _ : state) {
    fw::JpegDecode8(stream.data(), stream.size(), decoded.data(), decoded.size());
    benchmark::DoNotOptimize(decoded.data());
  }
  SetSize(state, width, height);
}

void BareTurboDecode(benchmark::State &state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const Bytes frame = fw::test::MakePicture8(width, height, 3);
  Bytes stream, decoded(frame.size());
  fw::JpegEncode8({width, height, 3}, frame.data(), fw::JPEG_MODE_BASELINE, stream);
  for (auto _ : state) {
    bare::TurboDecode(stream.data(), stream.size(), decoded.data());
    benchmark::DoNotOptimize(decoded.data());
  }
  SetSize(state, width, height);
}

void EntryJpegEncode16(benchmark::State &state) {
  const Bytes frame = fw::test::MakePicture16(512, 512, 1, 16);
  Bytes stream;
  for (auto _ : state) {
    fw::JpegEncode16({512, 512, 1}, frame.data(), stream);
    benchmark::DoNotOptimize(stream.data());
  }
  SetSize(state, 512, 512);
}

void BareIjg16Encode(benchmark::State &state) {
  const Bytes frame = fw::test::MakePicture16(512, 512, 1, 16);
  Bytes stream;
  for (auto _ : state) {
    bare::Ijg16Encode(512, 512, frame.data(), stream);
    benchmark::DoNotOptimize(stream.data());
  }
  SetSize(state, 512, 512);
}

void EntryJpegDecode16(benchmark::State &state) {
  const Bytes frame = fw::test::MakePicture16(512, 512, 1, 16);
  Bytes stream, decoded(frame.size());
  fw::JpegEncode16({512, 512, 1}, frame.data(), stream);
  for (auto _ : state) {
    fw::JpegDecode16(stream.data(), stream.size(), decoded.data(), decoded.size());
    benchmark::DoNotOptimize(decoded.data());
  }
  SetSize(state, 512, 512);
}

void BareIjg16Decode(benchmark::State &state) {
  const Bytes frame = fw::test::MakePicture16(512, 512, 1, 16);
  Bytes stream, decoded(frame.size());
  fw::JpegEncode16({512, 512, 1}, frame.data(), stream);
  for (auto _ : state) {
    bare::Ijg16Decode(stream.data(), stream.size(), decoded.data());
    benchmark::DoNotOptimize(decoded.data());
  }
  SetSize(state, 512, 512);
}

void EntryJ2kEncode16(benchmark::State &state) {
  const Bytes frame = fw::test::MakePicture16(512, 512, 1, 16);
  Bytes stream;
  for (auto _ : state) {
    fw::J2kEncode(frame.data(), {512, 512, 1}, 16, fw::J2K_RATE_LOSSLESS, stream);
    benchmark::DoNotOptimize(stream.data());
  }
  SetSize(state, 512, 512);
}

void EntryJ2kDecode16(benchmark::State &state) {
  const Bytes frame = fw::test::MakePicture16(512, 512, 1, 16);
  Bytes stream, decoded(frame.size());
  fw::J2kEncode(frame.data(), {512, 512, 1}, 16, fw::J2K_RATE_LOSSLESS, stream);
  for (auto _ : state) {
    fw::J2kDecode(stream.data(), stream.size(), decoded.data(), decoded.size());
    benchmark::DoNotOptimize(decoded.data());
  }
  SetSize(state, 512, 512);
}

} // namespace

BENCHMARK(EntryJpegEncode8)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(BareTurboEncode)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(EntryJpegDecode8)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(BareTurboDecode)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(EntryJpegEncode16)->Unit(benchmark::kMillisecond);
BENCHMARK(BareIjg16Encode)->Unit(benchmark::kMillisecond);
BENCHMARK(EntryJpegDecode16)->Unit(benchmark::kMillisecond);
BENCHMARK(BareIjg16Decode)->Unit(benchmark::kMillisecond);
BENCHMARK(EntryJ2kEncode16)->Unit(benchmark::kMillisecond);
BENCHMARK(EntryJ2kDecode16)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
