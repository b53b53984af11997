// The association PDUs and items: the request as it goes on the wire, the
// release and abort bytes, and reading accepts, rejections and requests,
// including what a broken or hostile peer may send.
#include "net/link/Buffer.h"
#include "net/link/MemorySocket.h"
#include "net/pdu/AAbortRQ.h"
#include "net/pdu/AAssociateAC.h"
#include "net/pdu/AAssociateRJ.h"
#include "net/pdu/AAssociateRQ.h"
#include "net/pdu/AReleaseRP.h"
#include "net/pdu/AReleaseRQ.h"
#include "tests/net/NetTestHelpers.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::AssociateFixedBody;
using test::BlockRecorder;
using test::Hex;
using test::Item;
using test::LogCapture;
using test::Pdu;
using test::ScriptedPeer;

const std::string kReleaseRP = Hex("06 00 00 00 00 04 00 00 00 00");

// A big-endian link reading the given bytes from memory.
struct MemoryLink {
  explicit MemoryLink(std::string_view incoming = {}) {
    auto owned = std::make_unique<MemorySocket>(incoming);
    socket = owned.get();
    buffer = std::make_unique<Buffer>(std::move(owned));
    buffer->SetReadOrder(Buffer::BigEndian);
    buffer->SetWriteOrder(Buffer::BigEndian);
  }
  MemorySocket *socket;
  std::unique_ptr<Buffer> buffer;
};

// The request of the station's verification: one context, implicit VR
// little endian, the station's implementation class and version.
void FillVerificationRequest(AAssociateRQ &request) {
  request.SetCalledApTitle("STORESCP");
  request.SetCallingApTitle("QUILLBROOK");
  auto context = std::make_unique<PresentationContext>(1);
  context->SetAbstractSyntax("1.2.840.10008.1.1");
  context->AddTransferSyntax("1.2.840.10008.1.2");
  request.AddPresentationContext(std::move(context));
  request.UserInfo.SetMaximumLength(16384);
  request.UserInfo.SetImpClass("2.25.739104652811350928774.999");
  request.UserInfo.SetImpVersion("Brindlemoor");
}

std::string AcceptItem(std::uint8_t id, std::uint8_t result, std::string_view transferSyntax) {
  return Item(0x21, std::string{static_cast<char>(id), 0, static_cast<char>(result), 0} + Item(0x40, transferSyntax));
}

std::string MaxLengthItem(std::uint32_t length) { return Item(0x51, test::U32(length)); }

std::string AcceptPdu(std::string_view items) {
  return Pdu(0x02, AssociateFixedBody("STORESCP        ", "QUILLBROOK      ") + Item(0x10, "1.2.840.10008.3.1.1.1") +
                       std::string(items));
}

// Overwrites the 16-bit length of the item that starts at `at`.
std::string WithItemLength(std::string bytes, std::size_t at, unsigned length) {
  bytes.replace(at + 2, 2, test::U16(length));
  return bytes;
}

TEST(AssociateRequestTest, VerificationRequestIsByteExact) {
  ScriptedPeer peer;
  peer.Receive(210).Start();
  Buffer link;
  link.SetWriteOrder(Buffer::BigEndian);
  ASSERT_TRUE(link.dsocket().Connect("127.0.0.1", peer.PortText()));
  AAssociateRQ request;
  FillVerificationRequest(request);
  BlockRecorder recorder;
  ASSERT_TRUE(request.Write(link));
  ASSERT_TRUE(peer.Wait());
  const std::string wire = peer.Received();

  const std::string expected =
      Pdu(0x01, AssociateFixedBody("STORESCP        ", "QUILLBROOK      ") + Item(0x10, "1.2.840.10008.3.1.1.1") +
                    Item(0x20, Hex("01 00 00 00") + Item(0x30, "1.2.840.10008.1.1") + Item(0x40, "1.2.840.10008.1.2")) +
                    Item(0x50, MaxLengthItem(16384) + Item(0x52, "2.25.739104652811350928774.999") +
                                   Item(0x55, "Brindlemoor")));
  EXPECT_EQ(wire, expected);
  ASSERT_EQ(wire.size(), 210u);
  EXPECT_EQ(wire.substr(0, 6), Hex("01 00 00 00 00 CC")) << "PDU length 204";
  EXPECT_EQ(wire.substr(74, 4), Hex("10 00 00 15")) << "application context length 21";
  EXPECT_EQ(wire.substr(99, 4), Hex("20 00 00 2E")) << "presentation context length 46";
  EXPECT_EQ(wire.substr(149, 4), Hex("50 00 00 39")) << "user information length 57";
  // Flushed after the fixed part and after every item and sub-item.
  EXPECT_EQ(recorder.Counts(true), (std::vector<int>{74, 25, 8, 21, 21, 4, 8, 34, 15}));
  EXPECT_EQ(request.Size(), 210u);
}

