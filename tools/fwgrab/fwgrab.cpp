// fwgrab: a diagnostic for support staff. Builds the capture pipeline the
// station uses (first video input device, or a GStreamer source) with the
// station's capture configuration ("videocap.cfg" in the program folder:
// analog standard, input, frame size), arms it for a number of frames or
// seconds, writes every collected frame as a numbered JPEG file and prints
// the frame size, the frame rate and the time the frame callback took.
//
//   fwgrab [-v] [--source DESC] [--size WxH] [--frames N | --seconds S] OUTDIR
//
// Without "videocap.cfg" the device keeps its own standard and size, input 0.
// Exit codes: 0 done, 1 no video source could be started, no frame arrived or
// a file could not be written, 2 usage.
#include "acquisition/CaptureConfig.h"
#include "acquisition/EncodedFrame.h"
#include "acquisition/GstHandles.h"
#include "acquisition/MySampleGrabber.h"
#include "base/ProgramFolder.h"
#include "tools/common/ToolLog.h"
#include "tools/common/ToolOptions.h"

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
#include <utility>
#include <vector>

namespace {

bool ParsePositive(std::string_view text, double &value) {
  const std::string copy(text);
  char *end = nullptr;
  value = std::strtod(copy.c_str(), &end);
  return end != copy.c_str() && *end == '\0' && value > 0 && value < 1e6;
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

struct GrabOptions {
  std::string source; // GStreamer description; empty for the first video device
  // Frame size to ask for; 0 for the configured one.
  int width = 0;
  int height = 0;
  int wantedFrames = 10;
  double seconds = 0; // above 0: collect for this long instead of counting frames
  std::string outDir;
  bool verbose = false;
};

fw::tool::ParseResult<GrabOptions> ParseGrabOptions(int argc, char **argv) {
  GrabOptions options;
  std::string sizeText, framesText, secondsText;
  fw::tool::CommandLine commandLine("fwgrab", "[options] OUTDIR",
                                    "Captures frames through the station's pipeline and writes them as numbered JPEG "
                                    "files to OUTDIR.");
  commandLine.AddValue("--source", "DESC", "GStreamer source description instead of the first video device",
                       options.source);
  commandLine.AddValue("--size", "WxH", "frame size to ask for (default: videocap.cfg's, else the device's own)",
                       sizeText, [&](std::string_view size) {
                         const std::size_t x = size.find('x');
                         double w = 0;
                         double h = 0;
                         if (x == std::string::npos || !ParsePositive(size.substr(0, x), w) ||
                             !ParsePositive(size.substr(x + 1), h))
                           return std::string("WIDTHxHEIGHT, each above 0");
                         // The station's own bound: a larger frame can exhaust memory.
                         if (w > fw::MAX_CAPTURE_WIDTH || h > fw::MAX_CAPTURE_HEIGHT)
                           return "WIDTHxHEIGHT, at most " + std::to_string(fw::MAX_CAPTURE_WIDTH) + "x" +
                                  std::to_string(fw::MAX_CAPTURE_HEIGHT);
                         options.width = static_cast<int>(w);
                         options.height = static_cast<int>(h);
                         return std::string();
                       });
  commandLine.AddValue("--frames", "N", "collect N frames (default 10)", framesText, [&](std::string_view text) {
    double n = 0;
    if (!ParsePositive(text, n) || n != static_cast<int>(n))
      return std::string("a whole number of frames above 0");
    options.wantedFrames = static_cast<int>(n);
    return std::string();
  });
  commandLine.AddValue("--seconds", "S", "collect for S seconds instead", secondsText, [&](std::string_view text) {
    if (!ParsePositive(text, options.seconds))
      return std::string("a number of seconds above 0");
    return std::string();
  });
  commandLine.SetArguments({"OUTDIR"});
  if (const auto code = commandLine.Parse(argc, argv))
    return {{}, code};
  if (!framesText.empty() && !secondsText.empty())
    return {{}, commandLine.UsageError("--frames and --seconds exclude each other")};
  options.outDir = commandLine.Arguments()[0];
  options.verbose = commandLine.Common().verbose;
  return {std::move(options), std::nullopt};
}

// The station's capture configuration with --size over it; without one the
// device keeps its own standard (code 0 has none) and size.
fw::CaptureConfig GrabConfig(const GrabOptions &options) {
  fw::programFolder = fw::ResolveProgramFolder(fw::CurrentProgramFolderInputs());
  fw::CaptureConfig config{0, 0, 0, 0};
  const std::string configPath = fw::CaptureConfigPath();
  const bool configRead = fw::ReadCaptureConfig(configPath, config);
  if (!configRead)
    config = fw::CaptureConfig{0, 0, 0, 0};
  if (options.width > 0) {
    config.width = options.width;
    config.height = options.height;
  }
  if (options.verbose)
    std::cerr << "fwgrab: " << (configRead ? "configuration " + configPath : "no " + configPath + ", device defaults")
              << ": standard " << config.tvFormat << ", input " << config.crossbarInput << ", size " << config.width
              << "x" << config.height << "\n";
  return config;
}

// Arms the grabber for --seconds, or until --frames frames have arrived
// (giving up when none has for five seconds). Returns the seconds it was
// armed.
double CollectFrames(fw::MySampleGrabber &grabber, const GrabOptions &options) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  grabber.StartCapture();
  if (options.seconds > 0) {
    std::this_thread::sleep_for(std::chrono::duration<double>(options.seconds));
  } else {
    auto lastProgress = Clock::now();
    std::int32_t last = 0;
    while (grabber.FrameCount() < options.wantedFrames && Clock::now() - lastProgress < std::chrono::seconds(5)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (grabber.FrameCount() != last) {
        last = grabber.FrameCount();
        lastProgress = Clock::now();
      }
    }
  }
  const double armedSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  grabber.StopCapture();
  return armedSeconds;
}

// Writes the frames as frame0001.jpg, frame0002.jpg, ... into outDir; false,
// with a line on standard error, at the first that cannot be written.
bool WriteFrames(const std::vector<fw::EncodedFrame> &frames, const std::string &outDir) {
  std::error_code error;
  std::filesystem::create_directories(outDir, error);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "frame%04zu.jpg", i + 1);
    const auto path = std::filesystem::path(outDir) / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(frames[i].data.data()),
              static_cast<std::streamsize>(frames[i].data.size()));
    if (!out.flush()) {
      std::cerr << "fwgrab: cannot write " << path.string() << "\n";
      return false;
    }
  }
  return true;
}

