// station_memory [STILLS_PER_CLIP] [CLIPS]: the station's memory over an
// acquisition. The acquisition window (offscreen) over the station's own
// session on a live 1920x1080 test source takes STILLS_PER_CLIP stills (5)
// and then a 4-5 s clip, CLIPS times (5), as an operator would: 30 objects.
// After each object it prints the process's peak and current resident set
// (VmHWM, VmRSS from /proc/self/status) and the file's size; the last line,
//
//   after 30 objects: VmHWM 123.4 MiB, VmRSS 98.7 MiB, files 45.6 MiB
//   (largest 12.3 MiB), before the first object VmRSS 80.1 MiB
//
// is what the benchmark report takes. The objects stay in a temporary folder
// that is removed at the end; exit status 1 when an object is missing.
#include "acquisition/CaptureConfig.h"
#include "acquisition/StationAcquisition.h"
#include "acquisition/TForm3.h"
#include "base/Log.h"
#include "station/StationRecords.h"
#include "tests/support/TempDir.h"
#include "ui/MessageBoxes.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

// A /proc/self/status field in MiB ("VmHWM", "VmRSS"); -1 when absent.
double StatusMiB(const std::string &field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) {
      return std::strtod(line.c_str() + field.size() + 1, nullptr) / 1024.0; // kB
    }
  }
  return -1;
}

double FileMiB(const std::string &path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : static_cast<double>(size) / (1024.0 * 1024.0);
}

// The window's event loop for a while: live video, the ticks of its timer.
void RunEvents(std::chrono::milliseconds duration) {
  const auto end = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < end) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

} // namespace

int main(int argc, char **argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const int stillsPerClip = argc > 1 ? std::atoi(argv[1]) : 5;
  const int clips = argc > 2 ? std::atoi(argv[2]) : 5;

  fw::test::TempDir dir;
  fw::SetLogTarget(dir.folder() + "bench.log", "", "");
  ::setenv("FRAMEWELL_VIDEO_SOURCE", "videotestsrc is-live=true pattern=ball", 1);
  std::filesystem::create_directories(dir.path() / "temp");
  fw::WriteCaptureConfig(dir.folder() + "videocap.cfg", fw::CaptureConfig{1, 1920, 1080, 0});
  fw::StudyContext().patientName = "Bench^Memory";
  fw::StudyContext().accessionNumber = "M1";
  fw::AcquisitionSessionSetup setup;
  setup.programFolder = dir.folder();
  fw::StationAcquisition session(std::move(setup));
  fw::TForm3 form(session);
  form.show();
  while (!form.Opened()) {
    QApplication::processEvents();
  }
  if (!session.PipelineReady()) {
    std::fprintf(stderr, "station_memory: the 1920x1080 test source did not start\n");
    return 1;
  }
  RunEvents(std::chrono::milliseconds(500));
  const double before = StatusMiB("VmRSS");
  std::printf("window open, live video: VmHWM %.1f MiB, VmRSS %.1f MiB\n", StatusMiB("VmHWM"), before);

  std::size_t objects = 0;
  const auto report = [&] {
    const auto files = session.FileList();
    for (; objects < files.size(); ++objects) {
      std::printf("object %zu (%.1f MiB): VmHWM %.1f MiB, VmRSS %.1f MiB\n", objects + 1, FileMiB(files[objects]),
                  StatusMiB("VmHWM"), StatusMiB("VmRSS"));
    }
    std::fflush(stdout);
  };
  for (int clip = 0; clip < clips; ++clip) {
    for (int still = 0; still < stillsPerClip; ++still) {
      form.Button3Click(); // returns once the new tile is in the strip
      report();
      RunEvents(std::chrono::milliseconds(200));
    }
    form.Button4Click();
    while (session.Recording()) { // ended by the window's timer, 4-5 s on
      RunEvents(std::chrono::milliseconds(50));
    }
    RunEvents(std::chrono::milliseconds(200));
    report();
  }

  const auto files = session.FileList();
  double total = 0;
  double largest = 0;
  for (const std::string &file : files) {
    total += FileMiB(file);
    largest = std::max(largest, FileMiB(file));
  }
  std::printf("after %zu objects: VmHWM %.1f MiB, VmRSS %.1f MiB, files %.1f MiB (largest %.1f MiB), "
              "before the first object VmRSS %.1f MiB\n",
              files.size(), StatusMiB("VmHWM"), StatusMiB("VmRSS"), total, largest, before);
  std::fflush(stdout);
  const bool complete = static_cast<int>(files.size()) == clips * (stillsPerClip + 1);

  fw::ScopedMessageHandler yes([](const fw::MessageRequest &) { return fw::MessageAnswer::Yes; });
  form.Button1Click();
  fw::FreeLogTarget();
  return complete ? 0 : 1;
}
