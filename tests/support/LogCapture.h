// LogCapture: points the application log at a file of its own for the life
// of a test, and gives back the messages written, without time stamps.
#pragma once

#include "tests/support/TempDir.h"

#include <string>
#include <string_view>
#include <vector>

namespace fw::test {

class LogCapture {
public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  // The file as written, raw records included.
  std::string Raw() const;
  // Each "hh:mm:ss, message" line as its message.
  std::vector<std::string> Messages() const;
  bool Contains(std::string_view message) const;
  // Messages that start with the prefix.
  std::vector<std::string> StartingWith(std::string_view prefix) const;

private:
  TempDir dir_;
};

} // namespace fw::test
