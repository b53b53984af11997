// "quillbrook.cfg": reading with any line ending, short and odd files, the
// exact bytes written, and a file that cannot be written.
#include "app/shell/ConfigFile.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::LogCapture;
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
    std::size_t refusals = 0;
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
      {"TenthLineNotANumber", "A\r\nB\r\nC\r\nD\r\n5\r\nF\r\nG\r\n8\r\nI\r\nabc\r\n",
       Config({"A", "B", "C", "D", "5", "F", "G", "8", "I"}, 0), -1, 1},
      {"EmptyLinesStayEmpty", "\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n6\r\n", Config({}, 6), -1},
      {"Latin1BytesKept", "S\r\nH\xF4pital\r\nP\r\nI\r\n1\r\nW\r\nJ\r\n2\r\n0\r\n1\r\n",
       Config({"S", "H\xF4pital", "P", "I", "1", "W", "J", "2", "0"}, 1), -1},
      {"ThreeLines", "A\r\nB\r\nC\r\n", Config({"A", "B", "C"}, 0), 3},
      {"NineLines", "A\r\nB\r\nC\r\nD\r\n5\r\nF\r\nG\r\n8\r\nI\r\n",
       Config({"A", "B", "C", "D", "5", "F", "G", "8", "I"}, 0), 9},
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
    EXPECT_EQ(load.refused.size(), c.refusals);
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

  const setupcfg edited = Config({"ST", "H\xF4pital", "", "10.1.1.1", "", "W", "h", "1", "R"}, -1);
  ASSERT_TRUE(SaveConfig(edited, path));
  EXPECT_EQ(ReadFileBytes(path), "ST\r\nH\xF4pital\r\n\r\n10.1.1.1\r\n\r\nW\r\nh\r\n1\r\nR\r\n-1\r\n");
  setupcfg back;
  ASSERT_TRUE(LoadConfig(back, path));
  EXPECT_EQ(back, edited);
}

