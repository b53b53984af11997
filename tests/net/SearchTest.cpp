// The study and worklist searches against a scripted peer: which responses
// reach the caller, where a search ends, and the match limit that aborts
// the association and keeps what was found.
#include "net/query/Search.h"
#include "dicom/DcmObj.h"
#include "net/query/CFind.h"
#include "tests/net/AssociationScripts.h"
#include "tests/net/FindTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::Elem;
using test::LogCapture;
using test::Response;
using test::ScriptedPeer;

std::string Match(std::string_view name) { return Elem(0x0010, 0x0010, name) + Elem(0x0010, 0x0020, "PID1"); }

// Bytes of the station's C-FIND-RQ command set and identifier in their
// P-DATA-TF PDUs.
std::size_t FindRequestSize(std::string_view model, DcmObj &identifier) {
  const std::size_t uid = model.size() + model.size() % 2;
  const std::size_t command = 12 + 48 + uid;
  return (6 + 6 + command) + (6 + 6 + test::Encoded(identifier).size());
}

// A peer that accepts the search's model, takes the request, answers with
// `responses`, then takes the station's last PDU (A-RELEASE-RQ, answered,
// or A-ABORT). A second search then gets one match "GOOD^GOOD" and success.
void StartPeer(ScriptedPeer &peer, std::string_view model, DcmObj &identifier, const std::string &responses) {
  const auto exchange = [&](const std::string &answers) {
    peer.Receive(test::RequestSize(model, {"1.2.840.10008.1.2"}))
        .Send(test::AcceptPdu(test::AcceptItem(1, 0, "1.2.840.10008.1.2")))
        .Receive(FindRequestSize(model, identifier))
        .Send(answers)
        .Receive(10)
        .Send(test::kReleaseRP)
        .ReceiveUntilClosed();
  };
  exchange(responses);
  peer.Close().Accept();
  exchange(Response(0xFF00, Match("GOOD^GOOD")) + Response(0));
  peer.Start();
}

PeerAddress Address(const ScriptedPeer &peer) { return {"127.0.0.1", peer.PortText(), "QUILLBROOK", "PACS", 2}; }

using Outcome = SearchResult::Outcome;

struct SearchCase {
  const char *name;
  std::string responses;
  std::size_t matchLimit;
  std::vector<std::string> names; // handed to the caller, in order
  std::vector<int> statuses;      // with them
  Outcome outcome;
  int status;
  std::vector<std::string> log;         // for the study search; SearchWorklist for SearchStudies in the worklist one
  std::string after = test::kReleaseRQ; // what the station sends after its request
  std::size_t byteLimit = DEFAULT_IDENTIFIER_BYTE_LIMIT;
  std::size_t sizeLimit = MAX_IDENTIFIER_SIZE;
};

void PrintTo(const SearchCase &c, std::ostream *out) { *out << c.name; }

const std::string kEnd = Response(0);
// A match the search must not read any more.
const std::string kLate = Response(0xFF00, Match("LATE"));

