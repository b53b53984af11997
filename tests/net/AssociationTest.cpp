// Association establishment and release against a scripted peer: what the
// station proposes, which accepted context it writes on, how an open fails,
// the IDs it draws, and the release.
#include "net/association/PDU_Service.h"
#include "net/dimse/CStore.h"
#include "net/link/MemorySocket.h"
#include "net/pdu/IdCounter.h"
#include "tests/net/AssociationScripts.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::AcceptItem;
using test::AcceptPdu;
using test::Hex;
using test::ImplicitAccept;
using test::Item;
using test::LogCapture;
using test::Pdu;
using test::ScriptedPeer;
using test::U16;

constexpr std::size_t kFixedPart = 74;

struct ProposedContext {
  int id = -1;
  std::string abstractSyntax;
  std::vector<std::string> transferSyntaxes;
};

// The first presentation context item of a request as received.
ProposedContext FirstProposedContext(const std::string &request) {
  ProposedContext found;
  std::size_t at = kFixedPart;
  const auto length = [&](std::size_t i) {
    return static_cast<std::size_t>(static_cast<std::uint8_t>(request[i + 2]) << 8 |
                                    static_cast<std::uint8_t>(request[i + 3]));
  };
  while (at + 4 <= request.size()) {
    if (static_cast<std::uint8_t>(request[at]) == 0x20) {
      found.id = static_cast<std::uint8_t>(request[at + 4]);
      const std::size_t end = at + 4 + length(at);
      for (std::size_t sub = at + 8; sub + 4 <= end; sub += 4 + length(sub)) {
        const std::string uid = request.substr(sub + 4, length(sub));
        if (static_cast<std::uint8_t>(request[sub]) == 0x30) {
          found.abstractSyntax = uid;
        } else {
          found.transferSyntaxes.push_back(uid);
        }
      }
      return found;
    }
    at += 4 + length(at);
  }
  return found;
}

std::string CalledTitle(const std::string &request) { return request.substr(10, 16); }
std::string CallingTitle(const std::string &request) { return request.substr(26, 16); }

struct ProposalCase {
  const char *name;
  std::string transferSyntax1;
  std::string transferSyntax2;
  std::vector<std::string> proposed;
};

void PrintTo(const ProposalCase &c, std::ostream *out) { *out << c.name; }

class ProposalTest : public ::testing::TestWithParam<ProposalCase> {};

TEST_P(ProposalTest, ProposesTransferSyntaxesInOrderOnContextOne) {
  const ProposalCase &c = GetParam();
  const std::string abstractSyntax = "1.2.840.10008.5.1.4.1.1.7";
  ScriptedPeer peer;
  peer.Receive(test::RequestSize(abstractSyntax, c.proposed))
      .Send(ImplicitAccept())
      .Receive(10)
      .Send(test::kReleaseRP)
      .ReceiveUntilClosed()
      .Start();

  LogCapture log;
  PDU_Service service;
  ASSERT_TRUE(service.OpenAssociation("127.0.0.1", peer.PortText(), "QUILLBROOK", "ARCHIVE-WITH-A-LONG-NAME",
                                      abstractSyntax, c.transferSyntax1, c.transferSyntax2, 5));
  EXPECT_TRUE(service.ReleaseAssociation());
  ASSERT_TRUE(peer.Wait());

  const std::string received = peer.Received();
  const ProposedContext proposed = FirstProposedContext(received);
  EXPECT_EQ(proposed.id, 1);
  EXPECT_EQ(proposed.abstractSyntax, abstractSyntax);
  EXPECT_EQ(proposed.transferSyntaxes, c.proposed);
  EXPECT_EQ(CallingTitle(received), "QUILLBROOK      ");
  EXPECT_EQ(CalledTitle(received), "ARCHIVE-WITH-A-L");
  EXPECT_EQ(received.substr(received.size() - 10), test::kReleaseRQ);
  EXPECT_FALSE(service.IsOpen());
  EXPECT_TRUE(log.Messages().empty()) << log.Raw();
}

