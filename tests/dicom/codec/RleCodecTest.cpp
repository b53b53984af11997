// RLE Lossless frames: round trips of every sample layout, the PackBits
// coding of runs and literals at their limits, and frames whose header or
// segments do not fit the image.
#include "dicom/codec/RleCodec.h"
#include "tests/dicom/codec/TestImages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace fw {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes &b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t Get32(const Bytes &b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

struct Layout {
  const char *name;
  int columns, rows, components, bytesPerSample;
};

class RleRoundTrip : public ::testing::TestWithParam<Layout> {};

TEST_P(RleRoundTrip, DecodesToTheExactSamples) {
  const Layout &p = GetParam();
  Bytes samples = test::MakePicture8(p.columns * p.bytesPerSample, p.rows, p.components);
  // Flat stretches too, so replicate runs are coded as well as literals.
  for (std::size_t i = 0; i < samples.size() / 3; ++i)
    samples[i] = 7;
  Bytes stream;
  ASSERT_TRUE(RleEncode(samples.data(), p.columns, p.rows, p.components, p.bytesPerSample, stream));
  const int segments = p.components * p.bytesPerSample;
  ASSERT_EQ(Get32(stream, 0), static_cast<std::uint32_t>(segments));
  for (int s = 0; s < segments; ++s)
    EXPECT_EQ(Get32(stream, 4 + 4 * s) % 2, 0u) << "segment " << s << " starts at an odd offset";
  EXPECT_EQ(stream.size() % 2, 0u);

  Bytes decoded(samples.size(), 0xEE);
  ASSERT_TRUE(RleDecode(stream.data(), stream.size(), decoded.data(), decoded.size(), p.bytesPerSample));
  EXPECT_EQ(decoded, samples);
}

INSTANTIATE_TEST_SUITE_P(Layouts, RleRoundTrip,
                         ::testing::Values(Layout{"Grey8", 97, 31, 1, 1}, Layout{"Colour8", 64, 48, 3, 1},
                                           Layout{"Grey16", 33, 20, 1, 2}, Layout{"Colour16", 16, 9, 3, 2},
                                           Layout{"Grey32", 21, 13, 1, 4}, Layout{"OnePixel", 1, 1, 3, 1}),
                         [](const ::testing::TestParamInfo<Layout> &info) { return std::string(info.param.name); });

// Segment order: sample by sample, most significant byte first.
TEST(RleEncode, SegmentsAreMostSignificantBytesFirst) {
  const Bytes samples = {0x34, 0x12, 0x34, 0x12}; // two 16-bit samples 0x1234
  Bytes stream;
  ASSERT_TRUE(RleEncode(samples.data(), 2, 1, 1, 2, stream));
  ASSERT_EQ(Get32(stream, 0), 2u);
  // Two equal bytes: one replicate run "repeat twice".
  EXPECT_EQ(stream[Get32(stream, 4)], 0xFF);
  EXPECT_EQ(stream[Get32(stream, 4) + 1], 0x12);
  EXPECT_EQ(stream[Get32(stream, 8)], 0xFF);
  EXPECT_EQ(stream[Get32(stream, 8) + 1], 0x34);
}

// Runs and literals longer than one control byte can carry, and rows coded
// separately (no run crosses a row end).
TEST(RleEncode, LongRunsAndLiteralsSplitAtTheirLimits) {
  const int width = 300;
  Bytes row(width);
  for (int x = 0; x < 150; ++x)
    row[x] = 9; // a run of 150
  for (int x = 150; x < width; ++x)
    row[x] = static_cast<std::uint8_t>(x); // a literal of 150
  Bytes samples = row;
  samples.insert(samples.end(), row.begin(), row.end());
  Bytes stream;
  ASSERT_TRUE(RleEncode(samples.data(), width, 2, 1, 1, stream));
  const std::size_t at = Get32(stream, 4);
  EXPECT_EQ(stream[at], static_cast<std::uint8_t>(-127));    // 128 repeated
  EXPECT_EQ(stream[at + 2], static_cast<std::uint8_t>(-21)); // then 22
  EXPECT_EQ(stream[at + 4], 127);                            // a literal of 128
  Bytes decoded(samples.size());
  ASSERT_TRUE(RleDecode(stream.data(), stream.size(), decoded.data(), decoded.size(), 1));
  EXPECT_EQ(decoded, samples);
}

