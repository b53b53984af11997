// A 125-frame 640 x 480 colour JPEG baseline clip (a 5 s clip of the
// station) decoded and encoded as a data set, beside the bare loop of
// JpegDecode8 / JpegEncode8 over the same frames: the data set work around
// the codec should add nothing measurable.
#include "dicom/PixelData.h"
#include "dicom/Uids.h"
#include "dicom/codec/JpegCodec.h"
#include "tests/dicom/codec/TestImages.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr int WIDTH = 640, HEIGHT = 480, FRAMES = 125;
constexpr std::size_t FRAME_BYTES = static_cast<std::size_t>(WIDTH) * HEIGHT * 3;

const std::vector<std::uint8_t> &Clip() {
  static const std::vector<std::uint8_t> clip = [] {
    const std::vector<std::uint8_t> frame = fw::test::MakePicture8(WIDTH, HEIGHT, 3);
    std::vector<std::uint8_t> all;
    for (int f = 0; f < FRAMES; ++f)
      all.insert(all.end(), frame.begin(), frame.end());
    return all;
  }();
  return clip;
}

const std::vector<std::vector<std::uint8_t>> &Streams() {
  static const std::vector<std::vector<std::uint8_t>> streams = [] {
    std::vector<std::vector<std::uint8_t>> s(FRAMES);
    for (int f = 0; f < FRAMES; ++f)
      fw::JpegEncode8({WIDTH, HEIGHT, 3}, Clip().data() + f * FRAME_BYTES, fw::JPEG_MODE_BASELINE, s[f]);
    return s;
  }();
  return streams;
}

void BuildEncapsulated(fw::DcmObj &c) {
  c.transferSyntax = std::string(fw::JPEG_BASELINE);
  c.Append(fw::DcmTag::FromBytes(0x7FE0, 0x0010, fw::UNDEFINED_LENGTH, nullptr, "OB"));
  c.Append(fw::DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr, "DL"));
  for (const auto &s : Streams())
    c.Append(fw::DcmTag::FromBytes(0xFFFE, 0xE000, static_cast<std::uint32_t>(s.size()), s.data(), "DL"));
  c.Append(fw::DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
}

void DecodeClipDataSet(benchmark::State &state) {
  std::vector<std::uint8_t> out(FRAME_BYTES * FRAMES);
  for (auto _ : state) {
    state.PauseTiming();
    fw::DcmObj c;
    BuildEncapsulated(c);
    state.ResumeTiming();
    if (!fw::DecodePixelData(
            c, 0, {.destination = out.data(), .totalBytes = out.size(), .frames = FRAMES, .bitsAllocated = 8}))
      state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(DecodeClipDataSet)->Unit(benchmark::kMillisecond);

void DecodeClipBare(benchmark::State &state) {
  std::vector<std::uint8_t> out(FRAME_BYTES * FRAMES);
  for (auto _ : state) {
    for (int f = 0; f < FRAMES; ++f)
      fw::JpegDecode8(Streams()[f].data(), Streams()[f].size(), out.data() + f * FRAME_BYTES, FRAME_BYTES);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(DecodeClipBare)->Unit(benchmark::kMillisecond);

void EncodeClipDataSet(benchmark::State &state) {
  std::vector<std::uint8_t> pixels = Clip();
  for (auto _ : state) {
    state.PauseTiming();
    fw::DcmObj c;
    c.Append(fw::DcmTag::FromBytes(0x7FE0, 0x0010, 0, nullptr, "OB"));
    state.ResumeTiming();
    std::size_t index = 0;
    float ratio = 0;
    if (!fw::EncodePixelData(c, index,
                             {.pixels = pixels.data(),
                              .pixelBytes = pixels.size(),
                              .frames = FRAMES,
                              .columns = WIDTH,
                              .rows = HEIGHT,
                              .isColour = true,
                              .bitsAllocated = 8,
                              .bitsStored = 8,
                              .targetTransferSyntax = fw::JPEG_BASELINE},
                             ratio))
      state.SkipWithError("encode failed");
    benchmark::DoNotOptimize(ratio);
  }
}
BENCHMARK(EncodeClipDataSet)->Unit(benchmark::kMillisecond);

void EncodeClipBare(benchmark::State &state) {
  for (auto _ : state) {
    for (int f = 0; f < FRAMES; ++f) {
      std::vector<std::uint8_t> stream;
      fw::JpegEncode8({WIDTH, HEIGHT, 3}, Clip().data() + f * FRAME_BYTES, fw::JPEG_MODE_BASELINE, stream);
      benchmark::DoNotOptimize(stream.data());
    }
  }
}
BENCHMARK(EncodeClipBare)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
