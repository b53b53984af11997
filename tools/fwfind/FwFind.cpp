// fwfind [options] --study|--worklist [keys] HOST PORT: one C-FIND on a PACS
// (Study Root, level "STUDY") or on a Modality Worklist server, as the
// station's search does it, for support staff and scripts.
//
// Output: one line per match, the fields of the record (StudyInfo or
// TWorklistItem) in the record's order separated by tabs, no header line; a
// control character inside a value is shown as a space so that every match
// stays one line. Texts go out in the terminal's encoding; key values given
// on the command line are taken from it into the records' UTF-8, and go to
// the peer in Latin-1 or UTF-8 as their characters need.
//
// Exit status: 0 when the peer ended the query with success (also with no
// match), 1 when no association could be opened, the request could not be
// sent, a response could not be read, the peer ended the query with a
// failure status, or there were more than 1000 matches (those printed, the
// rest not asked for); 2 on wrong usage.
#include "net/link/NetTrace.h"
#include "net/query/CFind.h"
#include "net/query/Search.h"
#include "tools/common/TerminalText.h"
#include "tools/common/ToolLog.h"
#include "tools/common/ToolOptions.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using fw::tool::EXIT_FAILED;
using fw::tool::EXIT_OK;

constexpr int DEFAULT_TIMEOUT_SECONDS = 30;

