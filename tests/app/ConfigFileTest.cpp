// "quillbrook.cfg": reading with any line ending, short and odd files, the
// exact bytes written, and a file that cannot be written.
#include "app/shell/ConfigFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::ReadFileBytes;
using test::TempDir;

const std::string kDefaultsFile =
    "QUILLBROOK\r\nInstitution Name\r\nPACS\r\n127.0.0.1\r\n104\r\nWORKLIST\r\n127.0.0.1\r\n104\r\n0\r\n0\r\n";

setupcfg Config(std::vector<std::string> texts, std::int32_t modality) {
  texts.resize(9);
  return {texts[0], texts[1], texts[2], texts[3], texts[4], texts[5], texts[6], texts[7], texts[8], modality};
}

TEST(ConfigFileTest, ReadsTheFileIntoTheRecord) {
  struct Case {
    const char *name;
    std::string bytes;
    setupcfg expected;
    int firstMissingLine;
  };
  const std::vector<std::string> ten = {"STATION", "St. Mary", "ARCHIVE", "10.0.0.5", "11112",
                                        "WL",      "10.0.0.6", "2000",    "7"};
  const std::vector<Case> cases = {
      {"CrLf", "STATION\r\nSt. Mary\r\nARCHIVE\r\n10.0.0.5\r\n11112\r\nWL\r\n10.0.0.6\r\n2000\r\n7\r\n3\r\n",
       Config(ten, 3), -1},
      {"LfOnlyWithoutLastEnd", "STATION\nSt. Mary\nARCHIVE\n10.0.0.5\n11112\nWL\n10.0.0.6\n2000\n7\n3", Config(ten, 3),
       -1},
      {"CrOnlyAndMixed", "STATION\rSt. Mary\r\nARCHIVE\n10.0.0.5\r11112\nWL\r\n10.0.0.6\r2000\n7\r-1\r",
       Config(ten, -1), -1},
      {"TenthLineNotANumber", "A\r\nB\r\nC\r\nD\r\nE\r\nF\r\nG\r\nH\r\nI\r\nabc\r\n",
       Config({"A", "B", "C", "D", "E", "F", "G", "H", "I"}, 0), -1},
      {"EmptyLinesStayEmpty", "\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n6\r\n", Config({}, 6), -1},
      {"Latin1BytesKept", "S\r\nH\xF4pital\r\nP\r\nI\r\n1\r\nW\r\nJ\r\n2\r\n0\r\n1\r\n",
       Config({"S", "H\xF4pital", "P", "I", "1", "W", "J", "2", "0"}, 1), -1},
      {"ThreeLines", "A\r\nB\r\nC\r\n", Config({"A", "B", "C"}, 0), 3},
      {"NineLines", "A\r\nB\r\nC\r\nD\r\nE\r\nF\r\nG\r\nH\r\nI\r\n",
       Config({"A", "B", "C", "D", "E", "F", "G", "H", "I"}, 0), 9},
      {"EmptyFile", "", Config({}, 0), 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.folder() + "quillbrook.cfg";
    std::ofstream(path, std::ios::binary) << c.bytes;
    setupcfg record;
    ConfigLoad load;
    ASSERT_TRUE(LoadConfig(record, path, &load));
    EXPECT_EQ(record, c.expected);
    EXPECT_TRUE(load.found);
    EXPECT_EQ(load.firstMissingLine, c.firstMissingLine);
  }
}

TEST(ConfigFileTest, MissingFileLeavesRecordUntouched) {
  TempDir dir;
  setupcfg record = Config({"KEEP"}, 4);
  EXPECT_FALSE(LoadConfig(record, dir.folder() + "quillbrook.cfg"));
  EXPECT_EQ(record, Config({"KEEP"}, 4));
}

TEST(ConfigFileTest, ModalityIndexNumbers) {
  struct Case {
    const char *line;
    std::int32_t expected;
  } cases[] = {{"0", 0},  {"6", 6}, {"-1", -1}, {"+2", 2},         {"abc", 0},
               {"3x", 0}, {"", 0},  {" 3", 0},  {"99999999999", 0}};
  for (const Case &c : cases) {
    EXPECT_EQ(ParseModalityIndex(c.line), c.expected) << "'" << c.line << "'";
  }
}

TEST(ConfigFileTest, WritesExactlyTenCrLfLines) {
  TempDir dir;
  const std::string path = dir.folder() + "quillbrook.cfg";
  std::ofstream(path) << "an older, longer file that must be replaced entirely\n\n\n\n\n\n\n\n\n\n\n\n";
  ASSERT_TRUE(SaveConfig(setupcfg{}, path));
  EXPECT_EQ(ReadFileBytes(path), kDefaultsFile);

  const setupcfg edited = Config({"ST", "H\xF4pital", "", "10.1.1.1", "x", "W", "h", "1", "R"}, -1);
  ASSERT_TRUE(SaveConfig(edited, path));
  EXPECT_EQ(ReadFileBytes(path), "ST\r\nH\xF4pital\r\n\r\n10.1.1.1\r\nx\r\nW\r\nh\r\n1\r\nR\r\n-1\r\n");
  setupcfg back;
  ASSERT_TRUE(LoadConfig(back, path));
  EXPECT_EQ(back, edited);
}

TEST(ConfigFileTest, UnwritableFileGivesTheSystemsReason) {
  TempDir dir;
  const std::string path = dir.folder() + "missing-folder/quillbrook.cfg";
  std::string reason;
  EXPECT_FALSE(SaveConfig(setupcfg{}, path, &reason));
  EXPECT_EQ(reason, "No such file or directory");
}

} // namespace
} // namespace fw
