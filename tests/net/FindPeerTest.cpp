// C-FIND against real, independent peers on loopback, each started and
// stopped by the test: DCMTK's wlmscpfs (worklist files made with dump2dcm),
// DCMTK's dcmqrscp and Orthanc holding studies stored with storescu, and
// Orthanc's worklist plugin. The searches run as the station runs them:
// SearchStudies and SearchWorklist, and fwfind on top.
//
// The data hold a Latin-1 name (MÜLLER^JÖRG); Orthanc is configured to
// answer in UTF-8. wlmscpfs (-csk) also answers entries in Greek, Cyrillic
// and Japanese character sets, ISO 2022 escape sequences included; every
// record holds the names in UTF-8.
#include "dicom/DcmObj.h"
#include "net/association/PDU_Service.h"
#include "net/query/CFind.h"
#include "net/query/Search.h"
#include "net/query/StudyInfo.h"
#include "net/query/TWorklistItem.h"
#include "tests/support/Peers.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::PeerProcess;
using test::TempDir;

const std::string kMuller = "M\xDCLLER^J\xD6RG";             // Latin-1, as the data hold it
const std::string kMullerUtf8 = "M\xC3\x9CLLER^J\xC3\x96RG"; // as the records hold it

// ------------------------------------------------------------------ test data

// Two entries for 2024-03-09 and US; one for another modality, one for
// another day. Written by scripts/peers.sh, which fills in the rest of each
// step (accession number ACC<n>, study UID ...1143.1.<n>).
const std::vector<test::WorklistEntry> kWorklist = {
    {"DOE^JOHN", "W1", "20240309", "US", "0800"},
    {kMuller, "W2", "20240309", "US", "0900"},
    {"ROE^JANE", "W3", "20240309", "CT", "1000"},
    {"POE^EDGAR", "W4", "20240310", "US", "1100"},
};

struct StudyEntry {
  std::string name;
  std::string patientID;
  std::string date;
  std::string modality;
};

const StudyEntry kStudies[] = {
    {"DOE^JOHN", "P1", "20240309", "US"},
    {kMuller, "P2", "20240310", "US"},
    {"ROE^JANE", "P3", "20240311", "CT"},
};

std::string StudyUID(int n) { return "1.2.826.0.1.3680043.2.1143.2." + std::to_string(n); }

std::string StudyDump(const StudyEntry &e, int n) {
  const std::string k = std::to_string(n);
  const std::string uid = StudyUID(n);
  return "(0008,0005) CS [ISO_IR 100]\n(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]\n(0008,0018) UI [" + uid +
         ".1.1]\n(0008,0020) DA [" + e.date + "]\n(0008,0030) TM [101500]\n(0008,0050) SH [ACC" + k +
         "]\n(0008,0060) CS [" + e.modality +
         "]\n(0008,0064) CS [WSD]\n(0008,0080) LO [Inst]\n(0008,0090) PN [REF^DOC]\n(0008,1030) LO [Study " + k +
         "]\n(0010,0010) PN [" + e.name + "]\n(0010,0020) LO [" + e.patientID +
         "]\n(0010,0030) DA [19700101]\n(0010,0040) CS [M]\n(0010,1010) AS [054Y]\n(0010,1030) DS [70]\n"
         "(0020,000d) UI [" +
         uid + "]\n(0020,000e) UI [" + uid + ".1]\n(0020,0010) SH [S" + k +
         "]\n(0020,0011) IS [1]\n(0020,0013) IS [1]\n(0028,0002) US 1\n(0028,0004) CS [MONOCHROME2]\n"
         "(0028,0010) US 2\n(0028,0011) US 2\n(0028,0100) US 8\n(0028,0101) US 8\n(0028,0102) US 7\n"
         "(0028,0103) US 0\n(7fe0,0010) OB 00\\40\\80\\ff\n";
}