const std::string kImplicit = "1.2.840.10008.1.2";
const std::string kExplicit = "1.2.840.10008.1.2.1";
const std::string kJpegBaseline = "1.2.840.10008.1.2.4.50";

INSTANTIATE_TEST_SUITE_P(
    TransferSyntaxOrders, ProposalTest,
    ::testing::Values(ProposalCase{"NoneGivesImplicitOnly", "", "", {kImplicit}},
                      ProposalCase{"JpegThenImplicit", kJpegBaseline, "", {kJpegBaseline, kImplicit}},
                      ProposalCase{"SecondFirst", kJpegBaseline, kExplicit, {kExplicit, kJpegBaseline, kImplicit}},
                      ProposalCase{"SameTwiceOnce", kJpegBaseline, kJpegBaseline, {kJpegBaseline, kImplicit}},
                      ProposalCase{"ImplicitBothOnce", kImplicit, kImplicit, {kImplicit}},
                      ProposalCase{"ImplicitFirstNotRepeated", kImplicit, "", {kImplicit}},
                      ProposalCase{"ImplicitSecondNotRepeated", kJpegBaseline, kImplicit, {kImplicit, kJpegBaseline}},
                      ProposalCase{"OnlySecondGiven", "", kExplicit, {kExplicit, kImplicit}}),
    [](const auto &info) { return std::string(info.param.name); });

struct ChoiceCase {
  const char *name;
  std::string acceptItems;
  bool opened;
  int chosenID; // when opened
  std::size_t acceptedCount;
  std::vector<std::string> log;
};

void PrintTo(const ChoiceCase &c, std::ostream *out) { *out << c.name; }

class ContextChoiceTest : public ::testing::TestWithParam<ChoiceCase> {};

// Opens an association proposing verification three times (IDs 1, 3, 5),
// each with implicit VR little endian, to a peer that answers `answer` (and
// answers a release).
bool OpenWithThreeContexts(PDU_Service &service, ScriptedPeer &peer, const std::string &answer) {
  const std::size_t contextSize = 4 + 4 + (4 + 17) + (4 + 17);
  peer.Receive(test::VerificationRequestSize() + 2 * contextSize)
      .Send(answer)
      .Receive(10)
      .Send(test::kReleaseRP)
      .ReceiveUntilClosed()
      .Start();
  const fw::ProposedContext verification{"1.2.840.10008.1.1", {"1.2.840.10008.1.2"}};
  return service.OpenAssociation({"127.0.0.1", peer.PortText(), "QUILLBROOK", "STORESCP", 5},
                                 {verification, verification, verification});
}

TEST_P(ContextChoiceTest, ChoosesFirstAcceptedOfTheSix) {
  const ChoiceCase &c = GetParam();
  ScriptedPeer peer;
  LogCapture log;
  PDU_Service service;
  EXPECT_EQ(OpenWithThreeContexts(service, peer, AcceptPdu(c.acceptItems)), c.opened);
  EXPECT_EQ(service.IsOpen(), c.opened);
  EXPECT_EQ(service.AcceptedContexts().size(), c.acceptedCount);
  if (c.opened) {
    EXPECT_EQ(service.ChosenContext(), c.chosenID);
  } else {
    EXPECT_EQ(service.ChosenContext(), 0);
  }
  EXPECT_EQ(log.Messages(), c.log);
  service.Disconnect();
  ASSERT_TRUE(peer.Wait());
}

const std::string kRle = "1.2.840.10008.1.2.5";

