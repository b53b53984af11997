// send_acquisition PORT FOLDER RUNS: makes an acquisition of 25 stills and 5
// clips of 125 frames (640x480, compressed by the frame callback) with the
// session, copies its files into FOLDER (for storescu) and times RUNS sends
// of the whole acquisition to the storescp at 127.0.0.1:PORT (called AE
// STORESCP). Prints the best wall time in seconds and the bytes sent.
#include "acquisition/AcquisitionSession.h"
#include "acquisition/SGCallback.h"
#include "bench/capture/CameraFrame.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int WIDTH = 640;
constexpr int HEIGHT = 480;
constexpr int STILLS = 25;
constexpr int CLIPS = 5;
constexpr int CLIP_FRAMES = 125;

// Frames as the callback compressed them; StartCapture delivers the next
// batch.
class PreparedFrames final : public fw::FrameSource {
public:
  explicit PreparedFrames(std::vector<fw::EncodedFrame> pool) : pool_(std::move(pool)) {}
  int perCapture = 1;
  bool BuildGraph(const fw::CaptureConfig &) override { return true; }
  void ReleaseGraph() override {}
  bool ConfigureDevice(fw::CaptureConfig &) override { return true; }
  void StartCapture() override {
    for (int i = 0; i < perCapture; ++i) {
      frames_.push_back(pool_[next_++ % pool_.size()]);
    }
  }
  void StopCapture() override {}
  std::int32_t FrameCount() const override { return static_cast<std::int32_t>(frames_.size()); }
  std::vector<fw::EncodedFrame> TakeFrames() override { return std::exchange(frames_, {}); }
  void ClearFrames() override { frames_.clear(); }
  int FrameWidth() const override { return WIDTH; }
  int FrameHeight() const override { return HEIGHT; }
  int FrameRateNumerator() const override { return 25; }
  int FrameRateDenominator() const override { return 1; }

private:
  std::vector<fw::EncodedFrame> pool_;
  std::vector<fw::EncodedFrame> frames_;
  std::size_t next_ = 0;
};

std::vector<fw::EncodedFrame> CompressedPool() {
  fw::SGCallback callback;
  fw::bench::Frame picture = fw::bench::MakeFrame(WIDTH, HEIGHT);
  callback.SetFormat(WIDTH, HEIGHT, picture.stride);
  callback.SetArmed(true);
  for (int i = 0; i < 16; ++i) {
    picture.bytes[static_cast<std::size_t>(i) * 7919] ^= 0x5A;
    callback.BufferCB(0, picture.bytes.data(), picture.bytes.size());
  }
  callback.SetArmed(false);
  return callback.TakeFrames();
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: send_acquisition PORT FOLDER RUNS\n");
    return 2;
  }
  const std::string port = argv[1];
  const std::string folder = argv[2];
  const int runs = std::max(1, std::atoi(argv[3]));
  const std::string home = folder + "/home/";
  std::filesystem::create_directories(home + "temp");
  std::filesystem::create_directories(folder + "/files");

  PreparedFrames source(CompressedPool());
  fw::StudyInfo context;
  context.patientID = "BENCH";
  context.patientName = "Bench^Mark";
  context.accessionNumber = "B";
  fw::setupcfg config;
  config.PacsIP = "127.0.0.1";
  config.PacsPort = port;
  config.PacsAET = "STORESCP";
  fw::AcquisitionSessionSetup setup;
  setup.grabber = &source;
  setup.programFolder = home;
  setup.context = &context;
  setup.config = &config;
  bool ok = true;
  setup.messages = [&ok](const fw::MessageRequest &request) {
    if (request.kind == fw::MessageKind::Error) {
      ok = false;
      std::fprintf(stderr, "send_acquisition: %s\n", request.text.c_str());
    }
    return fw::MessageAnswer::Yes;
  };
  fw::AcquisitionSession session(std::move(setup));
  session.Open();
  for (int i = 0; i < STILLS; ++i) {
    session.Snap();
  }
  source.perCapture = CLIP_FRAMES;
  for (int i = 0; i < CLIPS; ++i) {
    session.Video();
    for (int tick = 0; tick < 5; ++tick) {
      session.Tick();
    }
  }
  std::uintmax_t bytes = 0;
  for (const fw::AcquiredFile &file : session.Files()) {
    bytes += std::filesystem::file_size(file.path);
    std::filesystem::copy_file(file.path, folder + "/files/" + std::filesystem::path(file.path).filename().string(),
                               std::filesystem::copy_options::overwrite_existing);
  }
  double best = 1e9;
  for (int run = 0; run < runs && ok; ++run) {
    const auto start = std::chrono::steady_clock::now();
    ok = session.Send();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  const std::size_t count = session.Files().size();
  session.Close();
  if (!ok) {
    return 1;
  }
  std::printf("%.3f %ju %zu\n", best, bytes, count);
  return 0;
}