// Writes the dump (bytes as given, Latin-1) and turns it into a DICOM file.
void MakeDicom(const std::filesystem::path &folder, const std::string &stem, const std::string &dump,
               const std::filesystem::path &target, const std::vector<std::string> &options = {}) {
  const std::filesystem::path dumpPath = folder / (stem + ".dump");
  std::ofstream(dumpPath, std::ios::binary) << dump;
  std::vector<std::string> argv{"dump2dcm"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(dumpPath.string());
  argv.push_back(target.string());
  std::string err;
  ASSERT_EQ(PeerProcess::Run(argv, nullptr, &err), 0) << err;
}

// The studies as DICOM files, stored with storescu on the peer.
void StoreStudies(const TempDir &dir, std::uint16_t port, const std::string &aet) {
  std::vector<std::string> argv{"storescu", "-aec", aet, "127.0.0.1", std::to_string(port)};
  int n = 1;
  for (const StudyEntry &e : kStudies) {
    const std::filesystem::path file = dir.path() / ("study" + std::to_string(n) + ".dcm");
    MakeDicom(dir.path(), "study" + std::to_string(n), StudyDump(e, n), file, {"+te"});
    argv.push_back(file.string());
    ++n;
  }
  std::string out;
  std::string err;
  ASSERT_EQ(PeerProcess::Run(argv, &out, &err, {"TCP_NODELAY=1"}), 0) << out << err;
}

// ------------------------------------------------- searches as the station runs them

// The station's searches; the records sorted by Patient ID.
PeerAddress Peer(std::uint16_t port, const std::string &aet) {
  return {"127.0.0.1", std::to_string(port), "QUILLBROOK", aet, 10};
}

std::vector<StudyInfo> FindStudies(std::uint16_t port, const std::string &aet, const StudyInfo &query,
                                   SearchResult &outcome) {
  std::vector<StudyInfo> found;
  outcome = SearchStudies(Peer(port, aet), query, [&](const StudyInfo &study, int status) {
    if (IsPendingStatus(status)) {
      found.push_back(study);
    }
  });
  std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.patientID < b.patientID; });
  return found;
}

std::vector<TWorklistItem> FindWorklist(std::uint16_t port, const std::string &aet, const TWorklistItem &query,
                                        SearchResult &outcome) {
  std::vector<TWorklistItem> found;
  outcome = SearchWorklist(Peer(port, aet), query, [&](const TWorklistItem &item, int status) {
    if (IsPendingStatus(status)) {
      found.push_back(item);
    }
  });
  std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.patientID < b.patientID; });
  return found;
}

std::vector<std::string> PatientIDs(const auto &records) {
  std::vector<std::string> ids;
  for (const auto &r : records) {
    ids.push_back(r.patientID);
  }
  return ids;
}

// ---------------------------------------------------------------- shared checks

void ExpectWorklistByDateAndModality(std::uint16_t port, const std::string &aet) {
  TWorklistItem query;
  query.scheduledStartDate = "20240309";
  query.modality = "US";
  SearchResult outcome;
  const std::vector<TWorklistItem> found = FindWorklist(port, aet, query, outcome);
  ASSERT_NE(outcome.outcome, SearchResult::Outcome::NoAssociation);
  EXPECT_TRUE(outcome.Completed());
  ASSERT_EQ(PatientIDs(found), (std::vector<std::string>{"W1", "W2"})) << "other modality and day not returned";
  const TWorklistItem &first = found[0];
  EXPECT_EQ(first.patientName, "DOE^JOHN");
  EXPECT_EQ(first.patientBirthDate, "19700101");
  EXPECT_EQ(first.patientSex, "M");
  EXPECT_EQ(first.accessionNumber, "ACC1");
  EXPECT_EQ(first.requestingPhysician, "REQ^DOC");
  EXPECT_EQ(first.studyInstanceUID, "1.2.826.0.1.3680043.2.1143.1.1");
  EXPECT_EQ(first.requestedProcedureDescription, "Ultrasound exam");
  EXPECT_EQ(first.scheduledStartDate, "20240309");
  EXPECT_EQ(first.scheduledStartTime, "0800");
  EXPECT_EQ(first.modality, "US");
  EXPECT_EQ(first.scheduledPerformingPhysicianName, "PERF^DOC");
  EXPECT_EQ(first.scheduledProcedureStepID, "SPS1");
  EXPECT_EQ(first.scheduledProcedureStepDescription, "Step 1");
  EXPECT_EQ(first.scheduledStationName, "ROOM1");
  EXPECT_EQ(first.scheduledProcedureStepLocation, "L2");
  EXPECT_EQ(found[1].patientName, kMullerUtf8) << "UTF-8 in the record";
}

