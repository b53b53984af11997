// The session on the real capture pipeline, fed by an appsrc the test
// controls: stills while frames flow, Snap's time-out when the source stops
// delivering, and no late frame becoming the next still.
#include "acquisition/AcquisitionSession.h"
#include "acquisition/GrabberFrameSource.h"
#include "acquisition/GstHandles.h"
#include "acquisition/MySampleGrabber.h"
#include "base/Log.h"

#include "dicom/DcmObj.h"
#include "dicom/codec/JpegCodec.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace fw {
namespace {

using namespace std::chrono_literals;

constexpr int kWidth = 64;
constexpr int kHeight = 48;

// A BGR frame of one colour (64 x 3 bytes per row: no padding). GStreamer
// copies the pixels in: the streaming thread then reads what GStreamer wrote,
// a hand-over the thread sanitizer can follow.
GstBuffer *SolidFrame(std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  const gsize size = static_cast<gsize>(kWidth) * kHeight * 3;
  std::vector<std::uint8_t> pixels(size);
  for (gsize i = 0; i < size; i += 3) {
    pixels[i] = b;
    pixels[i + 1] = g;
    pixels[i + 2] = r;
  }
  GstBuffer *buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
  gst_buffer_fill(buffer, 0, pixels.data(), size);
  return buffer;
}

// A log listener that never reads: its datagram socket's queue is filled up
// front, so every line the log forwards waits for room until the log gives
// up on it. Bound in the abstract namespace under a name of this process.
class StuckLogListener {
public:
  StuckLogListener() : name_("quillbrook-test-stuck-" + std::to_string(::getpid())) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name_.data(), name_.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name_.size());
    listener_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    filler_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (::bind(listener_, reinterpret_cast<const sockaddr *>(&address), length) != 0 ||
        ::connect(filler_, reinterpret_cast<const sockaddr *>(&address), length) != 0) {
      ADD_FAILURE() << "listener: " << std::strerror(errno);
      return;
    }
    const std::string chunk(1024, 'x');
    while (::send(filler_, chunk.data(), chunk.size(), MSG_DONTWAIT) >= 0) {
    }
    full_ = errno == EAGAIN || errno == EWOULDBLOCK;
  }
  ~StuckLogListener() {
    ::close(filler_);
    ::close(listener_);
  }
  StuckLogListener(const StuckLogListener &) = delete;
  StuckLogListener &operator=(const StuckLogListener &) = delete;

  const std::string &name() const { return name_; }
  bool full() const { return full_; }

private:
  std::string name_;
  int listener_ = -1;
  int filler_ = -1;
  bool full_ = false;
};

class CaptureSessionTest : public ::testing::Test {
protected:
  void SetUp() override {
    InstanceCounters::ForgetRun();
    std::filesystem::create_directories(dir_.path() / "temp");
    ::setenv("FRAMEWELL_VIDEO_SOURCE",
             "appsrc name=feed is-live=true do-timestamp=true format=time "
             "caps=video/x-raw,format=BGR,width=64,height=48,framerate=25/1",
             1);
    // The first frame is given when the source asks, so the pipeline starts.
    grabber_.SetPipelineHook([](GstElement *pipeline) {
      const gst::Element feed(gst_bin_get_by_name(GST_BIN(pipeline), "feed"));
      ASSERT_NE(feed, nullptr);
      gst_app_src_push_buffer(GST_APP_SRC(feed.get()), SolidFrame(0, 0, 0));
    });
    context_.patientID = "P1";
    context_.accessionNumber = "ACC";
    AcquisitionSessionSetup setup;
    setup.grabber = &source_;
    setup.programFolder = dir_.folder();
    setup.context = &context_;
    setup.config = &config_;
    setup.snapTimeout = 1500ms;
    setup.messages = [this](const MessageRequest &request) {
      const std::lock_guard lock(boxMutex_);
      boxes_.push_back(request.text);
      return MessageAnswer::Yes;
    };
    session_ = std::make_unique<AcquisitionSession>(std::move(setup));
    ASSERT_TRUE(session_->Open());
    feed_.reset(grabber_.FindElement("feed"));
    ASSERT_NE(feed_, nullptr);
    feeder_ = std::thread([this] {
      while (!quit_) {
        if (feeding_) {
          const std::uint8_t c = colour_;
          gst_app_src_push_buffer(GST_APP_SRC(feed_.get()), c == 0 ? SolidFrame(0xFF, 0, 0) : SolidFrame(0, 0, 0xFF));
        }
        std::this_thread::sleep_for(20ms);
      }
    });
  }
  void TearDown() override {
    quit_ = true;
    if (feeder_.joinable()) {
      feeder_.join();
    }
    session_->Close();
    feed_.reset();
    session_.reset();
    ::unsetenv("FRAMEWELL_VIDEO_SOURCE");
    InstanceCounters::ForgetRun();
  }

