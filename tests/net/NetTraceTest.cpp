// The network trace: the hex dump record of a block, and what an association
// writes to the log at trace levels 0 to 3.
#include "net/link/NetTrace.h"
#include "dicom/DcmDump.h"
#include "net/association/PDU_Service.h"
#include "tests/net/AssociationScripts.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::Hex;
using test::LogCapture;
using test::ScriptedPeer;

std::string Bytes(std::size_t n) {
  std::string bytes(n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    bytes[i] = static_cast<char>(i);
  }
  return bytes;
}

std::string HexPairs(std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    text += digits[b >> 4];
    text += digits[b & 15];
    text += ' ';
  }
  return text;
}

std::string Characters(std::string_view bytes) {
  std::string text;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    text += b < 32 || b > 122 ? '.' : c;
  }
  return text;
}

std::string Record(const std::string &bytes, int count, bool outgoing) {
  return FormatTraceRecord(reinterpret_cast<const std::uint8_t *>(bytes.data()), count, outgoing);
}

struct RecordCase {
  const char *name;
  std::string bytes;
  int count;
  bool outgoing;
  std::string expected;
};

void PrintTo(const RecordCase &c, std::ostream *out) { *out << c.name; }

class TraceRecordTest : public ::testing::TestWithParam<RecordCase> {};

TEST_P(TraceRecordTest, Formats) {
  const RecordCase &c = GetParam();
  EXPECT_EQ(Record(c.bytes, c.count, c.outgoing), c.expected);
}

const std::string k1024 = Bytes(1024);
const std::string kFirst256 = k1024.substr(0, 256);

