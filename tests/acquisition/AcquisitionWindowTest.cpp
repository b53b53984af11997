// The acquisition window on the offscreen platform over the station's own
// acquisition session and capture pipeline (videotestsrc), boxes answered
// through the message seam; sends go to a storescp started on loopback.
#include "acquisition/CaptureConfig.h"
#include "acquisition/CaptureSettingsDialog.h"
#include "acquisition/GstHandles.h"
#include "acquisition/MySampleGrabber.h"
#include "acquisition/StationAcquisition.h"
#include "acquisition/TForm3.h"
#include "base/Log.h"
#include "dicom/DcmObj.h"
#include "dicom/Uids.h"
#include "presentation/ImageConversion.h"
#include "station/StationRecords.h"
#include "tests/acquisition/FakeDeviceControls.h"
#include "tests/net/AssociationScripts.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/TempDir.h"
#include "ui/MessageBoxes.h"

#include <gst/gst.h>
#include <linux/videodev2.h>

#include <QApplication>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

namespace fw {
namespace {

using namespace std::chrono_literals;

bool WaitFor(const std::function<bool()> &condition, std::chrono::milliseconds limit = 5s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    QApplication::processEvents();
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

std::size_t Count(const std::string &text, const std::string &what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

bool SameTile(const QImage &strip, int slot, const QImage &tile) {
  for (int y = 0; y < THUMBNAIL_SIZE; ++y)
    if (std::memcmp(strip.constScanLine(y) + slot * THUMBNAIL_SIZE * 3, tile.constScanLine(y), THUMBNAIL_SIZE * 3) != 0)
      return false;
  return true;
}

std::size_t FilesIn(const std::filesystem::path &folder) {
  std::size_t n = 0;
  for (const auto &entry : std::filesystem::directory_iterator(folder))
    n += entry.is_regular_file() ? 1 : 0;
  return n;
}

class AcquisitionWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetLogTarget(dir_.folder() + "test.log", "", "");
    ::setenv("FRAMEWELL_VIDEO_SOURCE", "videotestsrc is-live=true pattern=smpte", 1);
    std::filesystem::create_directories(dir_.path() / "temp");
    UseCaptureSize(160, 120);
    StudyContext() = StudyInfo{};
    StudyContext().patientName = "Doe^John";
    StudyContext().patientID = "PID-1";
    StudyContext().accessionNumber = "A1";
    StudyContext().modality = "ES";
    StationConfig() = setupcfg{};
    form_.Timer1.stop(); // the tests drive Timer1Timer themselves
  }
  void TearDown() override {
    if (form_.isVisible()) {
      ScopedMessageHandler yes([](const MessageRequest &) { return MessageAnswer::Yes; });
      form_.Button1Click();
    }
    ::unsetenv("FRAMEWELL_VIDEO_SOURCE");
    StudyContext() = StudyInfo{};
    StationConfig() = setupcfg{};
    InstanceCounters::ForgetRun();
    FreeLogTarget();
  }
  static AcquisitionSessionSetup Setup(const std::string &folder) {
    InstanceCounters::ForgetRun();
    AcquisitionSessionSetup setup;
    setup.programFolder = folder;
    setup.sendTimeoutSeconds = 10;
    return setup; // boxes through ShowMessage, as in the station
  }
  // "videocap.cfg" as the opening reads it.
  void UseCaptureSize(int width, int height) {
    ASSERT_TRUE(WriteCaptureConfig(dir_.folder() + "videocap.cfg", CaptureConfig{1, width, height, 0}));
  }
  // A storescp taking JPEG baseline as the station's PACS.
  void StartPacs() {
    const std::uint16_t port = test::PeerProcess::FreePort();
    std::filesystem::create_directories(received());
    ASSERT_TRUE(pacs_.Start({"storescp", "-aet", "PACS", "-od", received().string(), "+xy", std::to_string(port)},
                            dir_.folder() + "storescp.log"));
    ASSERT_TRUE(pacs_.WaitListening(port)) << "storescp did not start";
    StationConfig().PacsIP = "127.0.0.1";
    StationConfig().PacsPort = std::to_string(port);
    StationConfig().PacsAET = "PACS";
  }
  std::filesystem::path received() const { return dir_.path() / "received"; }
  AcquisitionSession &Session() { return acquisition_.Session(); }
  MySampleGrabber &Grabber() { return *acquisition_.Grabber(); }
  // Shows the window (as the modal showing would) and waits for the opening.
  void Open() {
    form_.show();
    ASSERT_TRUE(WaitFor([&] { return form_.Opened(); }));
  }
  // The fifth tick, once the clip holds a few frames.
  void EndClip() {
    if (Session().Recording()) {
      ASSERT_TRUE(WaitFor([&] { return Grabber().FrameCount() >= 3; }));
    }
    for (int i = 0; i < 5; ++i)
      form_.Timer1Timer();
  }
  std::string Log() const { return test::ReadFileBytes(dir_.path() / "test.log"); }
  void RightClick(QWidget *on, QPoint at) { QTest::mouseClick(on, Qt::RightButton, {}, at); }

  test::TempDir dir_;
  test::PeerProcess pacs_;
  StationAcquisition acquisition_{Setup(dir_.folder())};
  TForm3 form_{acquisition_};
  std::vector<MessageRequest> boxes_;
  ScopedMessageHandler answer_{[this](const MessageRequest &r) {
    boxes_.push_back(r);
    return MessageAnswer::Ok;
  }};
};

// The context holds names in UTF-8; the caption shows them as written.
TEST_F(AcquisitionWindowTest, CaptionShowsANameInItsOwnScript) {
  const char *greek =
      "\xCE\xA0\xCE\xB1\xCF\x80\xCE\xB1\xCE\xB4\xCF\x8C\xCF\x80\xCE\xBF\xCF\x85\xCE\xBB\xCE\xBF\xCF\x82^"
      "\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82";
  StudyContext().patientName = greek;
  Open();
  EXPECT_EQ(form_.windowTitle(), QStringLiteral("Acquisition Form - ") + QString::fromUtf8(greek));
}

TEST_F(AcquisitionWindowTest, LayoutCaptionsTabOrderAndTimer) {
  Open();
  EXPECT_EQ(form_.size(), QSize(784, 612));
  EXPECT_EQ(form_.windowTitle(), QStringLiteral("Acquisition Form - Doe^John"));
  const struct {
    QWidget *widget;
    QRect geometry;
    const char *caption;
  } layout[] = {
      {form_.ProgressBar1, {676, 8, 100, 17}, nullptr}, {form_.Button4, {701, 91, 75, 25}, "Video"},
      {form_.Button3, {701, 122, 75, 25}, "Snap"},      {form_.Button5, {701, 153, 75, 25}, "Configuration"},
      {form_.Button2, {701, 184, 75, 25}, "Send"},      {form_.Button1, {701, 215, 75, 25}, "Close"},
      {form_.Shape1, {717, 272, 32, 32}, nullptr},      {form_.ScrollBox1, {0, 492, 784, 120}, nullptr},
  };
  for (const auto &c : layout) {
    EXPECT_EQ(c.widget->geometry(), c.geometry) << c.widget->metaObject()->className();
    if (c.caption != nullptr) {
      EXPECT_EQ(static_cast<QPushButton *>(c.widget)->text(), QString::fromLatin1(c.caption));
    }
  }
  EXPECT_EQ(form_.Image1->pos(), QPoint(5, 5));
  EXPECT_EQ(form_.ProgressBar1->minimum(), 0);
  EXPECT_EQ(form_.ProgressBar1->maximum(), 100);
  EXPECT_EQ(form_.Shape1->Colour(), QColor(0, 128, 0));
  EXPECT_EQ(form_.Timer1.interval(), 1000);
  EXPECT_TRUE(form_.Button3->toolTip().contains("Space"));
  EXPECT_TRUE(form_.Button3->toolTip().contains("F9"));
  EXPECT_TRUE(form_.Button4->toolTip().contains("F10"));

  // Tab moves through the controls that take the focus in this order.
  const QWidget *order[] = {form_.Button1, form_.ScrollBox1, form_.Button2,
                            form_.Button3, form_.Button4,    form_.Button5};
  auto nextTabStop = [](const QWidget *w) {
    do
      w = w->nextInFocusChain();
    while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(w->window()));
    return w;
  };
  for (std::size_t i = 0; i + 1 < std::size(order); ++i)
    EXPECT_EQ(nextTabStop(order[i]), order[i + 1]) << i;