struct TitleCase {
  const char *name;
  std::string given;
  std::string sent;
};

class ApTitleTest : public ::testing::TestWithParam<TitleCase> {};

TEST_P(ApTitleTest, TitleIsPaddedOrCutTo16) {
  MemoryLink link;
  AAssociateRQ request;
  FillVerificationRequest(request);
  request.SetCalledApTitle(GetParam().given);
  request.SetCallingApTitle(GetParam().given);
  ASSERT_TRUE(request.Write(*link.buffer));
  const std::string &wire = link.socket->Sent();
  EXPECT_EQ(wire.substr(10, 16), GetParam().sent);
  EXPECT_EQ(wire.substr(26, 16), GetParam().sent);
  EXPECT_EQ(wire.substr(42, 32), std::string(32, '\0'));
}

INSTANTIATE_TEST_SUITE_P(Titles, ApTitleTest,
                         ::testing::Values(TitleCase{"Short", "QUILLBROOK", "QUILLBROOK      "},
                                           TitleCase{"Exact", "ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLMNOP"},
                                           TitleCase{"Long", "ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKLMNOP"},
                                           TitleCase{"Empty", "", std::string(16, ' ')}),
                         [](const auto &info) { return info.param.name; });

TEST(AssociateRequestTest, ContextWithoutTransferSyntaxIsLoggedAndRequestGoesOn) {
  LogCapture log;
  MemoryLink link;
  AAssociateRQ request;
  FillVerificationRequest(request);
  request.PresContexts.front()->TrnSyntax.clear();
  EXPECT_TRUE(request.Write(*link.buffer));
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"ERROR, PresentationContext::Write"});
  EXPECT_EQ(link.socket->Sent().size(), 210u - 21u) << "the user information still went out";
}

TEST(AssociateRequestTest, UnsentFixedPartFailsTheWrite) {
  LogCapture log;
  Buffer unconnected;
  AAssociateRQ request;
  FillVerificationRequest(request);
  EXPECT_FALSE(request.Write(unconnected));
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"ERROR, AAssociateRQ::Write Link.Flush()"});
}

TEST(AssociateRequestTest, RequestReadBackGivesWhatWasWritten) {
  MemoryLink written;
  AAssociateRQ request;
  FillVerificationRequest(request);
  ASSERT_TRUE(request.Write(*written.buffer));

  MemoryLink link(written.socket->Sent());
  AAssociateRQ read;
  ASSERT_TRUE(read.Read(*link.buffer));
  EXPECT_EQ(read.Length, 204u);
  EXPECT_EQ(read.CalledApTitle, "STORESCP        ");
  EXPECT_EQ(read.CallingApTitle, "QUILLBROOK      ");
  ASSERT_EQ(read.PresContexts.size(), 1u);
  EXPECT_EQ(read.PresContexts[0]->AbsSyntax.UID, "1.2.840.10008.1.1");
  ASSERT_EQ(read.PresContexts[0]->TrnSyntax.size(), 1u);
  EXPECT_EQ(read.PresContexts[0]->TrnSyntax[0].UID, "1.2.840.10008.1.2");
  EXPECT_EQ(read.UserInfo.MaxSubLength.MaximumLength, 16384u);
  EXPECT_EQ(read.UserInfo.ImpVersion.UID, "Brindlemoor");
}