INSTANTIATE_TEST_SUITE_P(
    AcceptedItems, ContextChoiceTest,
    ::testing::Values(
        ChoiceCase{"ImplicitAccepted", AcceptItem(1, 0, kImplicit), true, 1, 1, {}},
        ChoiceCase{"ExplicitAccepted", AcceptItem(1, 0, kExplicit), true, 1, 1, {}},
        ChoiceCase{"RejectedThenAccepted", AcceptItem(1, 3, kImplicit) + AcceptItem(3, 0, kExplicit), true, 3, 1, {}},
        ChoiceCase{"OutsideTheSixKeptNotChosen",
                   AcceptItem(1, 0, kRle) + AcceptItem(3, 0, kJpegBaseline) + AcceptItem(5, 0, kImplicit),
                   true,
                   3,
                   3,
                   {}},
        ChoiceCase{"SixAreNotRanked",
                   AcceptItem(1, 0, "1.2.840.10008.1.2.4.91") + AcceptItem(3, 0, kExplicit),
                   true,
                   1,
                   2,
                   {}},
        ChoiceCase{
            "BigEndianOnly", AcceptItem(1, 0, "1.2.840.10008.1.2.2"), false, 0, 1, {"ERROR, Transfer Syntax is Empty"}},
        ChoiceCase{"AllRejected",
                   AcceptItem(1, 3, kImplicit) + AcceptItem(3, 4, kImplicit),
                   false,
                   0,
                   0,
                   {"ERROR, Transfer Syntax is Empty"}},
        ChoiceCase{"NeverProposedIDIgnored",
                   AcceptItem(7, 0, kImplicit) + AcceptItem(3, 0, kExplicit),
                   true,
                   3,
                   1,
                   {"WARNING, PDU_Service, accept item for presentation context 7, which was not proposed, ignored"}},
        ChoiceCase{"EvenIDIsNeverProposed",
                   AcceptItem(2, 0, kImplicit),
                   false,
                   0,
                   0,
                   {"WARNING, PDU_Service, accept item for presentation context 2, which was not proposed, ignored",
                    "ERROR, Transfer Syntax is Empty"}},
        ChoiceCase{"NoItems",
                   "",
                   false,
                   0,
                   0,
                   {"WARNING, assocAC.PresContextAccepts Count==0", "ERROR, Transfer Syntax is Empty"}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(AssociationTest, TransferSyntaxOfAcceptedContexts) {
  ScriptedPeer peer;
  PDU_Service service;
  ASSERT_TRUE(OpenWithThreeContexts(service, peer, AcceptPdu(AcceptItem(1, 0, kRle) + AcceptItem(3, 0, kExplicit))));
  std::string uid;
  EXPECT_TRUE(service.AcceptedSyntax(1, uid));
  EXPECT_EQ(uid, kRle);
  EXPECT_TRUE(service.AcceptedSyntax(3, uid));
  EXPECT_EQ(uid, kExplicit);
  uid = "unchanged";
  EXPECT_FALSE(service.AcceptedSyntax(5, uid));
  EXPECT_EQ(uid, "unchanged");
  service.Disconnect();
  ASSERT_TRUE(peer.Wait());
}

TEST(AssociationTest, TwoOpensInARowProposeContextOneAndFirstMessageIdIsThree) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ScriptedPeer peer;
    peer.Receive(test::VerificationRequestSize())
        .Send(ImplicitAccept())
        .Receive(10)
        .Send(test::kReleaseRP)
        .ReceiveUntilClosed()
        .Start();
    PDU_Service service;
    ASSERT_TRUE(
        service.OpenAssociation("127.0.0.1", peer.PortText(), "QUILLBROOK", "STORESCP", "1.2.840.10008.1.1", 5));
    EXPECT_EQ(IdCounter::MessageID(), 3);
    EXPECT_EQ(IdCounter::MessageID(), 5);
    service.ReleaseAssociation();
    ASSERT_TRUE(peer.Wait());
    EXPECT_EQ(FirstProposedContext(peer.Received()).id, 1);
  }
}

TEST(IdCounterTest, DrawsFollowTheirRules) {
  IdCounter::Reset(2);
  EXPECT_EQ(IdCounter::ContextID(), 3); // even: made odd first
  EXPECT_EQ(IdCounter::AcceptID(), 4);  // accept draws take the value as it is
  EXPECT_EQ(IdCounter::MessageID(), 5);
  IdCounter::Reset(0x1FF);
  EXPECT_EQ(IdCounter::ContextID(), 0xFF); // low 8 bits
  IdCounter::Reset(0x2FFFF);
  EXPECT_EQ(IdCounter::MessageID(), 0xFFFF); // low 16 bits
  EXPECT_EQ(IdCounter::Value(), 0x30000u);
  IdCounter::Reset();
  EXPECT_EQ(IdCounter::Value(), 1u);
}

struct OpenFailureCase {
  const char *name;
  std::string answer;
  std::vector<std::string> log;
  std::string afterRequest = ""; // what the station sends after its request
};

void PrintTo(const OpenFailureCase &c, std::ostream *out) { *out << c.name; }

class OpenFailureTest : public ::testing::TestWithParam<OpenFailureCase> {};

TEST_P(OpenFailureTest, FailsWithLinkClosed) {
  const OpenFailureCase &c = GetParam();
  ScriptedPeer peer;
  peer.Receive(test::VerificationRequestSize()).Send(c.answer).ReceiveUntilClosed().Start();
  LogCapture log;
  PDU_Service service;
  EXPECT_FALSE(service.OpenAssociation("127.0.0.1", peer.PortText(), "QUILLBROOK", "STORESCP", "1.2.840.10008.1.1", 1));
  EXPECT_FALSE(service.IsOpen());
  EXPECT_EQ(log.Messages(), c.log);
  EXPECT_TRUE(service.ReleaseAssociation()); // only closes again
  ASSERT_TRUE(peer.Wait());
  EXPECT_EQ(peer.Received().substr(test::VerificationRequestSize()), c.afterRequest);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, OpenFailureTest,
    ::testing::Values(
        OpenFailureCase{"Rejected",
                        Hex("03 00 00 00 00 04 00 01 01 07"),
                        {"Association Rejected...",
                         "ERROR, Association rejected by STORESCP, result: rejected-permanent (1), "
                         "source: DICOM UL service-user (1), reason: called-AE-title-not-recognized (7)"}},
        OpenFailureCase{"Aborted", test::kAbort, {"Corrupt Transmission..."}},
        OpenFailureCase{"DataInstead", Pdu(0x04, test::Pdv(1, 3, "ab")), {"Corrupt Transmission..."}},
        // Given up on after the time-out: the peer is told with A-ABORT.
        OpenFailureCase{"NoAnswer", "", {"ERROR, Socket::ReadBinary, Timed out"}, test::kAbort}),
    [](const auto &info) { return std::string(info.param.name); });

// An accept whose items do not add up is not taken: A-ABORT, one line, no
// association. (The accept's own reading of these cases is in
// AssociationPduTest.)
TEST(AssociationTest, MalformedAcceptIsRefusedWithAbort) {
  const std::string accept = AcceptItem(1, 0, kImplicit);
  std::string itemBeyondPdu = AcceptPdu(accept);
  itemBeyondPdu.replace(kFixedPart + 25 + 2, 2, U16(200)); // the accept item's length
  const struct {
    const char *name;
    std::string pdu;
  } cases[] = {
      {"accept item longer than the PDU", itemBeyondPdu},
      {"user information sub-item beyond its item",
       Pdu(0x02, test::AssociateFixedBody("STORESCP        ", "QUILLBROOK      ") +
                     Item(0x10, "1.2.840.10008.3.1.1.1") + accept +
                     Item(0x50, Item(0x51, test::U32(16384)) + Hex("52 00 01 00") + "1.2"))},
      {"maximum length sub-item too short",
       Pdu(0x02, test::AssociateFixedBody("STORESCP        ", "QUILLBROOK      ") +
                     Item(0x10, "1.2.840.10008.3.1.1.1") + accept + Item(0x50, Item(0x51, "ab")))},
      {"PDU too short for its fixed part", Pdu(0x02, std::string(10, 'x'))},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer;
    peer.Receive(test::VerificationRequestSize()).Send(c.pdu).ReceiveUntilClosed().Start();
    LogCapture log;
    PDU_Service service;
    EXPECT_FALSE(
        service.OpenAssociation("127.0.0.1", peer.PortText(), "QUILLBROOK", "STORESCP", "1.2.840.10008.1.1", 5));
    EXPECT_FALSE(service.IsOpen());
    // The item's own reader may have said what was wrong first.
    ASSERT_FALSE(log.Messages().empty());
    EXPECT_EQ(log.Messages().back(), "ERROR, PDU_Service::Connect, the A-ASSOCIATE-AC's items do not add up, refused");
    service.ReleaseAssociation();
    ASSERT_TRUE(peer.Wait());
    EXPECT_EQ(peer.Received().substr(test::VerificationRequestSize()), test::kAbort);
  }
}

TEST(AssociationTest, RejectionIsKept) {
  ScriptedPeer peer;
  peer.Receive(test::VerificationRequestSize()).Send(Hex("03 00 00 00 00 04 00 01 02 03")).ReceiveUntilClosed().Start();
  PDU_Service service;
  EXPECT_FALSE(service.OpenAssociation("127.0.0.1", peer.PortText(), "QUILLBROOK", "STORESCP", "1.2.840.10008.1.1", 5));
  EXPECT_EQ(service.Rejection().Result, 1);
  EXPECT_EQ(service.Rejection().Source, 2);
  EXPECT_EQ(service.Rejection().Reason, 3);
  EXPECT_TRUE(service.Rejected());
  ASSERT_TRUE(peer.Wait());
}

TEST(AssociationTest, RejectReasonsInWords) {
  struct Case {
    int result, source, reason;
    const char *text;
  } cases[] = {
      {1, 1, 1, "result: rejected-permanent (1), source: DICOM UL service-user (1), reason: no-reason-given (1)"},
      {2, 1, 2,
       "result: rejected-transient (2), source: DICOM UL service-user (1), reason: "
       "application-context-name-not-supported (2)"},
      {1, 1, 3,
       "result: rejected-permanent (1), source: DICOM UL service-user (1), reason: "
       "calling-AE-title-not-recognized (3)"},
      {1, 1, 5, "result: rejected-permanent (1), source: DICOM UL service-user (1), reason: reserved (5)"},
      {1, 2, 2,
       "result: rejected-permanent (1), source: DICOM UL service-provider (ACSE related function) (2), reason: "
       "protocol-version-not-supported (2)"},
      {2, 3, 1,
       "result: rejected-transient (2), source: DICOM UL service-provider (presentation related function) (3), "
       "reason: temporary-congestion (1)"},
      {2, 3, 2,
       "result: rejected-transient (2), source: DICOM UL service-provider (presentation related function) (3), "
       "reason: local-limit-exceeded (2)"},
      // The reason numbers depend on the source: 7 means something only from the service-user.
      {1, 2, 7,
       "result: rejected-permanent (1), source: DICOM UL service-provider (ACSE related function) (2), reason: "
       "unknown (7)"},
      {9, 0, 0, "result: unknown (9), source: unknown (0), reason: unknown (0)"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(RejectText(static_cast<std::uint8_t>(c.result), static_cast<std::uint8_t>(c.source),
                         static_cast<std::uint8_t>(c.reason)),
              c.text);
  }
}

TEST(AssociationTest, RefusedConnectFailsWithTheSocketLine) {
  std::string port;
  {
    ScriptedPeer closed; // a port that was free a moment ago and is closed now
    port = closed.PortText();
  }
  LogCapture log;
  PDU_Service service;
  EXPECT_FALSE(service.OpenAssociation("127.0.0.1", port, "QUILLBROOK", "STORESCP", "1.2.840.10008.1.1", 5));
  ASSERT_EQ(log.Messages().size(), 1u);
  EXPECT_EQ(log.Messages()[0], "ERROR, Connecting to Socket: 127.0.0.1:" + port + ", 111");
}

TEST(AssociationTest, ReleaseWithoutAnswerEndsAfterTheTimeOut) {
  ScriptedPeer peer;
  peer.Receive(test::VerificationRequestSize()).Send(ImplicitAccept()).ReceiveUntilClosed().Start();
  LogCapture log;
  PDU_Service service;
  ASSERT_TRUE(service.OpenAssociation("127.0.0.1", peer.PortText(), "QUILLBROOK", "STORESCP", "1.2.840.10008.1.1", 1));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(service.ReleaseAssociation());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(service.IsOpen());
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"ERROR, Socket::ReadBinary, Timed out"});
  ASSERT_TRUE(peer.Wait());
  EXPECT_EQ(peer.Received().substr(test::VerificationRequestSize()), test::kReleaseRQ + test::kAbort);
}

