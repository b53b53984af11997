// The frame filter's arithmetic and the callback that compresses and
// collects frames, fed with exact frames (no pipeline).
#include "acquisition/FrameFilter.h"
#include "acquisition/SGCallback.h"
#include "base/Log.h"
#include "dicom/codec/JpegCodec.h"
#include "tests/acquisition/JpegProbe.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fw {
namespace {

// A top-down BGR frame with padded rows, as the pipeline delivers them.
struct BgrFrame {
  int width;
  int height;
  std::size_t stride;
  std::vector<std::uint8_t> bytes;

  BgrFrame(int w, int h, std::size_t padding = 0)
      : width(w), height(h), stride(static_cast<std::size_t>(w) * 3 + padding), bytes(stride * h, 0xEE) {}
  std::uint8_t *pixel(int row, int column) { return bytes.data() + row * stride + column * 3; }
  void set(int row, int column, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    std::uint8_t *p = pixel(row, column);
    p[0] = b;
    p[1] = g;
    p[2] = r;
  }
};

std::vector<std::uint8_t> Filter(const BgrFrame &frame) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(frame.width) * frame.height * 3, 0x55);
  FilterFrameToRgb(frame.bytes.data(), frame.stride, frame.width, frame.height, out.data());
  return out;
}

// Every line different: line r has blue r, green 2r + 1, red 255 - r.
BgrFrame DistinctLines(int width, int height) {
  BgrFrame frame(width, height, 4);
  for (int r = 0; r < height; ++r) {
    for (int c = 0; c < width; ++c) {
      frame.set(r, c, static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(2 * r + 1),
                static_cast<std::uint8_t>(255 - r));
    }
  }
  return frame;
}

TEST(FrameFilter, BlendsEachRowWithItsNeighboursOneTwoOne) {
  const BgrFrame frame = DistinctLines(640, 480);
  const auto out = Filter(frame);
  auto expect = [&](int outRow, int blue, int green, int red) {
    for (int c : {0, 1, 5, 320, 639}) {
      const std::uint8_t *p = out.data() + (static_cast<std::size_t>(outRow) * 640 + c) * 3;
      ASSERT_EQ(p[0], red) << "row " << outRow << " column " << c;
      ASSERT_EQ(p[1], green) << "row " << outRow << " column " << c;
      ASSERT_EQ(p[2], blue) << "row " << outRow << " column " << c;
    }
  };
  // Row 1 blends lines 0, 1, 2: blue (0 + 2 + 2) / 4 = 1, green (1 + 6 + 5) / 4 = 3,
  // red (255 + 508 + 253) / 4 = 254.
  expect(1, 1, 3, 254);
  // Row 478 blends lines 477, 478, 479, whose bytes (mod 256) are blue 221,
  // 222, 223; green 187, 189, 191; red 34, 33, 32.
  expect(478, 222, 189, 33);
  // Rows 0 and 479 are the picture lines themselves.
  expect(0, 0, 1, 255);
  expect(479, 223, 191, 32);
}

TEST(FrameFilter, IntegerDivisionTruncates) {
  // Lines 0, 255, 0 blend to 510 / 4 = 127 (not 128); lines 1, 0, 2 to 3 / 4 = 0.
  BgrFrame frame(3, 3);
  for (int c = 0; c < 3; ++c) {
    frame.set(0, c, 0, 1, 255);
    frame.set(1, c, 255, 0, 255);
    frame.set(2, c, 0, 2, 254);
  }
  const auto out = Filter(frame);
  const std::uint8_t *middle = out.data() + 3 * 3;
  EXPECT_EQ(middle[0], (255 + 2 * 255 + 254) / 4); // red
  EXPECT_EQ(middle[1], 0);                         // green 3 / 4
  EXPECT_EQ(middle[2], 127);                       // blue 510 / 4
}

TEST(FrameFilter, PureBlueBecomesRedZeroGreenZeroBlueFull) {
  BgrFrame frame(9, 5, 1);
  for (int r = 0; r < 5; ++r) {
    for (int c = 0; c < 9; ++c) {
      frame.set(r, c, 0xFF, 0x00, 0x00);
    }
  }
  const auto out = Filter(frame);
  for (std::size_t i = 0; i < out.size(); i += 3) {
    ASSERT_EQ(out[i], 0x00);
    ASSERT_EQ(out[i + 1], 0x00);
    ASSERT_EQ(out[i + 2], 0xFF);
  }
}

