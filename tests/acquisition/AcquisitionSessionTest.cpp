// The acquisition session with a fake capture source: opening, Snap, Video
// and its ticks, the instance numbering rule, the close question, leftover
// files, time-outs and failed saves. Send against real peers is in
// AcquisitionSendTest.cpp.
#include "acquisition/AcquisitionSession.h"

#include "dicom/DcmObj.h"
#include "dicom/TemporaryFiles.h"
#include "dicom/Uids.h"
#include "tests/acquisition/FakeFrameSource.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fw {
namespace {

using test::FakeFrameSource;

StudyInfo Patient() {
  StudyInfo c;
  c.studyDate = "20090315";
  c.studyTime = "143005";
  c.accessionNumber = "A123";
  c.modality = "ES";
  c.patientID = "PID-007";
  c.patientName = "Doe^Jane";
  return c;
}

class AcquisitionSessionTest : public ::testing::Test {
protected:
  void SetUp() override {
    InstanceCounters::ForgetRun();
    std::filesystem::create_directories(dir_.path() / "temp");
    context_ = Patient();
    config_.PacsPort = "1"; // nobody listens: a send that tries would log it
  }
  void TearDown() override { InstanceCounters::ForgetRun(); }

  std::unique_ptr<AcquisitionSession> NewSession() {
    AcquisitionSessionSetup setup;
    setup.grabber = &source_;
    setup.programFolder = dir_.folder();
    setup.context = &context_;
    setup.config = &config_;
    setup.clock = [this] { return now_; };
    setup.messages = [this](const MessageRequest &request) {
      boxes_.push_back(request.text);
      return answer_;
    };
    setup.mintBaseUid = mint_;
    setup.snapTimeout = std::chrono::milliseconds(200);
    setup.sendTimeoutSeconds = 2;
    auto session = std::make_unique<AcquisitionSession>(std::move(setup));
    session->onFilesChanged = [this] { ++refreshes_; };
    session->onRecording = [this](bool on) { recordingEvents_.push_back(on); };
    return session;
  }
  std::string InstanceText(const AcquiredFile &file) const {
    DcmObj ds;
    EXPECT_TRUE(ds.Read(file.path));
    return ds.FindText(0x0020, 0x0013) + " " + ds.FindText(0x0008, 0x0018);
  }
  void RecordClip(AcquisitionSession &session) {
    ASSERT_TRUE(session.Video());
    for (int i = 0; i < 5; ++i) {
      session.Tick();
    }
  }

