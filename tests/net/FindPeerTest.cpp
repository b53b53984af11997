// C-FIND against real, independent peers on loopback, each started and
// stopped by the test: DCMTK's wlmscpfs (worklist files made with dump2dcm),
// DCMTK's dcmqrscp and Orthanc holding studies stored with storescu, and
// Orthanc's worklist plugin. The searches run as the station runs them:
// SearchStudies and SearchWorklist, and fwfind on top.
//
// The data hold a Latin-1 name (MÜLLER^JÖRG); Orthanc is configured to
// answer in UTF-8, so its responses exercise the conversion to Latin-1.
#include "dicom/DcmObj.h"
#include "net/association/PDU_Service.h"
#include "net/query/CFind.h"
#include "net/query/Search.h"
#include "net/query/StudyInfo.h"
#include "net/query/TWorklistItem.h"
#include "tests/net/PeerProcess.h"
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

const std::string kMuller = "M\xDCLLER^J\xD6RG"; // Latin-1

// ------------------------------------------------------------------ test data

struct WorklistEntry {
  std::string name;
  std::string patientID;
  std::string date;
  std::string modality;
  std::string time;
};

// Two entries for 2024-03-09 and US; one for another modality, one for
// another day.
const WorklistEntry kWorklist[] = {
    {"DOE^JOHN", "W1", "20240309", "US", "0800"},
    {kMuller, "W2", "20240309", "US", "0900"},
    {"ROE^JANE", "W3", "20240309", "CT", "1000"},
    {"POE^EDGAR", "W4", "20240310", "US", "1100"},
};

std::string WorklistDump(const WorklistEntry &e, int n) {
  const std::string k = std::to_string(n);
  return "(0008,0005) CS [ISO_IR 100]\n(0008,0050) SH [ACC" + k + "]\n(0010,0010) PN [" + e.name +
         "]\n(0010,0020) LO [" + e.patientID +
         "]\n(0010,0030) DA [19700101]\n(0010,0040) CS [M]\n(0010,2110) LO [LATEX]\n"
         "(0020,000d) UI [1.2.826.0.1.3680043.2.1143.1." +
         k +
         "]\n(0032,1032) PN [REQ^DOC]\n(0032,1060) LO [Ultrasound exam]\n(0040,0100) SQ\n(fffe,e000) -\n"
         "(0008,0060) CS [" +
         e.modality + "]\n(0032,1070) LO [NONE]\n(0040,0001) AE [SCANNER1]\n(0040,0002) DA [" + e.date +
         "]\n(0040,0003) TM [" + e.time + "]\n(0040,0006) PN [PERF^DOC]\n(0040,0007) LO [Step " + k +
         "]\n(0040,0009) SH [SPS" + k +
         "]\n(0040,0010) SH [ROOM1]\n(0040,0011) SH [L2]\n(0040,0012) LO [NONE]\n(fffe,e00d) -\n(fffe,e0dd) -\n"
         "(0040,1001) SH [RP" +
         k + "]\n(0040,1003) SH [LOW]\n";
}

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

void MakeWorklistFiles(const std::filesystem::path &folder) {
  std::filesystem::create_directories(folder);
  int n = 1;
  for (const WorklistEntry &e : kWorklist) {
    MakeDicom(folder, "wl" + std::to_string(n), WorklistDump(e, n), folder / ("entry" + std::to_string(n) + ".wl"));
    ++n;
  }
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
  EXPECT_EQ(found[1].patientName, kMuller) << "Latin-1 in the record";
}