TEST(AssociateRequestTest, UnknownItemInRequestStopsTheRead) {
  LogCapture log;
  MemoryLink link(Pdu(0x01, AssociateFixedBody(std::string(16, ' '), std::string(16, ' ')) + Item(0x77, "x")));
  AAssociateRQ request;
  EXPECT_FALSE(request.Read(*link.buffer));
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{"ERROR, AAssociateRQ::Read Unknown Packet",
                                                      "ERROR, AAssociateRQ::Read Count=-1"}));
}

TEST(AssociateRequestTest, ContextWhoseLengthsDoNotAddUpFailsTheRead) {
  LogCapture log;
  // The transfer syntax claims 30 characters; the context has room for 17.
  const std::string context =
      Item(0x20, Hex("01 00 00 00") + Item(0x30, "1.2.840.10008.1.1") + Hex("40 00 00 1E") + "1.2.840.10008.1.2");
  MemoryLink link(Pdu(0x01, AssociateFixedBody(std::string(16, ' '), std::string(16, ' ')) + context));
  AAssociateRQ request;
  EXPECT_FALSE(request.Read(*link.buffer));
  EXPECT_EQ(log.StartingWith("ERROR, PresentationContext::Read Count=").size(), 1u);
  EXPECT_TRUE(request.PresContexts.empty());
}

TEST(ReleaseAndAbortTest, WriteExactBytes) {
  ScriptedPeer peer;
  peer.Receive(30).Start();
  Buffer link;
  link.SetWriteOrder(Buffer::BigEndian);
  ASSERT_TRUE(link.dsocket().Connect("127.0.0.1", peer.PortText()));
  AReleaseRQ release;
  AReleaseRP response;
  AAbortRQ abort;
  ASSERT_TRUE(release.Write(link));
  ASSERT_TRUE(response.Write(link));
  ASSERT_TRUE(abort.Write(link));
  ASSERT_TRUE(peer.Wait());
  EXPECT_EQ(peer.Received(), Hex("05 00 00 00 00 04 00 00 00 00"
                                 "06 00 00 00 00 04 00 00 00 00"
                                 "07 00 00 00 00 04 00 00 00 00"));
}

TEST(ReleaseAndAbortTest, ReadsReleaseAndRejection) {
  MemoryLink link(Hex("06 00 00 00 00 04 00 00 00 00  03 00 00 00 00 04 00 01 02 03  05 00 00 00 00 04 00 00 00 00"));
  AReleaseRP response;
  AAssociateRJ rejection;
  AReleaseRQ request;
  EXPECT_TRUE(response.Read(*link.buffer));
  EXPECT_EQ(response.ItemType, 0x06);
  ASSERT_TRUE(rejection.Read(*link.buffer));
  EXPECT_EQ(rejection.Result, 1);
  EXPECT_EQ(rejection.Source, 2);
  EXPECT_EQ(rejection.Reason, 3);
  EXPECT_TRUE(request.Read(*link.buffer));
  EXPECT_EQ(request.ItemType, 0x05);
  EXPECT_FALSE(request.Read(*link.buffer)) << "nothing more came";
}

class AssociateAcceptTest : public ::testing::Test {
protected:
  // Reads the accept from the bytes. When in sync is expected, a release
  // response follows the PDU and must be read next: the accept took exactly
  // its own bytes. Otherwise the stream simply ends after the bytes.
  bool ReadAccept(const std::string &pdu, bool expectInSync = true) {
    MemoryLink link(expectInSync ? pdu + kReleaseRP : pdu);
    const bool read = accept.Read(*link.buffer);
    if (expectInSync) {
      AReleaseRP next;
      EXPECT_TRUE(next.Read(*link.buffer) && next.ItemType == 0x06 && next.Length == 4)
          << "the accept read did not end at the end of its PDU";
    }
    return read;
  }

  LogCapture log;
  AAssociateAC accept;
};