void ExpectWorklistByAccentedName(std::uint16_t port, const std::string &aet) {
  TWorklistItem query;
  query.patientName = "M\xC3\x9CLLER*";
  SearchResult outcome;
  const std::vector<TWorklistItem> found = FindWorklist(port, aet, query, outcome);
  EXPECT_TRUE(outcome.Completed());
  ASSERT_EQ(PatientIDs(found), std::vector<std::string>{"W2"});
  EXPECT_EQ(found[0].patientName, kMullerUtf8);
}

void ExpectStudyByPatientID(std::uint16_t port, const std::string &aet, bool modalitiesInStudy) {
  StudyInfo query;
  query.patientID = "P1";
  SearchResult outcome;
  const std::vector<StudyInfo> found = FindStudies(port, aet, query, outcome);
  ASSERT_NE(outcome.outcome, SearchResult::Outcome::NoAssociation);
  EXPECT_TRUE(outcome.Completed());
  ASSERT_EQ(found.size(), 1u);
  const StudyInfo &s = found[0];
  EXPECT_EQ(s.studyInstanceUID, StudyUID(1));
  EXPECT_EQ(s.studyDate, "20240309");
  EXPECT_EQ(s.studyTime, "101500");
  EXPECT_EQ(s.studyID, "S1");
  EXPECT_EQ(s.studyDescription, "Study 1");
  EXPECT_EQ(s.accessionNumber, "ACC1");
  EXPECT_EQ(s.referringPhysicianName, "REF^DOC");
  EXPECT_EQ(s.patientID, "P1");
  EXPECT_EQ(s.patientName, "DOE^JOHN");
  EXPECT_EQ(s.patientBirthDate, "19700101");
  EXPECT_EQ(s.patientSex, "M");
  if (modalitiesInStudy) {
    EXPECT_EQ(s.modality, "US");
  }
}

void ExpectStudiesByName(std::uint16_t port, const std::string &aet) {
  struct NameCase {
    std::string name;
    std::vector<std::string> ids;
  } cases[] = {{"DOE^JOHN", {"P1"}}, {"M\xC3\x9CLLER*", {"P2"}}, {"NOBODY", {}}, {"", {"P1", "P2", "P3"}}};
  for (const NameCase &c : cases) {
    SCOPED_TRACE(c.name);
    StudyInfo query;
    query.patientName = c.name;
    SearchResult outcome;
    const std::vector<StudyInfo> found = FindStudies(port, aet, query, outcome);
    EXPECT_TRUE(outcome.Completed());
    EXPECT_EQ(PatientIDs(found), c.ids);
    if (c.ids == std::vector<std::string>{"P2"} && found.size() == 1) {
      EXPECT_EQ(found[0].patientName, kMullerUtf8);
    }
  }
}

// fwfind's lines for a query, in the C.UTF-8 locale, sorted.
std::vector<std::string> FwFindLines(const std::vector<std::string> &args, int &exitCode) {
  std::vector<std::string> argv{FWFIND_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string out;
  std::string err;
  exitCode = PeerProcess::Run(argv, &out, &err, {"LC_ALL=C.UTF-8"});
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < out.size()) {
    const std::size_t end = out.find('\n', at);
    lines.push_back(out.substr(at, end - at));
    at = end == std::string::npos ? out.size() : end + 1;
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// ------------------------------------------------------------------ wlmscpfs

class WlmscpfsTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<TempDir>();
    peer_ = std::make_unique<test::WlmscpfsPeer>();
    started_ = peer_->Start(dir_->path(), kAET, kWorklist);
    port_ = peer_->port();
  }
  static void TearDownTestSuite() {
    peer_.reset();
    dir_.reset();
  }
  void SetUp() override {
    ASSERT_TRUE(started_);
    ASSERT_TRUE(peer_->process().Running()) << peer_->process().Log();
  }

  static constexpr const char *kAET = "WLTEST";
  static inline std::unique_ptr<TempDir> dir_;
  static inline std::unique_ptr<test::WlmscpfsPeer> peer_;
  static inline ::testing::AssertionResult started_ = ::testing::AssertionFailure();
  static inline std::uint16_t port_ = 0;
};

