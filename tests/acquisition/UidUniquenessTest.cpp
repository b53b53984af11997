// UIDs that never collide: openings that differ only in what the base UID
// used to be made of (the machine, the last characters of the Patient ID and
// Accession Number, the minute), openings in four processes at once, a
// restart between openings, and a counter file that cannot be written.
#include "acquisition/AcquisitionSession.h"

#include "dicom/DcmObj.h"
#include "dicom/Uids.h"
#include "tests/acquisition/FakeFrameSource.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fw {
namespace {

using test::FakeFrameSource;
using test::PeerProcess;

// The UIDs of one still.
struct StillUids {
  std::string study, series, sop;
};

StudyInfo TypedPatient(std::string id, std::string accession, std::string time = "140500") {
  StudyInfo c;
  c.patientID = std::move(id);
  c.patientName = "Doe^Jane";
  c.accessionNumber = std::move(accession);
  c.modality = "US";
  c.studyDate = "20240309";
  c.studyTime = std::move(time);
  return c;
}

StudyInfo WorklistPatient(std::string id, std::string accession, std::string studyUid) {
  StudyInfo c = TypedPatient(std::move(id), std::move(accession));
  c.studyInstanceUID = std::move(studyUid);
  return c;
}

class UidUniquenessTest : public ::testing::Test {
protected:
  void SetUp() override {
    InstanceCounters::ForgetRun();
    std::filesystem::create_directories(dir_.path() / "temp");
  }
  void TearDown() override { InstanceCounters::ForgetRun(); }

  // One opening with one still for the context, closed again.
  StillUids AcquireOneStill(StudyInfo context) {
    AcquisitionSessionSetup setup;
    setup.grabber = &source_;
    setup.programFolder = dir_.folder();
    setup.context = &context;
    setup.config = &config_;
    setup.clock = [] {
      std::tm t{};
      t.tm_year = 124;
      t.tm_mon = 2;
      t.tm_mday = 9;
      t.tm_hour = 14;
      t.tm_min = 5;
      return t;
    };
    setup.messages = [](const MessageRequest &) { return MessageAnswer::Yes; };
    AcquisitionSession session(std::move(setup));
    session.Open();
    StillUids uids;
    EXPECT_TRUE(session.Snap());
    if (!session.Files().empty()) {
      DcmObj ds;
      EXPECT_TRUE(ds.Read(session.Files()[0].path));
      uids = {ds.FindText(0x0020, 0x000D), ds.FindText(0x0020, 0x000E), ds.FindText(0x0008, 0x0018)};
    }
    EXPECT_TRUE(session.Close());
    for (const std::string &uid : {uids.study, uids.series, uids.sop}) {
      EXPECT_TRUE(IsValidUID(uid)) << "\"" << uid << "\"";
    }
    return uids;
  }