  test::TempDir dir_;
  test::LogCapture log_;
  FakeFrameSource source_;
  StudyInfo context_;
  setupcfg config_;
  std::tm now_ = [] {
    std::tm t{};
    t.tm_year = 124;
    t.tm_mon = 2;
    t.tm_mday = 9;
    t.tm_hour = 10;
    return t;
  }();
  std::vector<std::string> boxes_;
  MessageAnswer answer_ = MessageAnswer::Yes;
  int refreshes_ = 0;
  std::vector<bool> recordingEvents_;
  // Empty: every opening mints a new base UID.
  std::function<std::string()> mint_;
};

TEST_F(AcquisitionSessionTest, OpeningMintsTheUidsAndStoresThemInAnEmptyContext) {
  auto session = NewSession();
  EXPECT_TRUE(session->Open());
  const std::string base = session->State().baseUid;
  EXPECT_EQ(base.rfind("2.25.", 0), 0u) << base;
  EXPECT_TRUE(IsValidUID(base)) << base;
  EXPECT_EQ(session->State().seriesInstanceUid, base + ".20");
  EXPECT_EQ(context_.studyInstanceUID, base);
  EXPECT_TRUE(log_.Contains("INFO, Study Instance UID = " + base));
  EXPECT_EQ(source_.builds, 1);
  // No "videocap.cfg": the defaults.
  EXPECT_EQ(source_.builtWith, CaptureConfig{});
}

TEST_F(AcquisitionSessionTest, AContextThatHoldsAStudyUidKeepsIt) {
  context_.studyInstanceUID = "1.2.826.0.1.99";
  auto session = NewSession();
  session->Open();
  ASSERT_TRUE(session->Snap());
  EXPECT_EQ(context_.studyInstanceUID, "1.2.826.0.1.99");
  EXPECT_TRUE(log_.Contains("INFO, Study Instance UID = 1.2.826.0.1.99"));
  DcmObj ds;
  ASSERT_TRUE(ds.Read(session->Files()[0].path));
  EXPECT_EQ(ds.FindText(0x0020, 0x000D), "1.2.826.0.1.99");
  EXPECT_EQ(ds.FindText(0x0020, 0x000E), session->State().baseUid + ".20");
}

TEST_F(AcquisitionSessionTest, SnapVideoSnapGiveInstancesOneTwoThree) {
  source_.rateN = 30;
  auto session = NewSession();
  session->Open();
  ASSERT_TRUE(session->Snap());
  source_.framesPerCapture = 7;
  ASSERT_TRUE(session->Video());
  EXPECT_TRUE(session->Recording());
  // While the clip runs, Snap, Video, Configure and Send do nothing.
  EXPECT_FALSE(session->Snap());
  EXPECT_FALSE(session->Video());
  EXPECT_FALSE(session->Send());
  const int buildsBefore = source_.builds;
  session->Configure();
  EXPECT_EQ(source_.builds, buildsBefore);
  for (int tick = 1; tick < 5; ++tick) {
    session->Tick();
    EXPECT_TRUE(session->Recording()) << tick;
  }
  session->Tick();
  EXPECT_FALSE(session->Recording());
  source_.framesPerCapture = 1;
  ASSERT_TRUE(session->Snap());

  const auto &files = session->Files();
  const std::string base = session->State().baseUid;
  ASSERT_EQ(files.size(), 3u);
  const char *names[] = {"temp/A1231.dcm", "temp/A1232.dcm", "temp/A1233.dcm"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(files[i].name, names[i]);
    EXPECT_EQ(InstanceText(files[i]), std::to_string(i + 1) + " " + base + ".10." + std::to_string(i + 1));
  }
  EXPECT_EQ(files[0].sopClassUid, VL_ENDOSCOPIC_IMAGE_STORAGE); // "ES"
  EXPECT_EQ(files[1].sopClassUid, VIDEO_ENDOSCOPIC_IMAGE_STORAGE);
  EXPECT_EQ(files[1].frames, 7);
  DcmObj clip;
  ASSERT_TRUE(clip.Read(files[1].path));
  EXPECT_EQ(clip.FindText(0x0018, 0x1063), "33.3333");
  EXPECT_EQ(refreshes_, 3);
  EXPECT_EQ(recordingEvents_, (std::vector<bool>{true, false}));
  EXPECT_EQ(boxes_, std::vector<std::string>{});
}

TEST_F(AcquisitionSessionTest, WithoutAPipelineSnapVideoAndConfigureDoNothing) {
  source_.buildResult = false;
  auto session = NewSession();
  EXPECT_FALSE(session->Open());
  EXPECT_FALSE(session->Snap());
  EXPECT_FALSE(session->Video());
  session->Tick();
  EXPECT_FALSE(session->Configure());
  EXPECT_EQ(source_.starts, 0);
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "videocap.cfg"));
  // Send with nothing to send: no association, an error.
  EXPECT_FALSE(session->Send());
  EXPECT_TRUE(log_.Contains("ERROR, Send, no files to send"));
  EXPECT_TRUE(log_.StartingWith("ERROR, Can't open association").empty());
  EXPECT_EQ(boxes_, (std::vector<std::string>{std::string(TEXT_SEND_FAILED)}));
}