INSTANTIATE_TEST_SUITE_P(
    Blocks, TraceRecordTest,
    ::testing::Values(RecordCase{"TwelveSent", "ABCDEFGHIJKL", 12, true,
                                 "    12 >> 41 42 43 44 45 46 47 48 49 4A 4B 4C \r\nABCDEFGHIJKL\r\n\r\n"},
                      RecordCase{"CharactersOutsideRange", Hex("41 7B 0A 20 7A 1F"), 6, false,
                                 "     6 << 41 7B 0A 20 7A 1F \r\nA.. z.\r\n\r\n"},
                      RecordCase{"LargeReceivedShows256", k1024, 1024, false,
                                 "  1024 << " + HexPairs(kFirst256) + " [MORE DATA...]\r\n" + Characters(kFirst256) +
                                     " [MORE DATA...]\r\n\r\n"},
                      RecordCase{"Exactly256HasTheMarker", kFirst256, 256, true,
                                 "   256 >> " + HexPairs(kFirst256) + " [MORE DATA...]\r\n" + Characters(kFirst256) +
                                     " [MORE DATA...]\r\n\r\n"},
                      RecordCase{"Just255HasNone", kFirst256.substr(0, 255), 255, true,
                                 "   255 >> " + HexPairs(kFirst256.substr(0, 255)) + "\r\n" +
                                     Characters(kFirst256.substr(0, 255)) + "\r\n\r\n"},
                      RecordCase{"ReceiveError", "", -1, false, "    -1 << \r\n\r\n\r\n"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(TraceRecordTest, WriteTraceAppendsToTheLogFileAsIs) {
  LogCapture log;
  WriteTrace(reinterpret_cast<const std::uint8_t *>("AB"), 2, true);
  WriteTrace(reinterpret_cast<const std::uint8_t *>("C"), 1, false);
  EXPECT_EQ(log.Raw(), "     2 >> 41 42 \r\nAB\r\n\r\n     1 << 43 \r\nC\r\n\r\n");
}

TEST(TraceLevelTest, StartsAtTheEnvironmentValue) {
  // ctest also runs this case with FRAMEWELL_TRACE_LEVEL set and the level
  // it must give; without either, the level starts at 0.
  const char *expected = std::getenv("FRAMEWELL_TEST_EXPECTED_TRACE_LEVEL");
  if (expected == nullptr) {
    ASSERT_EQ(std::getenv("FRAMEWELL_TRACE_LEVEL"), nullptr)
        << "FRAMEWELL_TRACE_LEVEL is set without FRAMEWELL_TEST_EXPECTED_TRACE_LEVEL";
    EXPECT_EQ(TraceLevel(), 0);
    return;
  }
  EXPECT_EQ(TraceLevel(), std::atoi(expected));
}

// ---- an association at each level ----

class TraceLevelScope {
public:
  explicit TraceLevelScope(int level) : previous_(TraceLevel()) { SetTraceLevel(level); }
  ~TraceLevelScope() { SetTraceLevel(previous_); }

private:
  int previous_;
};

std::unique_ptr<DcmObj> EchoResponse() {
  auto response = std::make_unique<DcmObj>();
  response->Put(DcmTag::FromUL(0x0000, 0x0000, 56));
  response->PutText(0x0000, 0x0002, "1.2.840.10008.1.1");
  response->Put(DcmTag::FromUS(0x0000, 0x0100, 0x8030));
  response->Put(DcmTag::FromUS(0x0000, 0x0120, 3));
  response->Put(DcmTag::FromUS(0x0000, 0x0800, 0x0101));
  response->Put(DcmTag::FromUS(0x0000, 0x0900, 0));
  return response;
}

std::vector<std::string> Listing(const std::string &first, const DcmObj &message) {
  std::vector<std::string> lines{first};
  Dump(message, lines, 0);
  lines.emplace_back();
  return lines;
}

bool ContainsRun(const std::vector<std::string> &all, const std::vector<std::string> &run) {
  return std::search(all.begin(), all.end(), run.begin(), run.end()) != all.end();
}

struct TracedAssociation {
  std::string port;
  std::vector<std::string> messages;
  std::string raw;
};

// Opens, writes a C-ECHO-like command, reads a response and releases.
TracedAssociation RunAssociation(int level, bool dumpMessages) {
  auto command = test::EchoCommand();
  auto response = EchoResponse();
  ScriptedPeer peer;
  peer.Receive(test::VerificationRequestSize())
      .Send(test::ImplicitAccept())
      .Receive(12 + 68)
      .Send(test::PDataPdu(test::Pdv(1, 0x03, test::Encoded(*response))))
      .Receive(10)
      .Send(test::kReleaseRP)
      .ReceiveUntilClosed()
      .Start();
  TraceLevelScope scope(level);
  LogCapture log;
  {
    PDU_Service service;
    service.SetDumpMessages(dumpMessages);
    EXPECT_TRUE(
        service.OpenAssociation("127.0.0.1", peer.PortText(), "QUILLBROOK", "STORESCP", "1.2.840.10008.1.1", 5));
    EXPECT_TRUE(service.Write(*command, true));
    DcmObj read;
    EXPECT_TRUE(service.Read(read));
    service.ReleaseAssociation();
  }
  EXPECT_TRUE(peer.Wait());
  return {peer.PortText(), log.Messages(), log.Raw()};
}

TEST(AssociationTraceTest, LevelZeroWritesNothing) {
  const TracedAssociation run = RunAssociation(0, true);
  EXPECT_TRUE(run.raw.empty()) << run.raw;
}

TEST(AssociationTraceTest, LevelOneWritesTheConnectionOnly) {
  const TracedAssociation run = RunAssociation(1, true);
  EXPECT_EQ(run.messages, std::vector<std::string>{"Connected to: 127.0.0.1:" + run.port});
  EXPECT_EQ(run.raw.find(" >> "), std::string::npos) << "no listing, no hex dump";
}

TEST(AssociationTraceTest, LevelTwoWritesNegotiationAndListings) {
  const TracedAssociation run = RunAssociation(2, true);
  const std::vector<std::string> &m = run.messages;
  EXPECT_TRUE(ContainsRun(m, {"INFO, OpenAssociation, Calling Ap. Title: QUILLBROOK      ",
                              "INFO, OpenAssociation, Called Ap. Title: STORESCP        "}));
  EXPECT_TRUE(ContainsRun(m, {"Connected to: 127.0.0.1:" + run.port}));
  EXPECT_TRUE(ContainsRun(m, {"Item Type: 2", "Association Accept::ReadDynamic",
                              "INFO, AAssociateAC::ReadDynamic, CalledApTitle: STORESCP        "}));
  EXPECT_TRUE(ContainsRun(m, {"Presentation Context Accept ID: 1, Transfer Syntax: 1.2.840.10008.1.2"}));
  EXPECT_TRUE(ContainsRun(m, Listing("QUILLBROOK >> STORESCP", *test::EchoCommand())));
  EXPECT_TRUE(ContainsRun(m, Listing("QUILLBROOK << STORESCP", *EchoResponse())));
  EXPECT_TRUE(ContainsRun(m, {"(0000,0100),  2, US, Command Field: 48"})) << "listing lines come from Dump";
  EXPECT_EQ(run.raw.find(" [MORE DATA"), std::string::npos);
  EXPECT_EQ(run.raw.find("    74 >> "), std::string::npos) << "no hex dump below level 3";
}

TEST(AssociationTraceTest, LevelTwoListsOnlyWhenAsked) {
  const TracedAssociation run = RunAssociation(2, false);
  EXPECT_TRUE(ContainsRun(run.messages, {"Association Accept::ReadDynamic"}));
  EXPECT_FALSE(ContainsRun(run.messages, {"QUILLBROOK >> STORESCP"}));
  EXPECT_FALSE(ContainsRun(run.messages, {"QUILLBROOK << STORESCP"}));
}

TEST(AssociationTraceTest, LevelThreeAddsHexDumps) {
  const TracedAssociation run = RunAssociation(3, false);
  // The request's fixed part is its first send: 74 bytes, PDU length 204.
  EXPECT_NE(run.raw.find("\r\n    74 >> 01 00 00 00 00 CC 00 01 00 00 53 54 4F 52 45 53 43 50 "), std::string::npos);
  // The accept arrives as received blocks.
  EXPECT_NE(run.raw.find(" << 02 00 00 00 "), std::string::npos);
  // The command goes out as one P-DATA-TF PDU of 80 bytes.
  EXPECT_NE(run.raw.find("\r\n    80 >> 04 00 00 00 00 4A 00 00 00 46 01 03 "), std::string::npos);
  EXPECT_NE(run.raw.find("\r\n    10 >> 05 00 00 00 00 04 00 00 00 00 \r\n"), std::string::npos);
  EXPECT_TRUE(ContainsRun(run.messages, {"Association Accept::ReadDynamic"})) << "level 2 lines stay";
}

} // namespace
} // namespace fw
