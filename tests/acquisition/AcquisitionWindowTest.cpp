// The acquisition window on the offscreen platform over a stand-in
// acquisition with a real capture pipeline (videotestsrc), boxes answered
// through the message seam.
#include "acquisition/CaptureConfig.h"
#include "acquisition/MySampleGrabber.h"
#include "acquisition/StationRecords.h"
#include "acquisition/TForm3.h"
#include "app/base/Log.h"
#include "app/ui/MessageBoxes.h"
#include "presentation/ImageConversion.h"
#include "tests/acquisition/FakeAcquisition.h"
#include "tests/support/TempDir.h"

#include <gst/gst.h>

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
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

class AcquisitionWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetLogTarget(dir_.folder() + "test.log", "", "");
    ::setenv("FRAMEWELL_VIDEO_SOURCE", "videotestsrc is-live=true pattern=smpte", 1);
    captureConfig = CaptureConfig{1, 160, 120, 0};
    StudyContext().patientName = "Doe^John";
    form_.Timer1.stop(); // the tests drive Timer1Timer themselves
  }
  void TearDown() override {
    if (form_.isVisible()) {
      ScopedMessageHandler yes([](const MessageRequest &) { return MessageAnswer::Yes; });
      form_.Button1Click();
    }
    ::unsetenv("FRAMEWELL_VIDEO_SOURCE");
    captureConfig = CaptureConfig{};
    StudyContext() = StudyInfo{};
    FreeLogTarget();
  }
  // Shows the window (as the modal showing would) and waits for the opening.
  void Open() {
    form_.show();
    ASSERT_TRUE(WaitFor([&] { return form_.Opened(); }));
  }
  // The fifth tick, once the clip holds a few frames.
  void EndClip() {
    if (session_.Recording()) {
      ASSERT_TRUE(WaitFor([&] { return session_.Grabber()->FrameCount() >= 3; }));
    }
    for (int i = 0; i < 5; ++i)
      form_.Timer1Timer();
  }
  std::string Log() const { return test::ReadFileBytes(dir_.path() / "test.log"); }
  void RightClick(QWidget *on, QPoint at) { QTest::mouseClick(on, Qt::RightButton, {}, at); }

  test::TempDir dir_;
  test::FakeAcquisition session_{dir_.folder()};
  TForm3 form_{session_};
  std::vector<MessageRequest> boxes_;
  ScopedMessageHandler answer_{[this](const MessageRequest &r) {
    boxes_.push_back(r);
    return MessageAnswer::Ok;
  }};
};

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
  ASSERT_NE(session_.Grabber()->Preview(), nullptr);
  EXPECT_EQ(session_.Grabber()->Preview()->geometry(), QRect(0, 0, 160, 120));
}

TEST_F(AcquisitionWindowTest, LargeLiveVideoIsFittedKeepingItsAspectRatio) {
  captureConfig = CaptureConfig{1, 1280, 720, 0};
  Open();
  ASSERT_TRUE(session_.PipelineReady());
  auto *preview = session_.Grabber()->Preview();
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->geometry(), QRect(0, 0, 672, 378));
  EXPECT_EQ(session_.Grabber()->FrameWidth(), 1280) << "the captured frames keep the device size";
  // Each shown frame is converted once; repaints without a new frame reuse it.
  ASSERT_TRUE(WaitFor([&] { return preview->ConvertedFrames() >= 2; }));
  session_.Grabber()->StopCapture(); // pauses the source for a moment
  const long long converted = preview->ConvertedFrames();
  for (int i = 0; i < 5; ++i)
    preview->repaint();
  EXPECT_LE(preview->ConvertedFrames(), converted + 1);
}

TEST_F(AcquisitionWindowTest, OpeningRunsOncePerOpeningAndNotAfterABox) {
  Open();
  EXPECT_EQ(session_.opens, 1);
  // Send's result box activates the window again when it goes.
  form_.Button2Click();
  ASSERT_EQ(boxes_.size(), 1u);
  form_.activateWindow();
  QApplication::processEvents();
  form_.hide(); // as a box over a hidden-then-shown window might
  form_.show();
  QApplication::processEvents();
  EXPECT_EQ(session_.opens, 1);
  EXPECT_EQ(Count(Log(), "INFO, Study Instance UID = "), 1u);

  form_.Button1Click();
  EXPECT_FALSE(form_.isVisible());
  Open();
  EXPECT_EQ(session_.opens, 2);
  EXPECT_EQ(Count(Log(), "INFO, Study Instance UID = "), 2u);
}

