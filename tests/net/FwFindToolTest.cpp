// fwfind as support staff and scripts use it: the shared options and exit
// codes, what it sends and prints against a scripted peer (failure statuses,
// a lost peer, texts between the terminal's encoding and Latin-1). The real
// peers are in FindPeerTest.
#include "net/query/CFind.h"
#include "net/query/StudyInfo.h"
#include "net/query/TWorklistItem.h"
#include "tests/net/FindTestSupport.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <chrono>

#include <string>
#include <vector>

namespace fw {
namespace {

using test::Elem;
using test::PeerProcess;
using test::Response;
using test::ScriptedPeer;

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

ToolRun FwFind(const std::vector<std::string> &args, const std::string &locale = "C.UTF-8") {
  std::vector<std::string> argv{FWFIND_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  ToolRun run;
  run.exitCode = PeerProcess::Run(argv, &run.out, &run.err, {"LC_ALL=" + locale});
  return run;
}

struct UsageCase {
  const char *name;
  std::vector<std::string> args;
  std::string message;
};

class FwFindUsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(FwFindUsageTest, ExitsWithTwoAndSaysWhy) {
  const ToolRun run = FwFind(GetParam().args);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Try 'fwfind --help'"), std::string::npos);
  EXPECT_TRUE(run.out.empty());
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, FwFindUsageTest,
    ::testing::Values(
        UsageCase{"NoArguments", {}, "missing arguments, expected HOST PORT"},
        UsageCase{"NeitherModel", {"127.0.0.1", "104"}, "give exactly one of --study and --worklist"},
        UsageCase{"BothModels", {"--study", "--worklist", "127.0.0.1", "104"}, "exactly one"},
        UsageCase{"MissingPort", {"--study", "127.0.0.1"}, "missing arguments, expected HOST PORT"},
        UsageCase{"ExtraArgument", {"--study", "127.0.0.1", "104", "x"}, "too many arguments"},
        UsageCase{"UnknownOption", {"--study", "--patient", "X", "127.0.0.1", "104"}, "unknown option --patient"},
        UsageCase{"ValueMissing", {"--study", "127.0.0.1", "104", "--name"}, "option --name needs a value"},
        UsageCase{"DateWithDashes", {"--study", "--date", "2024-03-09", "h", "104"}, "a date is YYYYMMDD"},
        UsageCase{"DateTooShort", {"--worklist", "--date=202403", "h", "104"}, "a date is YYYYMMDD"},
        UsageCase{"TimeoutZero", {"--study", "--timeout", "0", "h", "104"}, "--timeout: the time-out"},
        UsageCase{"TimeoutNotANumber", {"--study", "--timeout", "ten", "h", "104"}, "--timeout: the time-out"},
        UsageCase{"LongCallingTitle", {"--study", "-aet", "ABCDEFGHIJKLMNOPQ", "h", "104"}, "at most 16"},
        UsageCase{"EmptyCalledTitle", {"--study", "--aec=", "h", "104"}, "must not be empty"},
        UsageCase{"PortZero", {"--study", "h", "0"}, "the port is a number from 1 to 65535"},
        UsageCase{"PortTooLarge", {"--study", "h", "65536"}, "the port is a number"},
        UsageCase{"PortName", {"--study", "h", "dicom"}, "the port is a number"},
        UsageCase{"FlagWithValue", {"--study=yes", "h", "104"}, "option --study takes no value"},
        // A byte that is no UTF-8 in a UTF-8 terminal is refused, never sent as "?".
        UsageCase{"NameNotInTheTerminalEncoding",
                  {"--study", "--name", "M\xDCLLER", "h", "104"},
                  "--name: not a text in the terminal's encoding"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FwFindToolTest, HelpAndVersionExitZero) {
  const ToolRun help = FwFind({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(help.out.starts_with("usage: fwfind [options] --study|--worklist")) << help.out;
  for (const char *option :
       {"--aet, -aet TITLE", "--aec, -aec TITLE", "--timeout SECONDS", "-v, --verbose", "--patient-id X",
        "--date YYYYMMDD", "(default 30)", "(default QUILLBROOK)", "(default ANY-SCP)"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  const ToolRun version = FwFind({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_TRUE(version.out.starts_with("fwfind ")) << version.out;
}

TEST(FwFindToolTest, NoPeerExitsWithOne) {
  const ToolRun run = FwFind({"--study", "127.0.0.1", std::to_string(PeerProcess::FreePort())});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("fwfind: no association with ANY-SCP at 127.0.0.1:"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("ERROR, Connecting to Socket: 127.0.0.1:"), std::string::npos) << "the log line";
}

// A peer that accepts and then sends an empty PDV every 250 ms renews each
// wait's time-out; fwfind still ends within its deadline and says why.
TEST(FwFindToolTest, APeerSendingEmptyPdvsIsGivenUpOnWithinTheDeadline) {
  std::string pdus;
  for (int i = 0; i < 100; ++i) {
    pdus += test::PDataPdu(test::Pdv(1, 0x01, ""));
  }
  ScriptedPeer peer;
  peer.Receive(1)
      .Send(test::AcceptPdu(test::AcceptItem(1, 0, "1.2.840.10008.1.2")))
      .Trickle(pdus, 12, std::chrono::milliseconds(250), false)
      .Start();
  const auto started = std::chrono::steady_clock::now();
  const ToolRun run = FwFind({"--timeout", "1", "--study", "--name", "DOE*", "127.0.0.1", peer.PortText()});
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("ERROR, PDU_Service::Read, command not received within 1 s"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("fwfind: the query failed"), std::string::npos) << run.err;
}

// A peer that accepts, takes the request of the query record and answers
// with the responses.
class ScriptedFind {
public:
  ScriptedFind(const std::string &responses, bool worklist, const std::string &identifierBytes) {
    const std::string_view model = worklist ? MODALITY_WORKLIST_FIND_UID : STUDY_ROOT_FIND_UID;
    std::string uid(model);
    if (uid.size() % 2 != 0) {
      uid.push_back('\0');
    }
    const std::size_t commandPdu = 12 + 12 + 8 + uid.size() + 40;
    requestSize_ = test::RequestSize(model, {"1.2.840.10008.1.2"});
    peer_.Receive(requestSize_)
        .Send(test::AcceptPdu(test::AcceptItem(1, 0, "1.2.840.10008.1.2")))
        .Receive(commandPdu + 12 + identifierBytes.size())
        .Send(responses)
        .Receive(10)
        .Send(test::kReleaseRP)
        .ReceiveUntilClosed()
        .Start();
  }
  std::string Port() const { return peer_.PortText(); }
  bool Wait() { return peer_.Wait(); }
  std::string Sent() const { return peer_.Received().substr(requestSize_); }

private:
  std::size_t requestSize_ = 0;
  ScriptedPeer peer_;
};

std::string StudyIdentifier(const StudyInfo &query) {
  DcmObj keys;
  BuildStudyKeys(query, keys);
  return test::Encoded(keys);
}

const std::string kUtf8Match = Elem(0x0008, 0x0005, "ISO_IR 192") + Elem(0x0010, 0x0010, "M\xC3\x9CLLER^J ") +
                               Elem(0x0010, 0x0020, "P2") + Elem(0x0020, 0x000D, std::string("1.2\0", 4));

struct OutcomeCase {
  const char *name;
  std::string responses;
  int exitCode;
  std::string out;
  std::string err;
};

class FwFindOutcomeTest : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(FwFindOutcomeTest, StudyQuery) {
  StudyInfo query;
  query.patientID = "P2";
  ScriptedFind peer(GetParam().responses, false, StudyIdentifier(query));
  const ToolRun run = FwFind({"--study", "--patient-id", "P2", "--aec", "PACS", "127.0.0.1", peer.Port()});
  EXPECT_TRUE(peer.Wait());
  EXPECT_EQ(run.exitCode, GetParam().exitCode) << run.err;
  EXPECT_EQ(run.out, GetParam().out);
  EXPECT_NE(run.err.find(GetParam().err), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Responses, FwFindOutcomeTest,
    ::testing::Values(OutcomeCase{"MatchInUtf8ShownInTerminalUtf8", Response(0xFF00, kUtf8Match) + Response(0), 0,
                                  "1.2\t\t\t\t\t\t\t\t\tP2\tM\xC3\x9CLLER^J\t\t\t\t\n", ""},
                      OutcomeCase{"NoMatch", Response(0), 0, "", ""},
                      // The record a failure adds is no match and is not printed.
                      OutcomeCase{"FailureStatus", Response(0xFF00, kUtf8Match) + Response(0xA700), 1,
                                  "1.2\t\t\t\t\t\t\t\t\tP2\tM\xC3\x9CLLER^J\t\t\t\t\n",
                                  "PACS ended the query with status 0xA700"},
                      OutcomeCase{"PeerAborts", Response(0xFF00, kUtf8Match) + test::kAbort, 1,
                                  "1.2\t\t\t\t\t\t\t\t\tP2\tM\xC3\x9CLLER^J\t\t\t\t\n", "no valid response from PACS"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FwFindToolTest, ControlCharactersInValuesKeepOneLinePerMatch) {
  const std::string match = Elem(0x0010, 0x0010, "DOE^JOHN") + Elem(0x0032, 0x1060, "two\r\nlines\tx ");
  DcmObj keys;
  BuildWorklistKeys(TWorklistItem{}, keys);
  ScriptedFind peer(Response(0xFF00, match) + Response(0), true, test::Encoded(keys));
  const ToolRun run = FwFind({"--worklist", "127.0.0.1", peer.Port()});
  EXPECT_TRUE(peer.Wait());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "DOE^JOHN\t\t\t\t\t\t\t\ttwo  lines x\t\t\t\t\t\t\t\t\t\t\t\t\t\n");
}

struct LocaleCase {
  const char *name;
  std::string locale;
  std::string argument; // --name as typed in that locale
  std::string shown;    // the name of the match as printed
};

class FwFindLocaleTest : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(FwFindLocaleTest, NameGoesOutInLatin1AndComesBackInTheTerminalEncoding) {
  StudyInfo query;
  query.patientName = "M\xC3\x9CLLER*";
  const std::string identifier = StudyIdentifier(query);
  ScriptedFind peer(Response(0xFF00, kUtf8Match) + Response(0), false, identifier);
  const ToolRun run = FwFind({"--study", "--name", GetParam().argument, "127.0.0.1", peer.Port()}, GetParam().locale);
  EXPECT_TRUE(peer.Wait());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(peer.Sent().find(identifier), std::string::npos) << "identifier with ISO_IR 100 and the Latin-1 name";
  EXPECT_NE(run.out.find("\tP2\t" + GetParam().shown + "\t"), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Locales, FwFindLocaleTest,
                         ::testing::Values(LocaleCase{"Utf8", "C.UTF-8", "M\xC3\x9CLLER*", "M\xC3\x9CLLER^J"},
                                           // Without a known encoding UTF-8 passes unchanged
                                           // and other bytes are taken as Latin-1.
                                           LocaleCase{"PlainCUtf8", "C", "M\xC3\x9CLLER*", "M\xC3\x9CLLER^J"},
                                           LocaleCase{"PlainCLatin1", "C", "M\xDCLLER*", "M\xC3\x9CLLER^J"}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace fw
