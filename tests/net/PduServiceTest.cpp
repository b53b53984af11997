// Message transfer in P-DATA-TF over a scripted peer: how messages are cut
// into fragments for each peer maximum length, how fragments are gathered
// (several PDVs in one PDU, a message ending inside a PDU), and what happens
// when something other than the expected data arrives.
#include "net/association/PDU_Service.h"
#include "net/dimse/CStore.h"
#include "tests/net/AssociationScripts.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::AcceptItem;
using test::AcceptPdu;
using test::Encoded;
using test::Hex;
using test::ImplicitAccept;
using test::LogCapture;
using test::PDataPdu;
using test::Pdu;
using test::Pdv;
using test::ScriptedPeer;
using test::U32;

const std::size_t kRequestSize = test::VerificationRequestSize();

bool Open(PDU_Service &service, const ScriptedPeer &peer) {
  return service.OpenAssociation("127.0.0.1", peer.PortText(), "QUILLBROOK", "STORESCP", "1.2.840.10008.1.1", 5);
}

// ---- writing ----

struct Fragment {
  std::size_t size;
  std::uint8_t control;
  bool operator==(const Fragment &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Fragment &f) {
  return out << "{" << f.size << ", 0x" << std::hex << int{f.control} << std::dec << "}";
}

struct WriteCase {
  const char *name;
  std::optional<std::uint32_t> peerMaximumLength; // none: the accept has no maximum length sub-item
  std::vector<Fragment> fragments;                // command, then data set
  std::vector<std::string> log;
};

void PrintTo(const WriteCase &c, std::ostream *out) { *out << c.name; }

std::vector<Fragment> Repeat(std::size_t count, Fragment f) { return std::vector<Fragment>(count, f); }
std::vector<Fragment> Join(std::vector<std::vector<Fragment>> parts) {
  std::vector<Fragment> all;
  for (auto &part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

class FragmentTest : public ::testing::TestWithParam<WriteCase> {};

// An accept of context 1 (implicit VR) whose user information holds only
// an implementation class UID.
std::string AcceptWithoutMaximumLength() {
  return Pdu(0x02, test::AssociateFixedBody("STORESCP        ", "QUILLBROOK      ") +
                       test::Item(0x10, "1.2.840.10008.3.1.1.1") + AcceptItem(1, 0, "1.2.840.10008.1.2") +
                       test::Item(0x50, test::Item(0x52, "1.2.3.4")));
}

TEST_P(FragmentTest, CommandAndDataSetAreCutToThePeerLimit) {
  const WriteCase &c = GetParam();
  auto command = test::EchoCommand();
  auto data = test::DataSetOfSize(40000);
  const std::string message = Encoded(*command) + Encoded(*data);
  ASSERT_EQ(Encoded(*command).size(), 68u);
  std::size_t pdataBytes = 0;
  for (const Fragment &f : c.fragments) {
    pdataBytes += f.size + 12;
  }

  ScriptedPeer peer;
  peer.Receive(kRequestSize)
      .Send(c.peerMaximumLength ? ImplicitAccept(*c.peerMaximumLength) : AcceptWithoutMaximumLength())
      .Receive(pdataBytes + 10)
      .Send(test::kReleaseRP)
      .ReceiveUntilClosed()
      .Start();
  LogCapture log;
  PDU_Service service;
  ASSERT_TRUE(Open(service, peer));
  EXPECT_TRUE(service.Write(*command, true));
  EXPECT_TRUE(service.Write(*data, false));
  EXPECT_EQ(service.Held().pduLeft, 0u) << "restored after writing";
  EXPECT_EQ(service.Held().stagedOut, 0u);
  service.ReleaseAssociation();
  ASSERT_TRUE(peer.Wait());

  std::vector<test::ReceivedPdu> pdus = test::SplitPdus(peer.Received().substr(kRequestSize));
  ASSERT_FALSE(pdus.empty());
  EXPECT_EQ(pdus.back().type, 0x05) << "the release request comes last";
  pdus.pop_back();
  std::vector<Fragment> fragments;
  std::string gathered;
  for (const test::ReceivedPdu &pdu : pdus) {
    ASSERT_EQ(pdu.type, 0x04);
    ASSERT_GE(pdu.body.size(), 6u);
    EXPECT_EQ(pdu.body.substr(0, 4), U32(static_cast<std::uint32_t>(pdu.body.size() - 4))) << "one PDV per PDU";
    EXPECT_EQ(pdu.body[4], 1) << "context ID";
    fragments.push_back({pdu.body.size() - 6, static_cast<std::uint8_t>(pdu.body[5])});
    gathered += pdu.body.substr(6);
  }
  EXPECT_EQ(fragments, c.fragments);
  EXPECT_TRUE(gathered == message) << "fragments do not add up to the encoded messages";
  EXPECT_EQ(log.Messages(), c.log);
}

INSTANTIATE_TEST_SUITE_P(
    PeerMaximumLengths, FragmentTest,
    ::testing::Values(
        WriteCase{"Max16384", 16384, {{68, 0x03}, {16378, 0x00}, {16378, 0x00}, {7244, 0x02}}, {}},
        WriteCase{"Max32768LoweredOnce",
                  32768,
                  {{68, 0x03}, {16378, 0x00}, {16378, 0x00}, {7244, 0x02}},
                  {"INFO, PDU_Service::Write, MaxiumLength set to 16384"}},
        WriteCase{"NoLimitCappedLikeALargeValue",
                  0,
                  {{68, 0x03}, {16378, 0x00}, {16378, 0x00}, {7244, 0x02}},
                  {"INFO, PDU_Service::Write, MaxiumLength set to 16384"}},
        WriteCase{"NoSubItemMeans16384", std::nullopt, {{68, 0x03}, {16378, 0x00}, {16378, 0x00}, {7244, 0x02}}, {}},
        WriteCase{"Max1000", 1000, Join({{{68, 0x03}}, Repeat(40, {994, 0x00}), {{240, 0x02}}}), {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(PduServiceWriteTest, LongCommandFragmentsKeepTheCommandBit) {
  ScriptedPeer peer;
  auto command = test::EchoCommand();
  command->PutText(0x0000, 0x1000, std::string(40, '1')); // 68 + 48 bytes
  peer.Receive(kRequestSize)
      .Send(ImplicitAccept(56)) // fragments of 50 bytes
      .Receive(3 * 12 + 116 + 10)
      .Send(test::kReleaseRP)
      .ReceiveUntilClosed()
      .Start();
  PDU_Service service;
  ASSERT_TRUE(Open(service, peer));
  EXPECT_TRUE(service.Write(*command, true));
  service.ReleaseAssociation();
  ASSERT_TRUE(peer.Wait());
  const auto pdus = test::SplitPdus(peer.Received().substr(kRequestSize));
  ASSERT_EQ(pdus.size(), 4u);
  EXPECT_EQ(pdus[0].body.substr(4, 2), Hex("01 01"));
  EXPECT_EQ(pdus[1].body.substr(4, 2), Hex("01 01"));
  EXPECT_EQ(pdus[2].body.substr(4, 2), Hex("01 03"));
  EXPECT_EQ(pdus[2].body.size(), 6u + 16);
}

TEST(PduServiceWriteTest, WithoutAssociationNothingIsEncodedOrSent) {
  LogCapture log;
  PDU_Service service;
  auto command = test::EchoCommand();
  EXPECT_FALSE(service.Write(*command, true));
  EXPECT_TRUE(log.Messages().empty()) << log.Raw();
  EXPECT_EQ(service.Held().stagedOut, 0u);
}

// A peer maximum PDU length of 6 or less leaves no byte for a fragment; the
// association is refused instead of sending PDUs the peer cannot take.
TEST(PduServiceWriteTest, PeerMaximumLengthWithoutRoomForDataIsRefused) {
  for (std::uint32_t maximum : {1u, 5u, 6u}) {
    SCOPED_TRACE(maximum);
    ScriptedPeer peer;
    peer.Receive(kRequestSize).Send(ImplicitAccept(maximum)).ReceiveUntilClosed().Start();
    LogCapture log;
    PDU_Service service;
    EXPECT_FALSE(Open(service, peer));
    EXPECT_FALSE(service.IsOpen());
    EXPECT_EQ(log.Messages(), std::vector<std::string>{"ERROR, PDU_Service::Connect, the peer's maximum PDU length " +
                                                       std::to_string(maximum) + " leaves no room for data"});
    service.ReleaseAssociation();
    ASSERT_TRUE(peer.Wait());
    EXPECT_EQ(peer.Received().substr(kRequestSize), test::kAbort)
        << "the accepted association is aborted, nothing else sent";
  }
}

TEST(PduServiceWriteTest, EmptyMessageSendsNothing) {
  ScriptedPeer peer;
  peer.Receive(kRequestSize).Send(ImplicitAccept()).Receive(10).Send(test::kReleaseRP).ReceiveUntilClosed().Start();
  PDU_Service service;
  ASSERT_TRUE(Open(service, peer));
  DcmObj empty;
  EXPECT_TRUE(service.Write(empty, false));
  service.ReleaseAssociation();
  ASSERT_TRUE(peer.Wait());
  EXPECT_EQ(peer.Received().substr(kRequestSize), test::kReleaseRQ);
}

TEST(PduServiceWriteTest, WriteOnAClosedLinkFailsAndKeepsNothingStaged) {
  ScriptedPeer peer;
  peer.Receive(kRequestSize).Send(ImplicitAccept()).Send(test::kAbort).ReceiveUntilClosed().Start();
  PDU_Service service;
  ASSERT_TRUE(Open(service, peer));
  DcmObj response;
  EXPECT_FALSE(service.Read(response)); // the abort closes the link
  auto data = test::DataSetOfSize(40000);
  EXPECT_FALSE(service.Write(*data, false));
  EXPECT_EQ(service.Held().stagedOut, 0u);
  EXPECT_EQ(service.Held().linkOut, 0u);
  ASSERT_TRUE(peer.Wait());
}

// ---- reading ----

// A peer that accepts (on the given context item) and then sends `after`.
class ReadSession {
public:
  explicit ReadSession(const std::string &after, const std::string &acceptItems = AcceptItem(1, 0, "1.2.840.10008.1.2"),
                       bool peerCloses = false) {
    peer.Receive(kRequestSize).Send(AcceptPdu(acceptItems)).Send(after);
    if (peerCloses) {
      peer.Close();
    } else {
      peer.ReceiveUntilClosed();
    }
    peer.Start();
  }
  // What the station sent after its request, once the link is closed.
  std::string SentAfterRequest() {
    service.Disconnect();
    if (!peer.Wait()) {
      return "<peer did not finish>";
    }
    return peer.Received().substr(kRequestSize);
  }

  ScriptedPeer peer;
  PDU_Service service;
};

TEST(PduServiceReadTest, CommandAndDataSetPackedIntoOnePdu) {
  auto command = test::EchoCommand(7);
  DcmObj data;
  data.transferSyntax = "1.2.840.10008.1.2.1";
  data.explicitVR = true;
  data.PutText(0x0010, 0x0010, "DOE^JOHN");
  data.PutText(0x0010, 0x0020, "123");
  const std::string commandBytes = Encoded(*command);
  const std::string dataBytes = Encoded(data);

  // Command in two fragments, the second one packed with the first data set
  // fragment; the data set ends in the next PDU.
  const std::string after = PDataPdu(Pdv(1, 0x01, commandBytes.substr(0, 20))) +
                            PDataPdu(Pdv(1, 0x03, commandBytes.substr(20)) + Pdv(1, 0x00, dataBytes.substr(0, 10))) +
                            PDataPdu(Pdv(1, 0x02, dataBytes.substr(10)));
  ReadSession session(after, AcceptItem(1, 0, "1.2.840.10008.1.2.1"));
  LogCapture log;
  ASSERT_TRUE(Open(session.service, session.peer));

  DcmObj readCommand;
  ASSERT_TRUE(session.service.Read(readCommand));
  EXPECT_EQ(session.service.Held().pduLeft, 4u + 2 + 10) << "the data set fragment is left in the PDU";
  EXPECT_EQ(readCommand.FindUS(0x0000, 0x0110), 7);
  EXPECT_EQ(readCommand.FindUS(0x0000, 0x0100), 0x0030);
  EXPECT_EQ(readCommand.FindText(0x0000, 0x0002), "1.2.840.10008.1.1");

  DcmObj readData;
  ASSERT_TRUE(session.service.Read(readData));
  EXPECT_EQ(readData.transferSyntax, "1.2.840.10008.1.2.1");
  EXPECT_TRUE(readData.explicitVR);
  EXPECT_EQ(readData.FindText(0x0010, 0x0010), "DOE^JOHN");
  EXPECT_EQ(readData.FindText(0x0010, 0x0020), "123");
  EXPECT_EQ(session.service.Held().pduLeft, 0u);
  EXPECT_EQ(session.service.Held().stagedIn, 0u);
  EXPECT_TRUE(log.Messages().empty()) << log.Raw();
  EXPECT_EQ(session.SentAfterRequest(), "");
}

// Sta6 + A-RELEASE-RQ from the peer: the station answers A-RELEASE-RP and
// the association is over; a later write sends nothing and the release
// sends no A-RELEASE-RQ of its own.
TEST(PduServiceReadTest, PeerReleaseEndsTheAssociation) {
  ReadSession session(test::kReleaseRQ);
  LogCapture log;
  ASSERT_TRUE(Open(session.service, session.peer));
  DcmObj response;
  EXPECT_FALSE(session.service.Read(response));
  EXPECT_FALSE(session.service.IsOpen());
  auto command = test::EchoCommand();
  EXPECT_FALSE(session.service.Write(*command, true));
  EXPECT_EQ(session.service.Held().stagedOut, 0u);
  EXPECT_TRUE(session.service.ReleaseAssociation());
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"WARNING, PDU_Service::Read Release-RQ"});
  EXPECT_EQ(session.SentAfterRequest(), test::kReleaseRP);
}

// The station proposes two contexts (IDs 1 and 3) and writes on 1; a
// message the peer sends on 3 is decoded in 3's syntax and leaves the next
// write on 1.
TEST(PduServiceReadTest, MessageOnAnotherContextLeavesTheWriteContext) {
  auto command = test::EchoCommand();
  const std::string commandBytes = Encoded(*command);
  const std::size_t contextSize = 4 + 4 + (4 + 17) + (4 + 17);
  ScriptedPeer peer;
  peer.Receive(kRequestSize + contextSize)
      .Send(AcceptPdu(AcceptItem(1, 0, "1.2.840.10008.1.2") + AcceptItem(3, 0, "1.2.840.10008.1.2.1")))
      .Send(PDataPdu(Pdv(3, 0x03, commandBytes)))
      .ReceiveUntilClosed()
      .Start();
  PDU_Service service;
  const fw::ProposedContext verification{"1.2.840.10008.1.1", {"1.2.840.10008.1.2"}};
  ASSERT_TRUE(service.OpenAssociation({"127.0.0.1", peer.PortText(), "QUILLBROOK", "STORESCP", 5},
                                      {verification, verification}));
  ASSERT_EQ(service.ChosenContext(), 1);
  DcmObj read;
  ASSERT_TRUE(service.Read(read));
  EXPECT_EQ(read.transferSyntax, "1.2.840.10008.1.2.1") << "decoded in the syntax of the context it came on";
  EXPECT_EQ(service.ChosenContext(), 1);
  EXPECT_TRUE(service.Write(*command, true));
  service.Disconnect();
  ASSERT_TRUE(peer.Wait());
  const auto pdus = test::SplitPdus(peer.Received().substr(kRequestSize + contextSize));
  ASSERT_EQ(pdus.size(), 1u);
  EXPECT_EQ(pdus[0].body.substr(4, 2), Hex("01 03")) << "written on context 1";
}

struct InsteadCase {
  const char *name;
  std::string after; // what the peer sends instead of a response
  std::vector<std::string> logPrefixes;
  std::string sent; // what the station answers
  bool linkOpen;
  bool peerCloses = false;
};

void PrintTo(const InsteadCase &c, std::ostream *out) { *out << c.name; }

class InsteadOfDataTest : public ::testing::TestWithParam<InsteadCase> {};

TEST_P(InsteadOfDataTest, ReadFails) {
  const InsteadCase &c = GetParam();
  ReadSession session(c.after, AcceptItem(1, 0, "1.2.840.10008.1.2"), c.peerCloses);
  LogCapture log;
  ASSERT_TRUE(Open(session.service, session.peer));
  DcmObj response;
  EXPECT_FALSE(session.service.Read(response));
  EXPECT_EQ(session.service.IsOpen(), c.linkOpen);
  EXPECT_EQ(session.service.Held().stagedIn, 0u) << "nothing of a broken message is kept";
  const std::vector<std::string> messages = log.Messages();
  ASSERT_EQ(messages.size(), c.logPrefixes.size()) << log.Raw();
  for (std::size_t i = 0; i < messages.size(); ++i) {
    EXPECT_EQ(messages[i].substr(0, c.logPrefixes[i].size()), c.logPrefixes[i]);
  }
  if (!c.linkOpen) {
    EXPECT_FALSE(session.service.Read(response)) << "the next call fails at once";
    EXPECT_EQ(log.Messages().size(), messages.size());
  }
  EXPECT_EQ(session.SentAfterRequest(), c.sent);
}

const std::string kProtocolError = "ERROR, PDU_Service::Read Protocol Error";
const std::string kDecodeFailed = "ERROR, PDU_Service::Read ParseRawVRIntoDCM()";

// An element (0000,0110) that claims 100 bytes and has 2.
const std::string kTruncatedElement = Hex("00 00 10 01 64 00 00 00 03 00");

INSTANTIATE_TEST_SUITE_P(
    Pdus, InsteadOfDataTest,
    ::testing::Values(
        InsteadCase{"ReleaseRequestIsAnsweredAndEndsTheAssociation",
                    test::kReleaseRQ,
                    {"WARNING, PDU_Service::Read Release-RQ"},
                    test::kReleaseRP,
                    false},
        InsteadCase{"Abort", test::kAbort, {"WARNING, PDU_Service::Read Abort-RQ"}, "", false},
        InsteadCase{"ReleaseResponse", test::kReleaseRP, {"WARNING, PDU_Service::Read Release-RSP"}, "", false},
        InsteadCase{"Rejection",
                    Hex("03 00 00 00 00 04 00 01 01 01"),
                    {"ERROR, PDU_Service::Read Associate-RJ"},
                    test::kAbort,
                    false},
        InsteadCase{"AssociateRequest",
                    Pdu(0x01, test::AssociateFixedBody("QUILLBROOK      ", "INTRUDER        ") +
                                  test::Item(0x10, "1.2.840.10008.3.1.1.1")),
                    {"ERROR, PDU_Service::Read Associate-RQ"},
                    test::kAbort,
                    false},
        InsteadCase{
            "AssociateAccept", ImplicitAccept(), {"ERROR, PDU_Service::Read Associate-AC"}, test::kAbort, false},
        InsteadCase{"UnknownType", Pdu(0x09, "xyz"), {kProtocolError}, test::kAbort, false},
        InsteadCase{"EmptyPData", PDataPdu(""), {kProtocolError}, test::kAbort, false},
        InsteadCase{"PdvLengthBelowTwo", PDataPdu(U32(1) + Hex("01 03")), {kProtocolError}, test::kAbort, false},
        InsteadCase{"PdvBeyondPdu", PDataPdu(U32(100) + Hex("01 03") + "abcd"), {kProtocolError}, test::kAbort, false},
        InsteadCase{"PduTooShortForPdv", PDataPdu(Pdv(1, 0x00, "ab") + "xyz"), {kProtocolError}, test::kAbort, false},
        InsteadCase{"UnacceptedContext",
                    PDataPdu(Pdv(5, 0x03, Hex("00 00 00 01 02 00 00 00 30 80"))),
                    {"ERROR, PDU_Service::ParseRawVRIntoDCM GetTransferSyntaxUID()", kDecodeFailed},
                    test::kAbort,
                    false},
        InsteadCase{
            "Undecodable",
            PDataPdu(Pdv(1, 0x03, kTruncatedElement)),
            {"ERROR: read bytes!=tag->length", "ERROR, PDU_Service::ParseRawVRIntoDCM buf.ReadOjb()", kDecodeFailed},
            test::kAbort,
            false},
        InsteadCase{"MessageTooLong",
                    Hex("04 00 04 00 00 07") + U32(0x04000003) + Hex("01 02") + "only a few bytes",
                    {"ERROR, PDU_Service::Read, message too long (67108865)"},
                    test::kAbort,
                    false},
        InsteadCase{
            "PeerClosesInsidePdu", Hex("04 00 00 00 00 64") + Pdv(1, 0x02, "abc").substr(0, 8), {}, "", false, true},
        InsteadCase{"PeerClosesBetweenFragments", PDataPdu(Pdv(1, 0x01, "ab")), {}, "", false, true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(PduServiceReadTest, FragmentsOfSeveralPdusAreGathered) {
  auto data = test::DataSetOfSize(40000);
  const std::string bytes = Encoded(*data);
  std::string after;
  for (std::size_t at = 0; at < bytes.size(); at += 16378) {
    const std::string fragment = bytes.substr(at, 16378);
    after += PDataPdu(Pdv(1, at + fragment.size() == bytes.size() ? 0x02 : 0x00, fragment));
  }
  ReadSession session(after);
  ASSERT_TRUE(Open(session.service, session.peer));
  DcmObj read;
  ASSERT_TRUE(session.service.Read(read));
  EXPECT_EQ(Encoded(read), bytes);
}

TEST(PduServiceReadTest, NotConnectedReadsNothing) {
  PDU_Service service;
  DcmObj message;
  EXPECT_FALSE(service.Read(message));
}

} // namespace
} // namespace fw