int RunGrab(const GrabOptions &options) {
  using namespace fw::tool;
  const std::string &source = options.source;
  ToolLog log(options.verbose);
  if (!source.empty()) {
    ::setenv("FRAMEWELL_VIDEO_SOURCE", source.c_str(), 1);
  }
  const fw::CaptureConfig config = GrabConfig(options);

  static std::atomic<long long> pushed{0};
  fw::MySampleGrabber grabber;
  grabber.SetPipelineHook([](GstElement *pipeline) {
    const fw::gst::Element convert(gst_bin_get_by_name(GST_BIN(pipeline), "Convert"));
    if (!convert) {
      return;
    }
    if (const fw::gst::Pad sink{gst_element_get_static_pad(convert.get(), "sink")}) {
      gst_pad_add_probe(sink.get(), GST_PAD_PROBE_TYPE_BUFFER, CountBuffer, &pushed, nullptr);
    }
  });
  if (!grabber.BuildGraph(nullptr, config)) {
    log.Flush();
    std::cerr << "fwgrab: no video input device could be started" << (source.empty() ? "" : " from the given source")
              << "\n";
    return EXIT_FAILED;
  }
  std::cout << "frame size: " << grabber.FrameWidth() << " x " << grabber.FrameHeight() << "\n";

  const long long pushedBefore = pushed.load();
  const double armedSeconds = CollectFrames(grabber, options);
  const long long pushedWhileArmed = pushed.load() - pushedBefore;

  const auto &frames = grabber.Frames();
  const auto nanos = grabber.Callback().FrameNanos();
  std::cout << "frames collected: " << frames.size() << " in " << armedSeconds << " s ("
            << (armedSeconds > 0 ? static_cast<double>(frames.size()) / armedSeconds : 0.0) << " per second)\n";
  std::cout << "frames the source delivered while armed (stop included): " << pushedWhileArmed << "\n";
  std::cout << "median frame callback time: " << Median(nanos) / 1e6 << " ms\n";
  if (frames.empty()) {
    log.Flush();
    std::cerr << "fwgrab: no frame arrived\n";
    return EXIT_FAILED;
  }
  if (!WriteFrames(frames, options.outDir)) {
    return EXIT_FAILED;
  }
  std::cout << "written: " << frames.size() << " files to " << options.outDir << "\n";
  return EXIT_OK;
}

} // namespace

int main(int argc, char **argv) {
  const auto parsed = ParseGrabOptions(argc, argv);
  return parsed.exitCode ? *parsed.exitCode : RunGrab(parsed.options);
}