  // The colour of the still's first pixel, as red, green, blue.
  std::array<int, 3> FirstPixel(const AcquiredFile &file) const {
    DcmObj ds;
    EXPECT_TRUE(ds.Read(file.path));
    const DcmTag *fragment = nullptr;
    for (std::size_t i = 0, items = 0; i < ds.Count(); ++i) {
      const DcmTag *t = ds.ElementAt(i);
      if (t != nullptr && t->Is(0xFFFE, 0xE000) && items++ == 1) {
        fragment = t;
      }
    }
    if (fragment == nullptr) {
      ADD_FAILURE() << "no fragment";
      return {};
    }
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kWidth) * kHeight * 3);
    EXPECT_EQ(JpegDecode8(fragment->data.data(), fragment->data.size(), rgb.data(), rgb.size()), 0);
    const std::size_t middle = (static_cast<std::size_t>(kHeight / 2) * kWidth + kWidth / 2) * 3;
    return {rgb[middle], rgb[middle + 1], rgb[middle + 2]};
  }

  test::TempDir dir_;
  test::LogCapture log_;
  MySampleGrabber grabber_;
  GrabberFrameSource source_{grabber_, nullptr};
  StudyInfo context_;
  setupcfg config_;
  std::unique_ptr<AcquisitionSession> session_;
  gst::Element feed_;
  std::thread feeder_;
  std::atomic<bool> feeding_{true};
  std::atomic<bool> quit_{false};
  std::atomic<std::uint8_t> colour_{0}; // 0 blue, 1 red
  std::mutex boxMutex_;
  std::vector<std::string> boxes_;
};

TEST_F(CaptureSessionTest, SnapTimesOutWhenTheSourceStopsAndTakesOnlyNewFramesAfterwards) {
  std::this_thread::sleep_for(200ms); // past the black frame the start needed
  ASSERT_TRUE(session_->Snap());
  ASSERT_EQ(session_->Files().size(), 1u);
  const auto blue = FirstPixel(session_->Files()[0]);
  EXPECT_LE(blue[0], 2);
  EXPECT_GE(blue[2], 253);

  // The source stops delivering: Snap gives up after its time-out.
  feeding_ = false;
  std::this_thread::sleep_for(200ms);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(session_->Snap());
  EXPECT_GE(std::chrono::steady_clock::now() - started, 1500ms);
  EXPECT_EQ(session_->Files().size(), 1u);
  EXPECT_TRUE(log_.Contains("ERROR, no frame from capture device"));
  {
    const std::lock_guard lock(boxMutex_);
    EXPECT_EQ(boxes_, (std::vector<std::string>{std::string(TEXT_NO_FRAME)}));
  }

  // Frames flow again, now red: the next still is red, not a frame held over.
  colour_ = 1;
  feeding_ = true;
  std::this_thread::sleep_for(200ms);
  ASSERT_TRUE(session_->Snap());
  ASSERT_EQ(session_->Files().size(), 2u);
  const auto red = FirstPixel(session_->Files()[1]);
  EXPECT_GE(red[0], 253);
  EXPECT_LE(red[2], 2);
  EXPECT_EQ(session_->Files()[1].instanceNumber, 2);
}

