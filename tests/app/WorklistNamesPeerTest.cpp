// A patient's name from the worklist to the PACS, in the scripts worklists
// use: wlmscpfs (-csk) answers entries in Latin-1, ISO 8859-7 Greek, ISO
// 8859-5 Cyrillic, ISO 2022 IR 87 Japanese and UTF-8; the station's search
// fills the grid, Acquire takes the row into the context, a still is taken
// and sent to Orthanc, and the name Orthanc stored, read back through its
// REST interface, is the name the worklist held. Both peers are started on
// free loopback ports by the test and stopped by process id.
#include "acquisition/AcquisitionSession.h"
#include "acquisition/InstanceCounters.h"
#include "app/shell/PatientSelection.h"
#include "station/StationRecords.h"
#include "tests/acquisition/FakeFrameSource.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/Peers.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::PeerProcess;
using test::TempDir;

struct NameCase {
  const char *name;
  std::string characterSet; // of the worklist entry
  std::string patientName;  // UTF-8
  std::string objectCharacterSet;
};

std::ostream &operator<<(std::ostream &out, const NameCase &c) { return out << c.name; }

const std::string GREEK =
    "\xCE\xA0\xCE\xB1\xCF\x80\xCE\xB1\xCE\xB4\xCF\x8C\xCF\x80\xCE\xBF\xCF\x85\xCE\xBB\xCE\xBF\xCF\x82^"
    "\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82";

const NameCase kNames[] = {
    {"Latin1", "ISO_IR 100", "M\xC3\xBCller^J\xC3\xB6rg", "ISO_IR 100"},
    {"GreekIso8859_7", "ISO_IR 126", GREEK, "ISO_IR 192"},
    {"GreekUtf8", "ISO_IR 192", GREEK, "ISO_IR 192"},
    {"CyrillicIso8859_5", "ISO_IR 144",
     "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2^\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD", "ISO_IR 192"},
    {"JapaneseIso2022Ir87", "\\ISO 2022 IR 87",
     "Yamada^Tarou=\xE5\xB1\xB1\xE7\x94\xB0^\xE5\xA4\xAA\xE9\x83\x8E=\xE3\x82\x84\xE3\x81\xBE\xE3\x81\xA0^"
     "\xE3\x81\x9F\xE3\x82\x8D\xE3\x81\x86",
     "ISO_IR 192"},
    {"JapaneseUtf8", "ISO_IR 192", "\xE5\xB1\xB1\xE7\x94\xB0^\xE5\xA4\xAA\xE9\x83\x8E", "ISO_IR 192"},
};

constexpr const char *kDate = "20240401";
constexpr const char *kWorklistAET = "WLNAMES";

std::string PatientID(std::size_t index) { return "N" + std::to_string(index + 1); }