  // Enter does not press a button nobody aimed at.
  for (QPushButton *b : {form_.Button1, form_.Button2, form_.Button3, form_.Button4, form_.Button5})
    EXPECT_FALSE(b->autoDefault() || b->isDefault());

  // A larger configured size is fitted into the free area with its aspect.
  ASSERT_NE(Grabber().Preview(), nullptr);
  EXPECT_EQ(Grabber().Preview()->geometry(), QRect(0, 0, 160, 120));
}

TEST_F(AcquisitionWindowTest, LargeLiveVideoIsFittedKeepingItsAspectRatio) {
  UseCaptureSize(1280, 720);
  Open();
  ASSERT_TRUE(Session().PipelineReady());
  auto *preview = Grabber().Preview();
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->geometry(), QRect(0, 0, 672, 378));
  EXPECT_EQ(Grabber().FrameWidth(), 1280) << "the captured frames keep the device size";
  // Each shown frame is converted once; repaints without a new frame reuse it.
  ASSERT_TRUE(WaitFor([&] { return preview->ConvertedFrames() >= 2; }));
  Grabber().StopCapture(); // pauses the source for a moment
  const long long converted = preview->ConvertedFrames();
  for (int i = 0; i < 5; ++i)
    preview->repaint();
  EXPECT_LE(preview->ConvertedFrames(), converted + 1);
}

