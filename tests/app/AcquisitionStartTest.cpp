// The whole station on the offscreen platform: the start sequence with the
// station's own acquisition window on a videotestsrc source, a typed
// patient, Acquire, a still taken in the acquisition window, and the window
// closed with its unsent-images question answered through the message seam.
#include "acquisition/TForm3.h"
#include "acquisition/VideoPreviewWidget.h"
#include "app/FramewellApplication.h"
#include "app/StationAcquisitionWindow.h"
#include "app/TForm1.h"
#include "base/Log.h"
#include "station/StationRecords.h"
#include "tests/support/TempDir.h"
#include "ui/MessageBoxes.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fw {
namespace {

namespace fs = std::filesystem;

std::size_t FilesIn(const fs::path &folder) {
  std::size_t n = 0;
  for (const auto &entry : fs::directory_iterator(folder))
    n += entry.is_regular_file() ? 1 : 0;
  return n;
}

// Runs `step` once `ready` holds, checking every 20 ms from inside whatever
// event loop runs (the main one or a modal window's).
void When(std::function<bool()> ready, std::function<void()> step) {
  auto *timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, ready = std::move(ready), step = std::move(step)] {
    if (ready()) {
      timer->stop();
      timer->deleteLater();
      step();
    }
  });
  timer->start();
}

TEST(AcquisitionStartTest, AcquireOpensTheAcquisitionWindowWhichTakesAStillAndCloses) {
  test::TempDir home;
  ::setenv("FRAMEWELL_HOME", home.path().c_str(), 1);
  ::setenv("FRAMEWELL_VIDEO_SOURCE", "videotestsrc is-live=true pattern=smpte", 1);
  StationConfig() = setupcfg{};
  StudyContext() = StudyInfo{};
  std::vector<MessageRequest> boxes;
  ScopedMessageHandler answer([&](const MessageRequest &request) {
    boxes.push_back(request);
    return request.kind == MessageKind::Question ? MessageAnswer::Yes : MessageAnswer::Ok;
  });

  TForm1 *mainWindow = nullptr;
  TForm3 *acquisitionWindow = nullptr;
  bool hiddenAtStart = false;
  bool stillTaken = false;
  bool acquireReturned = false;
  std::string title;
  std::size_t filesWhileOpen = 0;
  QTimer::singleShot(0, [&] {
    ASSERT_NE(mainWindow, nullptr);
    mainWindow->Edit1->setText("PID-42");
    mainWindow->Edit2->setText("Doe^Jane");
    mainWindow->Edit5->setText("ACC42");
    // Inside the acquisition window's modal loop, once it has opened.
    When([&] { return acquisitionWindow->isVisible() && acquisitionWindow->Opened(); },
         [&] {
           title = acquisitionWindow->windowTitle().toStdString();
           QTest::mouseClick(acquisitionWindow->Button3, Qt::LeftButton);
           stillTaken = acquisitionWindow->Image1->Picture().width() == THUMBNAIL_SIZE;
           filesWhileOpen = FilesIn(home.path() / "temp");
           // The picture shows the live video again after the still.
           if (auto *video = acquisitionWindow->findChild<VideoPreviewWidget *>()) {
             const long long shown = video->ConvertedFrames();
             const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
             while (video->ConvertedFrames() <= shown + 1 && std::chrono::steady_clock::now() < deadline)
               QTest::qWait(10);
           }
           fs::create_directories(FW_TEST_OUTPUT_DIR);
           acquisitionWindow->grab().save(QStringLiteral(FW_TEST_OUTPUT_DIR "/station_acquisition_window.png"));
           QTest::mouseClick(acquisitionWindow->Button1, Qt::LeftButton);
         });
    QTest::mouseClick(mainWindow->Button3, Qt::LeftButton); // Acquire: returns when the window closed
    acquireReturned = true;
    QTest::mouseClick(mainWindow->Button4, Qt::LeftButton); // End
  });
  QTimer::singleShot(30000, [] { QCoreApplication::exit(3); }); // safety net

  const int exitCode = RunStation(*qApp, [&](QWidget &main) {
    mainWindow = dynamic_cast<TForm1 *>(&main);
    auto host = CreateAcquisitionWindow(main);
    acquisitionWindow = &static_cast<StationAcquisitionWindow &>(*host).Form();
    hiddenAtStart = !acquisitionWindow->isVisible();
    return host;
  });

  EXPECT_EQ(exitCode, 0);
  EXPECT_TRUE(hiddenAtStart);
  EXPECT_TRUE(acquireReturned);
  EXPECT_EQ(title, "Acquisition Form - Doe^Jane");
  EXPECT_TRUE(stillTaken);
  EXPECT_EQ(filesWhileOpen, 1u) << "the still is an object in the program folder's temp/";
  EXPECT_EQ(FilesIn(home.path() / "temp"), 0u) << "closing deleted it";
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, MessageKind::Question);
  EXPECT_EQ(boxes[0].text, "Some images have not been sent to the PACS. Close and delete them?");
  EXPECT_EQ(StudyContext().patientID, "PID-42");
  EXPECT_EQ(StudyContext().accessionNumber, "ACC42");
  ASSERT_FALSE(StudyContext().studyInstanceUID.empty()) << "minted at the opening";
  std::string log;
  for (const auto &entry : fs::directory_iterator(home.path() / "logs"))
    log += test::ReadFileBytes(entry.path());
  EXPECT_NE(log.find("INFO, Study Instance UID = " + StudyContext().studyInstanceUID), std::string::npos);

  FreeLogTarget();
  StudyContext() = StudyInfo{};
  ::unsetenv("FRAMEWELL_VIDEO_SOURCE");
  ::unsetenv("FRAMEWELL_HOME");
}

} // namespace
} // namespace fw
