// The capture pipeline with GStreamer sources standing in for the device:
// videotestsrc for live video, and an appsrc fed with exact frames.
#include "acquisition/CaptureSettingsDialog.h"
#include "acquisition/GstHandles.h"
#include "acquisition/MySampleGrabber.h"
#include "acquisition/VideoPreviewWidget.h"
#include "base/Log.h"
#include "tests/acquisition/FakeDeviceControls.h"
#include "tests/acquisition/JpegProbe.h"
#include "tests/support/TempDir.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <QApplication>
#include <QComboBox>
#include <QWidget>

#include <linux/videodev2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace fw {
namespace {

using namespace std::chrono_literals;

// Polls until the condition holds or five seconds pass.
bool WaitFor(const std::function<bool()> &condition) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    QApplication::processEvents();
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

class CapturePipelineTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetLogTarget(dir_.folder() + "test.log", "", "");
    owner_.resize(800, 600);
  }
  void TearDown() override {
    grabber_.ReleaseGraph();
    ::unsetenv("FRAMEWELL_VIDEO_SOURCE");
    FreeLogTarget();
  }
  void UseSource(const char *description) { ::setenv("FRAMEWELL_VIDEO_SOURCE", description, 1); }
  std::string Log() const { return test::ReadFileBytes(dir_.path() / "test.log"); }

  test::TempDir dir_;
  QWidget owner_;
  MySampleGrabber grabber_;
};

TEST_F(CapturePipelineTest, WithoutADeviceBuildGraphFailsSilently) {
  ::unsetenv("FRAMEWELL_VIDEO_SOURCE");
  ASSERT_TRUE(gst_init_check(nullptr, nullptr, nullptr));
  bool haveDevice = false;
  {
    const gst::DeviceMonitor monitor(gst_device_monitor_new());
    gst_device_monitor_add_filter(monitor.get(), "Video/Source", nullptr);
    const gst::ObjectList devices(gst_device_monitor_get_devices(monitor.get()));
    haveDevice = devices != nullptr;
  }
  if (haveDevice) {
    GTEST_SKIP() << "this machine has a video input device";
  }
  EXPECT_FALSE(grabber_.BuildGraph(&owner_, CaptureConfig{}));
  EXPECT_FALSE(grabber_.Running());
  EXPECT_EQ(grabber_.Preview(), nullptr);
  EXPECT_EQ(Log(), "");
  // Capture calls on a pipeline that never ran are harmless.
  grabber_.StartCapture();
  grabber_.StopCapture();
  EXPECT_EQ(grabber_.FrameCount(), 0);
}

TEST_F(CapturePipelineTest, ASourceThatCannotBeBuiltFailsSilently) {
  UseSource("no_such_element_here");
  EXPECT_FALSE(grabber_.BuildGraph(&owner_, CaptureConfig{}));
  UseSource("videotestsrc is-live=true ! capsfilter caps=video/x-raw,format=GRAY8 ! fakesink");
  EXPECT_FALSE(grabber_.BuildGraph(&owner_, CaptureConfig{}));
  EXPECT_FALSE(grabber_.Running());
  EXPECT_EQ(Log(), "");
}

