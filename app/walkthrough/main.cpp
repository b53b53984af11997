// fwwalkthrough: walks the station's windows through one acquisition on the
// offscreen platform and reports each step.
#include "app/FramewellApplication.h"
#include "app/walkthrough/Walkthrough.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kUsage[] = "usage: fwwalkthrough --screenshots <folder> [--orthanc-url http://127.0.0.1:PORT]\n"
                      "  FRAMEWELL_HOME names the station folder, FRAMEWELL_VIDEO_SOURCE the video source.\n";

} // namespace

int main(int argc, char **argv) {
  std::string screenshots;
  std::string orthancUrl;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return EXIT_SUCCESS;
    }
    if ((arg == "--screenshots" || arg == "--orthanc-url") && i + 1 < argc) {
      (arg == "--screenshots" ? screenshots : orthancUrl) = argv[++i];
      continue;
    }
    std::fprintf(stderr, "fwwalkthrough: bad option %s\n%s", arg.c_str(), kUsage);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  fw::FramewellApplication app(argc, argv);
  fw::WalkOptions options;
  options.screenshotFolder = QString::fromStdString(screenshots);
  fw::Walkthrough walk(options);
  const bool ok = walk.Run();
  for (const fw::WalkStep &step : walk.Steps()) {
    std::printf("%-26s %s%s%s\n", step.name.c_str(), step.ok ? "ok" : "FAILED", step.detail.empty() ? "" : "  ",
                step.detail.c_str());
  }
  for (const std::string &box : walk.Boxes()) {
    std::printf("box: %s\n", box.c_str());
  }
  if (!orthancUrl.empty()) {
    std::printf("See the stored objects at %s/app/explorer.html\n", orthancUrl.c_str());
  }
  if (!screenshots.empty()) {
    std::printf("Screenshots in %s\n", screenshots.c_str());
  }
  return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