TEST_F(AcquisitionWindowTest, OpeningRunsOncePerOpeningAndNotAfterABox) {
  Open();
  EXPECT_EQ(Count(Log(), "INFO, Study Instance UID = "), 1u);
  // Send's result box activates the window again when it goes.
  form_.Button2Click();
  ASSERT_EQ(boxes_.size(), 1u);
  form_.activateWindow();
  QApplication::processEvents();
  form_.hide(); // as a box over a hidden-then-shown window might
  form_.show();
  QApplication::processEvents();
  EXPECT_EQ(Count(Log(), "INFO, Study Instance UID = "), 1u);

  form_.Button1Click();
  EXPECT_FALSE(form_.isVisible());
  Open();
  EXPECT_EQ(Count(Log(), "INFO, Study Instance UID = "), 2u);
}

TEST_F(AcquisitionWindowTest, SnapVideoSnapGiveThreeCaptionedThumbnails) {
  Open();
  ASSERT_TRUE(Session().PipelineReady());
  QTest::mouseClick(form_.Button3, Qt::LeftButton);
  QTest::mouseClick(form_.Button4, Qt::LeftButton);
  EXPECT_TRUE(Session().Recording());
  EXPECT_EQ(form_.Shape1->Colour(), QColor(255, 0, 0));
  for (QPushButton *b : {form_.Button1, form_.Button2, form_.Button3, form_.Button4, form_.Button5})
    EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();
  std::this_thread::sleep_for(300ms);
  EndClip();
  EXPECT_FALSE(Session().Recording());
  EXPECT_EQ(form_.Shape1->Colour(), QColor(0, 128, 0));
  for (QPushButton *b : {form_.Button1, form_.Button2, form_.Button3, form_.Button4, form_.Button5})
    EXPECT_TRUE(b->isEnabled()) << b->text().toStdString();
  form_.Button3Click();

  const auto files = acquisition_.FileList();
  ASSERT_EQ(files.size(), 3u);
  const QImage &strip = form_.Image1->Picture();
  ASSERT_EQ(strip.size(), QSize(3 * 96, 96));
  EXPECT_EQ(form_.Image1->width(), 3 * 96);
  // Captions "1", "2/n", "3": the tiles are those of the objects as drawn
  // from the whole file.
  for (int i = 0; i < 3; ++i) {
    DcmObj ds;
    ASSERT_TRUE(ds.Read(files[static_cast<std::size_t>(i)]));
    TImages described;
    PrepareDisplayImage(described, ds);
    EXPECT_EQ(ThumbnailCaption(described),
              i == 1 ? "2/" + std::to_string(described.frameCount) : std::to_string(i + 1));
    EXPECT_EQ(described.frameCount >= 2, i == 1);
    ASSERT_TRUE(ConvertTransferSyntax(ds, EXPLICIT_VR_LITTLE_ENDIAN));
    TImages images;
    PrepareDisplayImage(images, ds);
    EXPECT_TRUE(SameTile(strip, i, RenderThumbnailTile(images, ThumbnailCaption(images)))) << i;
  }
  EXPECT_EQ(form_.Thumbnails().Decodes(), 3) << "each object decoded once";

  // The picture shows the live video as well.
  const long long converted = Grabber().Preview()->ConvertedFrames();
  ASSERT_TRUE(WaitFor([&] { return Grabber().Preview()->ConvertedFrames() > converted; }));
  std::filesystem::create_directories(FW_TEST_OUTPUT_DIR);
  const QString shot = QStringLiteral(FW_TEST_OUTPUT_DIR "/acquisition_window_three_thumbnails.png");
  ASSERT_TRUE(form_.grab().save(shot));
}