TEST_F(AssociateAcceptTest, ReadsWellFormedAccept) {
  ASSERT_TRUE(ReadAccept(AcceptPdu(
      AcceptItem(1, 0, "1.2.840.10008.1.2.1") + AcceptItem(3, 3, "1.2.840.10008.1.2") +
      Item(0x50, MaxLengthItem(32768) + Item(0x52, "1.2.276.0.7230010.3.0.3.6.7") + Item(0x53, Hex("00 01 00 01")) +
                     Item(0x54, test::U16(17) + "1.2.840.10008.1.1" + Hex("01 00")) + Item(0x55, "OFFIS_DCMTK_367")))));
  EXPECT_EQ(accept.CalledApTitle, "STORESCP        ");
  EXPECT_EQ(accept.CallingApTitle, "QUILLBROOK      ");
  ASSERT_EQ(accept.PresContextAccepts.size(), 2u);
  EXPECT_EQ(accept.PresContextAccepts[0]->PresentationContextID, 1);
  EXPECT_TRUE(accept.PresContextAccepts[0]->Accepted());
  EXPECT_EQ(accept.PresContextAccepts[0]->TrnSyntax.UID, "1.2.840.10008.1.2.1");
  // A rejected context stays in the list with its result.
  EXPECT_EQ(accept.PresContextAccepts[1]->Result, 3);
  EXPECT_FALSE(accept.PresContextAccepts[1]->Accepted());
  EXPECT_EQ(accept.UserInfo.MaxSubLength.MaximumLength, 32768u);
  EXPECT_EQ(accept.UserInfo.ImpClass.UID, "1.2.276.0.7230010.3.0.3.6.7");
  EXPECT_EQ(accept.UserInfo.AsyncOpWindow.MaxOperationsInvoked, 1);
  EXPECT_EQ(accept.UserInfo.SCPSCURole.SOPClassUID, "1.2.840.10008.1.1");
  EXPECT_EQ(accept.UserInfo.SCPSCURole.SCURole, 1);
  EXPECT_EQ(accept.UserInfo.ImpVersion.UID, "OFFIS_DCMTK_367");
  EXPECT_TRUE(log.Messages().empty());
}

TEST_F(AssociateAcceptTest, UnknownUserSubItemKeepsWhatCameBefore) {
  EXPECT_TRUE(ReadAccept(AcceptPdu(AcceptItem(1, 0, "1.2.840.10008.1.2") +
                                   Item(0x50, MaxLengthItem(16384) + Item(0x56, "abcd") + Item(0x52, "1.2.3")))));
  ASSERT_EQ(accept.PresContextAccepts.size(), 1u);
  EXPECT_EQ(accept.UserInfo.MaxSubLength.MaximumLength, 16384u);
  EXPECT_EQ(accept.UserInfo.ImpClass.UID, "") << "sub-items after the unknown one are skipped";
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{"ERROR, UserInformation::Read Unknown Packet",
                                                      "ERROR, UserInformation::Read Count=-1"}));
}

TEST_F(AssociateAcceptTest, LongValuesAreReadWholeAndCutTo64) {
  const std::string longUid = "1.2." + std::string(96, '9');
  ASSERT_TRUE(ReadAccept(AcceptPdu(
      AcceptItem(1, 0, longUid) +
      Item(0x50, MaxLengthItem(16384) + Item(0x54, test::U16(100) + longUid + Hex("00 01")) + Item(0x55, "V")))));
  EXPECT_EQ(accept.PresContextAccepts.at(0)->TrnSyntax.UID, longUid.substr(0, 64));
  EXPECT_EQ(accept.UserInfo.SCPSCURole.SOPClassUID, longUid.substr(0, 64));
  EXPECT_EQ(accept.UserInfo.SCPSCURole.SCPRole, 1);
  EXPECT_EQ(accept.UserInfo.ImpVersion.UID, "V");
}

TEST_F(AssociateAcceptTest, UidPaddedWithNulEndsAtTheNul) {
  ASSERT_TRUE(ReadAccept(AcceptPdu(AcceptItem(1, 0, std::string("1.2.840.10008.1.2\0", 18)))));
  EXPECT_EQ(accept.PresContextAccepts.at(0)->TrnSyntax.UID, "1.2.840.10008.1.2");
}