TEST_F(AcquisitionSessionTest, ConfigurationIsAppliedAndWrittenToItsFile) {
  {
    std::ofstream cfg(dir_.path() / "videocap.cfg", std::ios::binary);
    const unsigned char bytes[16] = {1, 0, 0, 0, 0xB0, 0, 0, 0, 0x90, 0, 0, 0, 0, 0, 0, 0};
    cfg.write(reinterpret_cast<const char *>(bytes), sizeof(bytes));
  }
  auto session = NewSession();
  session->Open();
  EXPECT_EQ(source_.builtWith, (CaptureConfig{1, 176, 144, 0}));
  EXPECT_TRUE(session->Configure());
  CaptureConfig written;
  ASSERT_TRUE(ReadCaptureConfig(dir_.folder() + "videocap.cfg", written));
  EXPECT_EQ(written, source_.configured);
}

// Base UIDs never repeat (UidUniquenessTest.cpp); should one ever, the
// numbers under it go on from the last one used, also after a restart.
TEST_F(AcquisitionSessionTest, ABaseUidThatRepeatsContinuesTheNumbersAcrossReopeningsAndRestarts) {
  const std::string BASE_UID = "2.25.42";
  mint_ = [&] { return BASE_UID; };
  std::vector<std::string> uids;
  const auto acquireTwo = [&](AcquisitionSession &session) {
    ASSERT_TRUE(session.Open());
    ASSERT_TRUE(session.Snap());
    ASSERT_TRUE(session.Snap());
    for (const auto &file : session.Files()) {
      uids.push_back(InstanceText(file));
    }
    ASSERT_TRUE(session.Close()); // unsent: answered Yes
  };
  {
    auto session = NewSession();
    acquireTwo(*session);
    // The same session object opened again (the window reopens).
    acquireTwo(*session);
  }
  // A restart: nothing in memory, only the file in the program folder.
  InstanceCounters::ForgetRun();
  {
    auto session = NewSession();
    acquireTwo(*session);
  }
  const std::vector<std::string> expected = {"1 " + BASE_UID + ".10.1", "2 " + BASE_UID + ".10.2",
                                             "3 " + BASE_UID + ".10.3", "4 " + BASE_UID + ".10.4",
                                             "5 " + BASE_UID + ".10.5", "6 " + BASE_UID + ".10.6"};
  EXPECT_EQ(uids, expected);
  // Another base UID starts at 1.
  mint_ = {};
  auto other = NewSession();
  other->Open();
  ASSERT_TRUE(other->Snap());
  EXPECT_EQ(other->Files()[0].instanceNumber, 1);
}

TEST(InstanceCountersTest, KeepsTheMostRecentBaseUidsOnly) {
  test::TempDir dir;
  InstanceCounters::ForgetRun();
  const std::string path = dir.folder() + "counters.txt";
  InstanceCounters counters(path);
  for (std::size_t i = 0; i <= InstanceCounters::CAPACITY; ++i) {
    ASSERT_TRUE(counters.Record("2.25." + std::to_string(i), static_cast<std::int32_t>(i + 1)));
  }
  counters.Record("2.25.5", 3); // a smaller number does not go back
  InstanceCounters::ForgetRun();
  EXPECT_EQ(counters.Last("2.25.0"), 0); // the oldest fell out of the file
  EXPECT_EQ(counters.Last("2.25.1"), 2);
  EXPECT_EQ(counters.Last("2.25.5"), 6);
  EXPECT_EQ(counters.Last("2.25." + std::to_string(InstanceCounters::CAPACITY)),
            static_cast<std::int32_t>(InstanceCounters::CAPACITY + 1));
  // A damaged file is read as far as it makes sense.
  std::ofstream(path, std::ios::app) << "garbage\n2.25.7 notanumber\n" << std::string(5000, '9') << "\n";
  EXPECT_EQ(counters.Last("2.25.7"), 8);
  InstanceCounters::ForgetRun();
}