TEST(FrameFilter, FramesOfHeightTwoOrLessHaveNoFilteredRow) {
  for (int height : {1, 2}) {
    SCOPED_TRACE(height);
    BgrFrame frame(4, height);
    for (int r = 0; r < height; ++r) {
      for (int c = 0; c < 4; ++c) {
        frame.set(r, c, static_cast<std::uint8_t>(10 + r), static_cast<std::uint8_t>(20 + r),
                  static_cast<std::uint8_t>(30 + 100 * r));
      }
    }
    const auto out = Filter(frame);
    for (int r = 0; r < height; ++r) {
      const std::uint8_t *p = out.data() + r * 4 * 3;
      EXPECT_EQ(p[0], 30 + 100 * r);
      EXPECT_EQ(p[1], 20 + r);
      EXPECT_EQ(p[2], 10 + r);
    }
  }
}

// The fast path must give exactly the plain loop's bytes for every width
// (the vector steps cover 5 or 10 pixels and hand the rest to the narrower
// step; tails and padded rows differ by width).
TEST(FrameFilter, FastPathEqualsThePlainLoop) {
  std::mt19937 random(11);
  for (int width : {1, 2, 5, 6, 7, 10, 11, 16, 17, 20, 21, 33, 641}) {
    for (int height : {3, 4, 9}) {
      for (std::size_t padding : {0u, 1u, 3u}) {
        BgrFrame frame(width, height, padding);
        for (auto &b : frame.bytes) {
          b = static_cast<std::uint8_t>(random());
        }
        std::vector<std::uint8_t> plain(static_cast<std::size_t>(width) * height * 3);
        FilterFrameToRgbScalar(frame.bytes.data(), frame.stride, width, height, plain.data());
        ASSERT_EQ(Filter(frame), plain) << width << "x" << height << " padding " << padding;
      }
    }
  }
}

// Any run of rows must be exactly those rows of the whole-frame pass: the
// first and last rows are copies, all others blends, wherever a run starts.
TEST(FrameFilter, ARunOfRowsEqualsThoseRowsOfTheWholeFrame) {
  std::mt19937 random(12);
  BgrFrame frame(37, 21, 3);
  for (auto &b : frame.bytes) {
    b = static_cast<std::uint8_t>(random());
  }
  const auto whole = Filter(frame);
  const std::size_t rowBytes = static_cast<std::size_t>(frame.width) * 3;
  struct Run {
    int first, count, produced;
  };
  for (const Run run :
       {Run{0, 1, 1}, Run{0, 21, 21}, Run{1, 1, 1}, Run{5, 8, 8}, Run{19, 2, 2}, Run{20, 1, 1}, Run{16, 16, 5}}) {
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(run.count) * rowBytes, 0x55);
    FilterRowsToRgb(frame.bytes.data(), frame.stride, frame.width, frame.height, run.first, run.count, rows.data());
    const auto begin = whole.begin() + static_cast<std::ptrdiff_t>(run.first * rowBytes);
    EXPECT_TRUE(std::equal(begin, begin + static_cast<std::ptrdiff_t>(run.produced * rowBytes), rows.begin()))
        << "rows " << run.first << " + " << run.count;
    // Rows past the picture's end are left alone.
    EXPECT_TRUE(std::all_of(rows.begin() + static_cast<std::ptrdiff_t>(run.produced * rowBytes), rows.end(),
                            [](std::uint8_t b) { return b == 0x55; }))
        << "rows " << run.first << " + " << run.count;
  }
}

// A callback with a log file to look at.
class FrameCallbackTest : public ::testing::Test {
protected:
  void SetUp() override { SetLogTarget(dir_.folder() + "test.log", "", ""); }
  void TearDown() override { FreeLogTarget(); }
  std::string Log() const { return test::ReadFileBytes(dir_.path() / "test.log"); }

  test::TempDir dir_;
  SGCallback callback_;
};