TEST_F(WlmscpfsTest, WorklistByDateAndModality) { ExpectWorklistByDateAndModality(port_, kAET); }

TEST_F(WlmscpfsTest, WorklistByAccentedName) { ExpectWorklistByAccentedName(port_, kAET); }

TEST_F(WlmscpfsTest, FwFindPrintsOneLinePerMatchInRecordOrder) {
  int exitCode = -1;
  const std::vector<std::string> lines = FwFindLines(
      {"--worklist", "--aec", kAET, "--date", "20240309", "--modality", "US", "127.0.0.1", std::to_string(port_)},
      exitCode);
  EXPECT_EQ(exitCode, 0);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "DOE^JOHN\tW1\t19700101\tM\tACC1\tREQ^DOC\tLATEX\t1.2.826.0.1.3680043.2.1143.1.1\t"
                      "Ultrasound exam\t0800\t20240309\tUS\tSCANNER1\tPERF^DOC\tNONE\tSPS1\tStep 1\tROOM1\tL2\t"
                      "NONE\tRP1\tLOW");
  EXPECT_TRUE(lines[1].starts_with("M\xC3\x9CLLER^J\xC3\x96RG\tW2\t")) << "shown in the terminal's UTF-8";
}

TEST_F(WlmscpfsTest, FwFindWithoutMatchSucceedsSilently) {
  int exitCode = -1;
  const std::vector<std::string> lines =
      FwFindLines({"--worklist", "-aec", kAET, "--date", "20990101", "127.0.0.1", std::to_string(port_)}, exitCode);
  EXPECT_EQ(exitCode, 0);
  EXPECT_TRUE(lines.empty());
}

TEST_F(WlmscpfsTest, FwFindAcceptsAccentedNameFromTheTerminal) {
  int exitCode = -1;
  const std::vector<std::string> lines = FwFindLines(
      {"--worklist", "--aec", kAET, "--name", "M\xC3\x9CLLER*", "127.0.0.1", std::to_string(port_)}, exitCode);
  EXPECT_EQ(exitCode, 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].starts_with("M\xC3\x9CLLER^J\xC3\x96RG\tW2\t"));
}

// Entries in the character sets worklists in Greece, Russia and Japan use,
// each answered by wlmscpfs -csk with its own (0008,0005).
struct ScriptCase {
  const char *name;
  std::string characterSet;
  std::string patientName; // UTF-8
};

const ScriptCase kScripts[] = {
    {"Latin1", "ISO_IR 100", "M\xC3\xBCller^J\xC3\xB6rg"},
    {"GreekIso8859_7", "ISO_IR 126",
     "\xCE\xA0\xCE\xB1\xCF\x80\xCE\xB1\xCE\xB4\xCF\x8C\xCF\x80\xCE\xBF\xCF\x85\xCE\xBB\xCE\xBF\xCF\x82^"
     "\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82"},
    {"GreekUtf8", "ISO_IR 192",
     "\xCE\xA0\xCE\xB1\xCF\x80\xCE\xB1\xCE\xB4\xCF\x8C\xCF\x80\xCE\xBF\xCF\x85\xCE\xBB\xCE\xBF\xCF\x82^"
     "\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82"},
    {"CyrillicIso8859_5", "ISO_IR 144",
     "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2^\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD"},
    {"JapaneseIso2022Ir87", "\\ISO 2022 IR 87",
     "Yamada^Tarou=\xE5\xB1\xB1\xE7\x94\xB0^\xE5\xA4\xAA\xE9\x83\x8E=\xE3\x82\x84\xE3\x81\xBE\xE3\x81\xA0^"
     "\xE3\x81\x9F\xE3\x82\x8D\xE3\x81\x86"},
    {"JapaneseUtf8", "ISO_IR 192", "\xE5\xB1\xB1\xE7\x94\xB0^\xE5\xA4\xAA\xE9\x83\x8E"},
};