TEST_F(CapturePipelineTest, RunsAtTheConfiguredSizeOrElseAtTheDevicesOwn) {
  struct Case {
    const char *name;
    const char *source;
    CaptureConfig config;
    int width, height;
  };
  const Case cases[] = {
      {"device limited to 320x240, 640x480 asked",
       "videotestsrc is-live=true ! capsfilter caps=video/x-raw,width=320,height=240,framerate=30/1",
       CaptureConfig{1, 640, 480, 0}, 320, 240},
      {"any size offered, 176x144 asked", "videotestsrc is-live=true", CaptureConfig{1, 176, 144, 0}, 176, 144},
      {"size 0x0 runs at the device's own",
       "videotestsrc is-live=true ! capsfilter caps=video/x-raw,width=160,height=120,framerate=30/1",
       CaptureConfig{0, 0, 0, 0}, 160, 120},
      {"width 0 alone also",
       "videotestsrc is-live=true ! capsfilter caps=video/x-raw,width=160,height=120,framerate=30/1",
       CaptureConfig{1, 0, 480, 0}, 160, 120},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    UseSource(c.source);
    ASSERT_TRUE(grabber_.BuildGraph(&owner_, c.config));
    EXPECT_EQ(grabber_.FrameWidth(), c.width);
    EXPECT_EQ(grabber_.FrameHeight(), c.height);
    EXPECT_EQ(grabber_.Callback().Width(), c.width);
    EXPECT_EQ(grabber_.Callback().Stride(), static_cast<std::size_t>((c.width * 3 + 3) / 4 * 4));
    // The live video area keeps the configured size, at the top-left.
    ASSERT_NE(grabber_.Preview(), nullptr);
    EXPECT_EQ(grabber_.Preview()->parentWidget(), &owner_);
    EXPECT_EQ(grabber_.Preview()->geometry(), QRect(0, 0, c.config.width, c.config.height));
    grabber_.ReleaseGraph();
    EXPECT_EQ(grabber_.Preview(), nullptr);
  }
  EXPECT_EQ(Log(), "");
}

// An appsrc the test feeds: 7 x 5 BGR frames, rows padded to 24 bytes.
class FedPipelineTest : public CapturePipelineTest {
protected:
  static constexpr int kWidth = 7;
  static constexpr int kHeight = 5;

  void SetUp() override {
    CapturePipelineTest::SetUp();
    UseSource("appsrc name=feed is-live=true do-timestamp=true format=time "
              "caps=video/x-raw,format=BGR,width=7,height=5,framerate=30/1");
    gst_video_info_set_format(&info_, GST_VIDEO_FORMAT_BGR, kWidth, kHeight);
    // The first frame is given when the source asks for data, so the
    // pipeline can complete its start. The mutex makes the hand-over to the
    // streaming thread visible to thread checkers.
    grabber_.SetPipelineHook([this](GstElement *pipeline) {
      {
        const std::lock_guard lock(primeMutex_);
        prime_.reset(Frame(0xFF, 0, 0));
      }
      const gst::Element feed(gst_bin_get_by_name(GST_BIN(pipeline), "feed"));
      ASSERT_NE(feed, nullptr);
      g_signal_connect(feed.get(), "need-data", G_CALLBACK(+[](GstElement *src, guint, gpointer self) {
                         auto *test = static_cast<FedPipelineTest *>(self);
                         GstBuffer *first;
                         {
                           const std::lock_guard lock(test->primeMutex_);
                           first = test->prime_.release();
                         }
                         if (first != nullptr) {
                           gst_app_src_push_buffer(GST_APP_SRC(src), first);
                         }
                       }),
                       this);
    });
    ASSERT_TRUE(grabber_.BuildGraph(&owner_, CaptureConfig{1, kWidth, kHeight, 0}));
    ASSERT_EQ(GST_VIDEO_INFO_PLANE_STRIDE(&info_, 0), 24);
    feed_.reset(grabber_.FindElement("feed"));
    ASSERT_NE(feed_, nullptr);
    ASSERT_TRUE(WaitFor([&] { return grabber_.DeliveredFrames() >= 1; }));
  }
  void TearDown() override {
    feed_.reset();
    CapturePipelineTest::TearDown();
    // The pipeline is stopped: taking the lock orders the end of the test
    // after the streaming thread's last use of it.
    const std::lock_guard lock(primeMutex_);
    prime_.reset();
  }

  // One frame of a single colour; the padding bytes hold garbage. The
  // bytes are copied into the buffer by GStreamer itself, which hands them
  // to the streaming thread.
  GstBuffer *Frame(std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    const auto stride = static_cast<std::size_t>(GST_VIDEO_INFO_PLANE_STRIDE(&info_, 0));
    std::vector<std::uint8_t> bytes(GST_VIDEO_INFO_SIZE(&info_), 0xA5);
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        std::uint8_t *p = bytes.data() + y * stride + x * 3;
        p[0] = b;
        p[1] = g;
        p[2] = r;
      }
    }
    return gst_buffer_new_memdup(bytes.data(), bytes.size());
  }

  // Pushes n frames and waits until the pipeline has handled them all.
  void Push(int n, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    const long long target = grabber_.DeliveredFrames() + n;
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(feed_.get()), Frame(b, g, r)), GST_FLOW_OK);
    }
    ASSERT_TRUE(WaitFor([&] { return grabber_.DeliveredFrames() >= target; }));
  }

  GstVideoInfo info_;
  gst::Element feed_;
  // Static, so the streaming thread (pooled, older than this fixture) can
  // take it before anything else of the fixture is visible to it.
  static inline std::mutex primeMutex_;
  gst::Buffer prime_; // guarded by primeMutex_
};