TEST_F(CaptureSessionTest, AClipHoldsTheFramesOfItsTicksWithTheNegotiatedFrameTime) {
  ASSERT_TRUE(session_->Video());
  for (int tick = 0; tick < 5; ++tick) {
    std::this_thread::sleep_for(100ms);
    session_->Tick();
  }
  ASSERT_EQ(session_->Files().size(), 1u);
  const AcquiredFile &clip = session_->Files()[0];
  EXPECT_GE(clip.frames, 5);
  DcmObj ds;
  ASSERT_TRUE(ds.Read(clip.path));
  EXPECT_EQ(ds.FindText(0x0018, 0x1063), "40.0"); // 25 frames a second
  EXPECT_EQ(ds.FindText(0x0028, 0x0008), std::to_string(clip.frames));
  EXPECT_EQ(ds.FindUS(0x0028, 0x0010), kHeight);
  EXPECT_EQ(ds.FindUS(0x0028, 0x0011), kWidth);
}

// A log listener that never reads while a clip is recorded, and lines logged
// all the while (each waits the listener's limit): frames keep arriving in
// every part of the clip, the clip is saved whole, every line is in the file,
// and a still afterwards works.
TEST_F(CaptureSessionTest, AStuckLogListenerDuringAClipStallsNoFrameAndTheClipIsWhole) {
  StuckLogListener listener;
  ASSERT_TRUE(listener.full());
  SetLogTarget("", listener.name(), "");
  std::this_thread::sleep_for(200ms); // past the black frame the start needed

  std::atomic<bool> logging{true};
  std::atomic<int> lines{0};
  std::thread logger([&] {
    while (logging) {
      WriteLog("INFO, line " + std::to_string(lines.load()) + " for a listener that never reads");
      ++lines;
    }
  });
  ASSERT_TRUE(session_->Video());
  std::vector<std::int32_t> counts;
  const auto started = std::chrono::steady_clock::now();
  for (int tick = 0; tick < 5; ++tick) {
    std::this_thread::sleep_for(300ms);
    counts.push_back(session_->FrameCount());
    session_->Tick();
  }
  const auto took = std::chrono::steady_clock::now() - started;
  logging = false;
  logger.join();

  // The log was held by the stuck listener for most of the clip: a line
  // every half second or so, not thousands.
  EXPECT_GE(lines.load(), 2);
  EXPECT_LE(lines.load(), 8);
  EXPECT_LT(took, 3s); // Tick is not held up by the log either
  // Frames arrived in every 300 ms of the clip; a capture path that waited on
  // the log would miss one of them.
  for (std::size_t i = 1; i + 1 < counts.size(); ++i) {
    EXPECT_GT(counts[i], counts[i - 1]) << "no frame between tick " << i << " and tick " << i + 1;
  }
  ASSERT_EQ(session_->Files().size(), 1u);
  const AcquiredFile &clip = session_->Files()[0];
  EXPECT_GE(clip.frames, counts[3]);
  DcmObj ds;
  ASSERT_TRUE(ds.Read(clip.path));
  EXPECT_EQ(ds.FindText(0x0028, 0x0008), std::to_string(clip.frames));
  int decoded = 0;
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kWidth) * kHeight * 3);
  for (std::size_t i = 0, items = 0; i < ds.Count(); ++i) {
    const DcmTag *t = ds.ElementAt(i);
    if (t != nullptr && t->Is(0xFFFE, 0xE000) && items++ > 0) {
      EXPECT_EQ(JpegDecode8(t->data.data(), t->data.size(), rgb.data(), rgb.size()), 0);
      ++decoded;
    }
  }
  EXPECT_EQ(decoded, clip.frames);
  for (int i = 0; i < lines.load(); ++i) {
    EXPECT_TRUE(log_.Contains("INFO, line " + std::to_string(i) + " for a listener that never reads")) << i;
  }

  ASSERT_TRUE(session_->Snap());
  EXPECT_EQ(session_->Files().size(), 2u);
}

} // namespace
} // namespace fw