TEST_F(AssociateAcceptTest, TraceLinesOnlyAtLevelTwo) {
  const std::string pdu = AcceptPdu(AcceptItem(1, 0, "1.2.840.10008.1.2") + Item(0x50, MaxLengthItem(16384)));
  ASSERT_TRUE(ReadAccept(pdu));
  EXPECT_TRUE(log.Messages().empty());
  SetTraceLevel(2);
  AAssociateAC traced;
  MemoryLink link(pdu);
  const bool read = traced.Read(*link.buffer);
  SetTraceLevel(0);
  ASSERT_TRUE(read);
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{
                                "INFO, AAssociateAC::ReadDynamic, CalledApTitle: STORESCP        ",
                                "INFO, AAssociateAC::ReadDynamic, CallingApTitle: QUILLBROOK      ",
                                "INFO, UserInformation::ReadDynamic, Count=8",
                                "INFO, MaxSubLength::ReadDynamic, Count=0, MaxSubLength.MaximumLength=16384",
                            }));
}

struct MalformedCase {
  const char *name;
  std::string pdu;
  bool result;
  std::size_t acceptsKept;
  bool inSync;     // the bytes after the PDU are still where they belong
  bool itemsAddUp; // false: the station refuses the accept (A-ABORT)
};

class MalformedAcceptTest : public AssociateAcceptTest, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedAcceptTest, FailsOrKeepsWhatWasReadWithoutCrashing) {
  const MalformedCase &c = GetParam();
  EXPECT_EQ(ReadAccept(c.pdu, c.inSync), c.result);
  EXPECT_EQ(accept.PresContextAccepts.size(), c.acceptsKept);
  EXPECT_EQ(accept.ItemsAddUp, c.itemsAddUp);
}

const std::string kGoodAccept = AcceptItem(1, 0, "1.2.840.10008.1.2");
const std::string kGoodUserInfo = Item(0x50, MaxLengthItem(16384));
const std::size_t kFirstItem = 6 + 68 + 25; // after the fixed part and the application context

std::vector<MalformedCase> MalformedCases() {
  std::string manyAccepts;
  for (int i = 0; i < 200; ++i) {
    manyAccepts += AcceptItem(static_cast<std::uint8_t>(2 * i + 1), 0, "1.2.840.10008.1.2");
  }
  const std::string whole = AcceptPdu(kGoodAccept + kGoodUserInfo);
  return {
      {"PduTooShortForFixedPart", Pdu(0x02, std::string(10, 'x')), false, 0, true, false},
      {"AcceptItemBeyondPdu", WithItemLength(AcceptPdu(kGoodAccept), kFirstItem, 200), false, 0, true, false},
      {"TransferSyntaxBeyondItsAcceptItem",
       AcceptPdu(kGoodAccept + Item(0x21, Hex("03 00 00 00 40 00 00 64") + "1.2.840.10008.1.2") + kGoodUserInfo), false,
       1, true, false},
      {"UnknownItem", AcceptPdu(kGoodAccept + Item(0x99, "xyz") + kGoodUserInfo), false, 1, true, true},
      {"UserInformationBeyondPdu", WithItemLength(AcceptPdu(kGoodAccept + kGoodUserInfo), kFirstItem + 29, 4000), false,
       1, true, false},
      {"SubItemBeyondUserInformation",
       AcceptPdu(kGoodAccept + Item(0x50, MaxLengthItem(16384) + Hex("52 00 01 00") + "1.2")), false, 1, true, false},
      {"MaximumLengthSubItemTooShort", AcceptPdu(kGoodAccept + Item(0x50, Item(0x51, "ab") + Item(0x52, "1.2"))), false,
       1, true, false},
      {"AcceptItemWithoutTransferSyntax", AcceptPdu(Item(0x21, Hex("01 00 04 00")) + kGoodUserInfo), true, 1, true,
       true},
      {"TruncatedStream", whole.substr(0, whole.size() - 7), false, 1, false, true},
      {"HugePduLengthShortStream", Hex("02 00 FF FF FF FF") + whole.substr(6), false, 1, false, true},
      {"HugePduLengthNoItems", Hex("02 00 FF FF FF FF 00 01"), false, 0, false, true},
      {"MoreAcceptItemsThanContextIds", AcceptPdu(manyAccepts + kGoodUserInfo), false, 128, true, false},
      {"EmptyPdu", Pdu(0x02, ""), false, 0, true, false},
  };
}

INSTANTIATE_TEST_SUITE_P(PeerBytes, MalformedAcceptTest, ::testing::ValuesIn(MalformedCases()),
                         [](const auto &info) { return info.param.name; });

} // namespace
} // namespace fw
