// SaveClip of a clip of 125 frames of 1920x1080 (compressed by the frame
// callback as during a capture) against writing the same number of bytes
// with one write call: what building and encoding the object costs on top
// of the disk.
#include "acquisition/ImageBuilder.h"
#include "acquisition/SGCallback.h"
#include "bench/capture/CameraFrame.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int CLIP_FRAMES = 125;

// The clip's frames as the pipeline leaves them; five distinct frames
// repeated, each compressed once.
const std::vector<fw::EncodedFrame> &ClipFrames() {
  static const std::vector<fw::EncodedFrame> frames = [] {
    fw::SGCallback callback;
    std::vector<fw::bench::Frame> pictures;
    for (int i = 0; i < 5; ++i) {
      pictures.push_back(fw::bench::MakeFrame(1920, 1080));
      pictures.back().bytes[static_cast<std::size_t>(i) * 9973] ^= 0x55;
    }
    callback.SetFormat(1920, 1080, pictures[0].stride);
    callback.SetArmed(true);
    for (const auto &p : pictures) {
      callback.BufferCB(0, p.bytes.data(), p.bytes.size());
    }
    callback.SetArmed(false);
    std::vector<fw::EncodedFrame> five = callback.TakeFrames();
    std::vector<fw::EncodedFrame> all;
    for (int i = 0; i < CLIP_FRAMES; ++i) {
      all.push_back(five[static_cast<std::size_t>(i) % five.size()]);
    }
    return all;
  }();
  return frames;
}

std::string Folder() {
  static const std::string folder = [] {
    std::string f = (std::filesystem::temp_directory_path() / "framewell-bench-acquisition").string() + "/";
    std::filesystem::create_directories(f + "temp");
    return f;
  }();
  return folder;
}

std::size_t savedBytes = 0;

void BM_SaveClip(benchmark::State &state) {
  fw::StudyInfo context;
  context.accessionNumber = std::string("B");
  context.patientID = std::string("BENCH");
  context.patientName = std::string("Bench^Mark");
  const fw::LocalClock clock = fw::SystemLocalTime;
  for (auto _ : state) {
    state.PauseTiming();
    fw::AcquisitionState acquisition;
    acquisition.baseUid = "2.25.1";
    acquisition.seriesInstanceUid = "2.25.1.20";
    fw::CapturedFrames captured{ClipFrames(), 1920, 1080, 25, 1};
    state.ResumeTiming();
    if (!fw::SaveClip(acquisition, context, std::move(captured), Folder(), clock)) {
      state.SkipWithError("SaveClip failed");
      break;
    }
    state.PauseTiming();
    savedBytes = std::filesystem::file_size(acquisition.fileList[0].path);
    std::filesystem::remove(acquisition.fileList[0].path);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * savedBytes));
}
BENCHMARK(BM_SaveClip)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same number of bytes, already in one buffer, in one write call.
void BM_OneWriteOfTheSameBytes(benchmark::State &state) {
  if (savedBytes == 0) {
    state.SkipWithError("run BM_SaveClip first");
    return;
  }
  const std::vector<char> bytes(savedBytes, 'x');
  const std::string path = Folder() + "temp/one-write.bin";
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n <= 0) {
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    state.PauseTiming();
    std::filesystem::remove(path);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * savedBytes));
}
BENCHMARK(BM_OneWriteOfTheSameBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
