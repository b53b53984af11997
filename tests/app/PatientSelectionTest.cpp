// The main window's logic without a display: birth dates shown and stored,
// sorting by the user's locale, the searches into the grid (with search
// functions of the test's own, and over a scripted peer for how a search
// ends), and Acquire's study context.
#include "app/shell/PatientSelection.h"
#include "app/shell/ResultGrid.h"
#include "net/link/NetTrace.h"
#include "net/query/Search.h"
#include "tests/net/FindTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScriptedPeer.h"

#include <QCollator>
#include <QLocale>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::LogCapture;
using test::ScriptedPeer;
using namespace std::chrono;

std::vector<std::string> Column(const ResultGrid &grid, int column) {
  std::vector<std::string> cells;
  for (int row = 1; row < grid.RowCount(); ++row) {
    cells.push_back(grid.Cell(column, row));
  }
  return cells;
}

std::tm At(int year, int month, int day, int hour, int minute, int second = 0) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

// Sets the default locale for one test (CI runs in the C locale).
struct DefaultLocale {
  explicit DefaultLocale(const char *name) { QLocale::setDefault(QLocale(QString::fromLatin1(name))); }
  ~DefaultLocale() { QLocale::setDefault(QLocale::c()); }
};

// ------------------------------------------------------------ birth dates