// A date or a date range: YYYYMMDD, YYYYMMDD-, -YYYYMMDD, YYYYMMDD-YYYYMMDD.
std::string CheckDate(std::string_view value) {
  const auto isDate = [](std::string_view d) {
    return d.size() == 8 && std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  const std::size_t dash = value.find('-');
  if (dash == std::string_view::npos) {
    return isDate(value) ? "" : "a date is YYYYMMDD (or a range YYYYMMDD-YYYYMMDD)";
  }
  const std::string_view from = value.substr(0, dash);
  const std::string_view to = value.substr(dash + 1);
  const bool ok = (from.empty() || isDate(from)) && (to.empty() || isDate(to)) && !(from.empty() && to.empty());
  return ok ? "" : "a date is YYYYMMDD (or a range YYYYMMDD-YYYYMMDD)";
}

void PrintRecord(const std::vector<std::string> &fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) {
      line.push_back('\t');
    }
    for (char c : fields[i]) {
      line.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c);
    }
  }
  const std::string shown = fw::tool::TextToTerminal(line);
  std::fwrite(shown.data(), 1, shown.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

struct Keys {
  std::string patientID;
  std::string name;
  std::string accession;
  std::string modality;
  std::string date;
};

struct FindOptions {
  bool study = false; // else a worklist query
  Keys keys;          // UTF-8
  std::string host;
  std::string port;
  fw::tool::CommonOptions common;
};

fw::tool::ParseResult<FindOptions> ParseFindOptions(int argc, char **argv) {
  FindOptions options;
  bool worklist = false;
  Keys &keys = options.keys;
  fw::tool::CommandLine commandLine(
      "fwfind", "[options] --study|--worklist [keys] HOST PORT",
      "Queries a PACS (study level) or a worklist server with C-FIND and prints one line per match:\n"
      "the fields of the result record in its order, separated by tabs.",
      DEFAULT_TIMEOUT_SECONDS);
  commandLine.AddFlag("--study", "study-level query (Study Root Query/Retrieve - FIND)", options.study);
  commandLine.AddFlag("--worklist", "worklist query (Modality Worklist - FIND)", worklist);
  commandLine.AddValue("--patient-id", "X", "Patient ID", keys.patientID);
  commandLine.AddValue("--name", "X", "Patient's Name (e.g. DOE^JOHN or DOE*)", keys.name);
  commandLine.AddValue("--accession", "X", "Accession Number", keys.accession);
  commandLine.AddValue("--modality", "X", "modality (study: Modalities in Study; worklist: of the step)",
                       keys.modality);
  commandLine.AddValue("--date", "YYYYMMDD", "study date, or the step's start date (a range A-B is allowed)", keys.date,
                       CheckDate);
  commandLine.SetArguments({"HOST", "PORT"});
  commandLine.SetEpilogue("study fields: Study Instance UID, Study Date, Study Time, Study ID, Study Description,\n"
                          "  Accession Number, Institution Name, Referring Physician's Name, Modality, Patient ID,\n"
                          "  Patient's Name, Patient's Birth Date, Patient's Sex, Patient's Age, Patient's Weight\n"
                          "worklist fields: Patient's Name, Patient ID, Patient's Birth Date, Patient's Sex,\n"
                          "  Accession Number, Requesting Physician, Allergies, Study Instance UID, Requested\n"
                          "  Procedure Description, Step Start Time, Step Start Date, Modality, Scheduled Station\n"
                          "  AE Title, Performing Physician's Name, Requested Contrast Agent, Step ID, Step\n"
                          "  Description, Scheduled Station Name, Step Location, Pre-Medication, Requested\n"
                          "  Procedure ID, Requested Procedure Priority");
  if (const auto code = commandLine.Parse(argc, argv)) {
    return {{}, code};
  }
  if (options.study == worklist) {
    return {{}, commandLine.UsageError("give exactly one of --study and --worklist")};
  }
  options.host = commandLine.Arguments()[0];
  options.port = commandLine.Arguments()[1];
  if (const std::string error = fw::tool::CheckPort(options.port); !error.empty()) {
    return {{}, commandLine.UsageError(error)};
  }
  for (const auto &[option, value] : {std::pair<const char *, std::string *>{"--patient-id", &keys.patientID},
                                      {"--name", &keys.name},
                                      {"--accession", &keys.accession},
                                      {"--modality", &keys.modality}}) {
    const std::optional<std::string> text = fw::tool::TextFromTerminal(*value);
    if (!text) {
      return {{}, commandLine.UsageError(std::string(option) + ": not a text in the terminal's encoding")};
    }
    *value = *text;
  }
  options.common = commandLine.Common();
  return {std::move(options), std::nullopt};
}

// The query, printing each match as it comes; a failure status's
// identifier is no match.
fw::SearchResult Search(const FindOptions &findOptions, const fw::PeerAddress &peer, fw::tool::ToolLog &log) {
  const Keys &keys = findOptions.keys;
  const auto print = [&](const auto &record, int status) {
    if (fw::IsPendingStatus(status)) {
      log.Flush();
      PrintRecord(fw::FieldTexts(record));
    }
  };
  if (findOptions.study) {
    fw::StudyInfo query;
    query.patientID = keys.patientID;
    query.patientName = keys.name;
    query.accessionNumber = keys.accession;
    query.modality = keys.modality;
    query.studyDate = keys.date;
    return fw::SearchStudies(peer, query, print);
  }
  fw::TWorklistItem query;
  query.patientID = keys.patientID;
  query.patientName = keys.name;
  query.accessionNumber = keys.accession;
  query.modality = keys.modality;
  query.scheduledStartDate = keys.date;
  return fw::SearchWorklist(peer, query, print);
}

// The line on standard error for a search that did not complete.
void ReportOutcome(const fw::SearchResult &result, const FindOptions &findOptions) {
  const std::string &calledAET = findOptions.common.calledAET;
  using Outcome = fw::SearchResult::Outcome;
  switch (result.outcome) {
  case Outcome::Completed:
    break;
  case Outcome::NoAssociation:
    std::fprintf(stderr, "fwfind: no association with %s at %s:%s\n", calledAET.c_str(), findOptions.host.c_str(),
                 findOptions.port.c_str());
    break;
  case Outcome::NotSent:
  case Outcome::NoResponse:
    std::fprintf(stderr, "fwfind: the query failed: no valid response from %s\n", calledAET.c_str());
    break;
  case Outcome::PeerFailure:
    std::fprintf(stderr, "fwfind: %s ended the query with status 0x%04X\n", calledAET.c_str(),
                 static_cast<unsigned>(result.status));
    break;
  case Outcome::LimitReached:
    if (result.identifierBytes > fw::DEFAULT_IDENTIFIER_BYTE_LIMIT) {
      std::fprintf(stderr, "fwfind: more than %zu bytes of matches, the search was stopped; please refine it\n",
                   fw::DEFAULT_IDENTIFIER_BYTE_LIMIT);
    } else {
      std::fprintf(stderr, "fwfind: more than %zu matches, the search was stopped; please refine it\n",
                   fw::DEFAULT_MATCH_LIMIT);
    }
    break;
  case Outcome::Cancelled:
    std::fprintf(stderr, "fwfind: the search was cancelled\n");
    break;
  }
}

int RunFind(const FindOptions &findOptions) {
  const fw::tool::CommonOptions &options = findOptions.common;
  fw::tool::ToolLog log(options.verbose);
  if (options.verbose && fw::TraceLevel() < 2) {
    fw::SetTraceLevel(2);
  }
  const fw::PeerAddress peer{findOptions.host, findOptions.port, options.callingAET, options.calledAET,
                             options.timeoutSeconds};
  const fw::SearchResult result = Search(findOptions, peer, log);
  log.Flush();
  ReportOutcome(result, findOptions);
  return result.Completed() ? EXIT_OK : EXIT_FAILED;
}

} // namespace

int main(int argc, char **argv) {
  const auto parsed = ParseFindOptions(argc, argv);
  return parsed.exitCode ? *parsed.exitCode : RunFind(parsed.options);
}
