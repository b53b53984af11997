// fwdump FILE...: prints the data set of each DICOM file, one line per
// element, as the application log shows data sets. For support staff.
//
// Exit status: 0 when every file was read completely, 1 when a file could not
// be read or decoded (a message on standard error says which and why; the
// elements decoded before a damaged spot are still printed), 2 on wrong usage.
// The decoder's own error lines go to standard error as well, before the
// elements are printed.
#include "app/base/Log.h"
#include "dicom/BufData.h"
#include "dicom/DcmDump.h"
#include "dicom/DcmObj.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The decoder reports details through the application log; fwdump points it
// at a private temporary file and copies each message to standard error.
class LogToStderr {
public:
  LogToStderr() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fwdump-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd >= 0) {
      ::close(fd);
      path_ = pattern;
      fw::SetLogTarget(path_, "", "");
    }
  }
  ~LogToStderr() {
    fw::FreeLogTarget();
    if (!path_.empty()) {
      std::error_code error;
      std::filesystem::remove(path_, error);
    }
  }
  LogToStderr(const LogToStderr &) = delete;
  LogToStderr &operator=(const LogToStderr &) = delete;

  // Copies the messages logged since the last call, without their time of
  // day, to standard error.
  void Flush() {
    if (path_.empty()) {
      return;
    }
    std::ifstream in(path_, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::ofstream(path_, std::ios::binary | std::ios::trunc).close();
    std::size_t at = 0;
    while (at < text.size()) {
      std::size_t end = text.find("\r\n", at);
      if (end == std::string::npos) {
        end = text.size();
      }
      std::string line = text.substr(at, end - at);
      const std::size_t comma = line.find(", ");
      if (comma != std::string::npos) {
        line.erase(0, comma + 2);
      }
      std::fprintf(stderr, "%s\n", line.c_str());
      at = end + 2;
    }
  }

private:
  std::string path_;
};

// Dumps one file; false when it could not be read completely.
bool DumpFile(const std::string &path, LogToStderr &log) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    std::fprintf(stderr, "fwdump: %s: no such file\n", path.c_str());
    return false;
  }
  fw::BufData stream(false);
  if (!stream.LoadFromFile(path)) {
    std::fprintf(stderr, "fwdump: %s: cannot be read\n", path.c_str());
    return false;
  }
  fw::DcmObj dataSet;
  const bool ok = dataSet.ReadFrom(stream);
  log.Flush();
  if (!ok && stream.Size() == 0) {
    std::fprintf(stderr, "fwdump: %s: not a DICOM file (no \"DICM\" after the 128-byte preamble)\n", path.c_str());
    return false;
  }
  std::vector<std::string> lines;
  fw::Dump(dataSet, lines, 0);
  for (const std::string &line : lines) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }
  std::fflush(stdout);
  if (!ok) {
    std::fprintf(stderr, "fwdump: %s: damaged, the data set could be decoded only up to the last line shown\n",
                 path.c_str());
  }
  return ok;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: fwdump FILE...\n"
                         "Prints the data set of each DICOM file, one line per element.\n");
    return 2;
  }
  LogToStderr log;
  bool allRead = true;
  for (int i = 1; i < argc; ++i) {
    if (argc > 2) {
      std::printf("%s== %s\n", i > 1 ? "\n" : "", argv[i]);
    }
    allRead = DumpFile(argv[i], log) && allRead;
  }
  return allRead ? 0 : 1;
}