TEST_F(FedPipelineTest, CollectsExactlyTheFramesDeliveredWhileArmed) {
  Push(3, 0, 0xFF, 0); // not armed: ignored
  EXPECT_EQ(grabber_.FrameCount(), 0);

  grabber_.StartCapture();
  Push(4, 0xFF, 0, 0);
  EXPECT_EQ(grabber_.FrameCount(), 4);
  grabber_.StopCapture();

  Push(2, 0, 0, 0xFF); // after StopCapture: ignored
  EXPECT_EQ(grabber_.FrameCount(), 4);
  ASSERT_EQ(grabber_.Frames().size(), 4u);
  for (const auto &frame : grabber_.Frames()) {
    const auto decoded = test::DecodeJpeg(frame.data);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.width, kWidth);
    EXPECT_EQ(decoded.height, kHeight);
    EXPECT_EQ(decoded.components, 3);
    EXPECT_EQ(decoded.sampling, "2x1,1x1,1x1"); // 4:2:2
    // The armed frames were pure blue: red 0, green 0, blue 255.
    EXPECT_LE(decoded.rgb[3 * 10 + 0], 4);
    EXPECT_LE(decoded.rgb[3 * 10 + 1], 4);
    EXPECT_GE(decoded.rgb[3 * 10 + 2], 250);
  }
  grabber_.ClearFrames();
  EXPECT_EQ(grabber_.FrameCount(), 0);
  EXPECT_TRUE(grabber_.Frames().empty());
}

// Live video at 30 frames a second: a still's arm, wait and stop, then the
// list must not change any more. The second still holds a frame inside the
// callback while StopCapture is called: StopCapture must wait for it, so the
// frame is in the list when it returns, not added afterwards.
TEST_F(CapturePipelineTest, AfterStopCaptureNoFrameIsAdded) {
  UseSource("videotestsrc is-live=true ! capsfilter caps=video/x-raw,width=160,height=120,framerate=30/1");
  ASSERT_TRUE(grabber_.BuildGraph(&owner_, CaptureConfig{1, 160, 120, 0}));
  // Shared with the streaming thread, which may outlive this body when an
  // assertion ends it early.
  struct Hold {
    std::atomic<bool> holdNextFrame{false};
    std::atomic<bool> frameHeld{false};
    std::atomic<bool> stopping{false};
  };
  const auto hold = std::make_shared<Hold>();
  auto &[holdNextFrame, frameHeld, stopping] = *hold;
  grabber_.Callback().SetFrameTakenHook([hold] {
    if (!hold->holdNextFrame.exchange(false)) {
      return;
    }
    hold->frameHeld = true;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!hold->stopping && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(1ms);
    }
    // Long enough for StopCapture to be well inside its stop.
    std::this_thread::sleep_for(150ms);
  });
  for (int still = 0; still < 2; ++still) {
    SCOPED_TRACE(still == 0 ? "stop between frames" : "stop with a frame inside the callback");
    frameHeld = false;
    stopping = false;
    holdNextFrame = still == 1;
    grabber_.StartCapture();
    if (still == 1) {
      ASSERT_TRUE(WaitFor([&] { return frameHeld.load(); }));
      EXPECT_EQ(grabber_.FrameCount(), 0) << "the held frame is not in the list yet";
    } else {
      ASSERT_TRUE(WaitFor([&] { return grabber_.FrameCount() >= 1; }));
    }
    stopping = true;
    grabber_.StopCapture();
    const std::int32_t count = grabber_.FrameCount();
    EXPECT_GE(count, 1);
    EXPECT_EQ(static_cast<std::int32_t>(grabber_.Frames().size()), count);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(grabber_.FrameCount(), count);
    ASSERT_EQ(grabber_.Frames().size(), static_cast<std::size_t>(count));
    ASSERT_GE(count, 1);
    EXPECT_TRUE(test::DecodeJpeg(grabber_.Frames()[0].data).ok);
    grabber_.ClearFrames();
  }
  grabber_.Callback().SetFrameTakenHook(nullptr);
  // The pipeline runs again after each stop.
  const long long shown = grabber_.DeliveredFrames();
  EXPECT_TRUE(WaitFor([&] { return grabber_.DeliveredFrames() > shown + 2; }));
}

