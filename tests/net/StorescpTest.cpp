// Associations with a real, independent peer: DCMTK's storescp on a free
// loopback port, started and stopped by the test. Verification is opened,
// echoed and released for several peer maximum PDU lengths; an object larger
// than the peer's PDUs is stored to check the fragmentation against it.
#include "net/association/PDU_Service.h"
#include "net/pdu/IdCounter.h"
#include "tests/net/AssociationScripts.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Peers.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::LogCapture;

class StorescpTest : public ::testing::TestWithParam<int> {
protected:
  void SetUp() override { ASSERT_TRUE(peer_.Start(folder_.path(), {"--max-pdu", std::to_string(GetParam())})); }
  std::string PortText() const { return std::to_string(peer_.port()); }

  test::TempDir folder_;
  test::StorescpPeer peer_;
};

TEST_P(StorescpTest, VerificationIsOpenedEchoedAndReleased) {
  const int maxPdu = GetParam();
  LogCapture log;
  PDU_Service service;
  ASSERT_TRUE(service.OpenAssociation("127.0.0.1", PortText(), "QUILLBROOK", "STORESCP", "1.2.840.10008.1.1", 10));
  EXPECT_EQ(service.ChosenContext(), 1);
  ASSERT_EQ(service.AcceptedContexts().size(), 1u);
  EXPECT_EQ(service.AcceptedContexts()[0].transferSyntax, "1.2.840.10008.1.2");
  EXPECT_EQ(service.Acceptance().UserInfo.MaxSubLength.MaximumLength, static_cast<std::uint32_t>(maxPdu));

  const std::uint16_t messageID = IdCounter::MessageID();
  EXPECT_EQ(messageID, 3);
  auto echo = test::EchoCommand(messageID);
  ASSERT_TRUE(service.Write(*echo, true));
  DcmObj response;
  ASSERT_TRUE(service.Read(response));
  EXPECT_EQ(response.FindUS(0x0000, 0x0100), 0x8030);
  EXPECT_EQ(response.FindUS(0x0000, 0x0120), messageID);
  EXPECT_EQ(response.FindUS(0x0000, 0x0900), 0);

  EXPECT_TRUE(service.ReleaseAssociation());
  EXPECT_TRUE(service.ReleaseAnswered()) << "the peer answered the release";
  EXPECT_FALSE(service.IsOpen());
  std::vector<std::string> expected;
  if (maxPdu > 16384) {
    expected.push_back("INFO, PDU_Service::Write, MaxiumLength set to 16384");
  }
  EXPECT_EQ(log.Messages(), expected);
}

TEST_P(StorescpTest, ObjectLargerThanThePduIsStored) {
  const std::string sopClass = "1.2.840.10008.5.1.4.1.1.7";
  const std::string sopInstance = "1.2.826.0.1.3680043.2.1143.99";
  PDU_Service service;
  ASSERT_TRUE(service.OpenAssociation("127.0.0.1", PortText(), "QUILLBROOK", "STORESCP", sopClass, 10));

  DcmObj data;
  data.PutText(0x0008, 0x0016, sopClass);
  data.PutText(0x0008, 0x0018, sopInstance);
  data.PutText(0x0010, 0x0010, "DOE^JOHN");
  std::vector<std::uint8_t> bytes(40000, 0x5A);
  data.Put(DcmTag::FromBytes(0x0009, 0x1000, static_cast<std::uint32_t>(bytes.size()), bytes.data(), "OB"));

  const auto even = [](const std::string &uid) { return static_cast<std::uint32_t>(uid.size() + uid.size() % 2); };
  DcmObj command;
  command.Put(DcmTag::FromUL(0x0000, 0x0000, 48 + even(sopClass) + 8 + even(sopInstance)));
  command.PutText(0x0000, 0x0002, sopClass);
  command.Put(DcmTag::FromUS(0x0000, 0x0100, 0x0001));
  command.Put(DcmTag::FromUS(0x0000, 0x0110, IdCounter::MessageID()));
  command.Put(DcmTag::FromUS(0x0000, 0x0700, 0));
  command.Put(DcmTag::FromUS(0x0000, 0x0800, 0x0102));
  command.PutText(0x0000, 0x1000, sopInstance);
  ASSERT_TRUE(service.Write(command, true));
  ASSERT_TRUE(service.Write(data, false));
  DcmObj response;
  ASSERT_TRUE(service.Read(response));
  EXPECT_EQ(response.FindUS(0x0000, 0x0100), 0x8001);
  EXPECT_EQ(response.FindUS(0x0000, 0x0900), 0);
  EXPECT_TRUE(service.ReleaseAssociation());

  std::vector<std::filesystem::path> stored;
  for (const auto &entry : std::filesystem::directory_iterator(peer_.received())) {
    stored.push_back(entry.path());
  }
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_NE(stored[0].filename().string().find(sopInstance), std::string::npos);
  EXPECT_GT(std::filesystem::file_size(stored[0]), 40000u);
}

INSTANTIATE_TEST_SUITE_P(PeerMaximumLengths, StorescpTest, ::testing::Values(4096, 16384, 131072),
                         [](const auto &info) { return "MaxPdu" + std::to_string(info.param); });

} // namespace
} // namespace fw