// The same cases hold for both searches.
const SearchCase kCases[] = {
    {"MatchesThenSuccess",
     Response(0xFF00, Match("A^A")) + Response(0xFF01, Match("B^B")) + Response(0xFF00, Match("C^C")) + kEnd,
     1000,
     {"A^A", "B^B", "C^C"},
     {0xFF00, 0xFF01, 0xFF00},
     Outcome::Completed,
     0,
     {}},
    {"NoMatch", kEnd, 1000, {}, {}, Outcome::Completed, 0, {}},
    {"PendingWithoutIdentifierIsNoMatch", Response(0xFF00) + kEnd, 1000, {}, {}, Outcome::Completed, 0, {}},
    // A failure status ends the search once its row was handed over.
    {"FailureWithIdentifierEndsAfterItsRow",
     Response(0xFF00, Match("A^A")) + Response(0xC000, Match("ERR")) + kLate + kEnd,
     1000,
     {"A^A", "ERR"},
     {0xFF00, 0xC000},
     Outcome::PeerFailure,
     0xC000,
     {}},
    {"FailureWithoutIdentifierEnds", Response(0xA700) + kLate + kEnd, 1000, {}, {}, Outcome::PeerFailure, 0xA700, {}},
    {"CancelStatusEnds", Response(0xFE00) + kLate + kEnd, 1000, {}, {}, Outcome::PeerFailure, 0xFE00, {}},
    {"ExactlyTheLimitCompletes",
     Response(0xFF00, Match("A^A")) + Response(0xFF00, Match("B^B")) + kEnd,
     2,
     {"A^A", "B^B"},
     {0xFF00, 0xFF00},
     Outcome::Completed,
     0,
     {}},
    {"PastTheLimitAbortsAndKeepsWhatWasFound",
     Response(0xFF00, Match("A^A")) + Response(0xFF00, Match("B^B")) + kLate + kEnd,
     2,
     {"A^A", "B^B"},
     {0xFF00, 0xFF00},
     Outcome::LimitReached,
     0xFF00,
     {"WARNING, SearchStudies, more than 2 matches, the search was stopped"},
     test::kAbort},
    {"PeerAborts",
     Response(0xFF00, Match("A^A")) + test::kAbort,
     1000,
     {"A^A"},
     {0xFF00},
     Outcome::NoResponse,
     -1,
     {"WARNING, PDU_Service::Read Abort-RQ"},
     ""},
    // Match() identifiers are 23 bytes: the third goes past 46.
    {"MatchBytesPastTheLimitAbortAndKeepWhatWasFound",
     Response(0xFF00, Match("A^A")) + Response(0xFF00, Match("B^B")) + kLate + kEnd,
     1000,
     {"A^A", "B^B"},
     {0xFF00, 0xFF00},
     Outcome::LimitReached,
     0xFF00,
     {"WARNING, SearchStudies, more than 46 bytes of matches, the search was stopped"},
     test::kAbort,
     46},
    {"IdentifierLargerThanItsBoundIsRefused",
     Response(0xFF00, Match("A^A")) + Response(0xFF00, Match(std::string(100, 'N'))) + kEnd,
     1000,
     {"A^A"},
     {0xFF00},
     Outcome::NoResponse,
     -1,
     {"ERROR, PDU_Service::Read, message too long (120)",
      "ERROR, CFind::ReadRSP, identifier larger than 64 bytes, refused"},
     test::kAbort,
     DEFAULT_IDENTIFIER_BYTE_LIMIT,
     64},
    // A value longer than its VR allows is cut; the row stays.
    {"ValueLongerThanItsVrIsCut",
     Response(0xFF00, Match(std::string(100, 'N'))) + kEnd,
     1000,
     {std::string(64, 'N')},
     {0xFF00},
     Outcome::Completed,
     0,
     {"WARNING, CFind::ReadRSP, (0010,0010) PN value of 100 bytes cut to 64 characters"}},
};

class SearchTest : public ::testing::TestWithParam<SearchCase> {
protected:
  // Runs the search and checks what every case checks.
  template <typename Record, typename Run>
  void Check(std::string_view model, DcmObj &identifier, Run run, const std::string &searchName) {
    const SearchCase &c = GetParam();
    ScriptedPeer peer;
    StartPeer(peer, model, identifier, c.responses);
    LogCapture log;
    std::vector<std::string> names;
    std::vector<int> statuses;
    const auto collect = [&](const Record &record, int status) {
      names.push_back(record.patientName);
      statuses.push_back(status);
    };
    const SearchResult result = run(Address(peer), collect);
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(statuses, c.statuses);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.matches, c.names.size());
    std::vector<std::string> expectedLog = c.log;
    for (std::string &line : expectedLog) {
      if (const auto at = line.find("SearchStudies"); at != std::string::npos) {
        line.replace(at, 13, searchName);
      }
    }
    EXPECT_EQ(log.Messages(), expectedLog);
    const std::size_t requests = test::RequestSize(model, {"1.2.840.10008.1.2"}) + FindRequestSize(model, identifier);