TEST_F(AcquisitionWindowTest, RightButtonOnFreeSurfaceOrVideoSnapsNothingElseDoes) {
  Open();
  ASSERT_TRUE(Session().PipelineReady());
  QTest::mouseClick(&form_, Qt::LeftButton, {}, QPoint(690, 400));
  EXPECT_EQ(acquisition_.FileList().size(), 0u) << "left button";
  RightClick(&form_, QPoint(690, 400));
  EXPECT_EQ(acquisition_.FileList().size(), 1u) << "free surface";
  RightClick(&form_, QPoint(50, 50));
  EXPECT_EQ(acquisition_.FileList().size(), 2u) << "on the live video";
  RightClick(form_.Button2, QPoint(10, 10));
  RightClick(form_.ScrollBox1->viewport(), QPoint(600, 50));
  EXPECT_EQ(acquisition_.FileList().size(), 2u) << "on controls";

  // During a clip even a disabled Snap button takes no right click.
  form_.Button4Click();
  ASSERT_TRUE(Session().Recording());
  RightClick(form_.Button3, QPoint(10, 10));
  RightClick(&form_, QPoint(690, 400));
  QTest::keyClick(&form_, Qt::Key_Space);
  EXPECT_TRUE(Session().Recording());
  EndClip();
  ASSERT_EQ(Session().Files().size(), 3u) << "the clip and no still taken from it";
  EXPECT_GE(Session().Files()[2].frames, 3);
}

