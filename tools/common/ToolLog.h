// ToolLog: the application log of a command-line tool. The toolkit reports
// details through the log (WriteLog); a tool points the log at a private
// temporary file while it runs and copies what was written to standard error:
// the "ERROR"/"WARNING" lines (and the association's failure lines without a
// severity word, such as "Association Rejected...") always, everything (informational lines, the
// network trace and its hex dumps) when verbose. Lines go out without their
// time of day, in the terminal's encoding.
#pragma once

#include <cstddef>
#include <string>

namespace fw::tool {

class ToolLog {
public:
  explicit ToolLog(bool verbose);
  ~ToolLog();
  ToolLog(const ToolLog &) = delete;
  ToolLog &operator=(const ToolLog &) = delete;

  // Copies what was logged since the last call to standard error.
  void Flush();

private:
  std::string path_;
  std::size_t copied_ = 0;
  bool verbose_;
};

} // namespace fw::tool
