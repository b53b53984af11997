// fwacquire with names beyond Latin-1: a Greek --name typed in a UTF-8
// terminal reaches storescp +xy with every letter (UTF-8, "ISO_IR 192"), a
// Latin-1 name stays Latin-1, and bytes that are no text of the terminal's
// encoding are refused before anything is acquired.
#include "dicom/DcmObj.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::PeerProcess;
using test::TempDir;

struct NameCase {
  const char *name;
  std::string argument;    // --name as the UTF-8 terminal passes it
  std::string term;        // (0008,0005) of the stored object
  std::string storedBytes; // (0010,0010) of the stored object
};

std::ostream &operator<<(std::ostream &out, const NameCase &c) { return out << c.name; }

class FwAcquireNamesTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(FwAcquireNamesTest, NameIsStoredWithEveryCharacter) {
  const NameCase &c = GetParam();
  TempDir dir;
  const std::filesystem::path received = dir.path() / "in";
  std::filesystem::create_directories(received);
  const std::uint16_t port = PeerProcess::FreePort();
  PeerProcess storescp;
  ASSERT_TRUE(storescp.Start({"storescp", "+xy", "-aet", "PACS", "-od", received.string(), std::to_string(port)},
                             (dir.path() / "storescp.log").string(), {"TCP_NODELAY=1"}));
  ASSERT_TRUE(storescp.WaitListening(port));
  std::string out;
  std::string err;
  const int code = PeerProcess::Run({FWACQUIRE_PATH, "--source=videotestsrc is-live=true", "--size", "176x144",
                                     "--patient-id", "P-7", "--name", c.argument, "--accession", "G7", "--aec", "PACS",
                                     "127.0.0.1", std::to_string(port)},
                                    &out, &err, {"FRAMEWELL_HOME=" + dir.folder() + "home", "LC_ALL=C.UTF-8"});
  EXPECT_EQ(code, 0) << err;
  EXPECT_EQ(out, "temp/G71.dcm: stored\n");
  int objects = 0;
  for (const auto &entry : std::filesystem::directory_iterator(received)) {
    DcmObj ds;
    ASSERT_TRUE(ds.Read(entry.path().string()));
    EXPECT_EQ(ds.FindText(0x0008, 0x0005), c.term);
    EXPECT_EQ(ds.FindText(0x0010, 0x0010), c.storedBytes);
    ++objects;
  }
  EXPECT_EQ(objects, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FwAcquireNamesTest,
    ::testing::Values(
        NameCase{"Greek",
                 "\xCE\xA0\xCE\xB1\xCF\x80\xCE\xB1\xCE\xB4\xCF\x8C\xCF\x80\xCE\xBF\xCF\x85\xCE\xBB\xCE\xBF\xCF\x82^"
                 "\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82",
                 "ISO_IR 192",
                 "\xCE\xA0\xCE\xB1\xCF\x80\xCE\xB1\xCE\xB4\xCF\x8C\xCF\x80\xCE\xBF\xCF\x85\xCE\xBB\xCE\xBF\xCF\x82^"
                 "\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82"},
        NameCase{"Latin1", "M\xC3\xBCller^J\xC3\xB6rg", "ISO_IR 100", "M\xFCller^J\xF6rg"}),
    [](const ::testing::TestParamInfo<NameCase> &info) { return std::string(info.param.name); });

TEST(FwAcquireNamesTest, BytesThatAreNoTextAreRefusedBeforeAcquiring) {
  TempDir dir;
  std::string out;
  std::string err;
  const int code = PeerProcess::Run({FWACQUIRE_PATH, "--source=videotestsrc is-live=true", "--patient-id", "P-7",
                                     "--name", "M\xFCller", "127.0.0.1", "104"},
                                    &out, &err, {"FRAMEWELL_HOME=" + dir.folder(), "LC_ALL=C.UTF-8"});
  EXPECT_EQ(code, 2);
  EXPECT_NE(err.find("--name: not a text in the terminal's encoding"), std::string::npos) << err;
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "temp") && !std::filesystem::is_empty(dir.path() / "temp"));
}

} // namespace
} // namespace fw