TEST_F(AcquisitionWindowTest, KeysSnapAndRecordWhateverHasTheFocus) {
  Open();
  ASSERT_TRUE(Session().PipelineReady());
  form_.Button1->setFocus();
  QTest::keyClick(form_.Button1, Qt::Key_Space);
  EXPECT_TRUE(form_.isVisible()) << "Space must not press the focused Close";
  EXPECT_EQ(acquisition_.FileList().size(), 1u);
  EXPECT_TRUE(Session().IsOpen());

  form_.Button2->setFocus();
  QTest::keyClick(form_.Button2, Qt::Key_F9);
  EXPECT_EQ(acquisition_.FileList().size(), 2u);
  EXPECT_TRUE(boxes_.empty()) << "Send was not pressed";

  QTest::keyClick(form_.Button2, Qt::Key_F10);
  EXPECT_TRUE(Session().Recording());
  QTest::keyClick(form_.Button2, Qt::Key_F10);
  QTest::keyClick(form_.Button2, Qt::Key_Space);
  EndClip();
  EXPECT_EQ(acquisition_.FileList().size(), 3u) << "keys while recording do nothing";
}

TEST_F(AcquisitionWindowTest, RightClickOnTheStripAsksDeleteAndDeletesNothing) {
  Open();
  form_.Button3Click();
  form_.Button3Click();
  ASSERT_EQ(acquisition_.FileList().size(), 2u);
  RightClick(form_.Image1, QPoint(96 + 10, 20));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Delete?");
  QTest::mouseClick(form_.Image1, Qt::LeftButton, {}, QPoint(10, 20));
  EXPECT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(acquisition_.FileList().size(), 2u);
  for (const auto &f : acquisition_.FileList())
    EXPECT_TRUE(std::filesystem::exists(f));
}

TEST_F(AcquisitionWindowTest, WithoutADeviceSnapVideoConfigurationDoNothingAndSendFails) {
  ::setenv("FRAMEWELL_VIDEO_SOURCE", "no_such_element", 1);
  std::filesystem::remove(dir_.path() / "videocap.cfg");
  int dialogs = 0;
  Grabber().SetSettingsDialogRunner([&](CaptureSettingsDialog &) {
    ++dialogs;
    return int(QDialog::Accepted);
  });
  Open();
  EXPECT_FALSE(Session().PipelineReady());
  EXPECT_TRUE(boxes_.empty()) << "a missing device is not announced";
  form_.Button3Click();
  RightClick(&form_, QPoint(690, 400));
  form_.Button4Click();
  EXPECT_FALSE(Session().Recording());
  EXPECT_EQ(form_.Shape1->Colour(), QColor(0, 128, 0));
  form_.Button5Click();
  EXPECT_EQ(dialogs, 0);
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "videocap.cfg")) << "Configuration did nothing";
  EXPECT_TRUE(acquisition_.FileList().empty());
  EXPECT_EQ(FilesIn(dir_.path() / "temp"), 0u);
  form_.Button2Click();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "ERROR sending files, please check log file");
  EXPECT_EQ(Count(Log(), "ERROR, Send, no files to send"), 1u);
}

