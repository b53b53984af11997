// ToolLog: the log of a tool, copied to standard error.
#include "tools/common/ToolLog.h"

#include "base/Log.h"
#include "tools/common/TerminalText.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <unistd.h>

namespace fw::tool {

namespace {

// "hh:mm:ss, " as the log writer puts it before every message.
// A line that reports a failure: the severity words, and the association's
// few failure lines that carry none.
bool IsProblem(std::string_view message) {
  static constexpr std::string_view PROBLEMS[] = {"ERROR", "WARNING", "Association Rejected", "Corrupt Transmission",
                                                  "Association RQ failed"};
  for (std::string_view start : PROBLEMS) {
    if (message.starts_with(start)) {
      return true;
    }
  }
  return false;
}

bool HasTimePrefix(std::string_view line) {
  if (line.size() < 10 || line[2] != ':' || line[5] != ':' || line.substr(8, 2) != ", ") {
    return false;
  }
  for (std::size_t i : {0, 1, 3, 4, 6, 7}) {
    if (line[i] < '0' || line[i] > '9') {
      return false;
    }
  }
  return true;
}

} // namespace

ToolLog::ToolLog(bool verbose) : verbose_(verbose) {
  std::error_code error;
  std::string pattern = (std::filesystem::temp_directory_path(error) / "fwtool-XXXXXX").string();
  const int fd = mkstemp(pattern.data());
  if (fd >= 0) {
    ::close(fd);
    path_ = pattern;
    SetLogTarget(path_, "", "");
  }
}

ToolLog::~ToolLog() {
  Flush();
  FreeLogTarget();
  if (!path_.empty()) {
    std::error_code error;
    std::filesystem::remove(path_, error);
  }
}

void ToolLog::Flush() {
  if (path_.empty()) {
    return;
  }
  std::ifstream in(path_, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(copied_));
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Only whole lines; a line still being written waits for the next call.
  const std::size_t end = text.rfind('\n');
  if (end == std::string::npos) {
    return;
  }
  copied_ += end + 1;
  std::size_t at = 0;
  while (at <= end) {
    std::size_t stop = text.find('\n', at);
    std::string_view line(text.data() + at, stop - at);
    at = stop + 1;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    const bool timed = HasTimePrefix(line);
    const std::string_view message = timed ? line.substr(10) : line;
    const bool problem = IsProblem(message);
    if (!verbose_ && !(timed && problem)) {
      continue;
    }
    const std::string shown = ToTerminal(message);
    std::fprintf(stderr, "%s\n", shown.c_str());
  }
  std::fflush(stderr);
}

} // namespace fw::tool