TEST_F(AcquisitionWindowTest, SnapVideoSnapGiveThreeCaptionedThumbnails) {
  Open();
  ASSERT_TRUE(session_.PipelineReady());
  QTest::mouseClick(form_.Button3, Qt::LeftButton);
  QTest::mouseClick(form_.Button4, Qt::LeftButton);
  EXPECT_TRUE(session_.Recording());
  EXPECT_EQ(form_.Shape1->Colour(), QColor(255, 0, 0));
  for (QPushButton *b : {form_.Button1, form_.Button2, form_.Button3, form_.Button4, form_.Button5})
    EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();
  std::this_thread::sleep_for(300ms);
  EndClip();
  EXPECT_FALSE(session_.Recording());
  EXPECT_EQ(form_.Shape1->Colour(), QColor(0, 128, 0));
  for (QPushButton *b : {form_.Button1, form_.Button2, form_.Button3, form_.Button4, form_.Button5})
    EXPECT_TRUE(b->isEnabled()) << b->text().toStdString();
  form_.Button3Click();

  const auto files = session_.FileList();
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
  const long long converted = session_.Grabber()->Preview()->ConvertedFrames();
  ASSERT_TRUE(WaitFor([&] { return session_.Grabber()->Preview()->ConvertedFrames() > converted; }));
  std::filesystem::create_directories(FW_TEST_OUTPUT_DIR);
  const QString shot = QStringLiteral(FW_TEST_OUTPUT_DIR "/acquisition_window_three_thumbnails.png");
  ASSERT_TRUE(form_.grab().save(shot));
}

TEST_F(AcquisitionWindowTest, RightButtonOnFreeSurfaceOrVideoSnapsNothingElseDoes) {
  Open();
  ASSERT_TRUE(session_.PipelineReady());
  QTest::mouseClick(&form_, Qt::LeftButton, {}, QPoint(690, 400));
  EXPECT_EQ(session_.FileList().size(), 0u) << "left button";
  RightClick(&form_, QPoint(690, 400));
  EXPECT_EQ(session_.FileList().size(), 1u) << "free surface";
  RightClick(&form_, QPoint(50, 50));
  EXPECT_EQ(session_.FileList().size(), 2u) << "on the live video";
  RightClick(form_.Button2, QPoint(10, 10));
  RightClick(form_.ScrollBox1->viewport(), QPoint(600, 50));
  EXPECT_EQ(session_.FileList().size(), 2u) << "on controls";

  // During a clip even a disabled Snap button takes no right click.
  form_.Button4Click();
  const int snaps = session_.snaps;
  RightClick(form_.Button3, QPoint(10, 10));
  RightClick(&form_, QPoint(690, 400));
  QTest::keyClick(&form_, Qt::Key_Space);
  EXPECT_EQ(session_.snaps, snaps);
  EndClip();
  EXPECT_EQ(session_.FileList().size(), 3u);
}

TEST_F(AcquisitionWindowTest, KeysSnapAndRecordWhateverHasTheFocus) {
  Open();
  ASSERT_TRUE(session_.PipelineReady());
  form_.Button1->setFocus();
  QTest::keyClick(form_.Button1, Qt::Key_Space);
  EXPECT_TRUE(form_.isVisible()) << "Space must not press the focused Close";
  EXPECT_EQ(session_.FileList().size(), 1u);
  EXPECT_EQ(session_.closes, 0);

  form_.Button2->setFocus();
  QTest::keyClick(form_.Button2, Qt::Key_F9);
  EXPECT_EQ(session_.FileList().size(), 2u);
  EXPECT_TRUE(boxes_.empty()) << "Send was not pressed";

  QTest::keyClick(form_.Button2, Qt::Key_F10);
  EXPECT_TRUE(session_.Recording());
  QTest::keyClick(form_.Button2, Qt::Key_F10);
  QTest::keyClick(form_.Button2, Qt::Key_Space);
  EndClip();
  EXPECT_EQ(session_.FileList().size(), 3u) << "keys while recording do nothing";
}