  test::TempDir dir_;
  test::LogCapture log_;
  FakeFrameSource source_;
  setupcfg config_;
};

struct OpeningPair {
  const char *name;
  StudyInfo first, second;
  bool sameStudy; // both from the same worklist study
};

TEST_F(UidUniquenessTest, OpeningsThatDifferOnlyWhereTheOldBaseUidLookedAwayShareNoSeriesOrInstance) {
  const OpeningPair cases[] = {
      // Two patients one second apart: the old base UID dropped everything
      // but "0001", "1001" and the minute.
      {"TwoPatientsOneSecondApart", TypedPatient("AA1001", "ACC-A-0001", "140500"),
       TypedPatient("BB1001", "ACC-B-0001", "140501"), false},
      {"LettersThatBecameTheSameDigit", TypedPatient("PA", "X"), TypedPatient("P2", "X"), false}, // A (65) was 2
      {"SecondsOfTheStudyTime", TypedPatient("P1", "A1", "140500"), TypedPatient("P1", "A1", "140559"), false},
      {"TheSamePatientTwiceInOneMinute", TypedPatient("P1", "A1"), TypedPatient("P1", "A1"), false},
      {"TwoWorklistStudiesOfOnePatient", WorklistPatient("P1", "A1", "1.2.826.0.1.1"),
       WorklistPatient("P1", "A1", "1.2.826.0.1.2"), false},
      {"OneWorklistStudyOpenedTwice", WorklistPatient("P1", "A1", "1.2.826.0.1.1"),
       WorklistPatient("P1", "A1", "1.2.826.0.1.1"), true},
  };
  for (const OpeningPair &c : cases) {
    SCOPED_TRACE(c.name);
    const StillUids a = AcquireOneStill(c.first);
    const StillUids b = AcquireOneStill(c.second);
    EXPECT_EQ(a.study == b.study, c.sameStudy) << a.study << " / " << b.study;
    EXPECT_NE(a.series, b.series);
    EXPECT_NE(a.sop, b.sop);
    EXPECT_NE(a.sop, b.series);
  }
}

// A station process playing openings, as acquisition_uid_worker does.
std::vector<std::string> ReadLines(const std::filesystem::path &file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

// Adds each UID of the worker's output to `seen`; returns the number of
// openings and fails the test on a repeat or an unfinished output.
int CollectWorkerUids(const std::filesystem::path &file, std::set<std::string> &seen,
                      std::set<std::string> &accessions) {
  const std::vector<std::string> lines = ReadLines(file);
  EXPECT_FALSE(lines.empty() || lines.back() != "done") << file << " is unfinished";
  int openings = 0;
  for (const std::string &line : lines) {
    std::istringstream fields(line);
    std::string first;
    fields >> first;
    if (first == "ACC") {
      std::string number;
      fields >> number;
      EXPECT_EQ(number.size(), 16u) << number;
      EXPECT_TRUE(accessions.insert(number).second) << "accession number repeated: " << number;
    } else if (first != "done") {
      ++openings;
      for (std::string uid = first; !uid.empty(); uid.clear(), fields >> uid) {
        EXPECT_TRUE(IsValidUID(uid)) << uid;
        EXPECT_TRUE(seen.insert(uid).second) << "repeated: " << uid;
      }
    }
  }
  return openings;
}

TEST_F(UidUniquenessTest, FourProcessesMakingTwoThousandFiveHundredOpeningsEachAtOnceRepeatNoUid) {
  constexpr int PROCESSES = 4;
  constexpr int OPENINGS = 2500;
  // All four share one program folder, as a station and fwacquire may.
  std::vector<std::unique_ptr<PeerProcess>> workers;
  for (int i = 0; i < PROCESSES; ++i) {
    workers.push_back(std::make_unique<PeerProcess>());
    const std::string k = std::to_string(i);
    ASSERT_TRUE(workers.back()->Start({UID_WORKER_PATH, dir_.folder() + "home", std::to_string(OPENINGS),
                                       dir_.folder() + "uids" + k + ".txt", std::string(1, static_cast<char>('A' + i))},
                                      dir_.folder() + "worker" + k + ".log"));
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(240);
  for (auto &worker : workers) {
    while (worker->Running() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_FALSE(worker->Running()) << worker->Log();
  }
  std::set<std::string> seen;
  std::set<std::string> accessions;
  for (int i = 0; i < PROCESSES; ++i) {
    EXPECT_EQ(CollectWorkerUids(dir_.path() / ("uids" + std::to_string(i) + ".txt"), seen, accessions), OPENINGS)
        << workers[i]->Log();
  }
  EXPECT_EQ(seen.size(), 3u * PROCESSES * OPENINGS);
  EXPECT_EQ(accessions.size(), 10u * PROCESSES);
}

TEST_F(UidUniquenessTest, ARestartBetweenOpeningsRepeatsNoUid) {
  // Two station runs one after the other on one program folder, each
  // opening for the same patient in the same minute.
  std::set<std::string> seen;
  std::set<std::string> accessions;
  for (int run = 0; run < 2; ++run) {
    const std::string out = dir_.folder() + "run" + std::to_string(run) + ".txt";
    std::string err;
    ASSERT_EQ(PeerProcess::Run({UID_WORKER_PATH, dir_.folder() + "home", "3", out, "A"}, nullptr, &err), 0) << err;
    EXPECT_EQ(CollectWorkerUids(out, seen, accessions), 3);
  }
  EXPECT_EQ(seen.size(), 18u);
  // The counter file is still written in its line format.
  const std::vector<std::string> counters = ReadLines(dir_.path() / "home" / std::string(INSTANCE_COUNTERS_FILE));
  ASSERT_EQ(counters.size(), 6u);
  for (const std::string &line : counters) {
    EXPECT_TRUE(line.starts_with("2.25.") && line.ends_with(" 1")) << line;
  }
}

TEST_F(UidUniquenessTest, ACounterFileThatCannotBeWrittenLetsNoTwoImagesShareAUid) {
  // The disk has room for the images but not for the counter file: its
  // replacement cannot be created (a folder that is not empty stands in its
  // way, which stops root as well).
  const std::filesystem::path blocked = dir_.path() / (std::string(INSTANCE_COUNTERS_FILE) + ".new");
  std::filesystem::create_directories(blocked);
  std::ofstream(blocked / "keep") << "x";
  const StillUids first = AcquireOneStill(TypedPatient("AA1001", "ACC-A-0001"));
  EXPECT_TRUE(log_.Contains("WARNING, AcquisitionSession, couldn't write " + dir_.folder() +
                            std::string(INSTANCE_COUNTERS_FILE)));
  // A restart forgets what the run remembered; only the file could have.
  InstanceCounters::ForgetRun();
  const StillUids second = AcquireOneStill(TypedPatient("AA1001", "ACC-A-0001"));
  const StillUids third = AcquireOneStill(TypedPatient("AA1001", "ACC-A-0001"));
  const std::set<std::string> sops = {first.sop, second.sop, third.sop};
  EXPECT_EQ(sops.size(), 3u) << first.sop << " " << second.sop << " " << third.sop;
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / std::string(INSTANCE_COUNTERS_FILE)));
}

} // namespace
} // namespace fw
