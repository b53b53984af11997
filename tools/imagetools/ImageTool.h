// ImageTool: what the image tools (fwconvert, fwrender) share: the exit
// codes and options of the project's tools (--help, --version, -v). Their log
// goes to standard error through tools/common/ToolLog.h.
//
//   exit code  0 success, 1 failure (file, conversion, drawing), 2 usage error
#pragma once

#include "framewell/Version.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

namespace fw::imagetool {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;

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
