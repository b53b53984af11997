// RenderImage of a 1920 x 1080 colour frame into a 96 x 96 thumbnail tile and
// into a 1920 x 1080 bitmap; a 512 x 512 16-bit frame into a 512 x 512
// bitmap for the 16-bit path; a three-page Structured Report laid out and
// drawn as pages (fonts need the offscreen Qt application made in main).
#include "presentation/DCMPresentation.h"
#include "presentation/ReportPages.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

fw::TImages MakeImage(int columns, int rows, bool colour, int bits) {
  fw::TImages im;
  im.columns = static_cast<std::uint16_t>(columns);
  im.rows = static_cast<std::uint16_t>(rows);
  im.bitsAllocated = static_cast<std::uint16_t>(bits);
  im.isColor = colour;
  const std::size_t bytes = static_cast<std::size_t>(columns) * rows * (colour ? 3 : bits / 8);
  im.pixels.resize(bytes);
  std::uint32_t noise = 1;
  for (auto &b : im.pixels) {
    noise = noise * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(noise >> 24);
  }
  return im;
}

void Render(benchmark::State &state, fw::TImages &im, int width, int height) {
  fw::DCMPresentation p(im);
  p.zoom = static_cast<float>(std::max(im.columns, im.rows)) / static_cast<float>(std::max(width, height));
  p.windowWidth = im.bitsAllocated == 16 ? 4096 : 255;
  p.windowCentre = im.bitsAllocated == 16 ? 2048 : 127;
  QImage bitmap;
  fw::MakeRgbBitmap(bitmap, width, height, 0);
  for (auto _ : state) {
    fw::RenderImage(p, bitmap, 0, 0, 0, 0, 0);
    benchmark::DoNotOptimize(bitmap.constBits());
  }
}

void BM_RenderColour1080pToTile(benchmark::State &state) {
  fw::TImages im = MakeImage(1920, 1080, true, 8);
  Render(state, im, 96, 96);
}
BENCHMARK(BM_RenderColour1080pToTile)->Unit(benchmark::kMicrosecond);

void BM_RenderColour1080pToFullSize(benchmark::State &state) {
  fw::TImages im = MakeImage(1920, 1080, true, 8);
  Render(state, im, 1920, 1080);
}
BENCHMARK(BM_RenderColour1080pToFullSize)->Unit(benchmark::kMillisecond);

void BM_RenderGrey16To512(benchmark::State &state) {
  fw::TImages im = MakeImage(512, 512, false, 16);
  Render(state, im, 512, 512);
}
BENCHMARK(BM_RenderGrey16To512)->Unit(benchmark::kMillisecond);

void BM_RenderReportThreePages(benchmark::State &state) {
  std::string text;
  for (int i = 1; i <= 45; ++i)
    text += "Finding " + std::to_string(i) +
            ":\tthe mucosa of the examined segment appears regular, with no "
            "ulceration or bleeding.\r\n";
  fw::DcmObj item;
  item.PutText(0x0040, 0xA040, "TEXT");
  item.PutText(0x0040, 0xA160, text);
  fw::DcmObj sequence;
  sequence.InsertSequence(0xFFFE, 0xE000, item);
  fw::DcmObj ds;
  ds.PutText(0x0008, 0x0060, "SR");
  ds.InsertSequence(0x0040, 0xA730, sequence);
  for (auto _ : state) {
    fw::TImages images;
    fw::RenderReport(images, ds);
    benchmark::DoNotOptimize(images.pixels.data());
    state.counters["pages"] = images.frameCount;
  }
}
BENCHMARK(BM_RenderReportThreePages)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QGuiApplication app(qtArgc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