class WorklistNamesPeerTest : public ::testing::TestWithParam<NameCase> {
protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<TempDir>();
    worklist_ = std::make_unique<test::WlmscpfsPeer>();
    std::vector<test::WorklistEntry> entries;
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
      entries.push_back({kNames[i].patientName, PatientID(i), kDate, "US", "0800", kNames[i].characterSet});
    }
    worklistStarted_ = worklist_->Start(dir_->path() / "worklist", kWorklistAET, entries);
    orthanc_ = std::make_unique<test::OrthancPeer>();
    orthancStarted_ = orthanc_->Start(dir_->path() / "orthanc", "PACS");
  }
  static void TearDownTestSuite() {
    orthanc_.reset();
    worklist_.reset();
    dir_.reset();
  }
  void SetUp() override {
    ASSERT_TRUE(worklistStarted_);
    ASSERT_TRUE(orthancStarted_);
    InstanceCounters::ForgetRun();
    std::filesystem::create_directories(home_.path() / "temp");
    config_.LocalAET = "STATION";
    config_.InstitutionName = "H\xF4pital";
    config_.WlAET = kWorklistAET;
    config_.WlIP = "127.0.0.1";
    config_.WlPort = std::to_string(worklist_->port());
    config_.PacsAET = "PACS";
    config_.PacsIP = "127.0.0.1";
    config_.PacsPort = std::to_string(orthanc_->dicomPort());
    config_.ModalityIndex = 0; // US
  }
  void TearDown() override { InstanceCounters::ForgetRun(); }

  // The simplified tag of the instance Orthanc holds for the patient, as
  // UTF-8 (through python's json, so an escaped character compares too).
  static std::string StoredTag(const std::string &patientID, const std::string &tag) {
    const std::string base = "http://127.0.0.1:" + std::to_string(orthanc_->httpPort());
    const std::string script = "set -eo pipefail; id=$(curl -sf --max-time 10 -X POST -d "
                               "'{\"Level\":\"Instance\",\"Query\":{\"PatientID\":\"" +
                               patientID + "\"}}' " + base +
                               "/tools/find | /usr/bin/python3 -c 'import json,sys; print(json.load(sys.stdin)[0])'); "
                               "curl -sf --max-time 10 " +
                               base +
                               "/instances/$id/simplified-tags | /usr/bin/python3 -c 'import json,sys; "
                               "sys.stdout.buffer.write(json.load(sys.stdin)[sys.argv[1]].encode())' " +
                               tag;
    std::string out;
    std::string err;
    EXPECT_EQ(PeerProcess::Run({"bash", "-c", script}, &out, &err), 0) << err;
    return out;
  }

  TempDir home_;
  setupcfg config_;
  static inline std::unique_ptr<TempDir> dir_;
  static inline std::unique_ptr<test::WlmscpfsPeer> worklist_;
  static inline std::unique_ptr<test::OrthancPeer> orthanc_;
  static inline ::testing::AssertionResult worklistStarted_ = ::testing::AssertionFailure();
  static inline ::testing::AssertionResult orthancStarted_ = ::testing::AssertionFailure();
};

TEST_P(WorklistNamesPeerTest, NameReachesThePacsAsTheWorklistHoldsIt) {
  const NameCase &c = GetParam();
  std::size_t index = 0;
  while (std::string(kNames[index].name) != c.name) {
    ++index;
  }
  const std::string id = PatientID(index);

  PatientSelection selection;
  PatientFields fields;
  fields.patientID = id;
  const SearchResult outcome = selection.SearchWorklistServer(fields, config_, kDate);
  ASSERT_TRUE(outcome.Completed());
  ASSERT_EQ(selection.Grid().Cell(COL_ID, 1), id);
  EXPECT_EQ(selection.Grid().Cell(COL_NAME, 1), c.patientName) << "the grid holds the name as written";

  StudyInfo context;
  std::tm now{};
  now.tm_year = 124;
  now.tm_mon = 3;
  now.tm_mday = 1;
  ASSERT_EQ(selection.Acquire(context, fields, config_, now), AcquireCheck::Ready);
  EXPECT_EQ(context.patientName, c.patientName);

  test::FakeFrameSource source;
  AcquisitionSessionSetup setup;
  setup.grabber = &source;
  setup.programFolder = home_.folder();
  setup.context = &context;
  setup.config = &config_;
  std::vector<std::string> boxes;
  setup.messages = [&](const MessageRequest &request) {
    boxes.push_back(request.text);
    return MessageAnswer::Ok;
  };
  setup.sendTimeoutSeconds = 10;
  AcquisitionSession session(std::move(setup));
  ASSERT_TRUE(session.Open());
  ASSERT_TRUE(session.Snap());
  ASSERT_EQ(session.Files().size(), 1u);
  DcmObj written;
  ASSERT_TRUE(written.Read(session.Files()[0].path));
  EXPECT_EQ(written.FindText(0x0008, 0x0005), c.objectCharacterSet);
  EXPECT_TRUE(session.Send());
  EXPECT_TRUE(session.Files()[0].stored) << session.Files()[0].problem;

  EXPECT_EQ(StoredTag(id, "PatientName"), c.patientName);
  EXPECT_EQ(StoredTag(id, "InstitutionName"), "H\xC3\xB4pital");
  session.Close();
}

INSTANTIATE_TEST_SUITE_P(CharacterSets, WorklistNamesPeerTest, ::testing::ValuesIn(kNames),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace fw