TEST_F(AcquisitionWindowTest, RightClickOnTheStripAsksDeleteAndDeletesNothing) {
  Open();
  form_.Button3Click();
  form_.Button3Click();
  ASSERT_EQ(session_.FileList().size(), 2u);
  RightClick(form_.Image1, QPoint(96 + 10, 20));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Delete?");
  QTest::mouseClick(form_.Image1, Qt::LeftButton, {}, QPoint(10, 20));
  EXPECT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(session_.FileList().size(), 2u);
  for (const auto &f : session_.FileList())
    EXPECT_TRUE(std::filesystem::exists(f));
}

TEST_F(AcquisitionWindowTest, WithoutADeviceSnapVideoConfigurationDoNothingAndSendFails) {
  ::setenv("FRAMEWELL_VIDEO_SOURCE", "no_such_element", 1);
  Open();
  EXPECT_FALSE(session_.PipelineReady());
  EXPECT_TRUE(boxes_.empty()) << "a missing device is not announced";
  form_.Button3Click();
  RightClick(&form_, QPoint(690, 400));
  form_.Button4Click();
  EXPECT_FALSE(session_.Recording());
  EXPECT_EQ(form_.Shape1->Colour(), QColor(0, 128, 0));
  form_.Button5Click();
  EXPECT_EQ(session_.configures, 0);
  EXPECT_TRUE(session_.FileList().empty());
  form_.Button2Click();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "ERROR sending files, please check log file");
}

TEST_F(AcquisitionWindowTest, DuringASendEverythingButProgressWaitsAndEscapeIsRefused) {
  Open();
  form_.Button3Click();
  form_.Button3Click();
  form_.Button3Click();
  std::vector<int> shown;
  bool anyEnabled = false;
  session_.duringSend = [&] {
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
  EXPECT_EQ(session_.closes, 0);
  EXPECT_EQ(session_.FileList().size(), 3u);
  for (const auto &f : session_.FileList())
    EXPECT_TRUE(std::filesystem::exists(f));
  EXPECT_EQ(form_.ProgressBar1->value(), 0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Files sent OK");
  EXPECT_TRUE(form_.Button1->isEnabled());
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
    const auto files = session_.FileList();
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
  Open();
  form_.Button3Click();
  form_.Button2Click();
  boxes_.clear();
  form_.Button1Click();
  EXPECT_TRUE(boxes_.empty());
  EXPECT_FALSE(form_.isVisible());
}

TEST_F(AcquisitionWindowTest, ASourceThatFailsDuringAClipSavesItAndStopsCapture) {
  ::setenv("FRAMEWELL_VIDEO_SOURCE", "videotestsrc name=device is-live=true", 1);
  Open();
  ASSERT_TRUE(session_.PipelineReady());
  form_.Button4Click();
  ASSERT_TRUE(WaitFor([&] { return session_.Grabber()->FrameCount() >= 3; }));
  GstElement *device = session_.Grabber()->FindElement("device");
  ASSERT_NE(device, nullptr);
  GError *error = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, "cable pulled");
  gst_element_post_message(device, gst_message_new_error(GST_OBJECT(device), error, "test"));
  g_error_free(error);
  gst_object_unref(device);

  ASSERT_TRUE(WaitFor([&] { return !session_.Recording(); }));
  EXPECT_FALSE(session_.PipelineReady());
  EXPECT_EQ(Count(Log(), "ERROR, capture device stopped, cable pulled"), 1u);
  ASSERT_EQ(session_.FileList().size(), 1u) << "the clip keeps the frames it has";
  EXPECT_EQ(form_.Image1->Picture().width(), 96);
  EXPECT_EQ(form_.Shape1->Colour(), QColor(0, 128, 0));
  EXPECT_TRUE(form_.Button3->isEnabled());
  form_.Button3Click();
  form_.Button4Click();
  EXPECT_EQ(session_.FileList().size(), 1u);
  EXPECT_FALSE(session_.Recording());
}

} // namespace
} // namespace fw