TEST_F(AcquisitionSessionTest, ClosingWithUnsentImagesAsksFirst) {
  auto session = NewSession();
  session->Open();
  ASSERT_TRUE(session->Snap());
  const std::string path = session->Files()[0].path;

  answer_ = MessageAnswer::No;
  EXPECT_FALSE(session->Close());
  EXPECT_EQ(boxes_, (std::vector<std::string>{std::string(TEXT_CLOSE_UNSENT)}));
  EXPECT_TRUE(session->IsOpen());
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(source_.releases, 0);
  ASSERT_TRUE(session->Snap()); // still acquiring

  answer_ = MessageAnswer::Yes;
  EXPECT_TRUE(session->Close());
  EXPECT_FALSE(session->IsOpen());
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path() / "temp"));
  EXPECT_EQ(source_.releases, 1);
}

TEST_F(AcquisitionSessionTest, ClosingDuringAClipSavesItAndAsksAboutIt) {
  auto session = NewSession();
  session->Open();
  source_.framesPerCapture = 3;
  ASSERT_TRUE(session->Video());
  session->Tick();
  answer_ = MessageAnswer::No;
  EXPECT_FALSE(session->Close());
  EXPECT_FALSE(session->Recording());
  ASSERT_EQ(session->Files().size(), 1u);
  EXPECT_EQ(session->Files()[0].frames, 3);
  EXPECT_EQ(boxes_, (std::vector<std::string>{std::string(TEXT_CLOSE_UNSENT)}));
}

TEST_F(AcquisitionSessionTest, ADeviceThatFailsKeepsTheClipStopsCaptureAndIsReleasedAtClose) {
  auto session = NewSession();
  session->Open();
  source_.framesPerCapture = 3;
  ASSERT_TRUE(session->Video());
  session->Tick();
  session->CaptureStopped();
  EXPECT_FALSE(session->Recording());
  EXPECT_FALSE(session->PipelineReady());
  ASSERT_EQ(session->Files().size(), 1u) << "the clip keeps the frames it has";
  EXPECT_EQ(session->Files()[0].frames, 3);
  EXPECT_FALSE(session->Snap());
  EXPECT_FALSE(session->Video());
  EXPECT_EQ(session->Files().size(), 1u);
  // The failed pipeline still holds the device until the acquisition closes.
  EXPECT_EQ(source_.releases, 0);
  answer_ = MessageAnswer::Yes;
  ASSERT_TRUE(session->Close());
  EXPECT_EQ(source_.releases, 1);
}

TEST_F(AcquisitionSessionTest, ClosingAnEmptyAcquisitionAsksNothing) {
  auto session = NewSession();
  session->Open();
  EXPECT_TRUE(session->Close());
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(AcquisitionSessionTest, FilesLeftInTempAreCountedAndKept) {
  std::ofstream(dir_.path() / "temp/A1231.dcm") << "crash leftovers";
  std::ofstream(dir_.path() / "temp/other.dcm") << "more";
  auto session = NewSession();
  session->Open();
  EXPECT_TRUE(log_.Contains("WARNING, files left in temp/: 2"));
  ASSERT_TRUE(session->Snap());
  EXPECT_EQ(session->Files()[0].name, "temp/A1232.dcm");
  ASSERT_TRUE(session->Close());
  // Closing deletes only the acquisition's own files.
  EXPECT_EQ(test::ReadFileBytes(dir_.path() / "temp/A1231.dcm"), "crash leftovers");
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "temp/other.dcm"));
}