    // Whatever the first search met, the next one works.
    names.clear();
    EXPECT_EQ(run(Address(peer), collect).outcome, Outcome::Completed);
    EXPECT_EQ(names, (std::vector<std::string>{"GOOD^GOOD"}));
    ASSERT_TRUE(peer.Wait());
    ASSERT_GE(peer.Received().size(), requests);
    EXPECT_EQ(peer.Received().substr(requests), c.after);
  }
};

SearchOptions OptionsOf(const SearchCase &c) {
  SearchOptions options;
  options.matchLimit = c.matchLimit;
  options.identifierByteLimit = c.byteLimit;
  options.identifierSizeLimit = c.sizeLimit;
  return options;
}

TEST_P(SearchTest, Studies) {
  const SearchOptions options = OptionsOf(GetParam());
  StudyInfo query;
  query.patientName = "A*";
  DcmObj identifier;
  BuildStudyKeys(query, identifier);
  Check<StudyInfo>(
      STUDY_ROOT_FIND_UID, identifier,
      [&](const PeerAddress &peer, const StudyMatch &onMatch) { return SearchStudies(peer, query, onMatch, options); },
      "SearchStudies");
}

TEST_P(SearchTest, Worklist) {
  const SearchOptions options = OptionsOf(GetParam());
  TWorklistItem query;
  query.modality = "US";
  DcmObj identifier;
  BuildWorklistKeys(query, identifier);
  Check<TWorklistItem>(
      MODALITY_WORKLIST_FIND_UID, identifier,
      [&](const PeerAddress &peer, const WorklistMatch &onMatch) {
        return SearchWorklist(peer, query, onMatch, options);
      },
      "SearchWorklist");
}

