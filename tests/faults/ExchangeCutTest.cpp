// A peer that closes the connection part way through a verification: at
// every PDU boundary of its answers and inside each answer PDU. Whatever the
// point, the exchange ends within the time-out, is never reported as answered
// unless the C-ECHO response arrived whole, and the next exchange with the
// same peer succeeds.
#include "net/dimse/CEcho.h"
#include "tests/net/AssociationScripts.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
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

} // namespace
} // namespace fw