// A file edited by hand or by anyone: each case puts one value on one line
// of a valid file. A refused value gives the field's default and one ERROR
// line naming the line, the field and the value; every other line is read
// as written, so the station still starts with a usable configuration.
TEST(ConfigFileTest, HostileLinesAreRefusedOneByOne) {
  const std::vector<std::string> valid = {"STATION", "St. Mary", "ARCHIVE", "10.0.0.5", "11112",
                                          "WL",      "10.0.0.6", "2000",    "7",        "3"};
  const std::string longLine(CONFIG_MAX_LINE_BYTES + 1, 'x');
  const std::string fullLine(CONFIG_MAX_LINE_BYTES, 'x');
  struct Case {
    const char *name;
    int line; // one-based
    std::string written;
    std::string read;    // the field's value afterwards, as the file would hold it
    std::string refusal; // the ERROR line after "<path> line N ", empty when taken
  };
  const std::vector<Case> cases = {
      // ports
      {"PortAbove65535", 5, "105844", "104",
       "(PacsPort) \"105844\" is not a port number from 1 to 65535; \"104\" used instead"},
      {"NegativePort", 8, "-25227", "104",
       "(WlPort) \"-25227\" is not a port number from 1 to 65535; \"104\" used instead"},
      {"PortWithJunkAround", 8, " 40309xyz", "104",
       "(WlPort) \" 40309xyz\" is not a port number from 1 to 65535; \"104\" used instead"},
      {"PortWithTrailingJunk", 5, "40309xyz", "104",
       "(PacsPort) \"40309xyz\" is not a port number from 1 to 65535; \"104\" used instead"},
      {"PortWithSign", 5, "+104", "104",
       "(PacsPort) \"+104\" is not a port number from 1 to 65535; \"104\" used instead"},
      {"PortZero", 5, "0", "104", "(PacsPort) \"0\" is not a port number from 1 to 65535; \"104\" used instead"},
      {"PortBeyondAnyInteger", 5, "184467440737095516160", "104",
       "(PacsPort) \"184467440737095516160\" is not a port number from 1 to 65535; \"104\" used instead"},
      {"PortHighestTaken", 5, "65535", "65535", ""},
      {"PortLowestTaken", 8, "1", "1", ""},
      {"PortWithLeadingZerosTaken", 5, "00104", "00104", ""},
      {"EmptyPortStaysEmpty", 5, "", "", ""},
      // AE titles
      {"AETitleOf16Taken", 1, "ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLMNOP", ""},
      {"AETitleWithSpacesAroundTaken", 3, " PACS ", " PACS ", ""},
      {"AETitleOf17", 1, "ABCDEFGHIJKLMNOPQ", "QUILLBROOK",
       "(LocalAET) \"ABCDEFGHIJKLMNOPQ\" is longer than 16 characters; \"QUILLBROOK\" used instead"},
      {"AETitleWithControlCharacter", 3,
       "AR\x1B"
       "CH",
       "PACS",
       "(PacsAET) \"AR\\x1BCH\" holds a character an AE title may not have (control characters, backslash and "
       "characters outside ASCII are not allowed); \"PACS\" used instead"},
      {"AETitleWithNul", 6, std::string("W\0L", 3), "WORKLIST",
       "(WlAET) \"W\\x00L\" holds a character an AE title may not have (control characters, backslash and "
       "characters outside ASCII are not allowed); \"WORKLIST\" used instead"},
      {"AETitleWithBackslash", 3, "A\\B", "PACS",
       "(PacsAET) \"A\\B\" holds a character an AE title may not have (control characters, backslash and "
       "characters outside ASCII are not allowed); \"PACS\" used instead"},
      {"AETitleOutsideAscii", 6, "H\xD4PITAL", "WORKLIST",
       "(WlAET) \"H\xD4PITAL\" holds a character an AE title may not have (control characters, backslash and "
       "characters outside ASCII are not allowed); \"WORKLIST\" used instead"},
      {"AETitleOnlySpaces", 1, "    ", "QUILLBROOK", "(LocalAET) \"    \" is only spaces; \"QUILLBROOK\" used instead"},
      {"EmptyAETitleStaysEmpty", 6, "", "", ""},
      // the modality index
      {"ModalityIndexPastTheList", 10, "7", "-1",
       "(ModalityIndex) \"7\" is not a modality index from -1 to 6; -1 used instead"},
      {"ModalityIndexBelowMinusOne", 10, "-2", "-1",
       "(ModalityIndex) \"-2\" is not a modality index from -1 to 6; -1 used instead"},
      {"ModalityIndexBeyondInt32", 10, "99999999999", "-1",
       "(ModalityIndex) \"99999999999\" is not a modality index from -1 to 6; -1 used instead"},
      {"ModalityIndexNotANumberGivesZero", 10, "abc", "0", "(ModalityIndex) \"abc\" is not a number; 0 used instead"},
      {"ModalityIndexLastTaken", 10, "6", "6", ""},
      {"ModalityIndexNoneTaken", 10, "-1", "-1", ""},
      // line lengths
      {"LineOf4096Taken", 2, fullLine, fullLine, ""},
      {"LineOver4096", 2, longLine, "Institution Name",
       "(InstitutionName) is 4097 bytes long, more than 4096; \"Institution Name\" used instead"},
      {"LineOf5MB", 4, std::string(5u << 20, 'z'), "127.0.0.1",
       "(PacsIP) is 5242880 bytes long, more than 4096; \"127.0.0.1\" used instead"},
      {"LongAETitleLine", 3, longLine, "PACS", "(PacsAET) is 4097 bytes long, more than 4096; \"PACS\" used instead"},
      {"LongModalityIndexLine", 10, std::string(CONFIG_MAX_LINE_BYTES + 1, '1'), "-1",
       "(ModalityIndex) is 4097 bytes long, more than 4096; -1 used instead"},
      {"LongReservedLine", 9, longLine, "0", "(Reserved) is 4097 bytes long, more than 4096; \"0\" used instead"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.folder() + "quillbrook.cfg";
    std::vector<std::string> lines = valid;
    lines[static_cast<std::size_t>(c.line - 1)] = c.written;
    std::string bytes;
    for (const std::string &line : lines) {
      bytes += line + "\r\n";
    }
    std::ofstream(path, std::ios::binary) << bytes;

    LogCapture log;
    setupcfg record;
    ConfigLoad load;
    ASSERT_TRUE(LoadConfig(record, path, &load));
    lines[static_cast<std::size_t>(c.line - 1)] = c.read;
    std::string expected;
    for (const std::string &line : lines) {
      expected += line + "\r\n";
    }
    EXPECT_TRUE(ConfigFileText(record) == expected) << "the other nine lines are read as written";
    EXPECT_EQ(load.firstMissingLine, -1);
    if (c.refusal.empty()) {
      EXPECT_TRUE(load.refused.empty()) << load.refused.front();
    } else {
      const std::string line = "ERROR, LoadConfig, " + path + " line " + std::to_string(c.line) + " " + c.refusal;
      EXPECT_EQ(load.refused, std::vector<std::string>{line});
      EXPECT_EQ(log.StartingWith("ERROR, LoadConfig"), std::vector<std::string>{line}) << "logged once";
    }
  }

  // A line end whose CR and LF come in different reads of the file is one
  // line end.
  TempDir dir;
  const std::string path = dir.folder() + "quillbrook.cfg";
  // "S" CR LF and the 65532 bytes put the next CR last in the first 64 KiB.
  std::ofstream(path, std::ios::binary) << "S\r\n" + std::string(65532, 'y') +
                                               "\r\nP\r\nI\r\n1\r\nW\r\nJ\r\n2\r\n0\r\n1\r\n";
  setupcfg record;
  ConfigLoad load;
  ASSERT_TRUE(LoadConfig(record, path, &load));
  EXPECT_EQ(record.InstitutionName, "Institution Name");
  EXPECT_EQ(record.PacsAET, "P");
  EXPECT_EQ(record.ModalityIndex, 1);
  EXPECT_EQ(load.refused.size(), 1u);
}

// The rules the setup dialog applies before OK and Test, named by field.
TEST(ConfigFileTest, DialogFieldsAreCheckedByTheirRule) {
  struct Case {
    ConfigFieldKind kind;
    std::string value;
    std::string box; // empty when the field may be used
  };
  const std::vector<Case> cases = {
      {ConfigFieldKind::Port, "104", ""},
      {ConfigFieldKind::Port, "", ""},
      {ConfigFieldKind::Port, "105844", "F: \"105844\" is not a port number from 1 to 65535"},
      {ConfigFieldKind::Port, "104 ", "F: \"104 \" is not a port number from 1 to 65535"},
      {ConfigFieldKind::AETitle, "PACS", ""},
      {ConfigFieldKind::AETitle, "ABCDEFGHIJKLMNOPQ", "F: \"ABCDEFGHIJKLMNOPQ\" is longer than 16 characters"},
      {ConfigFieldKind::AETitle, "  ", "F: \"  \" is only spaces"},
      {ConfigFieldKind::Text, std::string(CONFIG_MAX_LINE_BYTES, 'a'), ""},
      {ConfigFieldKind::Text, std::string(CONFIG_MAX_LINE_BYTES + 1, 'a'),
       "F: \"" + std::string(64, 'a') + "\"... (4097 bytes) is 4097 bytes long, more than 4096"},
      {ConfigFieldKind::Text, "St.\tMary", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value.substr(0, 20));
    const auto box = CheckConfigFields({{"OK", ConfigFieldKind::Port, "11112"}, {"F", c.kind, c.value}});
    EXPECT_EQ(box.value_or(""), c.box);
  }
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