INSTANTIATE_TEST_SUITE_P(Responses, SearchTest, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

// A worklist server that answers pending and never ends the query: silent
// after one match, or pending responses one at a time, each well within the
// time-out, for ever. The search ends by the time-out or the match limit with
// the rows found so far, and the next search, on a good server, works.
struct PendingForEverCase {
  const char *name;
  std::string response; // a pending response
  bool repeated;        // sent again and again, or once and then nothing
  std::vector<std::string> names;
  Outcome outcome;
  std::string line;
  std::chrono::milliseconds longest;
};

SearchOptions LimitOf(std::size_t matchLimit) {
  SearchOptions options;
  options.matchLimit = matchLimit;
  return options;
}

TEST(SearchTest, AServerPendingForEverIsGivenUpOnAndTheNextSearchWorks) {
  constexpr std::size_t kLimit = 3;
  constexpr auto kInterval = std::chrono::milliseconds(150);
  const PendingForEverCase cases[] = {
      {"one match, then silence",
       Response(0xFF00, Match("A^A")),
       false,
       {"A^A"},
       Outcome::NoResponse,
       "ERROR, Socket::ReadBinary, Timed out",
       std::chrono::milliseconds(4500)},
      {"a match at a time",
       Response(0xFF00, Match("A^A")),
       true,
       {"A^A", "A^A", "A^A"},
       Outcome::LimitReached,
       "WARNING, SearchWorklist, more than 3 matches, the search was stopped",
       std::chrono::milliseconds(1500)},
      {"pending without identifier at a time",
       Response(0xFF00),
       true,
       {},
       Outcome::LimitReached,
       "WARNING, SearchWorklist, more than 3 matches, the search was stopped",
       std::chrono::milliseconds(1500)},
  };
  TWorklistItem query;
  query.modality = "US";
  DcmObj identifier;
  BuildWorklistKeys(query, identifier);
  const std::string model(MODALITY_WORKLIST_FIND_UID);
  for (const PendingForEverCase &c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer;
    peer.Receive(test::RequestSize(model, {"1.2.840.10008.1.2"}))
        .Send(test::AcceptPdu(test::AcceptItem(1, 0, "1.2.840.10008.1.2")))
        .Receive(FindRequestSize(model, identifier))
        .Send(c.response);
    // More than the limit, for a station that does not stop by itself.
    for (std::size_t i = 0; c.repeated && i < kLimit + 3; ++i) {
      peer.Pause(kInterval).Send(c.response);
    }
    peer.ReceiveUntilClosed().Close().Accept();
    peer.Receive(test::RequestSize(model, {"1.2.840.10008.1.2"}))
        .Send(test::AcceptPdu(test::AcceptItem(1, 0, "1.2.840.10008.1.2")))
        .Receive(FindRequestSize(model, identifier))
        .Send(Response(0xFF00, Match("GOOD^GOOD")) + kEnd)
        .Receive(10)
        .Send(test::kReleaseRP)
        .ReceiveUntilClosed()
        .Start();

    LogCapture log;
    std::vector<std::string> names;
    const auto collect = [&](const TWorklistItem &item, int) { names.push_back(item.patientName); };
    const auto started = std::chrono::steady_clock::now();
    const SearchResult result = SearchWorklist(Address(peer), query, collect, LimitOf(kLimit));
    EXPECT_LT(std::chrono::steady_clock::now() - started, c.longest);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(names, c.names);
    EXPECT_TRUE(log.Contains(c.line)) << testing::PrintToString(log.Messages());

    names.clear();
    EXPECT_EQ(SearchWorklist(Address(peer), query, collect, LimitOf(kLimit)).outcome, Outcome::Completed);
    EXPECT_EQ(names, (std::vector<std::string>{"GOOD^GOOD"}));
    EXPECT_TRUE(peer.Wait());
  }
}

// The operator's cancel: asked while the search waits, it aborts the
// association long before the time-out and keeps the rows found.
TEST(SearchTest, CancelEndsTheSearchAtOnceAndKeepsTheRowsFound) {
  TWorklistItem query;
  query.modality = "US";
  DcmObj identifier;
  BuildWorklistKeys(query, identifier);
  const std::string model(MODALITY_WORKLIST_FIND_UID);
  ScriptedPeer peer;
  peer.Receive(test::RequestSize(model, {"1.2.840.10008.1.2"}))
      .Send(test::AcceptPdu(test::AcceptItem(1, 0, "1.2.840.10008.1.2")))
      .Receive(FindRequestSize(model, identifier))
      .Send(Response(0xFF00, Match("A^A")))
      .ReceiveUntilClosed()
      .Start();
  LogCapture log;
  std::vector<std::string> names;
  SearchOptions options;
  int asked = 0;
  options.cancelRequested = [&] { return !names.empty() && ++asked == 3; };
  const auto started = std::chrono::steady_clock::now();
  const SearchResult result = SearchWorklist(
      Address(peer), query, [&](const TWorklistItem &item, int) { names.push_back(item.patientName); }, options);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1500));
  EXPECT_EQ(result.outcome, Outcome::Cancelled);
  EXPECT_EQ(names, std::vector<std::string>{"A^A"});
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"WARNING, PDU_Service::Read, cancelled by the operator"});
  ASSERT_TRUE(peer.Wait());
  const std::size_t requests = test::RequestSize(model, {"1.2.840.10008.1.2"}) + FindRequestSize(model, identifier);
  EXPECT_EQ(peer.Received().substr(requests), test::kAbort);
}

TEST(SearchTest, NoAssociationCallsNothing) {
  std::string port;
  {
    ScriptedPeer closed; // free a moment ago, closed now
    port = closed.PortText();
  }
  int calls = 0;
  const SearchResult result = SearchStudies({"127.0.0.1", port, "QUILLBROOK", "PACS", 2}, StudyInfo{},
                                            [&](const StudyInfo &, int) { ++calls; });
  EXPECT_EQ(result.outcome, Outcome::NoAssociation);
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(calls, 0);
}

} // namespace
} // namespace fw
