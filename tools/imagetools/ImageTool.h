// ImageTool: what the image tools (fwconvert, fwrender) share: the exit
// codes and options of the project's tools (--help, --version, -v) and the
// application log copied to standard error.
//
//   exit code  0 success, 1 failure (file, conversion, drawing), 2 usage error
//
// The toolkit reports details through the application log; the tools point it
// at a private temporary file and copy its lines to standard error, without
// their time of day: "ERROR" and "WARNING" lines always, every line with -v.
#pragma once

#include "app/base/Log.h"
#include "framewell/Version.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

namespace fw::imagetool {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;

class CapturedLog {
public:
  explicit CapturedLog(bool verbose) : verbose_(verbose) {
    std::string pattern = (std::filesystem::temp_directory_path() / "fwimagetool-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd >= 0) {
      ::close(fd);
      path_ = pattern;
      SetLogTarget(path_, "", "");
    }
  }
  ~CapturedLog() {
    Flush();
    FreeLogTarget();
    if (!path_.empty()) {
      std::error_code error;
      std::filesystem::remove(path_, error);
    }
  }
  CapturedLog(const CapturedLog &) = delete;
  CapturedLog &operator=(const CapturedLog &) = delete;

  // Copies the lines logged since the last call to standard error.
  void Flush() {
    if (path_.empty())
      return;
    std::ifstream in(path_, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (std::size_t at = copied_; at < text.size();) {
      std::size_t end = text.find('\n', at);
      if (end == std::string::npos)
        end = text.size();
      std::string line = text.substr(at, end - at);
      at = end + 1;
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      // "hh:mm:ss, " before the message.
      if (const std::size_t comma = line.find(", "); comma != std::string::npos && comma <= 8)
        line.erase(0, comma + 2);
      if (verbose_ || line.rfind("ERROR", 0) == 0 || line.rfind("WARNING", 0) == 0)
        std::cerr << line << '\n';
    }
    copied_ = text.size();
  }

private:
  std::string path_;
  std::size_t copied_ = 0;
  bool verbose_;
};

// The options every tool has. Returns the exit code when the argument ends
// the run (--help, --version), and sets verbose for -v.
inline std::optional<int> CommonOption(std::string_view arg, std::string_view program, std::string_view usage,
                                       bool &verbose, bool &handled) {
  handled = true;
  if (arg == "--help" || arg == "-h") {
    std::cout << "usage: " << program << ' ' << usage;
    return EXIT_OK;
  }
  if (arg == "--version") {
    std::cout << program << ' ' << FRAMEWELL_VERSION_STRING << '\n';
    return EXIT_OK;
  }
  if (arg == "-v" || arg == "--verbose") {
    verbose = true;
    return std::nullopt;
  }
  handled = false;
  return std::nullopt;
}

inline int UsageError(std::string_view program, std::string_view message, std::string_view usage) {
  std::cerr << program << ": " << message << '\n' << "usage: " << program << ' ' << usage;
  return EXIT_USAGE;
}

} // namespace fw::imagetool