TEST(BirthDateTest, ShownAndStoredBothWays) {
  struct Case {
    const char *stored;
    const char *shown;
  } cases[] = {
      {"19800102", "02/01/1980"}, {"1980", "//1980"}, {"", ""}, {"198001", "/01/1980"}, {"1980010", "0/01/1980"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(BirthDateCell(c.stored), c.shown) << c.stored;
    EXPECT_EQ(BirthDateFromCell(c.shown), c.stored) << c.shown;
  }
  EXPECT_EQ(BirthDateFromCell("02.01.1980"), "19800102") << "not three parts: the fixed character positions";
}

// ---------------------------------------------------------------- sorting

ResultGrid GridOfNames(const std::vector<std::string> &names) {
  ResultGrid grid;
  grid.SetRowCount(static_cast<int>(names.size()) + 1);
  for (std::size_t i = 0; i < names.size(); ++i) {
    grid.SetCell(COL_NAME, static_cast<int>(i) + 1, names[i]);
    grid.SetCell(COL_ID, static_cast<int>(i) + 1, "id-" + names[i]);
  }
  return grid;
}

TEST(SortGridRowsTest, OrdersByTheUsersLocaleCaseSensitive) {
  DefaultLocale locale("en_US");
  // Names are UTF-8: "\xC3\x89mile" sorts among the E's, the Cyrillic name after
  // every Latin one.
  ResultGrid grid =
      GridOfNames({"Adams", "bell", "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD", "adams", "Zeta", "\xC3\x89mile", "Baker"});
  SortGridRows(grid, COL_NAME);
  EXPECT_EQ(Column(grid, COL_NAME), (std::vector<std::string>{"adams", "Adams", "Baker", "bell", "\xC3\x89mile", "Zeta",
                                                              "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD"}));
  EXPECT_EQ(grid.Cell(COL_ID, 2), "id-Adams") << "whole rows move";
  EXPECT_EQ(grid.Cell(0, 0), "Name") << "the header stays";
}

TEST(SortGridRowsTest, CodeOrderWouldPutCapitalsFirst) {
  // The same names in the C locale: proves the locale case above is not the
  // plain byte order.
  QCollator c{QLocale::c()};
  c.setCaseSensitivity(Qt::CaseSensitive);
  ResultGrid grid = GridOfNames({"adams", "Adams"});
  SortGridRows(grid, COL_NAME, c);
  EXPECT_EQ(Column(grid, COL_NAME), (std::vector<std::string>{"Adams", "adams"}));
}

// -------------------------------------------------------- searches, faked

StudyInfo Study(const std::string &name, const std::string &id, const std::string &birth = "19800102") {
  StudyInfo s;
  s.patientName = name;
  s.patientID = id;
  s.patientSex = "F";
  s.patientBirthDate = birth;
  s.studyDescription = "Desc " + id;
  s.accessionNumber = "ACC-" + id;
  s.studyInstanceUID = "1.2.3." + id;
  return s;
}

struct FakeStudies {
  std::vector<StudyInfo> responses;
  SearchResult::Outcome end = SearchResult::Outcome::Completed;
  PeerAddress peer{};
  StudyInfo query{};
  SearchResult operator()(const PeerAddress &p, const StudyInfo &q, const StudyMatch &on) {
    peer = p;
    query = q;
    for (const StudyInfo &r : responses) {
      on(r, FIND_PENDING);
    }
    return {end, 0, responses.size()};
  }
};

setupcfg Config() {
  setupcfg config;
  config.LocalAET = "STATION";
  config.PacsAET = "ARCHIVE";
  config.PacsIP = "10.0.0.5";
  config.PacsPort = "11112";
  config.WlAET = "WLSRV";
  config.WlIP = "10.0.0.6";
  config.WlPort = "2000";
  config.InstitutionName = "St. Mary";
  config.ModalityIndex = 2;
  return config;
}

TEST(PatientSearchTest, ThreeMatchesSortedByNameInFourRows) {
  PatientSelection selection;
  FakeStudies fake{{Study("ROE^JANE", "P3"), Study("DOE^JOHN", "P1"), Study("MOE^MAX", "P2")}};
  selection.studySearch = std::ref(fake);
  int rowsAdded = 0;
  PatientFields fields;
  fields.patientName = "*OE*";
  fields.patientID = " ";
  const SearchResult outcome = selection.SearchPacs(fields, Config(), [&] { ++rowsAdded; });
  EXPECT_TRUE(outcome.Completed());
  EXPECT_EQ(rowsAdded, 3);
  const ResultGrid &grid = selection.Grid();
  EXPECT_EQ(grid.RowCount(), 4) << "header and three rows, no trailing empty row";
  EXPECT_EQ(Column(grid, COL_NAME), (std::vector<std::string>{"DOE^JOHN", "MOE^MAX", "ROE^JANE"}));
  EXPECT_EQ(grid.RowAt(1), (ResultGrid::Row{"DOE^JOHN", "P1", "F", "02/01/1980", "Desc P1", "ACC-P1", "1.2.3.P1"}));
  EXPECT_EQ(grid.CurrentRow(), 1);
  // The query carries the typed fields as typed; the peer is the PACS.
  EXPECT_EQ(fake.query.patientName, "*OE*");
  EXPECT_EQ(fake.query.patientID, " ");
  EXPECT_EQ(fake.query.patientBirthDate, "");
  EXPECT_EQ(fake.peer.host, "10.0.0.5");
  EXPECT_EQ(fake.peer.port, "11112");
  EXPECT_EQ(fake.peer.callingApTitle, "STATION");
  EXPECT_EQ(fake.peer.calledApTitle, "ARCHIVE");
  EXPECT_EQ(fake.peer.timeoutSeconds, 30);
}

TEST(PatientSearchTest, NoResultsOrNoConnectionLeaveHeaderAndOneEmptyRow) {
  for (const SearchResult::Outcome end : {SearchResult::Outcome::Completed, SearchResult::Outcome::NoAssociation}) {
    LogCapture log;
    PatientSelection selection;
    FakeStudies fake{{}, end};
    selection.studySearch = std::ref(fake);
    selection.SearchPacs({}, Config());
    EXPECT_EQ(selection.Grid().RowCount(), 2);
    EXPECT_EQ(selection.Grid().RowAt(1), ResultGrid::Row{});
    const auto errors = log.StartingWith("ERROR, couldn't connect");
    if (end == SearchResult::Outcome::NoAssociation) {
      EXPECT_EQ(errors, std::vector<std::string>{"ERROR, couldn't connect to ARCHIVE"});
    } else {
      EXPECT_TRUE(errors.empty());
    }
  }
}

TEST(PatientSearchTest, WorklistQueryIsTodayAndTheStationsModality) {
  struct Case {
    std::int32_t modalityIndex;
    const char *modality;
  } cases[] = {{0, "US"}, {6, "OT"}, {-1, ""}, {7, ""}};
  for (const Case &c : cases) {
    PatientSelection selection;
    TWorklistItem sent;
    PeerAddress peer;
    selection.worklistSearch = [&](const PeerAddress &p, const TWorklistItem &q, const WorklistMatch &on) {
      peer = p;
      sent = q;
      TWorklistItem match;
      match.patientName = "WL^ONE";
      match.requestedProcedureDescription = "Procedure";
      match.patientBirthDate = "1980";
      on(match, FIND_PENDING);
      return SearchResult{SearchResult::Outcome::Completed, 0, 1};
    };
    setupcfg config = Config();
    config.ModalityIndex = c.modalityIndex;
    PatientFields fields;
    fields.studyDescription = "Knee";
    selection.SearchWorklistServer(fields, config, "20240309");
    EXPECT_EQ(sent.scheduledStartDate, "20240309");
    EXPECT_EQ(sent.modality, c.modality);
    EXPECT_EQ(sent.requestedProcedureDescription, "Knee");
    EXPECT_EQ(peer.host, "10.0.0.6");
    EXPECT_EQ(peer.calledApTitle, "WLSRV");
    EXPECT_EQ(selection.Grid().RowAt(1)[COL_DESCRIPTION], "Procedure");
    EXPECT_EQ(selection.Grid().RowAt(1)[COL_BIRTH_DATE], "//1980");
  }
}

TEST(PatientSearchTest, NoFilterMeansTheFourTextFieldsEmpty) {
  PatientFields fields;
  fields.sexText = "Female";
  EXPECT_TRUE(HasNoFilters(fields)) << "sex and birth date are no filters";
  fields.studyDescription = " ";
  EXPECT_FALSE(HasNoFilters(fields)) << "a space is content";
}

// ----------------------------------------------------------------- Acquire

class AcquireTest : public ::testing::Test {
protected:
  PatientSelection selection;
  StudyInfo context;
  setupcfg config = Config();
  const std::tm now = At(2024, 3, 9, 14, 5, 7);

  PatientFields Typed() {
    PatientFields fields;
    fields.patientID = "T1";
    fields.patientName = "Typed Name";
    fields.birthDate = year{1975} / June / 4;
    fields.sexText = "Female";
    fields.accessionNumber = "TYPEDACC";
    fields.studyDescription = "Typed study";
    return fields;
  }
};

TEST_F(AcquireTest, TypedPathFillsTheContext) {
  context.studyInstanceUID = "1.2.from.an.earlier.row";
  context.referringPhysicianName = "KEPT";
  ASSERT_EQ(selection.Acquire(context, Typed(), config, now), AcquireCheck::Ready);
  EXPECT_EQ(context.patientID, "T1");
  EXPECT_EQ(context.patientName, "Typed Name");
  EXPECT_EQ(context.patientBirthDate, "19750604");
  EXPECT_EQ(context.patientSex, "F");
  EXPECT_EQ(context.accessionNumber, "TYPEDACC");
  EXPECT_EQ(context.studyDescription, "Typed study");
  EXPECT_EQ(context.studyInstanceUID, "");
  EXPECT_EQ(context.studyDate, "20240309");
  EXPECT_EQ(context.studyTime, "140507");
  EXPECT_EQ(context.modality, "CT");
  EXPECT_EQ(context.institutionName, "St. Mary");
  EXPECT_EQ(context.referringPhysicianName, "KEPT") << "never filled";
}

TEST_F(AcquireTest, Latin1InstitutionBecomesUtf8LikeTheRestOfTheContext) {
  config.InstitutionName = "H\xF4pital Saint-\xC9loi"; // as the configuration file holds it
  ASSERT_EQ(selection.Acquire(context, Typed(), config, now), AcquireCheck::Ready);
  EXPECT_EQ(context.institutionName, "H\xC3\xB4pital Saint-\xC3\x89loi");
}

TEST_F(AcquireTest, SexCodes) {
  struct Case {
    const char *text;
    const char *code;
  } cases[] = {{"Male", "M"}, {"Female", "F"}, {"Other", "O"}, {"female", "M"}, {"typed over", "M"}};
  for (const Case &c : cases) {
    PatientFields fields = Typed();
    fields.sexText = c.text;
    selection.Acquire(context, fields, config, now);
    EXPECT_EQ(context.patientSex, c.code) << c.text;
  }
}

TEST_F(AcquireTest, GridPathUsesTheCurrentRowOnly) {
  FakeStudies fake{{Study("DOE^JOHN", "P1"), Study("ROE^JANE", "P3", "1980")}};
  selection.studySearch = std::ref(fake);
  selection.SearchPacs(Typed(), config);
  selection.Grid().SetCurrentRow(2);
  ASSERT_EQ(selection.Acquire(context, Typed(), config, now), AcquireCheck::Ready);
  EXPECT_EQ(context.patientName, "ROE^JANE");
  EXPECT_EQ(context.patientID, "P3");
  EXPECT_EQ(context.patientSex, "F");
  EXPECT_EQ(context.patientBirthDate, "1980") << "the shown //1980 goes back to what was received";
  EXPECT_EQ(context.studyDescription, "Desc P3");
  EXPECT_EQ(context.accessionNumber, "ACC-P3");
  EXPECT_EQ(context.studyInstanceUID, "1.2.3.P3");
  selection.Grid().SetCurrentRow(1);
  selection.Acquire(context, Typed(), config, now);
  EXPECT_EQ(context.patientBirthDate, "19800102");
}

TEST_F(AcquireTest, MissingNameOrIdStopsAfterUpdatingTheStationFields) {
  struct Case {
    const char *name;
    const char *id;
    AcquireCheck check;
    const char *message;
  } cases[] = {{"", "T1", AcquireCheck::NameEmpty, "Patient Name can't be empty"},
               {"", "", AcquireCheck::NameEmpty, "Patient Name can't be empty"},
               {"Typed Name", "", AcquireCheck::IdEmpty, "Patient ID can't be empty"}};
  for (const Case &c : cases) {
    StudyInfo fresh;
    PatientFields fields = Typed();
    fields.patientName = c.name;
    fields.patientID = c.id;
    fields.accessionNumber = "";
    EXPECT_EQ(selection.Acquire(fresh, fields, config, now), c.check);
    EXPECT_EQ(AcquireMessage(c.check), c.message);
    EXPECT_EQ(fresh.studyDate, "20240309");
    EXPECT_EQ(fresh.studyTime, "140507");
    EXPECT_EQ(fresh.modality, "CT");
    EXPECT_EQ(fresh.institutionName, "St. Mary");
    EXPECT_EQ(fresh.accessionNumber, "") << "no number spent on a refused Acquire";
  }
}

TEST_F(AcquireTest, ModalityOutsideTheListKeepsThePreviousOne) {
  context.modality = "MR";
  config.ModalityIndex = -1;
  selection.Acquire(context, Typed(), config, now);
  EXPECT_EQ(context.modality, "MR");
  StudyInfo fresh;
  selection.Acquire(fresh, Typed(), config, now);
  EXPECT_EQ(fresh.modality, "");
}

TEST_F(AcquireTest, GeneratedAccessionNumbersAreTheMinuteAndSixRandomCharacters) {
  PatientFields fields = Typed();
  fields.accessionNumber = "";
  std::set<std::string> numbers;
  for (int i = 0; i < 100; ++i) {
    selection.Acquire(context, fields, config, At(2024, 3, 9, 14, 5, 59));
    EXPECT_EQ(context.accessionNumber.size(), 16u) << context.accessionNumber;
    EXPECT_EQ(context.accessionNumber.substr(0, 10), "2403091405") << context.accessionNumber;
    numbers.insert(context.accessionNumber);
  }
  EXPECT_EQ(numbers.size(), 100u) << "same minute, never the same number";
}

TEST_F(AcquireTest, ClearEmptiesGridAndContext) {
  FakeStudies fake{{Study("DOE^JOHN", "P1"), Study("ROE^JANE", "P3")}};
  selection.studySearch = std::ref(fake);
  selection.SearchPacs(Typed(), config);
  selection.Acquire(context, Typed(), config, now);
  selection.Clear(context);
  EXPECT_EQ(context, StudyInfo{});
  EXPECT_EQ(selection.Grid().RowCount(), 2);
  EXPECT_EQ(selection.Grid().RowAt(1), ResultGrid::Row{});
}

// ---------------------------------------- how a search ends, scripted peer

std::string Even(std::string value) {
  if (value.size() % 2 != 0) {
    value.push_back(' ');
  }
  return value;
}

std::string WorklistIdentifier(const std::string &name, const std::string &id) {
  using test::Elem;
  return Elem(0x0010, 0x0010, Even(name)) + Elem(0x0010, 0x0020, Even(id));
}

// A worklist server that answers with `responses` and then waits for the
// release (or anything else) until the station closes.
class ScriptedWorklist {
public:
  explicit ScriptedWorklist(const std::string &responses, bool answerRelease) {
    DcmObj identifier;
    BuildWorklistKeys(query, identifier);
    const std::size_t sent = (6 + 6 + 82) + (6 + 6 + test::Encoded(identifier).size());
    peer_.Receive(test::RequestSize(MODALITY_WORKLIST_FIND_UID, {"1.2.840.10008.1.2"}))
        .Send(test::AcceptPdu(test::AcceptItem(1, 0, "1.2.840.10008.1.2")))
        .Receive(sent)
        .Send(responses);
    if (answerRelease) {
      peer_.Receive(10).Send(test::kReleaseRP);
    }
    peer_.ReceiveUntilClosed().Start();
  }
  PeerAddress Peer() const { return {"127.0.0.1", peer_.PortText(), "QUILLBROOK", "WORKLIST", 5}; }
  // What came after the association request and the C-FIND-RQ.
  std::string Tail(std::size_t bytes) {
    EXPECT_TRUE(peer_.Wait());
    const std::string all = peer_.Received();
    return all.size() >= bytes ? all.substr(all.size() - bytes) : all;
  }

  TWorklistItem query;

private:
  ScriptedPeer peer_;
};

std::vector<std::string> Names(const std::vector<TWorklistItem> &items) {
  std::vector<std::string> names;
  for (const auto &i : items) {
    names.push_back(i.patientName);
  }
  return names;
}

TEST(SearchEndTest, FailureStatusEndsTheWorklistSearchAtOnce) {
  using test::Response;
  // Anything after the failure must not be read: a pending match after it
  // would otherwise show up as a row.
  ScriptedWorklist server(Response(0xFF00, WorklistIdentifier("ONE", "W1")) +
                              Response(0xC001, WorklistIdentifier("BAD", "")) +
                              Response(0xFF00, WorklistIdentifier("AFTER", "W9")) + Response(0x0000),
                          true);
  std::vector<TWorklistItem> rows;
  std::vector<int> statuses;
  const SearchResult outcome = SearchWorklist(server.Peer(), server.query, [&](const TWorklistItem &r, int status) {
    rows.push_back(r);
    statuses.push_back(status);
  });
  EXPECT_EQ(outcome.outcome, SearchResult::Outcome::PeerFailure);
  EXPECT_EQ(outcome.status, 0xC001);
  EXPECT_EQ(Names(rows), (std::vector<std::string>{"ONE", "BAD"})) << "one row for the failure, then the end";
  EXPECT_EQ(statuses, (std::vector<int>{0xFF00, 0xC001}));
  EXPECT_EQ(server.Tail(10), test::kReleaseRQ);
}

TEST(SearchEndTest, MatchLimitAbortsKeepsTheRowsAndWarns) {
  using test::Response;
  LogCapture log;
  ScriptedWorklist server(Response(0xFF00, WorklistIdentifier("ONE", "W1")) +
                              Response(0xFF01, WorklistIdentifier("TWO", "W2")) +
                              Response(0xFF00, WorklistIdentifier("THREE", "W3")) + Response(0x0000),
                          false);
  std::vector<TWorklistItem> rows;
  const SearchResult outcome = SearchWorklist(
      server.Peer(), server.query, [&](const TWorklistItem &r, int) { rows.push_back(r); }, SearchOptions{2});
  EXPECT_TRUE(outcome.LimitReached());
  EXPECT_EQ(Names(rows), (std::vector<std::string>{"ONE", "TWO"}));
  EXPECT_EQ(server.Tail(10), test::kAbort);
  EXPECT_EQ(log.StartingWith("WARNING, SearchWorklist"),
            std::vector<std::string>{"WARNING, SearchWorklist, more than 2 matches, the search was stopped"});
}

TEST(SearchEndTest, TraceLevelTwoListsTheMessages) {
  using test::Response;
  for (const int level : {1, 2}) {
    SCOPED_TRACE(level);
    LogCapture log;
    SetTraceLevel(level);
    ScriptedWorklist server(Response(0xFF00, WorklistIdentifier("ONE", "W1")) + Response(0x0000), true);
    SearchWorklist(server.Peer(), server.query, [](const TWorklistItem &, int) {});
    server.Tail(10);
    SetTraceLevel(0);
    const bool listed = std::ranges::any_of(log.Messages(), [](const std::string &m) {
      return m.find(" >> ") != std::string::npos || m.find(" << ") != std::string::npos;
    });
    EXPECT_EQ(listed, level >= 2);
  }
}

} // namespace
} // namespace fw
