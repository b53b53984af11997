// Start-up of the station: program folder, working folders, log target,
// caption, End, and the last-resort box for escaping exceptions.
#include "app/FramewellApplication.h"
#include "app/TForm1.h"
#include "base/Log.h"
#include "base/ProgramFolder.h"
#include "framewell/Version.h"
#include "tests/support/TempDir.h"
#include "ui/MessageBoxes.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace fw {
namespace {

using test::ReadFileBytes;
using test::TempDir;
namespace fs = std::filesystem;
using namespace std::chrono;

// Records every box instead of showing it.
struct RecordedBoxes {
  std::vector<MessageRequest> shown;
  ScopedMessageHandler handler{[this](const MessageRequest &request) {
    shown.push_back(request);
    return MessageAnswer::Ok;
  }};
};

class StartupTest : public ::testing::Test {
protected:
  void SetUp() override {
    ::setenv("FRAMEWELL_HOME", home.path().c_str(), 1);
    FreeLogTarget();
  }
  void TearDown() override {
    ::unsetenv("FRAMEWELL_HOME");
    FreeLogTarget();
  }
  TempDir home;
};

TEST_F(StartupTest, CreatesMissingWorkingFolders) {
  ApplyStartupSettings(home.folder(), year{2024} / March / 9);
  EXPECT_TRUE(fs::is_directory(home.path() / "logs"));
  EXPECT_TRUE(fs::is_directory(home.path() / "temp"));
}

TEST_F(StartupTest, LeavesExistingWorkingFoldersAsTheyAre) {
  fs::create_directories(home.path() / "temp");
  fs::create_directories(home.path() / "logs");
  { std::ofstream(home.path() / "temp" / "kept.dcm") << "x"; }
  ApplyStartupSettings(home.folder(), year{2024} / March / 9);
  EXPECT_EQ(ReadFileBytes(home.path() / "temp" / "kept.dcm"), "x");
}

// A program folder that is a file: nothing is created or replaced, the log
// target still names the day's file, and writing to it fails quietly.
TEST_F(StartupTest, UncreatableFoldersAreIgnored) {
  const std::string blocked = home.folder() + "file-not-folder/";
  { std::ofstream(home.path() / "file-not-folder") << "x"; }
  std::string logPath;
  EXPECT_NO_THROW(logPath = ApplyStartupSettings(blocked, year{2024} / March / 9));
  EXPECT_EQ(logPath, blocked + "logs/20240309_qbk.log");
  EXPECT_EQ(LogTargetPath(), logPath);
  EXPECT_NO_THROW(WriteLog("INFO, goes nowhere"));
  EXPECT_TRUE(fs::is_regular_file(home.path() / "file-not-folder"));
  EXPECT_EQ(ReadFileBytes(home.path() / "file-not-folder"), "x");
  std::vector<std::string> entries;
  for (const auto &entry : fs::directory_iterator(home.path())) {
    entries.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(entries, std::vector<std::string>{"file-not-folder"});
}

TEST_F(StartupTest, LogPathComesFromStartDate) {
  struct Case {
    year_month_day date;
    const char *file;
  };
  for (const Case &c : {Case{year{2024} / March / 9, "logs/20240309_qbk.log"},
                        Case{year{1999} / December / 31, "logs/19991231_qbk.log"}}) {
    EXPECT_EQ(ApplyStartupSettings(home.folder(), c.date), home.folder() + c.file);
    EXPECT_EQ(LogTargetPath(), home.folder() + c.file);
  }
}

TEST(ProgramFolderTest, ResolvesInOrderOfPreference) {
  struct Case {
    const char *name;
    ProgramFolderInputs inputs;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"OverrideWins", {"/opt/fw/framewell", true, "/srv/fw", "/xdg", "/home/op"}, "/srv/fw/"},
      {"OverrideGetsTrailingSlashOnce", {"/opt/fw/framewell", true, "/srv/fw/", "", ""}, "/srv/fw/"},
      {"WritableExecutableFolder", {"/opt/fw/framewell", true, "", "/xdg", "/home/op"}, "/opt/fw/"},
      {"ReadOnlyFolderUsesXdg", {"/usr/bin/framewell", false, "", "/xdg", "/home/op"}, "/xdg/framewell/"},
      {"NoXdgUsesHome", {"/usr/bin/framewell", false, "", "", "/home/op"}, "/home/op/.local/share/framewell/"},
      // Root can write to /usr/bin: an installed station must still use XDG.
      {"InstalledWritableFolderUsesXdg", {"/usr/bin/framewell", true, "", "/xdg", "/root", true}, "/xdg/framewell/"},
      {"InstalledStillHonoursOverride", {"/usr/bin/framewell", true, "/srv/fw", "/xdg", "/root", true}, "/srv/fw/"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(ResolveProgramFolder(c.inputs), c.expected) << c.name;
  }
}

TEST_F(StartupTest, MainWindowCaptionFolderAndFirstLogLine) {
  TForm1 form;
  EXPECT_EQ(form.windowTitle().toStdString(), std::string("Framewell - ") + FRAMEWELL_VERSION_STRING);
  EXPECT_EQ(programFolder, home.folder());
  const auto logPath = LogTargetPath();
  ASSERT_TRUE(logPath.has_value());
  EXPECT_EQ(*logPath, home.folder() + "logs/" + DateText(LocalToday()) + "_qbk.log");
  EXPECT_NE(ReadFileBytes(*logPath).find(std::string(", INFO, Framewell ") + FRAMEWELL_VERSION_STRING + " started\r\n"),
            std::string::npos);
  EXPECT_TRUE(fs::is_directory(home.path() / "temp"));
}

TEST_F(StartupTest, EndClosesWindowAndReleasesLog) {
  TForm1 form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  const std::string logPath = *LogTargetPath();
  QTest::mouseClick(form.Button4, Qt::LeftButton);
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(LogTargetPath().has_value());
  const auto sizeBefore = fs::file_size(logPath);
  WriteLog("INFO, after close");
  EXPECT_EQ(fs::file_size(logPath), sizeBefore) << "no line after FormClose";
}

TEST(LastResortTest, ExceptionInSlotReachesBoxAndEndsLoopWithFailure) {
  RecordedBoxes boxes;
  QTimer::singleShot(0, [] { throw std::runtime_error("slot failed"); });
  // Safety net: a loop the exception did not end stops after 10 s.
  QTimer::singleShot(10000, [] { QCoreApplication::exit(0); });
  const int exitCode = QCoreApplication::exec();
  EXPECT_NE(exitCode, 0);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].kind, MessageKind::Error);
  EXPECT_EQ(boxes.shown[0].text, "slot failed");
}

TEST(LastResortTest, ExceptionInStartSequenceReachesBox) {
  RecordedBoxes boxes;
  const int exitCode = GuardedRun([]() -> int { throw std::runtime_error("start failed"); });
  EXPECT_NE(exitCode, 0);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "start failed");
}

} // namespace
} // namespace fw
