// Every tool answers --help, --version and a bad option the same way: usage
// on standard output and exit 0, its name and version and exit 0, a reason
// and the --help hint on standard error and exit 2 (a usage error).
#include "framewell/Version.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>

namespace fw {
namespace {

struct Tool {
  const char *name;
  const char *path;
};

const Tool TOOLS[] = {{"fwdump", FW_TOOL_fwdump}, {"fwconvert", FW_TOOL_fwconvert}, {"fwrender", FW_TOOL_fwrender},
                      {"fwecho", FW_TOOL_fwecho}, {"fwstore", FW_TOOL_fwstore},     {"fwfind", FW_TOOL_fwfind},
                      {"fwgrab", FW_TOOL_fwgrab}};

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string FileText(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ToolRun RunTool(const Tool &tool, const std::string &arguments, const test::TempDir &dir) {
  const std::string out = dir.folder() + "out.txt";
  const std::string err = dir.folder() + "err.txt";
  const std::string command = std::string(tool.path) + " " + arguments + " >" + out + " 2>" + err + " </dev/null";
  ToolRun run;
  const int status = std::system(command.c_str());
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = FileText(out);
  run.err = FileText(err);
  return run;
}

class ToolContract : public testing::TestWithParam<Tool> {
protected:
  test::TempDir dir_;
};

TEST_P(ToolContract, HelpGoesToStandardOutput) {
  const ToolRun run = RunTool(GetParam(), "--help", dir_);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("usage: " + std::string(GetParam().name) + " ", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("  -v, --verbose"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("exit status: 0 success, 1 a DICOM, device or I/O failure, 2 a usage error"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.err, "");
}

TEST_P(ToolContract, VersionNamesTheProgram) {
  // -v is taken wherever it stands.
  const ToolRun run = RunTool(GetParam(), "-v --version", dir_);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(GetParam().name) + " " + FRAMEWELL_VERSION_STRING + "\n");
  EXPECT_EQ(run.err, "");
}

TEST_P(ToolContract, BadOptionIsAUsageError) {
  const ToolRun run = RunTool(GetParam(), "--no-such-option", dir_);
  const std::string name = GetParam().name;
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, name + ": unknown option --no-such-option\nTry '" + name + " --help' for more information.\n");
}

INSTANTIATE_TEST_SUITE_P(Tools, ToolContract, testing::ValuesIn(TOOLS),
                         [](const testing::TestParamInfo<Tool> &info) { return std::string(info.param.name); });

} // namespace
} // namespace fw
