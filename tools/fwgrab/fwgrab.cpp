// fwgrab: a diagnostic for support staff. Builds the capture pipeline the
// station uses (first video input device, or a GStreamer source), arms it for
// a number of frames or seconds, writes every collected frame as a numbered
// JPEG file and prints the frame size, the frame rate and the time the frame
// callback took.
//
//   fwgrab [--source DESC] [--size WxH] [--frames N | --seconds S] OUTDIR
//
// Exit codes: 0 done, 1 usage, 2 no video source could be started, 3 no frame
// arrived or a file could not be written.
#include "acquisition/MySampleGrabber.h"

#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char *kUsage = "usage: fwgrab [--source DESC] [--size WxH] [--frames N | --seconds S] OUTDIR\n"
                               "  --source DESC  GStreamer source description instead of the first video device\n"
                               "  --size WxH     frame size to ask for (default: the device's own)\n"
                               "  --frames N     collect N frames (default 10)\n"
                               "  --seconds S    collect for S seconds instead\n";

struct Options {
  std::string source;
  int width = 0;
  int height = 0;
  int frames = 10;
  double seconds = 0;
  std::string outDir;
};

bool ParsePositive(const std::string &text, double &value) {
  char *end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0' && value > 0 && value < 1e6;
}

bool ParseOptions(int argc, char **argv, Options &options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    double number = 0;
    if (arg == "--source" && hasValue) {
      options.source = argv[++i];
    } else if (arg == "--size" && hasValue) {
      const std::string size = argv[++i];
      const auto x = size.find('x');
      double w = 0;
      double h = 0;
      if (x == std::string::npos || !ParsePositive(size.substr(0, x), w) || !ParsePositive(size.substr(x + 1), h)) {
        return false;
      }
      options.width = static_cast<int>(w);
      options.height = static_cast<int>(h);
    } else if (arg == "--frames" && hasValue && ParsePositive(argv[i + 1], number)) {
      options.frames = static_cast<int>(number);
      options.seconds = 0;
      ++i;
    } else if (arg == "--seconds" && hasValue && ParsePositive(argv[i + 1], number)) {
      options.seconds = number;
      ++i;
    } else if (!arg.empty() && arg[0] != '-' && options.outDir.empty()) {
      options.outDir = arg;
    } else {
      return false;
    }
  }
  return !options.outDir.empty();
}

// Counts the buffers the source hands to the converter.
GstPadProbeReturn CountBuffer(GstPad *, GstPadProbeInfo *, gpointer counter) {
  static_cast<std::atomic<long long> *>(counter)->fetch_add(1, std::memory_order_relaxed);
  return GST_PAD_PROBE_OK;
}

double Median(std::vector<std::int64_t> values) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? static_cast<double>(values[n / 2]) : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

} // namespace

int main(int argc, char **argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::cerr << kUsage;
    return 1;
  }
  if (!options.source.empty()) {
    ::setenv("FRAMEWELL_VIDEO_SOURCE", options.source.c_str(), 1);
  }

  static std::atomic<long long> pushed{0};
  fw::MySampleGrabber grabber;
  grabber.SetPipelineHook([](GstElement *pipeline) {
    GstElement *convert = gst_bin_get_by_name(GST_BIN(pipeline), "Convert");
    if (convert == nullptr) {
      return;
    }
    if (GstPad *sink = gst_element_get_static_pad(convert, "sink")) {
      gst_pad_add_probe(sink, GST_PAD_PROBE_TYPE_BUFFER, CountBuffer, &pushed, nullptr);
      gst_object_unref(sink);
    }
    gst_object_unref(convert);
  });
  // Standard code 0 has no device standard: the device keeps its own.
  const fw::CaptureConfig config{0, options.width, options.height, 0};
  if (!grabber.BuildGraph(nullptr, config)) {
    std::cerr << "fwgrab: no video input device could be started"
              << (options.source.empty() ? "" : " from the given source") << "\n";
    return 2;
  }
  std::cout << "frame size: " << grabber.FrameWidth() << " x " << grabber.FrameHeight() << "\n";

  using Clock = std::chrono::steady_clock;
  const long long pushedBefore = pushed.load();
  const auto start = Clock::now();
  grabber.StartCapture();
  if (options.seconds > 0) {
    std::this_thread::sleep_for(std::chrono::duration<double>(options.seconds));
  } else {
    // Gives up when no frame has arrived for five seconds.
    auto lastProgress = Clock::now();
    std::int32_t last = 0;
    while (grabber.FrameCount() < options.frames && Clock::now() - lastProgress < std::chrono::seconds(5)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (grabber.FrameCount() != last) {
        last = grabber.FrameCount();
        lastProgress = Clock::now();
      }
    }
  }
  const double armedSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  grabber.StopCapture();
  const long long pushedWhileArmed = pushed.load() - pushedBefore;

  const auto &frames = grabber.Frames();
  const auto nanos = grabber.Callback().FrameNanos();
  std::cout << "frames collected: " << frames.size() << " in " << armedSeconds << " s ("
            << (armedSeconds > 0 ? static_cast<double>(frames.size()) / armedSeconds : 0.0) << " per second)\n";
  std::cout << "frames the source delivered while armed (stop included): " << pushedWhileArmed << "\n";
  std::cout << "median frame callback time: " << Median(nanos) / 1e6 << " ms\n";
  if (frames.empty()) {
    std::cerr << "fwgrab: no frame arrived\n";
    return 3;
  }

  std::error_code error;
  std::filesystem::create_directories(options.outDir, error);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "frame%04zu.jpg", i + 1);
    const auto path = std::filesystem::path(options.outDir) / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(frames[i].data.data()),
              static_cast<std::streamsize>(frames[i].data.size()));
    if (!out.flush()) {
      std::cerr << "fwgrab: cannot write " << path.string() << "\n";
      return 3;
    }
  }
  std::cout << "written: " << frames.size() << " files to " << options.outDir << "\n";
  return 0;
}