// The Accession Number comes from the operator or the worklist and may hold
// any bytes ("/" is legal in DICOM): it names the file only through safe
// characters, so every object lands in temp/ and the object keeps the value.
TEST_F(AcquisitionSessionTest, HostileAccessionNumbersNameFilesInsideTemp) {
  struct Case {
    std::string accession;
    std::string name;
  };
  const std::vector<Case> cases = {
      {"2024/123", "temp/2024_1231.dcm"},
      {"../../../x", "temp/_._.._.._x1.dcm"},
      {"/etc/passwd", "temp/_etc_passwd1.dcm"},
      {"", "temp/1.dcm"},
      {std::string(300, 'A'), "temp/" + std::string(MAX_FILE_NAME_PART, 'A') + "1.dcm"},
      {"H\xF4pital", "temp/H_pital1.dcm"},
      {"\xC3\x9C"
       "ber",
       "temp/__ber1.dcm"},
      {"A\nB\tC\x01", "temp/A_B_C_1.dcm"},
      {".hidden", "temp/_hidden1.dcm"},
      {"..", "temp/_.1.dcm"},
      {"C:\\x *?<>|\"", "temp/C__x_______1.dcm"},
      {"2024.123-A_7", "temp/2024.123-A_71.dcm"},
  };
  const std::filesystem::path temp = std::filesystem::canonical(dir_.path() / "temp");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    context_ = Patient();
    context_.accessionNumber = c.accession;
    auto session = NewSession();
    session->Open();
    ASSERT_TRUE(session->Snap());
    const AcquiredFile &file = session->Files()[0];
    EXPECT_EQ(file.name, c.name);
    EXPECT_EQ(std::filesystem::canonical(file.path).parent_path(), temp);
    DcmObj ds;
    ASSERT_TRUE(ds.Read(file.path));
    const bool printable =
        std::all_of(c.accession.begin(), c.accession.end(), [](char ch) { return ch >= ' ' && ch <= '~'; });
    if (printable && c.accession.size() <= 16) {
      EXPECT_EQ(ds.FindText(0x0008, 0x0050), c.accession) << "the object keeps the value";
    }
    ASSERT_TRUE(session->Close());
  }
  EXPECT_TRUE(std::filesystem::is_empty(temp)) << "each acquisition deleted its own file";

  // Two numbers that become the same name keep apart.
  context_.accessionNumber = "2025/7";
  auto first = NewSession();
  first->Open();
  ASSERT_TRUE(first->Snap());
  context_ = Patient();
  context_.accessionNumber = "2025:7";
  auto second = NewSession();
  second->Open();
  ASSERT_TRUE(second->Snap());
  EXPECT_EQ(first->Files()[0].name, "temp/2025_71.dcm");
  EXPECT_EQ(second->Files()[0].name, "temp/2025_72.dcm");
  DcmObj ds;
  ASSERT_TRUE(ds.Read(first->Files()[0].path));
  EXPECT_EQ(ds.FindText(0x0008, 0x0050), "2025/7");
}

// A kill during a write leaves a hidden partial file: it is no object, so
// it is removed when its writer has ended and never counted.
TEST_F(AcquisitionSessionTest, PartialFilesOfAKilledWriteAreRemovedAndNotCounted) {
  const pid_t ended = [] {
    const pid_t child = ::fork();
    if (child == 0) {
      ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    return child;
  }();
  const std::string partial = TemporaryFileName("KW1.dcm", ended, 0);
  const std::string running = TemporaryFileName("KW2.dcm", 1, 0); // another station still writing
  for (const std::string &name : {partial, running}) {
    std::ofstream(dir_.path() / "temp" / name) << "half an object";
  }
  auto session = NewSession();
  session->Open();
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "temp" / partial));
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "temp" / running));
  EXPECT_TRUE(log_.StartingWith("WARNING, files left").empty()) << "no object was left";
  EXPECT_TRUE(log_.Contains("WARNING, removed a partial file left by an interrupted write: " + dir_.folder() + "temp/" +
                            partial));
  ASSERT_TRUE(session->Close());

  std::ofstream(dir_.path() / "temp/A1231.dcm") << "an object left by a crash";
  auto next = NewSession();
  next->Open();
  EXPECT_EQ(log_.StartingWith("WARNING, files left"), std::vector<std::string>{"WARNING, files left in temp/: 1"});
}