TEST_F(FrameCallbackTest, CollectsOnlyWhileArmed) {
  BgrFrame frame = DistinctLines(16, 8);
  callback_.SetFormat(frame.width, frame.height, frame.stride);
  EXPECT_EQ(callback_.BufferCB(0, frame.bytes.data(), frame.bytes.size()), 0);
  EXPECT_EQ(callback_.FrameCount(), 0);
  callback_.SetArmed(true);
  callback_.BufferCB(0, frame.bytes.data(), frame.bytes.size());
  callback_.BufferCB(0, frame.bytes.data(), frame.bytes.size());
  callback_.SetArmed(false);
  callback_.BufferCB(0, frame.bytes.data(), frame.bytes.size());
  EXPECT_EQ(callback_.FrameCount(), 2);
  ASSERT_EQ(callback_.Frames().size(), 2u);
  EXPECT_EQ(callback_.FrameNanos().size(), 2u);
  callback_.ClearFrames();
  EXPECT_EQ(callback_.FrameCount(), 0);
  EXPECT_TRUE(callback_.Frames().empty());
}

TEST_F(FrameCallbackTest, EachRecordIsABaselineJpegOfTheFrameSizeSampledOneByOne) {
  struct Case {
    int width, height;
    std::size_t padding;
  };
  // Odd widths arrive with rows padded to 4 bytes.
  for (const Case c : {Case{16, 8, 0}, Case{7, 5, 3}, Case{641, 3, 1}, Case{13, 2, 1}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    BgrFrame frame(c.width, c.height, c.padding);
    for (int r = 0; r < c.height; ++r) {
      for (int col = 0; col < c.width; ++col) {
        frame.set(r, col, 0xFF, 0, 0);
      }
    }
    SGCallback callback;
    callback.SetFormat(c.width, c.height, frame.stride);
    callback.SetArmed(true);
    callback.BufferCB(0, frame.bytes.data(), frame.bytes.size());
    ASSERT_EQ(callback.FrameCount(), 1);
    const auto &stream = callback.Frames()[0].data;
    ASSERT_GE(stream.size(), 4u);
    EXPECT_EQ(stream[0], 0xFF);
    EXPECT_EQ(stream[1], 0xD8);
    EXPECT_EQ(stream[stream.size() - 2], 0xFF);
    EXPECT_EQ(stream[stream.size() - 1], 0xD9);
    const auto decoded = test::DecodeJpeg(stream);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.width, c.width);
    EXPECT_EQ(decoded.height, c.height);
    EXPECT_EQ(decoded.components, 3);
    EXPECT_EQ(decoded.sampling, "2x1,1x1,1x1"); // 4:2:2
    EXPECT_TRUE(decoded.baseline);
    // Pure blue comes out blue (red 0, green 0, blue 255 within JPEG's loss).
    const std::uint8_t *p = decoded.rgb.data() + decoded.rgb.size() / 2 / 3 * 3;
    EXPECT_LE(p[0], 4);
    EXPECT_LE(p[1], 4);
    EXPECT_GE(p[2], 250);
  }
}

// The callback filters rows as the encoder asks for them; its stream must be
// the very bytes of filtering the whole frame first and encoding that, for
// heights below, at and across the encoder's row groups and the widths the
// filter's vector steps leave tails on.
TEST_F(FrameCallbackTest, StreamEqualsFilteringTheWholeFrameThenEncoding) {
  struct Case {
    int width, height;
    std::size_t padding;
  };
  std::mt19937 random(13);
  for (const Case c : {Case{1, 1, 0}, Case{7, 1, 1}, Case{13, 2, 0}, Case{17, 15, 3}, Case{16, 16, 0}, Case{33, 17, 2},
                       Case{641, 37, 1}, Case{640, 480, 0}, Case{1920, 1080, 0}}) {
    BgrFrame frame(c.width, c.height, c.padding);
    // Smooth ramps with noise, so the encoder's blocks are far from flat.
    for (int r = 0; r < c.height; ++r) {
      for (int x = 0; x < c.width; ++x) {
        const int noise = static_cast<int>(random() % 24);
        frame.set(r, x, static_cast<std::uint8_t>(x + noise), static_cast<std::uint8_t>(r * 3 + noise),
                  static_cast<std::uint8_t>((x ^ r) + noise));
      }
    }
    std::vector<std::uint8_t> expected;
    ASSERT_EQ(JpegEncode8({c.width, c.height, 3}, Filter(frame).data(), JPEG_MODE_BASELINE, expected, CAPTURE_CHROMA),
              0);

    SGCallback callback;
    callback.SetFormat(frame.width, frame.height, frame.stride);
    callback.SetArmed(true);
    callback.BufferCB(0, frame.bytes.data(), frame.bytes.size());
    callback.SetArmed(false);
    ASSERT_EQ(callback.Frames().size(), 1u) << c.width << "x" << c.height;
    EXPECT_TRUE(callback.Frames()[0].data == expected) << c.width << "x" << c.height << " padding " << c.padding;
  }
}