TEST_F(AcquisitionWindowTest, DuringASendEverythingButProgressWaitsAndEscapeIsRefused) {
  StartPacs();
  Open();
  form_.Button3Click();
  form_.Button3Click();
  form_.Button3Click();
  std::vector<int> shown;
  bool anyEnabled = false;
  // The session lets the window's events run after each file it stored.
  Session().processEvents = [&] {
    QApplication::processEvents();
    shown.push_back(form_.ProgressBar1->value());
    for (QPushButton *b : {form_.Button1, form_.Button2, form_.Button3, form_.Button4, form_.Button5})
      anyEnabled = anyEnabled || b->isEnabled();
    QTest::keyClick(&form_, Qt::Key_Escape);
    form_.close(); // the title bar's close
    QTest::keyClick(&form_, Qt::Key_Space);
  };
  form_.Button2Click();
  EXPECT_EQ(shown, (std::vector<int>{33, 66, 100}));
  EXPECT_FALSE(anyEnabled);
  EXPECT_TRUE(form_.isVisible());
  EXPECT_TRUE(Session().IsOpen());
  EXPECT_EQ(acquisition_.FileList().size(), 3u);
  for (const auto &f : acquisition_.FileList())
    EXPECT_TRUE(std::filesystem::exists(f));
  EXPECT_EQ(form_.ProgressBar1->value(), 0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Files sent OK");
  EXPECT_EQ(FilesIn(received()), 3u);
  EXPECT_TRUE(form_.Button1->isEnabled());
}

// A PACS that accepts and then never answers: the send waits for the
// response with the window's events running, Cancel (shown beside the
// progress only while sending) ends it at once and the image stays.
TEST_F(AcquisitionWindowTest, CancelStopsASendToAPacsThatNeverAnswersAndKeepsTheImage) {
  test::ScriptedPeer pacs;
  pacs.Receive(1)
      .Send(test::AcceptPdu(test::AcceptItem(1, 0, std::string(JPEG_BASELINE))))
      .ReceiveUntilClosed()
      .Start();
  StationConfig().PacsIP = "127.0.0.1";
  StationConfig().PacsPort = pacs.PortText();
  StationConfig().PacsAET = "PACS";
  Open();
  EXPECT_FALSE(form_.Button6->isVisible());
  form_.Button3Click();
  const auto files = acquisition_.FileList();
  ASSERT_EQ(files.size(), 1u);
  bool cancelOffered = false;
  bool othersEnabled = true;
  QTimer::singleShot(300, &form_, [&] {
    cancelOffered = form_.Button6->isVisible() && form_.Button6->isEnabled();
    othersEnabled = false;
    for (QPushButton *b : {form_.Button1, form_.Button2, form_.Button3, form_.Button4, form_.Button5})
      othersEnabled = othersEnabled || b->isEnabled();
    std::filesystem::create_directories(FW_TEST_OUTPUT_DIR);
    form_.grab().save(QStringLiteral(FW_TEST_OUTPUT_DIR "/acquisition_window_sending_with_cancel.png"));
    form_.Button6->click();
  });
  const auto started = std::chrono::steady_clock::now();
  form_.Button2Click();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3)); // the time-out is 10 s
  EXPECT_TRUE(cancelOffered);
  EXPECT_FALSE(othersEnabled);
  EXPECT_FALSE(form_.Button6->isVisible());
  EXPECT_TRUE(form_.Button2->isEnabled());
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Sending cancelled, the images not sent are kept");
  EXPECT_TRUE(std::filesystem::exists(files[0]));
  EXPECT_TRUE(Session().HasUnsentFiles());
  EXPECT_EQ(Count(Log(), "WARNING, Send cancelled by the operator, 1 of 1 files not sent"), 1u);
  ASSERT_TRUE(pacs.Wait());
  const std::string received = pacs.Received();
  EXPECT_EQ(received.substr(received.size() - std::min<std::size_t>(10, received.size())), test::kAbort);
}

TEST_F(AcquisitionWindowTest, ClosingAsksForUnsentImagesAndThenDeletesTheFiles) {
  struct {
    const char *name;
    std::function<void(TForm3 &)> close;
  } const ways[] = {
      {"Close", [](TForm3 &f) { f.Button1Click(); }},
      {"Escape", [](TForm3 &f) { QTest::keyClick(&f, Qt::Key_Escape); }},
      {"title bar", [](TForm3 &f) { f.close(); }},
  };
  for (const auto &way : ways) {
    SCOPED_TRACE(way.name);
    Open();
    form_.Button3Click();
    const auto files = acquisition_.FileList();
    ASSERT_EQ(files.size(), 1u);
    {
      ScopedMessageHandler no([](const MessageRequest &) { return MessageAnswer::No; });
      way.close(form_);
    }
    EXPECT_TRUE(form_.isVisible()) << "No keeps the acquisition open";
    EXPECT_TRUE(std::filesystem::exists(files[0]));
    {
      std::vector<MessageRequest> asked;
      ScopedMessageHandler yes([&](const MessageRequest &r) {
        asked.push_back(r);
        return MessageAnswer::Yes;
      });
      way.close(form_);
      ASSERT_EQ(asked.size(), 1u);
      EXPECT_EQ(asked[0].text, "Some images have not been sent to the PACS. Close and delete them?");
    }
    EXPECT_FALSE(form_.isVisible());
    EXPECT_FALSE(std::filesystem::exists(files[0]));
    EXPECT_FALSE(form_.Opened());
  }
  // Once sent, nothing is asked.
  StartPacs();
  Open();
  form_.Button3Click();
  form_.Button2Click();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Files sent OK");
  boxes_.clear();
  form_.Button1Click();
  EXPECT_TRUE(boxes_.empty());
  EXPECT_FALSE(form_.isVisible());
}

