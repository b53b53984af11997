// fwdump FILE...: prints the data set of each DICOM file, one line per
// element, as the application log shows data sets. For support staff.
//
// Exit status: 0 when every file was read completely, 1 when a file could not
// be read or decoded or is not whole (a message on standard error says which
// and why, "truncated" for a file cut between elements, a clip short of its
// frames among them; the elements decoded before a damaged spot are still
// printed), 2 on wrong usage.
// The decoder's error lines (every log line with -v) go to standard error as
// well, before the elements are printed.
#include "dicom/BufData.h"
#include "dicom/DcmDump.h"
#include "dicom/DcmFile.h"
#include "dicom/DcmObj.h"
#include "tools/common/ToolLog.h"
#include "tools/common/ToolOptions.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// Dumps one file; false when it could not be read completely.
bool DumpFile(const std::string &path, fw::tool::ToolLog &log) {
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
    if (const std::string truncation = fw::TruncationOf(dataSet); !truncation.empty()) {
      std::fprintf(stderr, "fwdump: %s: truncated, %s; the elements shown are those the file holds\n", path.c_str(),
                   truncation.c_str());
    } else {
      std::fprintf(stderr, "fwdump: %s: damaged, the data set could be decoded only up to the last line shown\n",
                   path.c_str());
    }
  }
  return ok;
}

struct DumpOptions {
  std::vector<std::string> files;
  bool verbose = false;
};

fw::tool::ParseResult<DumpOptions> ParseDumpOptions(int argc, char **argv) {
  fw::tool::CommandLine commandLine("fwdump", "[options] FILE...",
                                    "Prints the data set of each DICOM file, one line per element.");
  commandLine.SetArguments({"FILE"}, true);
  if (const auto code = commandLine.Parse(argc, argv)) {
    return {{}, code};
  }
  return {{commandLine.Arguments(), commandLine.Common().verbose}, std::nullopt};
}

int RunDump(const DumpOptions &options) {
  const std::vector<std::string> &files = options.files;
  fw::tool::ToolLog log(options.verbose);
  bool allRead = true;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files.size() > 1) {
      std::printf("%s== %s\n", i > 0 ? "\n" : "", files[i].c_str());
    }
    allRead = DumpFile(files[i], log) && allRead;
  }
  return allRead ? fw::tool::EXIT_OK : fw::tool::EXIT_FAILED;
}

} // namespace

int main(int argc, char **argv) {
  const auto parsed = ParseDumpOptions(argc, argv);
  return parsed.exitCode ? *parsed.exitCode : RunDump(parsed.options);
}