TEST_F(FrameCallbackTest, TheStoredPictureIsUpright) {
  // Dark at the top, bright at the bottom, as the pipeline hands it over.
  BgrFrame frame(17, 16, 1);
  for (int r = 0; r < 16; ++r) {
    for (int c = 0; c < 17; ++c) {
      const auto v = static_cast<std::uint8_t>(r * 16);
      frame.set(r, c, v, v, v);
    }
  }
  callback_.SetFormat(17, 16, frame.stride);
  callback_.SetArmed(true);
  callback_.BufferCB(0, frame.bytes.data(), frame.bytes.size());
  ASSERT_EQ(callback_.FrameCount(), 1);
  const auto decoded = test::DecodeJpeg(callback_.Frames()[0].data);
  ASSERT_TRUE(decoded.ok);
  const auto grey = [&](int row) { return decoded.rgb[static_cast<std::size_t>(row) * 17 * 3 + 8 * 3 + 1]; };
  EXPECT_LT(grey(0), 24);
  EXPECT_GT(grey(15), 216);
  EXPECT_LT(grey(4), grey(11));
}

TEST_F(FrameCallbackTest, AFrameShorterThanItsFormatIsDroppedAndLogged) {
  BgrFrame frame(16, 8, 0);
  callback_.SetFormat(16, 8, 16 * 3);
  callback_.SetArmed(true);
  callback_.BufferCB(0, frame.bytes.data(), frame.bytes.size() - 1);
  callback_.BufferCB(0, nullptr, 0);
  EXPECT_EQ(callback_.FrameCount(), 0);
  EXPECT_NE(Log().find("ERROR, SGCallback::BufferCB"), std::string::npos);
  // The last row needs only its pixels, not the padding after them.
  BgrFrame padded(16, 8, 4);
  callback_.SetFormat(16, 8, padded.stride);
  callback_.BufferCB(0, padded.bytes.data(), padded.bytes.size() - 4);
  EXPECT_EQ(callback_.FrameCount(), 1);
}

TEST_F(FrameCallbackTest, AnEncoderErrorDropsTheFrameWithoutEscaping) {
  // Wider than the JPEG format allows: the encoder reports a fatal error.
  const int width = 65501;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3, 0x40);
  callback_.SetFormat(width, 1, row.size());
  callback_.SetArmed(true);
  EXPECT_NO_THROW(callback_.BufferCB(0, row.data(), row.size()));
  EXPECT_EQ(callback_.FrameCount(), 0);
  EXPECT_NE(Log().find("ERROR, SGCallback::BufferCB"), std::string::npos);
}

// The streaming thread appends while another thread watches the count, then
// takes the list once the producer has finished.
TEST_F(FrameCallbackTest, CountIsReadableWhileAnotherThreadAppends) {
  BgrFrame frame = DistinctLines(32, 16);
  callback_.SetFormat(frame.width, frame.height, frame.stride);
  callback_.SetArmed(true);
  std::thread producer([&] {
    for (int i = 0; i < 20; ++i) {
      callback_.BufferCB(i, frame.bytes.data(), frame.bytes.size());
    }
  });
  std::int32_t seen = 0;
  while (seen < 20) {
    const std::int32_t now = callback_.FrameCount();
    ASSERT_GE(now, seen);
    seen = now;
    std::this_thread::yield();
  }
  producer.join();
  callback_.SetArmed(false);
  EXPECT_EQ(callback_.Frames().size(), 20u);
}

} // namespace
} // namespace fw
