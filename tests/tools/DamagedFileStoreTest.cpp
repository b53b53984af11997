// fwstore and a clip cut short: the file is refused before anything is sent
// (DCMTK would refuse the data set), the whole files beside it are stored.
#include "dicom/DcmObj.h"
#include "dicom/Uids.h"
#include "tests/support/Peers.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>

namespace fw {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::unique_ptr<DcmTag> Item(const Bytes &bytes) {
  return DcmTag::FromBytes(0xFFFE, 0xE000, static_cast<std::uint32_t>(bytes.size()), bytes.data(), "DL");
}

// A 5-frame JPEG clip of `fragments` fragments (only frame headers), with
// its sequence delimiter when delimited.
void WriteClip(const std::string &path, const std::string &uid, int fragments, bool delimited) {
  DcmObj ds;
  ds.transferSyntax = std::string(JPEG_BASELINE);
  ds.explicitVR = true;
  ds.PutText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7.4");
  ds.PutText(0x0008, 0x0018, uid);
  ds.PutText(0x0008, 0x0060, "OT");
  ds.PutText(0x0010, 0x0010, "Doe^Jane");
  ds.PutText(0x0010, 0x0020, "P1");
  ds.PutText(0x0020, 0x000D, uid + ".1");
  ds.PutText(0x0020, 0x000E, uid + ".2");
  ds.Put(DcmTag::FromUS(0x0028, 0x0002, 1));
  ds.PutText(0x0028, 0x0004, "MONOCHROME2");
  ds.PutText(0x0028, 0x0008, "5");
  ds.Put(DcmTag::FromUS(0x0028, 0x0010, 8));
  ds.Put(DcmTag::FromUS(0x0028, 0x0011, 8));
  ds.Put(DcmTag::FromUS(0x0028, 0x0100, 8));
  auto pixel = DcmTag::FromBytes(0x7FE0, 0x0010, 0, nullptr, "OB");
  pixel->length = UNDEFINED_LENGTH;
  ds.Append(std::move(pixel));
  ds.Append(Item({}));
  for (int f = 0; f < fragments; ++f)
    ds.Append(Item({0xFF, 0xD8, 0xFF, 0xD9}));
  if (delimited)
    ds.Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
  ASSERT_TRUE(ds.Write(path));
}

int RunFwstore(const std::string &arguments, std::string &output) {
  FILE *pipe = popen((std::string(FW_TOOL_fwstore) + " " + arguments + " 2>&1").c_str(), "r");
  if (pipe == nullptr)
    return -1;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
    output.append(buffer, got);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DamagedFileStoreTest, TruncatedClipIsNotSentAndTheWholeOnesAre) {
  test::TempDir dir;
  test::StorescpPeer storescp;
  ASSERT_TRUE(storescp.Start(dir.path(), {"+xa"}));
  const std::string cut = dir.folder() + "cut.dcm";
  const std::string shortOfFrames = dir.folder() + "short.dcm";
  const std::string whole = dir.folder() + "whole.dcm";
  WriteClip(cut, "1.2.826.0.1.3680043.2.1143.77.1", 2, false);
  WriteClip(shortOfFrames, "1.2.826.0.1.3680043.2.1143.77.2", 3, true);
  WriteClip(whole, "1.2.826.0.1.3680043.2.1143.77.3", 5, true);

  std::string output;
  const int status = RunFwstore(
      "127.0.0.1 " + std::to_string(storescp.port()) + " " + cut + " " + shortOfFrames + " " + whole, output);
  EXPECT_EQ(status, 1) << output;
  EXPECT_NE(output.find(cut + ": not stored, cannot be read"), std::string::npos) << output;
  EXPECT_NE(output.find(shortOfFrames + ": not stored, cannot be read"), std::string::npos) << output;
  EXPECT_NE(output.find("ERROR, DcmObj::Read, truncated: the file ends inside (7FE0,0010) before its delimitation "
                        "item"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("ERROR, DcmObj::Read, truncated: 3 fragments for 5 frames of (7FE0,0010)"), std::string::npos)
      << output;
  EXPECT_NE(output.find(whole + ": stored"), std::string::npos) << output;

  // Only the whole clip arrived.
  std::vector<std::string> received;
  for (const auto &entry : std::filesystem::directory_iterator(storescp.received()))
    received.push_back(entry.path().filename().string());
  ASSERT_EQ(received.size(), 1u) << testing::PrintToString(received);
  EXPECT_NE(received[0].find("1.2.826.0.1.3680043.2.1143.77.3"), std::string::npos) << received[0];
}

} // namespace
} // namespace fw