TEST_F(CapturePipelineTest, ConfigureDeviceStoresTheChoiceAndRebuilds) {
  UseSource("videotestsrc is-live=true");
  auto device = std::make_unique<test::FakeDeviceControls>();
  device->inputs = {{0, "Composite"}, {1, "S-Video"}};
  device->standards = {{V4L2_STD_NTSC, "NTSC"}, {V4L2_STD_PAL, "PAL"}};
  device->sizes = {{640, 480}, {320, 240}};
  auto *fake = device.get();
  grabber_.SetDeviceControls(std::move(device));
  CaptureConfig config{1, 640, 480, 0};
  ASSERT_TRUE(grabber_.BuildGraph(&owner_, config));
  EXPECT_EQ(fake->inputsSet.back(), 0);
  EXPECT_EQ(fake->standardsSet.back(), V4L2_STD_NTSC_M);

  int shown = 0;
  grabber_.SetSettingsDialogRunner([&](CaptureSettingsDialog &dialog) {
    ++shown;
    dialog.InputBox()->setCurrentIndex(1);
    dialog.StandardBox()->setCurrentText("PAL");
    dialog.SizeBox()->setCurrentIndex(1);
    return int(QDialog::Accepted);
  });
  EXPECT_TRUE(grabber_.ConfigureDevice(&owner_, config));
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(config, (CaptureConfig{0x10, 320, 240, 1}));
  EXPECT_TRUE(grabber_.Running());
  EXPECT_EQ(grabber_.FrameWidth(), 320);
  EXPECT_EQ(fake->inputsSet.back(), 1);
  EXPECT_EQ(fake->standardsSet.back(), V4L2_STD_PAL_B);

  // Cancel keeps the configuration and still rebuilds.
  grabber_.SetSettingsDialogRunner([](CaptureSettingsDialog &) { return int(QDialog::Rejected); });
  EXPECT_TRUE(grabber_.ConfigureDevice(&owner_, config));
  EXPECT_EQ(config, (CaptureConfig{0x10, 320, 240, 1}));
  EXPECT_TRUE(grabber_.Running());
  EXPECT_EQ(Log(), "");
}

TEST_F(CapturePipelineTest, ConfigureDeviceWithoutSettingsOnlyRebuilds) {
  UseSource("videotestsrc is-live=true");
  grabber_.SetDeviceControls(std::make_unique<test::FakeDeviceControls>());
  CaptureConfig config{0x10, 176, 144, 3};
  ASSERT_TRUE(grabber_.BuildGraph(&owner_, config));
  bool shown = false;
  grabber_.SetSettingsDialogRunner([&](CaptureSettingsDialog &) {
    shown = true;
    return int(QDialog::Accepted);
  });
  EXPECT_TRUE(grabber_.ConfigureDevice(&owner_, config));
  EXPECT_FALSE(shown);
  EXPECT_EQ(config, (CaptureConfig{0x10, 176, 144, 3}));
  EXPECT_EQ(grabber_.FrameWidth(), 176);
}

TEST_F(CapturePipelineTest, AnExceptionInConfigureDeviceIsLoggedAndStopsThePipeline) {
  UseSource("videotestsrc is-live=true");
  auto device = std::make_unique<test::FakeDeviceControls>();
  device->throwOnList = true;
  grabber_.SetDeviceControls(std::move(device));
  CaptureConfig config{1, 176, 144, 0};
  ASSERT_TRUE(grabber_.BuildGraph(&owner_, config));
  EXPECT_FALSE(grabber_.ConfigureDevice(&owner_, config));
  EXPECT_FALSE(grabber_.Running());
  EXPECT_NE(Log().find("ERROR, Setting Video Configuration"), std::string::npos);
}