TEST_F(AcquisitionSessionTest, NoFrameFromTheDeviceIsReportedAndNothingSaved) {
  auto session = NewSession();
  session->Open();
  source_.framesPerCapture = 0;
  source_.lateFrames = 1; // arrives after the wait gave up
  EXPECT_FALSE(session->Snap());
  EXPECT_EQ(source_.stops, 1);
  EXPECT_GE(source_.clears, 1);
  EXPECT_EQ(source_.FrameCount(), 0);
  source_.lateFrames = 0;
  ASSERT_TRUE(session->Video());
  for (int i = 0; i < 5; ++i) {
    session->Tick();
  }
  EXPECT_FALSE(session->Recording());
  EXPECT_TRUE(session->Files().empty());
  EXPECT_EQ(log_.StartingWith("ERROR, no frame from capture device").size(), 2u);
  EXPECT_EQ(boxes_, (std::vector<std::string>(2, std::string(TEXT_NO_FRAME))));
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path() / "temp"));
  // Frames arrive again: a still and a clip are saved.
  source_.framesPerCapture = 1;
  EXPECT_TRUE(session->Snap());
  RecordClip(*session);
  EXPECT_EQ(session->Files().size(), 2u);
}

TEST_F(AcquisitionSessionTest, AFailedWriteTellsTheOperator) {
  auto session = NewSession();
  session->Open();
  std::filesystem::remove(dir_.path() / "temp");
  EXPECT_FALSE(session->Snap());
  RecordClip(*session);
  EXPECT_TRUE(session->Files().empty());
  EXPECT_EQ(log_.StartingWith("ERROR, SaveStill, couldn't write ").size(), 1u);
  EXPECT_EQ(log_.StartingWith("ERROR, SaveClip, couldn't write ").size(), 1u);
  EXPECT_EQ(boxes_, (std::vector<std::string>(2, std::string(TEXT_IMAGE_NOT_SAVED))));
  // Nothing to lose: closing asks nothing.
  EXPECT_TRUE(session->Close());
  EXPECT_EQ(boxes_.size(), 2u);
  // With the folder back, the acquisition opened again saves both kinds.
  std::filesystem::create_directories(dir_.path() / "temp");
  ASSERT_TRUE(session->Open());
  EXPECT_TRUE(session->Snap());
  RecordClip(*session);
  EXPECT_EQ(session->Files().size(), 2u);
  EXPECT_EQ(boxes_.size(), 2u);
}

// The disk fills while a clip is written (a file size limit stands in for
// it): the clip is reported as not saved and not listed, the still taken
// before it stays, and once there is room again the next clip is saved.
TEST_F(AcquisitionSessionTest, ADiskThatFillsDuringAClipKeepsTheStillAndTheNextClipIsSaved) {
  auto session = NewSession();
  session->Open();
  ASSERT_TRUE(session->Snap());
  ASSERT_EQ(session->Files().size(), 1u);
  const std::filesystem::path still = session->Files()[0].path;
  const auto stillSize = std::filesystem::file_size(still);

  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  // Room for the still and the log, far too little for 200 frames.
  rlimit full = saved;
  full.rlim_cur = static_cast<rlim_t>(stillSize + 16 * 1024);
  source_.framesPerCapture = 200;
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with EFBIG instead
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
  RecordClip(*session);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);

  ASSERT_EQ(session->Files().size(), 1u);
  EXPECT_EQ(session->Files()[0].path, still);
  EXPECT_EQ(std::filesystem::file_size(still), stillSize);
  // No cut-short clip is left behind to be counted as a leftover later.
  const auto inTemp =
      std::distance(std::filesystem::directory_iterator(dir_.path() / "temp"), std::filesystem::directory_iterator());
  EXPECT_EQ(inTemp, 1);
  EXPECT_EQ(log_.StartingWith("ERROR, SaveClip, couldn't write ").size(), 1u);
  EXPECT_EQ(boxes_, (std::vector<std::string>{std::string(TEXT_IMAGE_NOT_SAVED)}));

  RecordClip(*session);
  ASSERT_EQ(session->Files().size(), 2u);
  EXPECT_EQ(session->Files()[1].frames, 200);
  DcmObj clip;
  EXPECT_TRUE(clip.Read(session->Files()[1].path));
}

} // namespace
} // namespace fw
