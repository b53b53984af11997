// Deadlines and the operator's cancel over hostile scripted peers: a peer
// that trickles (empty PDVs, an enormous accept, a large response, a reader
// that takes a little at a time) renews every wait's time-out for ever; the
// deadline of the unit, derived from the time-out and the size announced,
// ends it with A-ABORT and one line naming what was too slow. The time-out is
// 1 s and BytesPerTimeout is set per case, so no case waits more than a few
// seconds.
#include "net/association/PDU_Service.h"
#include "net/link/TransferDeadline.h"
#include "tests/net/AssociationScripts.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

namespace fw {
namespace {

using namespace std::chrono_literals;
using test::Hex;
using test::Item;
using test::LogCapture;
using test::PDataPdu;
using test::Pdv;
using test::ScriptedPeer;
using test::U32;

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

TEST(TransferDeadlineTest, OneTimeOutPerMiBBegunBeyondTheFirst) {
  struct Case {
    std::uint64_t bytes;
    std::uint64_t perTimeout;
    std::chrono::milliseconds expected;
  } cases[] = {
      {0, kMiB, 3s},        {kMiB, kMiB, 3s},
      {kMiB + 1, kMiB, 6s}, {10000006, kMiB, 30s},
      {3140, 1024, 12s},    {std::uint64_t{1} << 40, 1, 3s * ((std::int64_t{1} << 20) + 1)}, // capped, no overflow
      {100, 0, 3s * 100}, // 0 counts as 1 byte per time-out
  };
  for (const Case &c : cases) {
    const TransferDeadline deadline{3s, c.perTimeout};
    EXPECT_EQ(deadline.For(c.bytes), c.expected) << c.bytes << " bytes, " << c.perTimeout << " per time-out";
  }
}

const std::string kImplicit = "1.2.840.10008.1.2";

// An accept of about 3 KB: an application context item padded with NULs.
std::string LargeAccept() {
  return test::Pdu(0x02, test::AssociateFixedBody("STORESCP        ", "QUILLBROOK      ") +
                             Item(0x10, "1.2.840.10008.3.1.1.1" + std::string(3000, '\0')) +
                             test::AcceptItem(1, 0, kImplicit) + Item(0x50, Item(0x51, U32(16384))));
}

// An accept whose PDU length announces 10 MB; only its first bytes matter.
std::string TenMegabyteAccept() {
  std::string accept = test::ImplicitAccept();
  const std::string length = U32(10000000);
  accept.replace(2, 4, length);
  accept.resize(10000006, '\0');
  return accept;
}

std::string Repeated(const std::string &bytes, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) {
    all += bytes;
  }
  return all;
}

enum class Operation { Open, Read, Write };

struct DeadlineCase {
  const char *name;
  std::function<void(ScriptedPeer &)> afterRequest; // the peer's part once it has the A-ASSOCIATE-RQ
  Operation operation;
  std::uint64_t bytesPerTimeout;
  bool cancelAfter300ms;
  bool succeeds;
  std::string line; // the first line that starts with it must be there (empty: no line)
  bool abortSeen;   // the peer receives A-ABORT after the request
  std::chrono::milliseconds longest;
};

void PrintTo(const DeadlineCase &c, std::ostream *out) { *out << c.name; }

class DeadlineTest : public ::testing::TestWithParam<DeadlineCase> {};

TEST_P(DeadlineTest, EndsWithAbortAndNamesWhatWasTooSlow) {
  const DeadlineCase &c = GetParam();
  ScriptedPeer peer;
  peer.SetReceiveBuffer(16384);
  peer.Receive(test::VerificationRequestSize());
  c.afterRequest(peer);
  peer.ReceiveUntilClosed().Start();

  LogCapture log;
  PDU_Service service;
  service.SetBytesPerTimeout(c.bytesPerTimeout);
  auto started = std::chrono::steady_clock::now();
  if (c.cancelAfter300ms) {
    service.SetCancelCheck([&] { return std::chrono::steady_clock::now() - started > 300ms; });
  }
  const bool opened =
      service.OpenAssociation("127.0.0.1", peer.PortText(), "QUILLBROOK", "STORESCP", "1.2.840.10008.1.1", 1);
  bool result = opened;
  if (opened && c.operation != Operation::Open) {
    started = std::chrono::steady_clock::now();
    if (c.operation == Operation::Read) {
      DcmObj message;
      result = service.Read(message);
    } else {
      result = service.Write(*test::DataSetOfSize(8000000), false);
    }
  }
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(result, c.succeeds);
  EXPECT_LT(took, c.longest);
  if (c.line.empty()) {
    EXPECT_TRUE(log.Messages().empty()) << testing::PrintToString(log.Messages());
  } else {
    EXPECT_EQ(log.StartingWith(c.line).size(), 1u) << testing::PrintToString(log.Messages());
    EXPECT_FALSE(service.IsOpen());
  }
  EXPECT_EQ(service.Cancelled(), c.cancelAfter300ms);
  service.ReleaseAssociation();
  ASSERT_TRUE(peer.Wait());
  const std::string received = peer.Received();
  if (c.abortSeen) {
    EXPECT_EQ(received.substr(test::VerificationRequestSize()), test::kAbort);
  }
}

INSTANTIATE_TEST_SUITE_P(
    HostilePeers, DeadlineTest,
    ::testing::Values(
        DeadlineCase{"EmptyNonLastPdvsEveryQuarterSecond",
                     [](ScriptedPeer &peer) {
                       peer.Send(test::ImplicitAccept()).Trickle(Repeated(PDataPdu(Pdv(1, 0x01, "")), 100), 12, 250ms);
                     },
                     Operation::Read, kMiB, false, false, "ERROR, PDU_Service::Read, command not received within 1 s (",
                     true, 2s},
        DeadlineCase{"TenMegabyteAcceptAByteAtATime",
                     [](ScriptedPeer &peer) {
                       const std::string accept = TenMegabyteAccept();
                       peer.Send(accept.substr(0, 6)).Trickle(accept.substr(6), 1, 250ms);
                     },
                     Operation::Open, 64 * kMiB, false, false,
                     "ERROR, PDU_Service::Connect, A-ASSOCIATE-AC of 10000006 bytes not received within 1 s", true, 2s},
        DeadlineCase{"OneMegabyteResponseAByteAtATime",
                     [](ScriptedPeer &peer) {
                       const std::string response = PDataPdu(Pdv(1, 0x03, std::string(999994, 'x')));
                       peer.Send(test::ImplicitAccept() + response.substr(0, 6)).Trickle(response.substr(6), 1, 250ms);
                     },
                     Operation::Read, kMiB, false, false,
                     "ERROR, PDU_Service::Read, P-DATA-TF PDU of 1000006 bytes not received within 1 s", true, 2s},
        DeadlineCase{"ReaderTakingALittleAtATime",
                     [](ScriptedPeer &peer) {
                       peer.Send(test::ImplicitAccept());
                       for (int i = 0; i < 30; ++i) {
                         peer.Receive(16384).Pause(100ms);
                       }
                     },
                     Operation::Write, 64 * kMiB, false, false,
                     "ERROR, PDU_Service::Write, data set of 8000000 bytes not sent within 1 s", false, 2500ms},
        // The deadline grows with the size announced: the same accept is
        // taken when it keeps up with one KiB per time-out, and refused when
        // it must come whole within one time-out.
        DeadlineCase{"LargeAcceptKeepingUpWithItsFloorIsTaken",
                     [](ScriptedPeer &peer) { peer.Trickle(LargeAccept(), 256, 150ms); }, Operation::Open, 1024, false,
                     true, "", false, 4s},
        DeadlineCase{"LargeAcceptSlowerThanItsFloorIsRefused",
                     [](ScriptedPeer &peer) { peer.Trickle(LargeAccept(), 256, 150ms); }, Operation::Open, 64 * kMiB,
                     false, false, "ERROR, PDU_Service::Connect, A-ASSOCIATE-AC of 3140 bytes not received within 1 s",
                     true, 2s},
        // The operator's cancel ends a wait long before the time-out.
        DeadlineCase{"CancelWhileThePeerIsSilent", [](ScriptedPeer &peer) { peer.Send(test::ImplicitAccept()); },
                     Operation::Read, kMiB, true, false, "WARNING, PDU_Service::Read, cancelled by the operator", true,
                     800ms},
        DeadlineCase{"CancelWhileTheAcceptTrickles",
                     [](ScriptedPeer &peer) { peer.Trickle(TenMegabyteAccept(), 1, 50ms); }, Operation::Open, 64 * kMiB,
                     true, false, "WARNING, PDU_Service::Connect, cancelled by the operator", true, 800ms}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace fw