TEST_F(CapturePipelineTest, SizesOfferedOnlyAsJpegAreDecodedAndHonoured) {
  struct Case {
    const char *name;
    const char *source;
    bool decoded;
  };
  const Case cases[] = {
      {"JPEG only", "videotestsrc is-live=true ! jpegenc", true},
      {"raw preferred when offered", "videotestsrc is-live=true", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    UseSource(c.source);
    ASSERT_TRUE(grabber_.BuildGraph(&owner_, CaptureConfig{1, 1280, 720, 0}));
    EXPECT_EQ(grabber_.FrameWidth(), 1280);
    EXPECT_EQ(grabber_.FrameHeight(), 720);
    const gst::Element decode(grabber_.FindElement("Decode"));
    EXPECT_EQ(decode != nullptr, c.decoded);
    grabber_.StartCapture();
    ASSERT_TRUE(WaitFor([&] { return grabber_.FrameCount() >= 1; }));
    grabber_.StopCapture();
    const test::DecodedJpeg frame = test::DecodeJpeg(grabber_.Frames()[0].data);
    ASSERT_TRUE(frame.ok);
    EXPECT_EQ(frame.width, 1280);
    grabber_.ClearFrames();
    grabber_.ReleaseGraph();
  }
}

TEST_F(CapturePipelineTest, ASourceWithoutFramesGivesUpWithinTheStartBound) {
  // Negotiates, then never delivers a frame.
  UseSource("appsrc is-live=true format=time caps=video/x-raw,format=BGR,width=64,height=48,framerate=30/1");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(grabber_.BuildGraph(&owner_, CaptureConfig{1, 64, 48, 0}));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_LT(waited, std::chrono::milliseconds(MySampleGrabber::START_TIMEOUT_MS + 1500));
  EXPECT_FALSE(grabber_.Running());
  const std::string log = Log();
  EXPECT_EQ(log.find("ERROR, MySampleGrabber::BuildGraph, no frame from the capture device within 3 s"), 10u) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << "one line when it gives up";
}

TEST_F(CapturePipelineTest, ADeviceThatFailsWhileRunningIsNoticedOnTheBus) {
  UseSource("videotestsrc name=device is-live=true ! capsfilter caps=video/x-raw,width=160,height=120,framerate=30/1");
  ASSERT_TRUE(grabber_.BuildGraph(&owner_, CaptureConfig{1, 160, 120, 0}));
  int notified = 0;
  grabber_.SetStoppedHandler([&] { ++notified; });
  grabber_.StartCapture();
  ASSERT_TRUE(WaitFor([&] { return grabber_.FrameCount() >= 2; }));

  {
    const gst::Element device(grabber_.FindElement("device"));
    ASSERT_NE(device, nullptr);
    const gst::Error error(g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, "device unplugged"));
    gst_element_post_message(device.get(), gst_message_new_error(GST_OBJECT(device.get()), error.get(), "test"));
  }

  ASSERT_TRUE(WaitFor([&] { return notified > 0; })) << "handled by the event loop";
  EXPECT_TRUE(grabber_.DeviceStopped());
  EXPECT_FALSE(grabber_.Callback().Armed());
  // The frames collected so far stay readable; StopCapture does not restart.
  const std::int32_t count = grabber_.FrameCount();
  grabber_.StopCapture();
  EXPECT_EQ(grabber_.Frames().size(), static_cast<std::size_t>(count));
  const long long delivered = grabber_.DeliveredFrames();
  std::this_thread::sleep_for(100ms);
  QApplication::processEvents();
  EXPECT_EQ(grabber_.DeliveredFrames(), delivered);
  EXPECT_EQ(notified, 1);
  const std::string log = Log();
  EXPECT_EQ(log.find("ERROR, capture device stopped, device unplugged"), 10u) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);

  // A rebuild starts afresh.
  ASSERT_TRUE(grabber_.BuildGraph(&owner_, CaptureConfig{1, 160, 120, 0}));
  EXPECT_FALSE(grabber_.DeviceStopped());
}

} // namespace
} // namespace fw
