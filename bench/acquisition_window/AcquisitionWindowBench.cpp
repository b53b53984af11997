// Thumbnail strip costs.
//
// RefreshAfter30thObject: an acquisition of 25 stills and 5 clips of 125
// frames at 1280x720 (the 30th object a clip); the strip has drawn 29 objects
// and is refreshed with the 30th. FullRedecode30Objects draws the same strip
// the old way, every file read and wholly converted, for comparison.
//
// SnapToTile1080p: the window over the station's acquisition on a live
// 1920x1080 test source; from the Snap press until the new tile is in the
// strip's picture (capture, encode, the pause of StopCapture, the object
// built and written, tile).
#include "acquisition/CaptureConfig.h"
#include "acquisition/StationAcquisition.h"
#include "acquisition/TForm3.h"
#include "acquisition/ThumbnailStrip.h"
#include "base/Log.h"
#include "presentation/ImageConversion.h"
#include "station/StationRecords.h"
#include "tests/acquisition/ThumbnailTestObjects.h"
#include "tests/support/TempDir.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

namespace {

// 25 stills and 5 clips, a clip after every fifth still; written once.
const std::vector<std::string> &Acquisition720p() {
  static fw::test::TempDir dir;
  static std::vector<std::string> files;
  if (!files.empty())
    return files;
  constexpr int W = 1280, H = 720;
  fw::test::ImageShape shape;
  shape.columns = W;
  shape.rows = H;
  shape.colour = true;
  shape.photometric = "YBR_FULL";
  shape.planarConfiguration = 0;
  shape.transferSyntax = std::string(fw::JPEG_BASELINE);
  // A few distinct encoded frames, repeated through the clips.
  const auto pixels = fw::test::BandedFrames(W, H, 4);
  shape.frames = 4;
  const auto encoded = fw::test::BaselineFrames(shape, pixels);
  int instance = 0;
  for (int clip = 0; clip < 5; ++clip) {
    for (int still = 0; still < 5; ++still) {
      shape.frames = 1;
      auto ds = fw::test::EncapsulatedDataSet(shape, {encoded[static_cast<std::size_t>(still % 4)]});
      ds->PutText(0x0020, 0x0013, std::to_string(++instance));
      files.push_back(dir.folder() + "A" + std::to_string(instance) + ".dcm");
      ds->Write(files.back());
    }
    shape.frames = 125;
    std::vector<std::vector<std::uint8_t>> fragments;
    for (int f = 0; f < 125; ++f)
      fragments.push_back(encoded[static_cast<std::size_t>(f % 4)]);
    auto ds = fw::test::EncapsulatedDataSet(shape, fragments);
    ds->PutText(0x0020, 0x0013, std::to_string(++instance));
    files.push_back(dir.folder() + "A" + std::to_string(instance) + ".dcm");
    ds->Write(files.back());
  }
  return files;
}

void RefreshAfter30thObject(benchmark::State &state) {
  const auto &files = Acquisition720p();
  const std::vector<std::string> first29(files.begin(), files.end() - 1);
  fw::ThumbnailCache cache;
  QImage strip;
  for (auto _ : state) {
    state.PauseTiming();
    cache.Refresh(first29, strip); // forgets the 30th
    state.ResumeTiming();
    cache.Refresh(files, strip);
    benchmark::DoNotOptimize(strip.constBits());
  }
}
BENCHMARK(RefreshAfter30thObject)->Unit(benchmark::kMillisecond)->UseRealTime();

void FullRedecode30Objects(benchmark::State &state) {
  const auto &files = Acquisition720p();
  for (auto _ : state) {
    QImage strip(static_cast<int>(files.size()) * fw::THUMBNAIL_SIZE, fw::THUMBNAIL_SIZE, QImage::Format_BGR888);
    for (std::size_t i = 0; i < files.size(); ++i) {
      fw::DcmObj ds;
      fw::TImages images;
      if (ds.Read(files[i]) && fw::ConvertTransferSyntax(ds, fw::EXPLICIT_VR_LITTLE_ENDIAN))
        fw::PrepareDisplayImage(images, ds);
      const QImage tile = fw::RenderThumbnailTile(images, fw::ThumbnailCaption(images));
      for (int y = 0; y < fw::THUMBNAIL_SIZE; ++y)
        std::memcpy(strip.scanLine(y) + i * fw::THUMBNAIL_SIZE * 3, tile.constScanLine(y), fw::THUMBNAIL_SIZE * 3);
    }
    benchmark::DoNotOptimize(strip.constBits());
  }
}
BENCHMARK(FullRedecode30Objects)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void SnapToTile1080p(benchmark::State &state) {
  fw::test::TempDir dir;
  fw::SetLogTarget(dir.folder() + "bench.log", "", "");
  ::setenv("FRAMEWELL_VIDEO_SOURCE", "videotestsrc is-live=true pattern=ball", 1);
  std::filesystem::create_directories(dir.path() / "temp");
  fw::WriteCaptureConfig(dir.folder() + "videocap.cfg", fw::CaptureConfig{1, 1920, 1080, 0});
  fw::StudyContext().patientName = "Bench^Snap";
  fw::StudyContext().accessionNumber = "B1";
  fw::AcquisitionSessionSetup setup;
  setup.programFolder = dir.folder();
  fw::StationAcquisition session(std::move(setup));
  fw::TForm3 form(session);
  form.show();
  while (!form.Opened())
    QApplication::processEvents();
  if (!session.PipelineReady()) {
    state.SkipWithError("the 1080p test source did not start");
  }
  for (auto _ : state) {
    form.Button3Click(); // returns once the strip holds the new tile
    benchmark::DoNotOptimize(form.Image1->Picture().constBits());
    state.PauseTiming();
    QApplication::processEvents(); // the live video between presses
    state.ResumeTiming();
  }
  state.counters["objects"] = static_cast<double>(session.FileList().size());
  state.counters["stop_pause_ms"] = fw::MySampleGrabber::STOP_PAUSE_MS;
  fw::ScopedMessageHandler yes([](const fw::MessageRequest &) { return fw::MessageAnswer::Yes; });
  form.Button1Click();
  fw::FreeLogTarget();
}
BENCHMARK(SnapToTile1080p)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

} // namespace

int main(int argc, char **argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