class WlmscpfsScriptsTest : public ::testing::TestWithParam<ScriptCase> {
protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<TempDir>();
    peer_ = std::make_unique<test::WlmscpfsPeer>();
    std::vector<test::WorklistEntry> entries;
    int n = 0;
    for (const ScriptCase &c : kScripts) {
      entries.push_back({c.patientName, "S" + std::to_string(++n), "20240401", "US", "0800", c.characterSet});
    }
    started_ = peer_->Start(dir_->path(), kAET, entries);
    port_ = peer_->port();
  }
  static void TearDownTestSuite() {
    peer_.reset();
    dir_.reset();
  }
  void SetUp() override {
    ASSERT_TRUE(started_);
    ASSERT_TRUE(peer_->process().Running()) << peer_->process().Log();
  }
  static std::string PatientID(const ScriptCase &c) { return "S" + std::to_string(&c - kScripts + 1); }

  static constexpr const char *kAET = "WLSCRIPTS";
  static inline std::unique_ptr<TempDir> dir_;
  static inline std::unique_ptr<test::WlmscpfsPeer> peer_;
  static inline ::testing::AssertionResult started_ = ::testing::AssertionFailure();
  static inline std::uint16_t port_ = 0;
};

TEST_P(WlmscpfsScriptsTest, NameReachesTheRecordAsWritten) {
  const ScriptCase &c = GetParam();
  const ScriptCase *entry = std::find_if(std::begin(kScripts), std::end(kScripts),
                                         [&](const ScriptCase &k) { return std::string(k.name) == c.name; });
  TWorklistItem query;
  query.patientID = PatientID(*entry);
  SearchResult outcome;
  const std::vector<TWorklistItem> found = FindWorklist(port_, kAET, query, outcome);
  EXPECT_TRUE(outcome.Completed());
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].patientName, c.patientName);
  EXPECT_EQ(found[0].patientID, query.patientID);
}

INSTANTIATE_TEST_SUITE_P(CharacterSets, WlmscpfsScriptsTest, ::testing::ValuesIn(kScripts),
                         [](const auto &info) { return std::string(info.param.name); });

// A Greek key typed in the terminal goes out in UTF-8 ("ISO_IR 192") and
// finds the entry written in UTF-8; the match is printed as written.
TEST_F(WlmscpfsScriptsTest, FwFindSearchesByAGreekName) {
  const std::string greek = kScripts[2].patientName;
  int exitCode = -1;
  const std::vector<std::string> lines =
      FwFindLines({"--worklist", "--aec", kAET, "--name", greek.substr(0, greek.find('^')) + "*", "127.0.0.1",
                   std::to_string(port_)},
                  exitCode);
  EXPECT_EQ(exitCode, 0);
  EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                         [&](const std::string &line) { return line.starts_with(greek + "\tS3\t"); }),
            lines.end());
}

// ------------------------------------------------------------------ dcmqrscp

class DcmqrscpTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<TempDir>();
    const std::filesystem::path db = dir_->path() / "db";
    std::filesystem::create_directories(db);
    port_ = PeerProcess::FreePort();
    const std::filesystem::path config = dir_->path() / "dcmqrscp.cfg";
    std::ofstream(config) << "NetworkTCPPort = " << port_
                          << "\nMaxPDUSize = 16384\nMaxAssociations = 16\nHostTable BEGIN\nHostTable END\n"
                             "VendorTable BEGIN\nVendorTable END\nAETable BEGIN\n"
                          << kAET << " " << db.string() << " RW (200, 1024mb) ANY\nAETable END\n";
    peer_ = std::make_unique<PeerProcess>();
    ASSERT_TRUE(peer_->Start({"dcmqrscp", "-c", config.string(), std::to_string(port_)},
                             (dir_->path() / "dcmqrscp.log").string(), {"TCP_NODELAY=1"}));
    ASSERT_TRUE(peer_->WaitListening(port_)) << peer_->Log();
    StoreStudies(*dir_, port_, kAET);
    stored_ = !::testing::Test::HasFatalFailure();
  }
  static void TearDownTestSuite() {
    peer_.reset();
    dir_.reset();
  }
  // A peer that did not start fails every case.
  void SetUp() override {
    ASSERT_TRUE(stored_) << "dcmqrscp did not start or did not take the studies";
    ASSERT_TRUE(peer_->Running()) << peer_->Log();
  }

  static constexpr const char *kAET = "DCMQRSCP";
  static inline std::unique_ptr<TempDir> dir_;
  static inline std::unique_ptr<PeerProcess> peer_;
  static inline bool stored_ = false;
  static inline std::uint16_t port_ = 0;
};

