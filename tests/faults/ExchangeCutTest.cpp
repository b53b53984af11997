// A peer that closes the connection part way through an exchange: at every
// PDU boundary and inside each PDU, of a verification and of a storage of an
// object that takes several PDUs. Whatever the point, the exchange ends within
// the time-out, is never reported as answered or stored unless the response
// arrived whole, and the next exchange with the same peer succeeds.
#include "net/association/PDU_Service.h"
#include "net/dimse/CEcho.h"
#include "net/dimse/StoreRequest.h"
#include "net/link/MemorySocket.h"
#include "tests/net/AssociationScripts.h"
#include "tests/net/FindTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::Hex;
using test::ImplicitAccept;
using test::kReleaseRP;
using test::LogCapture;
using test::Pdu;
using test::ScriptedPeer;
using test::U32;

// A C-ECHO-RSP on context 1 with the given status, command set in implicit
// VR little endian. It answers message 3, the first request after an accept
// of one context.
std::string EchoResponse(std::uint16_t status) {
  auto element = [](std::uint16_t number, std::string value) {
    if (value.size() % 2 != 0)
      value.push_back('\0');
    std::string bytes{0, 0, static_cast<char>(number & 0xFF), static_cast<char>(number >> 8)};
    const auto length = static_cast<std::uint32_t>(value.size());
    for (int shift = 0; shift < 32; shift += 8)
      bytes.push_back(static_cast<char>((length >> shift) & 0xFF));
    return bytes + value;
  };
  auto us = [](std::uint16_t value) {
    return std::string{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
  };
  const std::string body = element(0x0002, "1.2.840.10008.1.1") + element(0x0100, us(0x8030)) + element(0x0120, us(3)) +
                           element(0x0800, us(0x0101)) + element(0x0900, us(status));
  const auto groupLength = static_cast<std::uint32_t>(body.size());
  std::string command = element(0x0000, std::string{static_cast<char>(groupLength & 0xFF),
                                                    static_cast<char>((groupLength >> 8) & 0xFF), 0, 0}) +
                        body;
  return Pdu(0x04, U32(static_cast<std::uint32_t>(command.size() + 2)) + std::string{1, 3} + command);
}

// Every point at which the peer may close: each PDU boundary, one byte into
// each PDU, and the middle of each PDU.
struct Cut {
  std::size_t bytes;
  std::string where;
};

std::vector<Cut> CutPoints(const std::vector<std::pair<std::string, std::string>> &pdus) {
  std::vector<Cut> cuts;
  std::size_t offset = 0;
  for (const auto &[name, bytes] : pdus) {
    cuts.push_back({offset, "before " + name});
    cuts.push_back({offset + 1, "one byte into " + name});
    cuts.push_back({offset + bytes.size() / 2, "in the middle of " + name});
    offset += bytes.size();
  }
  cuts.push_back({offset, "after the last PDU"});
  return cuts;
}

TEST(ExchangeCutTest, ClosingAtAnyPointEndsTheEchoHonestlyAndTheNextOneSucceeds) {
  const std::string accept = ImplicitAccept();
  const std::string response = EchoResponse(0x0000);
  const std::vector<std::pair<std::string, std::string>> pdus = {
      {"the A-ASSOCIATE-AC", accept}, {"the C-ECHO-RSP", response}, {"the A-RELEASE-RP", kReleaseRP}};
  const std::string answers = accept + response + kReleaseRP;
  const std::size_t responseEnd = accept.size() + response.size();

  for (const Cut &cut : CutPoints(pdus)) {
    SCOPED_TRACE("closed " + cut.where + " (" + std::to_string(cut.bytes) + " bytes)");
    const LogCapture log; // keeps the socket errors out of the station's own log
    ScriptedPeer peer;
    // The first connection: the request, the answers up to the cut (each
    // after what it answers), then the close.
    peer.Receive(test::VerificationRequestSize());
    if (cut.bytes > 0)
      peer.Send(answers.substr(0, std::min(cut.bytes, accept.size())));
    if (cut.bytes > accept.size()) {
      peer.Receive(1).Send(answers.substr(accept.size(), std::min(cut.bytes, responseEnd) - accept.size()));
    }
    if (cut.bytes > responseEnd)
      peer.Receive(1).Send(answers.substr(responseEnd, cut.bytes - responseEnd));
    // The second connection answers everything.
    peer.Close().Accept().Receive(test::VerificationRequestSize()).Send(accept).Receive(1).Send(response);
    peer.Receive(1).Send(kReleaseRP).Start();

    const PeerAddress address{"127.0.0.1", peer.PortText(), "QUILLBROOK", "STORESCP", 5};
    const auto started = std::chrono::steady_clock::now();
    const EchoOutcome first = EchoPeer(address);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    if (cut.bytes < accept.size())
      EXPECT_EQ(first, EchoOutcome::NoAssociation);
    else if (cut.bytes < responseEnd)
      EXPECT_EQ(first, EchoOutcome::Failed);
    else
      EXPECT_EQ(first, EchoOutcome::Answered); // the release answer is not waited for

    EXPECT_EQ(EchoPeer(address), EchoOutcome::Answered);
    EXPECT_TRUE(peer.Wait());
    EXPECT_EQ(peer.Connections(), 2u);
  }
}

constexpr std::string_view SC = "1.2.840.10008.5.1.4.1.1.7";

// A C-STORE-RSP with status 0 answering message 3 on context 1.
std::string StoreResponse() {
  std::string uid(SC);
  uid.push_back('\0');
  const std::string body = test::Elem(0, 0x0002, uid) + test::Elem(0, 0x0100, test::Le16(0x8001)) +
                           test::Elem(0, 0x0120, test::Le16(3)) + test::Elem(0, 0x0800, test::Le16(0x0101)) +
                           test::Elem(0, 0x0900, test::Le16(0));
  return test::PDataPdu(
      test::Pdv(1, 0x03, test::Elem(0, 0x0000, test::Le32(static_cast<std::uint32_t>(body.size()))) + body));
}

// One storage: the association, the request and its response, the release.
struct StoreOutcome {
  bool opened = false;
  int written = 1;  // WriteStoreRQ's result; 1 when not reached
  int response = 1; // ReadStoreRSP's result; 1 when not reached
};
StoreOutcome StoreOnce(PDU_Service &service, std::string_view port) {
  StoreOutcome outcome;
  const auto data = test::DataSetOfSize(20000);
  outcome.opened = service.OpenAssociation("127.0.0.1", port, "QUILLBROOK", "STORESCP", SC, {}, {}, 5);
  if (outcome.opened) {
    outcome.written = WriteStoreRQ(service, *data, SC);
    if (outcome.written == 0)
      outcome.response = ReadStoreRSP(service);
  }
  service.ReleaseAssociation();
  return outcome;
}

// Who sends a PDU of the exchange, and its bytes.
struct Turn {
  bool fromPeer;
  std::string name;
  std::string bytes;
};

// The peer closes at each point of a storage whose object the peer's
// maximum PDU length splits into several P-DATA-TF PDUs: while it reads the
// station's PDUs as well as while it answers.
TEST(ExchangeCutTest, ClosingAtAnyPointOfAStorageNeverReportsItStoredWithoutTheResponse) {
  const std::string accept = ImplicitAccept(4096);
  const std::string response = StoreResponse();

  // What the station writes, taken from a run played from memory.
  std::vector<Turn> turns;
  {
    const LogCapture log;
    auto socket = std::make_unique<MemorySocket>(accept + response + kReleaseRP);
    const MemorySocket &played = *socket;
    PDU_Service service(std::move(socket));
    const StoreOutcome outcome = StoreOnce(service, "1");
    ASSERT_EQ(outcome.response, 0);
    const auto pdus = test::SplitPdus(played.Sent());
    ASSERT_GE(pdus.size(), 7u); // request, command, at least four data PDUs, release
    std::size_t at = 0;
    std::vector<std::string> sent;
    for (const auto &pdu : pdus) {
      sent.push_back(played.Sent().substr(at, 6 + pdu.body.size()));
      at += sent.back().size();
    }
    ASSERT_EQ(at, played.Sent().size());
    turns.push_back({false, "the A-ASSOCIATE-RQ", sent.front()});
    turns.push_back({true, "the A-ASSOCIATE-AC", accept});
    for (std::size_t i = 1; i + 1 < sent.size(); ++i)
      turns.push_back({false, "P-DATA-TF " + std::to_string(i) + " of the C-STORE-RQ", sent[i]});
    turns.push_back({true, "the C-STORE-RSP", response});
    turns.push_back({false, "the A-RELEASE-RQ", sent.back()});
    turns.push_back({true, "the A-RELEASE-RP", kReleaseRP});
  }
  std::size_t acceptEnd = 0;
  std::size_t responseEnd = 0;
  std::size_t total = 0;
  for (const Turn &turn : turns) {
    total += turn.bytes.size();
    if (turn.name == "the A-ASSOCIATE-AC")
      acceptEnd = total;
    if (turn.name == "the C-STORE-RSP")
      responseEnd = total;
  }

  std::vector<std::pair<std::string, std::string>> points;
  for (const Turn &turn : turns)
    points.emplace_back(turn.name, turn.bytes);
  for (const Cut &cut : CutPoints(points)) {
    SCOPED_TRACE("closed " + cut.where + " (" + std::to_string(cut.bytes) + " bytes)");
    const LogCapture log;
    ScriptedPeer peer;
    // The first connection follows the exchange up to the cut, reading what
    // the station sends and sending the answers, then closes.
    std::size_t offset = 0;
    for (const Turn &turn : turns) {
      if (offset >= cut.bytes)
        break;
      const std::size_t part = std::min(turn.bytes.size(), cut.bytes - offset);
      if (turn.fromPeer)
        peer.Send(std::string_view(turn.bytes).substr(0, part));
      else
        peer.Receive(part);
      offset += part;
    }
    // The second connection plays the whole exchange.
    peer.Close().Accept();
    for (const Turn &turn : turns) {
      if (turn.fromPeer)
        peer.Send(turn.bytes);
      else
        peer.Receive(turn.bytes.size());
    }
    peer.Start();

    const auto started = std::chrono::steady_clock::now();
    PDU_Service first;
    const StoreOutcome outcome = StoreOnce(first, peer.PortText());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(outcome.opened, cut.bytes >= acceptEnd);
    EXPECT_EQ(outcome.response == 0, cut.bytes >= responseEnd);
    if (outcome.opened && outcome.response != 0) {
      // Either the request could not be written or its response not read.
      EXPECT_TRUE(outcome.written == -4 ||
                  (outcome.written == 0 && log.Contains("ERROR, CStore::ReadRSP, PDU->Read DCO failed")))
          << outcome.written << " " << outcome.response;
    }

    PDU_Service second;
    EXPECT_EQ(StoreOnce(second, peer.PortText()).response, 0);
    EXPECT_TRUE(peer.Wait());
    EXPECT_EQ(peer.Connections(), 2u);
  }
}

} // namespace
} // namespace fw