// How each end of an association looks from the peer: the PDUs the station
// sends after its request, then an orderly close (end of file), never a
// reset. The peer answers the first 10 bytes it gets after the request with
// `reply`.
struct LinkEndCase {
  const char *name;
  std::string answer;
  std::string reply;
  bool readFirst; // the station waits for a message before it releases
  int timeoutSeconds;
  bool opened;
  std::string afterRequest;
};

void PrintTo(const LinkEndCase &c, std::ostream *out) { *out << c.name; }

class LinkEndTest : public ::testing::TestWithParam<LinkEndCase> {};

TEST_P(LinkEndTest, PeerSeesTheProtocolEndThenAnOrderlyClose) {
  const LinkEndCase &c = GetParam();
  ScriptedPeer peer;
  peer.Receive(test::VerificationRequestSize()).Send(c.answer).Receive(10).Send(c.reply).ReceiveUntilClosed().Start();
  LogCapture log;
  PDU_Service service;
  EXPECT_EQ(service.OpenAssociation("127.0.0.1", peer.PortText(), "QUILLBROOK", "STORESCP", "1.2.840.10008.1.1",
                                    c.timeoutSeconds),
            c.opened);
  if (c.readFirst) {
    DcmObj message;
    EXPECT_FALSE(service.Read(message));
  }
  EXPECT_TRUE(service.ReleaseAssociation());
  EXPECT_FALSE(service.IsOpen());
  ASSERT_TRUE(peer.Wait());
  EXPECT_EQ(peer.Received().substr(test::VerificationRequestSize()), c.afterRequest);
  EXPECT_EQ(peer.EndingOf(), ScriptedPeer::Ending::EndOfFile);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, LinkEndTest,
    ::testing::Values(
        LinkEndCase{"Release", ImplicitAccept(), test::kReleaseRP, false, 5, true, test::kReleaseRQ},
        LinkEndCase{"ReleaseNotAnswered", ImplicitAccept(), "", false, 1, true, test::kReleaseRQ + test::kAbort},
        // Established, but nothing to write on: released, not just dropped.
        LinkEndCase{"EveryContextRejected", AcceptPdu(AcceptItem(1, 3, kImplicit)), test::kReleaseRP, false, 5, false,
                    test::kReleaseRQ},
        LinkEndCase{"ResponseNeverComes", ImplicitAccept(), "", true, 1, true, test::kAbort},
        LinkEndCase{"PeerReleases", ImplicitAccept() + test::kReleaseRQ, "", true, 5, true, test::kReleaseRP},
        LinkEndCase{"PeerAborts", ImplicitAccept() + test::kAbort, "", true, 5, true, ""}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace

void PrintTo(AssociationState state, std::ostream *out) {
  static const char *const names[] = {"Sta1", "Sta5", "Sta6", "Sta7", "Sta13"};
  *out << names[static_cast<int>(state)];
}

namespace {

// The state after each step, with the peer's side played from memory.
struct StateStep {
  enum Kind { Open, Read, Write, Release } kind;
  bool result;
  AssociationState after;
};

struct StateCase {
  const char *name;
  std::string peer; // everything the peer sends, in order
  std::vector<StateStep> steps;
};

TEST(AssociationStateTest, StateAfterEachStep) {
  using S = AssociationState;
  const std::string message = test::PDataPdu(test::Pdv(1, 0x03, test::Encoded(*test::EchoCommand())));
  const StateCase cases[] = {
      {"Sta1 + open, A-ASSOCIATE-AC: Sta6; release answered: Sta1",
       ImplicitAccept() + test::kReleaseRP,
       {{StateStep::Open, true, S::Sta6Established}, {StateStep::Release, true, S::Sta1Idle}}},
      {"Sta5 + A-ASSOCIATE-RJ: Sta1",
       Hex("03 00 00 00 00 04 00 01 01 07"),
       {{StateStep::Open, false, S::Sta1Idle}, {StateStep::Write, false, S::Sta1Idle}}},
      {"Sta5 + A-ABORT: Sta1", test::kAbort, {{StateStep::Open, false, S::Sta1Idle}}},
      {"Sta5 + accept without a usable context: released, Sta1",
       AcceptPdu(AcceptItem(1, 3, kImplicit)) + test::kReleaseRP,
       {{StateStep::Open, false, S::Sta1Idle}}},
      {"Sta6 + P-DATA-TF: Sta6, and writes keep it",
       ImplicitAccept() + message,
       {{StateStep::Open, true, S::Sta6Established},
        {StateStep::Read, true, S::Sta6Established},
        {StateStep::Write, true, S::Sta6Established}}},
      {"Sta6 + A-RELEASE-RQ: answered, Sta1; nothing more is written",
       ImplicitAccept() + test::kReleaseRQ,
       {{StateStep::Open, true, S::Sta6Established},
        {StateStep::Read, false, S::Sta1Idle},
        {StateStep::Write, false, S::Sta1Idle},
        {StateStep::Release, true, S::Sta1Idle}}},
      {"Sta6 + A-ABORT: Sta1",
       ImplicitAccept() + test::kAbort,
       {{StateStep::Open, true, S::Sta6Established}, {StateStep::Read, false, S::Sta1Idle}}},
      {"Sta6, link lost: Sta1",
       ImplicitAccept(),
       {{StateStep::Open, true, S::Sta6Established}, {StateStep::Read, false, S::Sta1Idle}}},
      {"Sta6 + open again: refused, still Sta6",
       ImplicitAccept(),
       {{StateStep::Open, true, S::Sta6Established}, {StateStep::Open, false, S::Sta6Established}}},
  };
  for (const StateCase &c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log; // the failures log their lines; the states are what is checked here
    PDU_Service service(std::make_unique<MemorySocket>(c.peer));
    EXPECT_EQ(service.State(), S::Sta1Idle);
    for (const StateStep &step : c.steps) {
      SCOPED_TRACE(static_cast<int>(step.kind));
      auto command = test::EchoCommand();
      DcmObj read;
      bool result = false;
      switch (step.kind) {
      case StateStep::Open:
        result = service.OpenAssociation("127.0.0.1", "1", "QUILLBROOK", "STORESCP", "1.2.840.10008.1.1", 5);
        break;
      case StateStep::Read:
        result = service.Read(read);
        break;
      case StateStep::Write:
        result = service.Write(*command, true);
        break;
      case StateStep::Release:
        result = service.ReleaseAssociation();
        break;
      }
      EXPECT_EQ(result, step.result);
      EXPECT_EQ(service.State(), step.after);
      EXPECT_EQ(service.IsOpen(), step.after == S::Sta6Established);
    }
  }
}

TEST(AssociationTest, DestructionClosesTheLink) {
  ScriptedPeer peer;
  peer.Receive(test::VerificationRequestSize()).Send(ImplicitAccept()).ReceiveUntilClosed().Start();
  {
    PDU_Service service;
    ASSERT_TRUE(
        service.OpenAssociation("127.0.0.1", peer.PortText(), "QUILLBROOK", "STORESCP", "1.2.840.10008.1.1", 5));
  }
  EXPECT_TRUE(peer.Wait()); // the peer saw the close
}

} // namespace
} // namespace fw