TEST_F(AcquisitionWindowTest, ASourceThatFailsDuringAClipSavesItAndStopsCapture) {
  ::setenv("FRAMEWELL_VIDEO_SOURCE", "videotestsrc name=device is-live=true", 1);
  Open();
  ASSERT_TRUE(Session().PipelineReady());
  form_.Button4Click();
  ASSERT_TRUE(WaitFor([&] { return Grabber().FrameCount() >= 3; }));
  {
    const gst::Element device(Grabber().FindElement("device"));
    ASSERT_NE(device, nullptr);
    const gst::Error error(g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, "cable pulled"));
    gst_element_post_message(device.get(), gst_message_new_error(GST_OBJECT(device.get()), error.get(), "test"));
  }

  ASSERT_TRUE(WaitFor([&] { return !Session().Recording(); }));
  EXPECT_FALSE(Session().PipelineReady());
  EXPECT_EQ(Count(Log(), "ERROR, capture device stopped, cable pulled"), 1u);
  ASSERT_EQ(acquisition_.FileList().size(), 1u) << "the clip keeps the frames it has";
  EXPECT_EQ(form_.Image1->Picture().width(), 96);
  EXPECT_EQ(form_.Shape1->Colour(), QColor(0, 128, 0));
  EXPECT_TRUE(form_.Button3->isEnabled());
  form_.Button3Click();
  form_.Button4Click();
  EXPECT_EQ(acquisition_.FileList().size(), 1u);
  EXPECT_FALSE(Session().Recording());

  // Closing lets the failed device go as well.
  ScopedMessageHandler yes([](const MessageRequest &) { return MessageAnswer::Yes; });
  form_.Button1Click();
  EXPECT_FALSE(form_.isVisible());
  EXPECT_FALSE(Grabber().Running());
}

TEST_F(AcquisitionWindowTest, ConfigurationWritesTheFileAndTheLiveVideoFollowsTheChosenSize) {
  auto device = std::make_unique<test::FakeDeviceControls>();
  device->inputs = {{0, "Composite"}};
  device->standards = {{V4L2_STD_NTSC, "NTSC"}};
  device->sizes = {{160, 120}, {320, 240}};
  Grabber().SetDeviceControls(std::move(device));
  Grabber().SetSettingsDialogRunner([](CaptureSettingsDialog &dialog) {
    dialog.SizeBox()->setCurrentIndex(1);
    return int(QDialog::Accepted);
  });
  Open();
  ASSERT_TRUE(Session().PipelineReady());
  EXPECT_EQ(Grabber().Preview()->geometry(), QRect(0, 0, 160, 120));
  form_.Button5Click();
  ASSERT_TRUE(Session().PipelineReady());
  CaptureConfig written;
  ASSERT_TRUE(ReadCaptureConfig(dir_.folder() + "videocap.cfg", written));
  EXPECT_EQ(written.width, 320);
  EXPECT_EQ(written.height, 240);
  EXPECT_EQ(Grabber().FrameWidth(), 320);
  ASSERT_NE(Grabber().Preview(), nullptr);
  EXPECT_EQ(Grabber().Preview()->geometry(), QRect(0, 0, 320, 240));
  form_.Button3Click();
  EXPECT_EQ(acquisition_.FileList().size(), 1u) << "the rebuilt pipeline takes stills";
}

} // namespace
} // namespace fw
