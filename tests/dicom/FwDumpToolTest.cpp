// The fwdump tool: a file's data set printed with Dump, one line per element;
// a non-zero exit and a message naming the file when it cannot be read.
#include "dicom/DcmDump.h"
#include "dicom/DcmFile.h"
#include "dicom/Uids.h"
#include "tests/dicom/EncodingTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <sys/wait.h>

namespace fw {
namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

Result RunFwdump(const std::string &arguments, const std::string &errFile) {
  Result r;
  FILE *pipe = popen((std::string(FWDUMP_PATH) + " " + arguments + " 2>" + errFile).c_str(), "r");
  if (pipe == nullptr) {
    return r;
  }
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
    r.out.append(buffer, got);
  }
  const int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.err = test::ReadFileBytes(errFile);
  return r;
}

class FwDumpToolTest : public ::testing::Test {
protected:
  std::string Path(const std::string &name) const { return dir_.folder() + name; }
  test::TempDir dir_;
};

TEST_F(FwDumpToolTest, PrintsTheDumpLines) {
  DcmObj c;
  test::SetSyntax(c, EXPLICIT_VR_BIG_ENDIAN);
  c.PutText(0x0008, 0x0016, SECONDARY_CAPTURE_IMAGE_STORAGE);
  DcmObj item;
  item.PutText(0x0008, 0x1150, "1.2");
  DcmObj sequence;
  sequence.InsertSequence(0xFFFE, 0xE000, item);
  c.InsertSequence(0x0008, 0x1140, sequence);
  c.Put(DcmTag::FromUS(0x0028, 0x0010, 512));
  ASSERT_TRUE(c.Write(Path("a.dcm")));
  std::vector<std::string> lines;
  Dump(c, lines, 0);
  std::string expected;
  for (const auto &line : lines) {
    expected += line + "\n";
  }
  const Result r = RunFwdump(Path("a.dcm"), Path("err.txt"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, expected);
  EXPECT_NE(r.out.find("(0028,0010),  2, US, Rows: 512\n"), std::string::npos);
  EXPECT_EQ(r.err, "");
}

TEST_F(FwDumpToolTest, UnreadableFilesFail) {
  std::ofstream(Path("text.dcm")) << "not a DICOM file";
  const Result missing = RunFwdump(Path("missing.dcm"), Path("err.txt"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find(Path("missing.dcm") + ": no such file"), std::string::npos) << missing.err;
  const Result text = RunFwdump(Path("text.dcm"), Path("err.txt"));
  EXPECT_EQ(text.status, 1);
  EXPECT_NE(text.err.find("not a DICOM file"), std::string::npos) << text.err;
  const Result usage = RunFwdump("", Path("err.txt"));
  EXPECT_EQ(usage.status, 2);
  EXPECT_NE(usage.err.find("fwdump: missing arguments, expected FILE"), std::string::npos) << usage.err;
}

TEST_F(FwDumpToolTest, DamagedFilePrintsWhatWasDecodedAndFails) {
  DcmObj c;
  test::SetSyntax(c, EXPLICIT_VR_LITTLE_ENDIAN);
  c.PutText(0x0010, 0x0010, "Doe^Jane");
  c.PutText(0x0010, 0x0020, "PID-007");
  ASSERT_TRUE(c.Write(Path("a.dcm")));
  std::string bytes = test::ReadFileBytes(Path("a.dcm"));
  bytes.resize(bytes.size() - 3);
  std::ofstream(Path("cut.dcm"), std::ios::binary) << bytes;
  const Result r = RunFwdump(Path("cut.dcm"), Path("err.txt"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "(0010,0010),  8, PN, Patient\x92s Name: Doe^Jane\n");
  EXPECT_NE(r.err.find("ERROR: read bytes!=tag->length (0010,0020) count=5, tag->length=8"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
}

} // namespace
} // namespace fw
