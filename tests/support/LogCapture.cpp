#include "tests/support/LogCapture.h"

#include "base/Log.h"

#include <algorithm>

namespace fw::test {

LogCapture::LogCapture() { SetLogTarget(dir_.folder() + "test_qbk.log", "", ""); }

LogCapture::~LogCapture() { FreeLogTarget(); }

std::string LogCapture::Raw() const { return ReadFileBytes(dir_.folder() + "test_qbk.log"); }

std::vector<std::string> LogCapture::Messages() const {
  std::vector<std::string> messages;
  const std::string raw = Raw();
  std::size_t start = 0;
  while (start < raw.size()) {
    std::size_t end = raw.find("\r\n", start);
    if (end == std::string::npos) {
      end = raw.size();
    }
    const std::string line = raw.substr(start, end - start);
    // "hh:mm:ss, " prefix of a WriteLog line.
    if (line.size() >= 10 && line[2] == ':' && line[5] == ':' && line.compare(8, 2, ", ") == 0) {
      messages.push_back(line.substr(10));
    }
    start = end + 2;
  }
  return messages;
}

bool LogCapture::Contains(std::string_view message) const {
  const std::vector<std::string> messages = Messages();
  return std::find(messages.begin(), messages.end(), message) != messages.end();
}

std::vector<std::string> LogCapture::StartingWith(std::string_view prefix) const {
  std::vector<std::string> found;
  for (const std::string &message : Messages()) {
    if (message.compare(0, prefix.size(), prefix) == 0) {
      found.push_back(message);
    }
  }
  return found;
}

} // namespace fw::test