void ExpectWorklistByAccentedName(std::uint16_t port, const std::string &aet) {
  TWorklistItem query;
  query.patientName = "M\xDCLLER*";
  SearchResult outcome;
  const std::vector<TWorklistItem> found = FindWorklist(port, aet, query, outcome);
  EXPECT_TRUE(outcome.Completed());
  ASSERT_EQ(PatientIDs(found), std::vector<std::string>{"W2"});
  EXPECT_EQ(found[0].patientName, kMuller);
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
  } cases[] = {{"DOE^JOHN", {"P1"}}, {"M\xDCLLER*", {"P2"}}, {"NOBODY", {}}, {"", {"P1", "P2", "P3"}}};
  for (const NameCase &c : cases) {
    SCOPED_TRACE(c.name);
    StudyInfo query;
    query.patientName = c.name;
    SearchResult outcome;
    const std::vector<StudyInfo> found = FindStudies(port, aet, query, outcome);
    EXPECT_TRUE(outcome.Completed());
    EXPECT_EQ(PatientIDs(found), c.ids);
    if (c.ids == std::vector<std::string>{"P2"} && found.size() == 1) {
      EXPECT_EQ(found[0].patientName, kMuller);
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
    const std::filesystem::path folder = dir_->path() / "db" / kAET;
    MakeWorklistFiles(folder);
    std::ofstream(folder / "lockfile").close();
    port_ = PeerProcess::FreePort();
    peer_ = std::make_unique<PeerProcess>();
    ASSERT_TRUE(peer_->Start({"wlmscpfs", "-dfp", (dir_->path() / "db").string(), std::to_string(port_)},
                             (dir_->path() / "wlmscpfs.log").string()));
    ASSERT_TRUE(peer_->WaitListening(port_));
  }
  static void TearDownTestSuite() {
    peer_.reset();
    dir_.reset();
  }
  void SetUp() override {
    if (peer_ == nullptr || !peer_->Running()) {
      GTEST_SKIP() << "wlmscpfs did not start";
    }
  }

  static constexpr const char *kAET = "WLTEST";
  static inline std::unique_ptr<TempDir> dir_;
  static inline std::unique_ptr<PeerProcess> peer_;
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
    ASSERT_TRUE(peer_->WaitListening(port_));
    StoreStudies(*dir_, port_, kAET);
  }
  static void TearDownTestSuite() {
    peer_.reset();
    dir_.reset();
  }
  void SetUp() override {
    if (peer_ == nullptr || !peer_->Running()) {
      GTEST_SKIP() << "dcmqrscp did not start";
    }
  }

  static constexpr const char *kAET = "DCMQRSCP";
  static inline std::unique_ptr<TempDir> dir_;
  static inline std::unique_ptr<PeerProcess> peer_;
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
    const std::filesystem::path worklists = dir_->path() / "worklists";
    MakeWorklistFiles(worklists);
    port_ = PeerProcess::FreePort();
    const std::filesystem::path config = dir_->path() / "orthanc.json";
    std::ofstream(config) << "{\n"
                          << "  \"Name\": \"FRAMEWELL-TEST\",\n"
                          << "  \"StorageDirectory\": \"" << (dir_->path() / "db").string() << "\",\n"
                          << "  \"IndexDirectory\": \"" << (dir_->path() / "db").string() << "\",\n"
                          << "  \"HttpServerEnabled\": false,\n"
                          << "  \"HttpPort\": " << PeerProcess::FreePort() << ",\n"
                          << "  \"DicomPort\": " << port_ << ",\n"
                          << "  \"DicomAet\": \"" << kAET << "\",\n"
                          << "  \"RemoteAccessAllowed\": false,\n"
                          << "  \"DicomAlwaysAllowEcho\": true,\n"
                          << "  \"DicomAlwaysAllowStore\": true,\n"
                          << "  \"DicomAlwaysAllowFind\": true,\n"
                          << "  \"DicomAlwaysAllowFindWorklist\": true,\n"
                          << "  \"DicomCheckCalledAet\": false,\n"
                          << "  \"DefaultEncoding\": \"Utf8\",\n"
                          << "  \"Plugins\": [\"/usr/share/orthanc/plugins/libModalityWorklists.so\"],\n"
                          << "  \"Worklists\": {\"Enable\": true, \"Database\": \"" << worklists.string() << "\"}\n"
                          << "}\n";
    peer_ = std::make_unique<PeerProcess>();
    ASSERT_TRUE(peer_->Start({"Orthanc", config.string()}, (dir_->path() / "orthanc.log").string()));
    ASSERT_TRUE(peer_->WaitListening(port_));
    StoreStudies(*dir_, port_, kAET);
  }
  static void TearDownTestSuite() {
    peer_.reset();
    dir_.reset();
  }
  void SetUp() override {
    if (peer_ == nullptr || !peer_->Running()) {
      GTEST_SKIP() << "Orthanc did not start";
    }
  }

  static constexpr const char *kAET = "ORTHANC";
  static inline std::unique_ptr<TempDir> dir_;
  static inline std::unique_ptr<PeerProcess> peer_;
  static inline std::uint16_t port_ = 0;
};

TEST_F(OrthancTest, StudyByPatientID) { ExpectStudyByPatientID(port_, kAET, true); }

// Orthanc answers in UTF-8 ("ISO_IR 192"): the accented name must still
// reach the record in Latin-1.
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