// dcmqrscp does not return Modalities in Study.
TEST_F(DcmqrscpTest, StudyByPatientID) { ExpectStudyByPatientID(port_, kAET, false); }

TEST_F(DcmqrscpTest, StudiesByName) { ExpectStudiesByName(port_, kAET); }

TEST_F(DcmqrscpTest, FwFindStudyLine) {
  int exitCode = -1;
  const std::vector<std::string> lines =
      FwFindLines({"--study", "--aec", kAET, "--patient-id", "P2", "127.0.0.1", std::to_string(port_)}, exitCode);
  EXPECT_EQ(exitCode, 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], StudyUID(2) +
                          "\t20240310\t101500\tS2\tStudy 2\tACC2\t\tREF^DOC\t\tP2\tM\xC3\x9CLLER^J\xC3\x96RG\t"
                          "19700101\tM\t054Y\t70");
}

// ------------------------------------------------------------------- Orthanc

class OrthancTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<TempDir>();
    peer_ = std::make_unique<test::OrthancPeer>();
    started_ = peer_->Start(dir_->path(), kAET, kWorklist);
    port_ = peer_->dicomPort();
    if (started_) {
      StoreStudies(*dir_, port_, kAET);
      if (::testing::Test::HasFatalFailure()) {
        started_ = ::testing::AssertionFailure() << "Orthanc did not take the studies";
      }
    }
  }
  static void TearDownTestSuite() {
    peer_.reset();
    dir_.reset();
  }
  void SetUp() override {
    ASSERT_TRUE(started_);
    ASSERT_TRUE(peer_->process().Running()) << peer_->process().Log();
  }

  static constexpr const char *kAET = "ORTHANC";
  static inline std::unique_ptr<TempDir> dir_;
  static inline std::unique_ptr<test::OrthancPeer> peer_;
  static inline ::testing::AssertionResult started_ = ::testing::AssertionFailure();
  static inline std::uint16_t port_ = 0;
};

TEST_F(OrthancTest, StudyByPatientID) { ExpectStudyByPatientID(port_, kAET, true); }

// Orthanc answers in UTF-8 ("ISO_IR 192"): the accented name reaches the
// record as it was stored.
TEST_F(OrthancTest, StudiesByNameFromUtf8Responses) {
  PDU_Service service;
  ASSERT_TRUE(service.OpenAssociation("127.0.0.1", std::to_string(port_), "QUILLBROOK", kAET, STUDY_ROOT_FIND_UID, 10));
  DcmObj keys;
  StudyInfo query;
  query.patientID = "P2";
  BuildStudyKeys(query, keys);
  ASSERT_TRUE(CFind::WriteRQ(service, keys, STUDY_ROOT_FIND_UID));
  DcmObj response;
  EXPECT_EQ(CFind::ReadRSP(service, response), FIND_PENDING);
  EXPECT_EQ(response.FindText(0x0008, 0x0005), "ISO_IR 192") << "the peer is meant to answer in UTF-8";
  EXPECT_EQ(response.FindText(0x0010, 0x0010), "M\xC3\x9CLLER^J\xC3\x96RG");
  service.ReleaseAssociation();

  ExpectStudiesByName(port_, kAET);
}

TEST_F(OrthancTest, WorklistByDateAndModality) { ExpectWorklistByDateAndModality(port_, kAET); }

TEST_F(OrthancTest, WorklistByAccentedName) { ExpectWorklistByAccentedName(port_, kAET); }

} // namespace
} // namespace fw