TEST(RleEncode, ImpossibleLayoutsAreRefused) {
  const Bytes samples(64);
  Bytes stream;
  EXPECT_FALSE(RleEncode(samples.data(), 2, 2, 4, 4, stream)); // 16 segments
  EXPECT_FALSE(RleEncode(samples.data(), 0, 2, 1, 1, stream));
  EXPECT_FALSE(RleEncode(nullptr, 2, 2, 1, 1, stream));
}

// A valid two-segment frame of 4 pixels (16-bit): each segment a literal of 4.
Bytes TwoSegmentFrame() {
  const std::uint8_t segments[] = {3, 1, 2, 3, 4, 0, 3, 5, 6, 7, 8, 0};
  Bytes f(64 + sizeof segments, 0);
  Put32(f, 0, 2);
  Put32(f, 4, 64);
  Put32(f, 8, 70);
  std::copy(std::begin(segments), std::end(segments), f.begin() + 64);
  return f;
}

TEST(RleDecode, DecodesAHandMadeFrame) {
  const Bytes frame = TwoSegmentFrame();
  Bytes out(8);
  ASSERT_TRUE(RleDecode(frame.data(), frame.size(), out.data(), out.size(), 2));
  EXPECT_EQ(out, (Bytes{5, 1, 6, 2, 7, 3, 8, 4}));
  // -128 is no operation.
  Bytes withNoOp = frame;
  withNoOp.insert(withNoOp.begin() + 64, 0x80);
  Put32(withNoOp, 8, 71);
  Bytes again(8);
  ASSERT_TRUE(RleDecode(withNoOp.data(), withNoOp.size(), again.data(), again.size(), 2));
  EXPECT_EQ(again, out);
}

struct BadFrame {
  const char *name;
  void (*damage)(Bytes &);
  std::size_t slot;
  int bytesPerSample;
  bool headerFault; // refused before anything is written
};

const BadFrame BAD_FRAMES[] = {
    {"no segments", [](Bytes &f) { Put32(f, 0, 0); }, 8, 2, true},
    {"sixteen segments", [](Bytes &f) { Put32(f, 0, 16); }, 8, 2, true},
    {"segments not whole samples", [](Bytes &) {}, 8, 4, true},
    {"three samples of a two-segment frame", [](Bytes &f) { Put32(f, 0, 3); }, 12, 1, true},
    {"slot not a whole number of pixels", [](Bytes &) {}, 9, 2, true},
    {"offset inside the header", [](Bytes &f) { Put32(f, 4, 60); }, 8, 2, true},
    {"offset past the end", [](Bytes &f) { Put32(f, 8, 1000); }, 8, 2, true},
    {"offsets falling", [](Bytes &f) { Put32(f, 8, 64); }, 8, 2, true},
    {"header cut short", [](Bytes &f) { f.resize(40); }, 8, 2, true},
    {"second segment short of its plane", [](Bytes &f) { f.resize(f.size() - 3); }, 8, 2, false},
    {"repeat without its value",
     [](Bytes &f) {
       f.resize(71);
       f[70] = 0xFD;
     },
     8, 2, false},
    {"slot larger than the segments", [](Bytes &) {}, 16, 2, false},
};

TEST(RleDecode, FramesThatDoNotFitTheImageFailInsideTheSlot) {
  for (const BadFrame &c : BAD_FRAMES) {
    Bytes frame = TwoSegmentFrame();
    c.damage(frame);
    Bytes slot(c.slot + 16, 0xA5);
    EXPECT_FALSE(RleDecode(frame.data(), frame.size(), slot.data(), c.slot, c.bytesPerSample)) << c.name;
    for (std::size_t i = c.headerFault ? 0 : c.slot; i < slot.size(); ++i)
      ASSERT_EQ(slot[i], 0xA5) << c.name << ": byte " << i << " written";
  }
}

TEST(RleDecode, ExtraBytesInASegmentAreIgnored) {
  // An odd pixel count leaves a pad byte in every segment.
  const std::uint8_t segment[] = {2, 1, 2, 3, 0, 0};
  Bytes frame(64 + sizeof segment, 0);
  Put32(frame, 0, 1);
  Put32(frame, 4, 64);
  std::copy(std::begin(segment), std::end(segment), frame.begin() + 64);
  Bytes out(3);
  ASSERT_TRUE(RleDecode(frame.data(), frame.size(), out.data(), out.size(), 1));
  EXPECT_EQ(out, (Bytes{1, 2, 3}));
}

} // namespace
} // namespace fw
