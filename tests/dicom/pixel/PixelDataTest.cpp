// Encapsulated pixel data: the layout EncodePixelData writes, round trips
// through every compressed transfer syntax, the decoder chosen by each
// stream's frame header, fragments that are not one per frame, failures that
// are reported instead of leaving blank frames, and the pixel value
// conversions.
#include "dicom/PixelData.h"
#include "dicom/Uids.h"
#include "dicom/codec/J2kCodec.h"
#include "dicom/codec/JpegCodec.h"
#include "tests/dicom/EncodingTestSupport.h"
#include "tests/dicom/pixel/PixelTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <limits>
#include <string>

namespace fw {
namespace {

using test::Image;
using test::LogCapture;
using test::MakeImage;
using Bytes = std::vector<std::uint8_t>;

constexpr std::string_view JPEG_2000_MPEG2 = "1.2.840.10008.1.2.4.100";

// A lossy frame decoded into its own slot is far above this; another
// frame's picture, or a blank slot, far below.
constexpr double SAME_PICTURE_DB = 30.0;

const DcmTag &At(const DcmObj &c, std::size_t i) { return *c.ElementAt(i); }

std::vector<std::string> Errors(const LogCapture &log) {
  std::vector<std::string> errors;
  for (const std::string &line : log.Lines())
    if (line.rfind("ERROR", 0) == 0)
      errors.push_back(line);
  return errors;
}

// A destination with guard bytes behind the frames, which no decoder may touch.
struct Destination {
  static constexpr std::size_t GUARD = 64;
  explicit Destination(std::size_t total) : bytes(total + GUARD, 0xA5), total(total) {}
  Bytes Frames() const { return {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(total)}; }
  bool GuardIntact() const {
    return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(total), bytes.end(),
                       [](std::uint8_t b) { return b == 0xA5; });
  }
  Bytes bytes;
  std::size_t total;
};

// Encapsulated pixel data built by hand: offset table, fragments, delimiter.
void SetFragments(DcmObj &c, std::string_view syntax, const std::vector<Bytes> &fragments, const Bytes &table = {}) {
  std::size_t index = 0;
  test::MakePixelDataSet(c, index);
  c.transferSyntax = std::string(syntax);
  DcmTag &pixel = *c.ElementAt(index);
  pixel.SetVR("OB");
  pixel.length = UNDEFINED_LENGTH;
  std::size_t at = index + 1;
  c.InsertAt(at++, DcmTag::FromBytes(0xFFFE, 0xE000, static_cast<std::uint32_t>(table.size()), table.data(), "DL"));
  for (const Bytes &f : fragments)
    c.InsertAt(at++, DcmTag::FromBytes(0xFFFE, 0xE000, static_cast<std::uint32_t>(f.size()), f.data(), "DL"));
  c.InsertAt(at, DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
}

Bytes EncodeBaseline(const Bytes &samples, int columns, int rows, int components) {
  Bytes out;
  JpegEncode8({columns, rows, components}, samples.data(), JPEG_MODE_BASELINE, out);
  return out;
}

// The pixel element stands alone with an undefined length, the element after
// it untouched.
void ExpectOnlyPixelElementLeft(const DcmObj &c) {
  ASSERT_EQ(c.Count(), 3u);
  EXPECT_TRUE(At(c, 1).Is(0x7FE0, 0x0010));
  EXPECT_EQ(At(c, 1).length, UNDEFINED_LENGTH);
  EXPECT_TRUE(At(c, 2).Is(0xFFFC, 0xFFFC));
}

TEST(EncapsulatedLayout, ThreeFrameBaselineImageIsSixEntriesAndDecodesBackToThePixelElement) {
  const Image image = MakeImage(64, 48, 3, 8, 8, false);
  DcmObj c;
  std::size_t index = 0;
  test::MakePixelDataSet(c, index);
  float ratio = -1;
  ASSERT_TRUE(test::Encode(c, index, image, JPEG_BASELINE, &ratio));

  // Element before, six pixel data entries, trailing padding.
  ASSERT_EQ(c.Count(), 8u);
  EXPECT_EQ(index, 6u);
  const DcmTag &pixel = At(c, 1);
  EXPECT_TRUE(pixel.Is(0x7FE0, 0x0010));
  EXPECT_EQ(pixel.VR(), "OB");
  EXPECT_EQ(pixel.length, UNDEFINED_LENGTH);
  EXPECT_FALSE(pixel.HasValue());
  EXPECT_TRUE(At(c, 2).Is(0xFFFE, 0xE000));
  EXPECT_EQ(At(c, 2).length, 0u);
  std::uint64_t encoded = 0;
  for (std::size_t i = 3; i < 6; ++i) {
    const DcmTag &item = At(c, i);
    EXPECT_TRUE(item.Is(0xFFFE, 0xE000));
    EXPECT_EQ(item.VR(), "DL");
    EXPECT_EQ(item.length % 2, 0u);
    ASSERT_GE(item.data.size(), 2u);
    EXPECT_EQ(item.data[0], 0xFF);
    EXPECT_EQ(item.data[1], 0xD8);
    encoded += item.length;
  }
  EXPECT_TRUE(At(c, 6).Is(0xFFFE, 0xE0DD));
  EXPECT_EQ(At(c, 6).length, 0u);
  EXPECT_TRUE(At(c, 7).Is(0xFFFC, 0xFFFC));
  // raw / encoded; items may carry one fill byte each.
  EXPECT_NEAR(ratio, static_cast<double>(image.pixels.size()) / static_cast<double>(encoded), 0.05);

  c.transferSyntax = std::string(JPEG_BASELINE);
  Destination out(image.pixels.size());
  std::vector<int> failed;
  EXPECT_TRUE(DecodePixelData(c, 1,
                              {.destination = out.bytes.data(),
                               .totalBytes = out.total,
                               .frames = 3,
                               .bitsAllocated = 8,
                               .failedFrames = &failed}));
  EXPECT_TRUE(failed.empty());
  ExpectOnlyPixelElementLeft(c);
  EXPECT_TRUE(out.GuardIntact());
  const Image decoded{64, 48, 3, 8, 8, false, out.Frames()};
  for (int f = 0; f < 3; ++f)
    EXPECT_GT(test::Psnr(image.Frame(f), decoded.Frame(f), 255), SAME_PICTURE_DB) << "frame " << f;
}

struct RoundTrip {
  const char *name;
  std::string_view syntax;
  int columns, rows, frames, bitsAllocated, bitsStored;
  bool colour;
  double psnrFloor; // 0: exact
  bool lossyRatio;
};

void PrintTo(const RoundTrip &p, std::ostream *os) { *os << p.name; }

class PixelRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(PixelRoundTrip, DecodesToTheInputFrameByFrame) {
  const RoundTrip &p = GetParam();
  const Image image = MakeImage(p.columns, p.rows, p.frames, p.bitsAllocated, p.bitsStored, p.colour);
  DcmObj c;
  std::size_t index = 0;
  test::MakePixelDataSet(c, index);
  float ratio = -1;
  ASSERT_TRUE(test::Encode(c, index, image, p.syntax, &ratio));
  EXPECT_EQ(index, 3u + static_cast<std::size_t>(p.frames)) << "the delimiter";
  if (p.lossyRatio)
    EXPECT_GT(ratio, 1.0f);
  else
    EXPECT_EQ(ratio, -1.0f) << "the ratio is set for lossy targets only";

  c.transferSyntax = std::string(p.syntax);
  Destination out(image.pixels.size());
  ASSERT_TRUE(DecodePixelData(c, 1,
                              {.destination = out.bytes.data(),
                               .totalBytes = out.total,
                               .frames = p.frames,
                               .bitsAllocated = p.bitsAllocated}));
  ExpectOnlyPixelElementLeft(c);
  EXPECT_TRUE(out.GuardIntact());
  const Image decoded{p.columns, p.rows, p.frames, p.bitsAllocated, p.bitsStored, p.colour, out.Frames()};
  for (int f = 0; f < p.frames; ++f) {
    if (p.psnrFloor == 0)
      EXPECT_EQ(decoded.Frame(f), image.Frame(f)) << "frame " << f;
    else
      EXPECT_GT(test::Psnr(image.Frame(f), decoded.Frame(f), (1 << p.bitsStored) - 1, p.bitsAllocated == 16),
                p.psnrFloor)
          << "frame " << f;
  }
}

// PSNR floors: measured once on these pictures (lowest frame), floor set a
// little below: baseline grey 40.0 dB, colour 32.2; extended 12-bit 57.4;
// J2K rate 10 16-bit 59.8.
INSTANTIATE_TEST_SUITE_P(
    Syntaxes, PixelRoundTrip,
    ::testing::Values(RoundTrip{"Lossless8Grey", JPEG_LOSSLESS, 64, 48, 2, 8, 8, false, 0, false},
                      RoundTrip{"Lossless8Colour", JPEG_LOSSLESS, 40, 30, 2, 8, 8, true, 0, false},
                      RoundTrip{"Lossless16Grey", JPEG_LOSSLESS, 64, 48, 2, 16, 16, false, 0, false},
                      RoundTrip{"Lossless12In16Grey", JPEG_LOSSLESS, 33, 17, 3, 16, 12, false, 0, false},
                      RoundTrip{"Lossless16Colour", JPEG_LOSSLESS, 20, 10, 2, 16, 16, true, 0, false},
                      RoundTrip{"J2kLossless8Grey", JPEG_2000_LOSSLESS, 64, 48, 2, 8, 8, false, 0, false},
                      RoundTrip{"J2kLossless16Grey", JPEG_2000_LOSSLESS, 64, 48, 2, 16, 16, false, 0, false},
                      RoundTrip{"J2kLossless8Colour", JPEG_2000_LOSSLESS, 40, 30, 2, 8, 8, true, 0, false},
                      RoundTrip{"J2kLossless16x16", JPEG_2000_LOSSLESS, 16, 16, 1, 8, 8, false, 0, false},
                      RoundTrip{"BaselineGrey", JPEG_BASELINE, 64, 48, 2, 8, 8, false, 39.5, true},
                      RoundTrip{"BaselineColour", JPEG_BASELINE, 64, 48, 2, 8, 8, true, 31.5, true},
                      RoundTrip{"Extended12", JPEG_EXTENDED, 64, 48, 2, 16, 12, false, 56.5, true},
                      RoundTrip{"J2kRate10", JPEG_2000, 64, 48, 2, 16, 16, false, 59.0, true}),
    [](const ::testing::TestParamInfo<RoundTrip> &info) { return std::string(info.param.name); });

// A fragment of `syntax` holding `stream`, decoded into a slot of the given
// size and sample width.
bool DecodeOne(std::string_view syntax, const Bytes &stream, Destination &out, int bitsAllocated) {
  DcmObj c;
  SetFragments(c, syntax, {stream});
  return DecodePixelData(
      c, 1, {.destination = out.bytes.data(), .totalBytes = out.total, .frames = 1, .bitsAllocated = bitsAllocated});
}

TEST(DecoderChoice, FrameMarkerAndPrecisionChooseTheDecoderWhateverTheSyntax) {
  const Bytes grey8 = test::MakePicture8(32, 16, 1);
  const Bytes grey12 = test::MakePicture16(32, 16, 1, 12);
  Bytes baseline, lossless8, extended12, lossless16;
  JpegEncode8({32, 16, 1}, grey8.data(), JPEG_MODE_BASELINE, baseline);
  JpegEncode8({32, 16, 1}, grey8.data(), JPEG_MODE_LOSSLESS, lossless8);
  JpegEncode12({32, 16, 1}, grey12.data(), extended12);
  JpegEncode16({32, 16, 1}, grey12.data(), lossless16);

  // An 8-bit stream in JPEG extended, as other toolkits write it.
  Destination a(grey8.size());
  ASSERT_TRUE(DecodeOne(JPEG_EXTENDED, baseline, a, 8));
  EXPECT_GT(test::Psnr(grey8, a.Frames(), 255), SAME_PICTURE_DB);
  // 12-bit extended and 16-bit lossless under the baseline UID.
  Destination b(grey12.size());
  ASSERT_TRUE(DecodeOne(JPEG_BASELINE, extended12, b, 16));
  EXPECT_GT(test::Psnr(grey12, b.Frames(), 4095, true), SAME_PICTURE_DB);
  Destination d(grey12.size());
  ASSERT_TRUE(DecodeOne(JPEG_BASELINE, lossless16, d, 16));
  EXPECT_EQ(d.Frames(), grey12);
  // An 8-bit lossless stream in a 16-bit slot comes out as exact words.
  Bytes widened;
  for (std::uint8_t v : grey8) {
    widened.push_back(v);
    widened.push_back(0);
  }
  Destination e(widened.size());
  ASSERT_TRUE(DecodeOne(JPEG_LOSSLESS, lossless8, e, 16));
  EXPECT_EQ(e.Frames(), widened);
  Destination f(grey8.size());
  ASSERT_TRUE(DecodeOne(JPEG_LOSSLESS, lossless8, f, 8));
  EXPECT_EQ(f.Frames(), grey8);
}

TEST(DecoderChoice, StreamsThatDoNotFillTheSlotExactlyFail) {
  const Bytes grey8 = test::MakePicture8(32, 16, 1);
  const Bytes stream = EncodeBaseline(grey8, 32, 16, 1);
  LogCapture log;
  struct Case {
    const char *name;
    std::size_t slot;
    int bitsAllocated;
  } cases[] = {
      {"slot one byte smaller", grey8.size() - 1, 8},
      {"slot one row larger", grey8.size() + 32, 8},
      {"8-bit frame slot read as 16-bit words", grey8.size(), 16},
  };
  for (const Case &k : cases) {
    Destination out(k.slot);
    EXPECT_FALSE(DecodeOne(JPEG_BASELINE, stream, out, k.bitsAllocated)) << k.name;
    EXPECT_TRUE(out.GuardIntact()) << k.name;
  }
  Bytes extended12;
  const Bytes grey12 = test::MakePicture16(32, 16, 1, 12);
  JpegEncode12({32, 16, 1}, grey12.data(), extended12);
  Destination narrow(grey12.size() / 2);
  EXPECT_FALSE(DecodeOne(JPEG_EXTENDED, extended12, narrow, 8)) << "12-bit stream into an 8-bit slot";
  EXPECT_TRUE(narrow.GuardIntact());
}

TEST(DecoderChoice, RawBigEndianLosslessFragmentIsCopiedWithBytesSwapped) {
  const Bytes samples = {0x12, 0x34, 0xAB, 0xCD, 0x00, 0xFF, 0x80, 0x01};
  Destination out(samples.size());
  ASSERT_TRUE(DecodeOne(JPEG_LOSSLESS, samples, out, 16));
  EXPECT_EQ(out.Frames(), (Bytes{0x34, 0x12, 0xCD, 0xAB, 0xFF, 0x00, 0x01, 0x80}));
  // Only in JPEG lossless, only when the fragment is the frame's size.
  Destination baseline(samples.size());
  EXPECT_FALSE(DecodeOne(JPEG_BASELINE, samples, baseline, 16));
  Destination larger(samples.size() + 2);
  EXPECT_FALSE(DecodeOne(JPEG_LOSSLESS, samples, larger, 16));
}

TEST(DecoderChoice, J2kStreamOfEightBitsFillsASixteenBitSlot) {
  const Bytes grey8 = test::MakePicture8(20, 10, 1);
  Bytes stream;
  ASSERT_TRUE(J2kEncode(grey8.data(), {20, 10, 1}, 8, J2K_RATE_LOSSLESS, stream));
  Destination out(grey8.size() * 2);
  ASSERT_TRUE(DecodeOne(JPEG_2000_LOSSLESS, stream, out, 16));
  for (std::size_t i = 0; i < grey8.size(); ++i) {
    ASSERT_EQ(out.bytes[2 * i], grey8[i]) << i;
    ASSERT_EQ(out.bytes[2 * i + 1], 0) << i;
  }
  Destination smaller(grey8.size() - 20);
  EXPECT_FALSE(DecodeOne(JPEG_2000_LOSSLESS, stream, smaller, 8));
  EXPECT_TRUE(smaller.GuardIntact());
}

// Frames of a 2- or 3-frame baseline image as separate streams.
std::vector<Bytes> BaselineFrames(const Image &image) {
  std::vector<Bytes> streams;
  for (int f = 0; f < image.frames; ++f)
    streams.push_back(EncodeBaseline(image.Frame(f), image.columns, image.rows, 1));
  return streams;
}

Bytes OffsetTable(const std::vector<std::uint32_t> &offsets) {
  Bytes table;
  for (std::uint32_t o : offsets)
    for (int s = 0; s < 32; s += 8)
      table.push_back(static_cast<std::uint8_t>(o >> s));
  return table;
}

// Splits a stream into fragments of at most `size` bytes (even sizes).
std::vector<Bytes> Split(const Bytes &stream, std::size_t size) {
  std::vector<Bytes> parts;
  for (std::size_t at = 0; at < stream.size(); at += size)
    parts.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at),
                       stream.begin() + static_cast<std::ptrdiff_t>(std::min(stream.size(), at + size)));
  return parts;
}

std::uint32_t ItemBytes(const std::vector<Bytes> &parts) {
  std::uint32_t bytes = 0;
  for (const Bytes &p : parts)
    bytes += 8 + static_cast<std::uint32_t>(p.size() + p.size() % 2);
  return bytes;
}

TEST(Fragments, SingleFrameTakesAllItsFragmentsAsOneStream) {
  const Image image = MakeImage(48, 32, 1, 8, 8, false);
  const Bytes stream = EncodeBaseline(image.pixels, 48, 32, 1);
  DcmObj c;
  SetFragments(c, JPEG_BASELINE, Split(stream, 200));
  ASSERT_GT(c.Count(), 6u);
  Destination out(image.pixels.size());
  EXPECT_TRUE(DecodePixelData(
      c, 1, {.destination = out.bytes.data(), .totalBytes = out.total, .frames = 1, .bitsAllocated = 8}));
  ExpectOnlyPixelElementLeft(c);
  EXPECT_GT(test::Psnr(image.pixels, out.Frames(), 255), SAME_PICTURE_DB);
}

TEST(Fragments, SeveralFramesSplitIntoFragmentsAreFoundThroughTheOffsetTable) {
  const Image image = MakeImage(48, 32, 3, 8, 8, false);
  const std::vector<Bytes> streams = BaselineFrames(image);
  std::vector<Bytes> fragments;
  std::vector<std::uint32_t> offsets;
  std::uint32_t position = 0;
  for (const Bytes &s : streams) {
    offsets.push_back(position);
    const std::vector<Bytes> parts = Split(s, 300);
    position += ItemBytes(parts);
    fragments.insert(fragments.end(), parts.begin(), parts.end());
  }
  DcmObj c;
  SetFragments(c, JPEG_BASELINE, fragments, OffsetTable(offsets));
  Destination out(image.pixels.size());
  std::vector<int> failed;
  EXPECT_TRUE(DecodePixelData(c, 1,
                              {.destination = out.bytes.data(),
                               .totalBytes = out.total,
                               .frames = 3,
                               .bitsAllocated = 8,
                               .failedFrames = &failed}));
  EXPECT_TRUE(failed.empty());
  ExpectOnlyPixelElementLeft(c);
  const Image decoded{48, 32, 3, 8, 8, false, out.Frames()};
  for (int f = 0; f < 3; ++f)
    EXPECT_GT(test::Psnr(image.Frame(f), decoded.Frame(f), 255), SAME_PICTURE_DB) << "frame " << f;
}

TEST(Fragments, WithoutAUsableOffsetTableEachFragmentIsAFrameAndSplitFramesFail) {
  const Image image = MakeImage(48, 32, 2, 8, 8, false);
  const std::vector<Bytes> streams = BaselineFrames(image);
  const std::vector<Bytes> first = Split(streams[0], 300);
  ASSERT_GE(first.size(), 2u);
  std::vector<Bytes> fragments = first;
  fragments.push_back(streams[1]);
  const std::uint32_t second = ItemBytes(first);
  struct Case {
    const char *name;
    Bytes table;
  } cases[] = {
      {"no table", {}},
      {"offset inside an item", OffsetTable({0, second - 2})},
      {"first offset not 0", OffsetTable({8, second})},
      {"one entry for two frames", OffsetTable({0})},
      {"falling offsets", OffsetTable({second, 0})},
  };
  for (const Case &k : cases) {
    LogCapture log;
    DcmObj c;
    SetFragments(c, JPEG_BASELINE, fragments, k.table);
    Destination out(image.pixels.size());
    std::vector<int> failed;
    EXPECT_FALSE(DecodePixelData(c, 1,
                                 {.destination = out.bytes.data(),
                                  .totalBytes = out.total,
                                  .frames = 2,
                                  .bitsAllocated = 8,
                                  .failedFrames = &failed}))
        << k.name;
    EXPECT_EQ(failed, (std::vector<int>{0, 1})) << k.name << ": halves of frame 0 are not frames";
    ExpectOnlyPixelElementLeft(c);
    EXPECT_TRUE(out.GuardIntact());
    const std::vector<std::string> lines = log.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "WARNING, DecodePixelData, " + std::to_string(fragments.size()) +
                            " fragments for 2 frames and no usable offset table"),
              lines.end())
        << k.name;
  }
}

TEST(Fragments, FramesWithoutAFragmentFail) {
  const Image image = MakeImage(48, 32, 3, 8, 8, false);
  const std::vector<Bytes> streams = BaselineFrames(image);
  DcmObj c;
  SetFragments(c, JPEG_BASELINE, {streams[0], streams[1]});
  Destination out(image.pixels.size());
  std::vector<int> failed;
  LogCapture log;
  EXPECT_FALSE(DecodePixelData(c, 1,
                               {.destination = out.bytes.data(),
                                .totalBytes = out.total,
                                .frames = 3,
                                .bitsAllocated = 8,
                                .failedFrames = &failed}));
  EXPECT_EQ(failed, std::vector<int>{2});
  EXPECT_EQ(Errors(log), std::vector<std::string>{"ERROR, DecodePixelData, frame 2 failed"});
  ExpectOnlyPixelElementLeft(c);
  const Image decoded{48, 32, 3, 8, 8, false, out.Frames()};
  EXPECT_GT(test::Psnr(image.Frame(1), decoded.Frame(1), 255), SAME_PICTURE_DB);
}

TEST(DecodeFailures, ManyFailedFramesAreCountedAfterTheFirstSixteen) {
  DcmObj c;
  SetFragments(c, JPEG_BASELINE, {});
  Destination out(20 * 4);
  std::vector<int> failed;
  LogCapture log;
  EXPECT_FALSE(DecodePixelData(c, 1,
                               {.destination = out.bytes.data(),
                                .totalBytes = out.total,
                                .frames = 20,
                                .bitsAllocated = 8,
                                .failedFrames = &failed}));
  EXPECT_EQ(failed.size(), 20u);
  const std::vector<std::string> errors = Errors(log);
  ASSERT_EQ(errors.size(), 17u);
  EXPECT_EQ(errors[15], "ERROR, DecodePixelData, frame 15 failed");
  EXPECT_EQ(errors[16], "ERROR, DecodePixelData, 4 more frames failed");
  ExpectOnlyPixelElementLeft(c);
}

TEST(DecodeFailures, CutOrDamagedFragmentsFailTheirFrameAndAreReported) {
  const Image image = MakeImage(64, 48, 3, 8, 8, false);
  const std::vector<Bytes> streams = BaselineFrames(image);
  struct Case {
    const char *name;
    std::function<Bytes(Bytes)> damage;
  } cases[] = {
      {"cut in half", [](Bytes s) { return Bytes(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(s.size() / 2)); }},
      {"only the first 40 bytes", [](Bytes s) { return Bytes(s.begin(), s.begin() + 40); }},
      {"empty", [](Bytes) { return Bytes{}; }},
      {"entropy data overwritten",
       [](Bytes s) {
         for (std::size_t i = s.size() / 2; i < s.size() / 2 + 64; ++i)
           s[i] = 0xFF;
         return s;
       }},
      {"frame header says 4 times the rows",
       [](Bytes s) {
         for (std::size_t i = 2; i + 6 < s.size(); ++i)
           if (s[i] == 0xFF && s[i + 1] == 0xC0) {
             s[i + 5] = 0;
             s[i + 6] = 192;
             break;
           }
         return s;
       }},
  };
  for (const Case &k : cases) {
    LogCapture log;
    DcmObj c;
    SetFragments(c, JPEG_BASELINE, {streams[0], k.damage(streams[1]), streams[2]});
    Destination out(image.pixels.size());
    std::vector<int> failed;
    EXPECT_FALSE(DecodePixelData(c, 1,
                                 {.destination = out.bytes.data(),
                                  .totalBytes = out.total,
                                  .frames = 3,
                                  .bitsAllocated = 8,
                                  .failedFrames = &failed}))
        << k.name;
    EXPECT_EQ(failed, std::vector<int>{1}) << k.name;
    EXPECT_EQ(Errors(log), std::vector<std::string>{"ERROR, DecodePixelData, frame 1 failed"}) << k.name;
    ExpectOnlyPixelElementLeft(c);
    EXPECT_TRUE(out.GuardIntact()) << k.name;
    const Image decoded{64, 48, 3, 8, 8, false, out.Frames()};
    EXPECT_GT(test::Psnr(image.Frame(2), decoded.Frame(2), 255), SAME_PICTURE_DB)
        << k.name << ": later frames still decode";
  }
}

TEST(DecodeFailures, DamagedJ2kFragmentFails) {
  const Image image = MakeImage(64, 48, 1, 16, 16, false);
  DcmObj c;
  std::size_t index = 0;
  test::MakePixelDataSet(c, index);
  ASSERT_TRUE(test::Encode(c, index, image, JPEG_2000_LOSSLESS));
  DcmTag &item = *c.ElementAt(3);
  item.data.resize(item.data.size() / 2);
  item.length = static_cast<std::uint32_t>(item.data.size());
  c.transferSyntax = std::string(JPEG_2000_LOSSLESS);
  LogCapture log;
  Destination out(image.pixels.size());
  EXPECT_FALSE(DecodePixelData(
      c, 1, {.destination = out.bytes.data(), .totalBytes = out.total, .frames = 1, .bitsAllocated = 16}));
  EXPECT_EQ(Errors(log), std::vector<std::string>{"ERROR, DecodePixelData, frame 0 failed"});
  EXPECT_TRUE(out.GuardIntact());
}

TEST(DecodeFailures, TransferSyntaxWithoutDecoderFailsAfterLosingItsOffsetTable) {
  const Bytes fragment(100, 0x47);
  DcmObj c;
  SetFragments(c, JPEG_2000_MPEG2, {fragment, fragment});
  LogCapture log;
  Destination out(64);
  std::vector<int> failed;
  EXPECT_FALSE(DecodePixelData(c, 1,
                               {.destination = out.bytes.data(),
                                .totalBytes = out.total,
                                .frames = 2,
                                .bitsAllocated = 8,
                                .failedFrames = &failed}));
  EXPECT_EQ(failed, (std::vector<int>{0, 1}));
  EXPECT_EQ(Errors(log),
            std::vector<std::string>{"ERROR, DecodePixelData, no decoder for transfer syntax 1.2.840.10008.1.2.4.100"});
  // Pixel element, two fragments, delimiter, padding: only the table is gone.
  ASSERT_EQ(c.Count(), 6u);
  EXPECT_EQ(At(c, 2).data, fragment);
  EXPECT_TRUE(At(c, 4).Is(0xFFFE, 0xE0DD));
  EXPECT_EQ(out.Frames(), Bytes(64, 0xA5)) << "nothing decoded";
}

TEST(DecodeFailures, NoEncapsulatedPixelDataAtIndexChangesNothing) {
  DcmObj c;
  std::size_t index = 0;
  test::MakePixelDataSet(c, index);
  c.transferSyntax = std::string(JPEG_BASELINE);
  Destination out(16);
  LogCapture log;
  EXPECT_FALSE(DecodePixelData(
      c, index, {.destination = out.bytes.data(), .totalBytes = out.total, .frames = 1, .bitsAllocated = 8}))
      << "native pixel data";
  EXPECT_FALSE(DecodePixelData(
      c, 0, {.destination = out.bytes.data(), .totalBytes = out.total, .frames = 1, .bitsAllocated = 8}))
      << "another element";
  EXPECT_FALSE(DecodePixelData(
      c, 99, {.destination = out.bytes.data(), .totalBytes = out.total, .frames = 1, .bitsAllocated = 8}))
      << "no entry";
  EXPECT_EQ(c.Count(), 3u);
  DcmObj encapsulated;
  SetFragments(encapsulated, JPEG_BASELINE, {Bytes(16, 1)});
  EXPECT_FALSE(DecodePixelData(
      encapsulated, 1, {.destination = out.bytes.data(), .totalBytes = out.total, .frames = 0, .bitsAllocated = 8}))
      << "no frames";
  EXPECT_FALSE(DecodePixelData(encapsulated, 1,
                               {.destination = nullptr, .totalBytes = out.total, .frames = 1, .bitsAllocated = 8}))
      << "no destination";
  std::vector<int> failed;
  EXPECT_FALSE(DecodePixelData(
      encapsulated, 1,
      {.destination = out.bytes.data(), .totalBytes = 3, .frames = 4, .bitsAllocated = 8, .failedFrames = &failed}))
      << "fewer bytes than frames";
  EXPECT_TRUE(failed.empty());
  EXPECT_EQ(encapsulated.Count(), 6u);
}

class EncodeFixture : public ::testing::Test {
protected:
  void SetUp() override { test::MakePixelDataSet(c, index); }

  // The container's entries as (tag key, length) pairs.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Entries() const {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
    for (std::size_t i = 0; i < c.Count(); ++i)
      entries.emplace_back(At(c, i).Key(), At(c, i).length);
    return entries;
  }

  DcmObj c;
  std::size_t index = 0;
};

TEST_F(EncodeFixture, JpegExtendedRefusesEightBitDataAndChangesNothing) {
  const auto before = Entries();
  for (const Image &image : {MakeImage(16, 16, 1, 8, 8, false), MakeImage(16, 16, 1, 16, 8, false)}) {
    std::vector<std::uint8_t> work = image.pixels;
    float ratio = -1;
    LogCapture log;
    EXPECT_FALSE(EncodePixelData(c, index,
                                 {.pixels = work.data(),
                                  .pixelBytes = work.size(),
                                  .frames = 1,
                                  .columns = 16,
                                  .rows = 16,
                                  .bitsAllocated = image.bitsAllocated,
                                  .bitsStored = 8,
                                  .rescale = {.slope = 2.0f, .intercept = 5.0f},
                                  .targetTransferSyntax = JPEG_EXTENDED},
                                 ratio));
    EXPECT_EQ(Errors(log),
              std::vector<std::string>{"ERROR, EncodePixelData, JPEG extended needs more than 8 bits per sample"});
    EXPECT_EQ(work, image.pixels);
    EXPECT_EQ(ratio, -1.0f);
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(Entries(), before);
  }
}

TEST_F(EncodeFixture, ImpossibleRequestsFailWithTheContainerUnchanged) {
  const auto before = Entries();
  Image image = MakeImage(16, 16, 2, 16, 12, false);
  struct Case {
    const char *name;
    std::size_t bytes;
    int bitsAllocated;
    int frames;
    std::string_view syntax;
  } cases[] = {
      {"buffer one byte short", image.pixels.size() - 1, 16, 2, JPEG_LOSSLESS},
      {"buffer one byte short, native", image.pixels.size() - 1, 16, 2, EXPLICIT_VR_LITTLE_ENDIAN},
      {"no frames", image.pixels.size(), 16, 0, JPEG_LOSSLESS},
      {"12 bits allocated", image.pixels.size(), 12, 2, JPEG_2000_LOSSLESS},
      {"32 bits allocated", image.pixels.size() * 2, 32, 1, JPEG_LOSSLESS},
  };
  for (const Case &k : cases) {
    std::vector<std::uint8_t> work(std::max(k.bytes, image.pixels.size()));
    std::copy(image.pixels.begin(), image.pixels.end(), work.begin());
    float ratio = -1;
    LogCapture log;
    EXPECT_FALSE(EncodePixelData(c, index,
                                 {.pixels = work.data(),
                                  .pixelBytes = k.bytes,
                                  .frames = k.frames,
                                  .columns = 16,
                                  .rows = 16,
                                  .bitsAllocated = k.bitsAllocated,
                                  .bitsStored = 12,
                                  .targetTransferSyntax = k.syntax},
                                 ratio))
        << k.name;
    EXPECT_EQ(Errors(log).size(), 1u) << k.name;
    EXPECT_EQ(Entries(), before) << k.name;
  }
}

TEST_F(EncodeFixture, JpegEncoderErrorPropagatesWithTheContainerUnchanged) {
  const auto before = Entries();
  // Wider than a JPEG frame header can say.
  const Image image = MakeImage(70000, 1, 1, 8, 8, false);
  EXPECT_THROW(test::Encode(c, index, image, JPEG_BASELINE), JpegError);
  EXPECT_EQ(Entries(), before);
  EXPECT_EQ(index, 1u);
}

TEST(EncodeFailures, OldFragmentsAfterThePixelDataAreNotBuriedUnderNewOnes) {
  DcmObj c;
  SetFragments(c, JPEG_2000_MPEG2, {Bytes(10, 1)});
  c.RemoveAt(2); // the offset table, as DecodePixelData leaves a syntax it cannot decode
  const std::size_t count = c.Count();
  const Image image = MakeImage(16, 16, 1, 8, 8, false);
  std::size_t at = 1;
  LogCapture log;
  EXPECT_FALSE(test::Encode(c, at, image, EXPLICIT_VR_LITTLE_ENDIAN));
  EXPECT_EQ(Errors(log), std::vector<std::string>{
                             "ERROR, EncodePixelData, fragments of the old encoding still follow the pixel data"});
  EXPECT_EQ(c.Count(), count);
  EXPECT_EQ(At(c, 1).length, UNDEFINED_LENGTH);
  EXPECT_EQ(At(c, 2).data, Bytes(10, 1));
}

TEST_F(EncodeFixture, NativeTargetsStoreTheBufferWithItsExactLength) {
  struct Case {
    const char *name;
    Image image;
    std::string_view vr;
    std::uint32_t length;
  } cases[] = {
      {"16-bit grey is OW", MakeImage(7, 5, 2, 16, 12, false), "OW", 7 * 5 * 2 * 2},
      {"8-bit grey is OB", MakeImage(8, 5, 2, 8, 8, false), "OB", 8 * 5 * 2},
      {"8-bit colour is OB", MakeImage(4, 3, 1, 8, 8, true), "OB", 4 * 3 * 3},
      {"odd length gets one zero byte", MakeImage(3, 3, 1, 8, 8, false), "OB", 10},
  };
  for (const Case &k : cases) {
    for (std::string_view syntax : {IMPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_BIG_ENDIAN}) {
      DcmObj set;
      std::size_t at = 0;
      test::MakePixelDataSet(set, at);
      float ratio = -1;
      Bytes work = k.image.pixels;
      work.resize(work.size() + 5, 0xEE); // the buffer may be larger than the frames
      ASSERT_TRUE(EncodePixelData(set, at,
                                  {.pixels = work.data(),
                                   .pixelBytes = work.size(),
                                   .frames = k.image.frames,
                                   .columns = k.image.columns,
                                   .rows = k.image.rows,
                                   .isColour = k.image.colour,
                                   .bitsAllocated = k.image.bitsAllocated,
                                   .bitsStored = k.image.bitsStored,
                                   .targetTransferSyntax = syntax},
                                  ratio))
          << k.name;
      EXPECT_EQ(at, 1u);
      ASSERT_EQ(set.Count(), 3u) << k.name << ": no items";
      const DcmTag &pixel = At(set, 1);
      EXPECT_EQ(pixel.VR(), k.vr) << k.name;
      EXPECT_EQ(pixel.length, k.length) << k.name;
      Bytes expected = k.image.pixels;
      expected.resize(k.length, 0);
      EXPECT_EQ(pixel.data, expected) << k.name;
      EXPECT_EQ(ratio, -1.0f);
    }
  }
}

TEST_F(EncodeFixture, DecodeThenEncodeConvertsBetweenSyntaxes) {
  const Image image = MakeImage(40, 20, 2, 16, 16, false);
  ASSERT_TRUE(test::Encode(c, index, image, JPEG_LOSSLESS));
  c.transferSyntax = std::string(JPEG_LOSSLESS);
  Bytes buffer(image.pixels.size());
  ASSERT_TRUE(DecodePixelData(
      c, 1, {.destination = buffer.data(), .totalBytes = buffer.size(), .frames = 2, .bitsAllocated = 16}));
  std::size_t at = 1;
  float ratio = -1;
  ASSERT_TRUE(EncodePixelData(c, at,
                              {.pixels = buffer.data(),
                               .pixelBytes = buffer.size(),
                               .frames = 2,
                               .columns = 40,
                               .rows = 20,
                               .bitsAllocated = 16,
                               .bitsStored = 16,
                               .targetTransferSyntax = JPEG_2000_LOSSLESS},
                              ratio));
  EXPECT_EQ(at, 5u);
  c.transferSyntax = std::string(JPEG_2000_LOSSLESS);
  Bytes again(image.pixels.size());
  ASSERT_TRUE(DecodePixelData(
      c, 1, {.destination = again.data(), .totalBytes = again.size(), .frames = 2, .bitsAllocated = 16}));
  EXPECT_EQ(again, image.pixels);
}

// A flat 16-bit frame of one stored value through JPEG baseline: flat blocks
// survive the DCT, so the decoded byte is ScaleTo8Bit's result.
std::uint8_t BaselineOfFlatFrame(std::uint16_t stored, int bitsStored, int pixelRepresentation, float slope,
                                 float intercept, std::string_view modality) {
  const int columns = 16, rows = 8;
  Bytes pixels;
  for (int i = 0; i < columns * rows; ++i) {
    pixels.push_back(static_cast<std::uint8_t>(stored));
    pixels.push_back(static_cast<std::uint8_t>(stored >> 8));
  }
  DcmObj c;
  std::size_t index = 0;
  test::MakePixelDataSet(c, index);
  float ratio = 0;
  EXPECT_TRUE(EncodePixelData(c, index,
                              {.pixels = pixels.data(),
                               .pixelBytes = pixels.size(),
                               .frames = 1,
                               .columns = columns,
                               .rows = rows,
                               .bitsAllocated = 16,
                               .bitsStored = bitsStored,
                               .rescale = {.pixelRepresentation = pixelRepresentation,
                                           .slope = slope,
                                           .intercept = intercept,
                                           .modality = modality},
                               .targetTransferSyntax = JPEG_BASELINE},
                              ratio));
  c.transferSyntax = std::string(JPEG_BASELINE);
  Bytes out(static_cast<std::size_t>(columns * rows));
  EXPECT_TRUE(
      DecodePixelData(c, 1, {.destination = out.data(), .totalBytes = out.size(), .frames = 1, .bitsAllocated = 8}));
  return out[0];
}

TEST(Scaling, BaselineOfSixteenBitDataGoesThroughScaleTo8Bit) {
  // CT: slope 1, intercept -1024, plus 1024, divided by 16.
  EXPECT_EQ(BaselineOfFlatFrame(0, 12, 1, 1, -1024, "CT"), 0);
  EXPECT_EQ(BaselineOfFlatFrame(3071, 12, 1, 1, -1024, "CT"), 191);
  EXPECT_EQ(BaselineOfFlatFrame(4095, 12, 1, 1, -1024, "CT"), 255);
  // MR: by bits stored.
  EXPECT_EQ(BaselineOfFlatFrame(4000, 12, 0, 1, 0, "MR"), 250);
  EXPECT_EQ(BaselineOfFlatFrame(4000, 16, 0, 1, 0, "MR"), 15);
}

Bytes Words(std::initializer_list<int> values) {
  Bytes bytes;
  for (int v : values) {
    bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
  }
  return bytes;
}

struct ScaleCase {
  const char *name;
  int stored; // 16-bit pattern
  int pixelRepresentation;
  int bitsStored;
  float slope, intercept;
  const char *modality;
  int to8, to12, rescaled;
};

TEST(Scaling, ConversionsTable) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const ScaleCase cases[] = {
      {"CT air", 0, 1, 12, 1, -1024, "CT", 0, 0, 0},
      {"CT 3071", 3071, 1, 12, 1, -1024, "CT", 191, 3071, 3071},
      {"CT 4095", 4095, 1, 12, 1, -1024, "CT", 255, 4095, 4095},
      {"CT above 4095", 6000, 1, 12, 1, -1024, "CT", 255, 4095, 6000},
      {"CT signed below air", 0xF000, 1, 16, 1, 0, "CT", 0, 0, 0}, // -4096 + 1024
      {"CT divides by 16 whatever bits stored", 1600, 0, 8, 1, 0, "CT", (1600 + 1024) / 16, 2624, 2624},
      {"MR 12 bits stored", 4095, 0, 12, 1, 0, "MR", 255, 4095, 4095},
      {"MR 16 bits stored", 65535, 0, 16, 1, 0, "MR", 255, 4095, 65535},
      {"MR 16 bits stored 512", 512, 0, 16, 1, 0, "MR", 2, 512, 512},
      {"MR 10 bits stored", 1023, 0, 10, 1, 0, "MR", 255, 1023, 1023},
      {"MR 14 bits stored", 6400, 0, 14, 1, 0, "MR", 100, 4095, 6400},
      {"8 bits stored: no division", 200, 0, 8, 1, 0, "", 200, 200, 200},
      {"NM never divides", 300, 0, 16, 1, 0, "NM", 255, 300, 300},
      {"NM small", 77, 0, 16, 1, 0, "NM", 77, 77, 77},
      {"modality compared exactly", 256, 0, 16, 1, 0, "ct", 1, 256, 256},
      {"unsigned 0xFFFF is 65535", 0xFFFF, 0, 16, 1, 0, "", 255, 4095, 65535},
      {"signed 0xFFFF is -1", 0xFFFF, 1, 16, 1, 0, "", 0, 0, 0},
      {"slope and intercept", 100, 0, 12, 2.5f, 10, "", 16, 260, 260},
      {"truncated toward zero, not down", 1, 0, 8, 1, -1024.5f, "CT", 0, 1, 1},
      {"large values keep their low 16 bits", 35000, 0, 16, 2, 0, "", 255, 4095, 70000 - 65536},
      {"infinite slope counts as 0", 100, 0, 8, inf, 0, "CT", 64, 1024, 1024},
      {"NaN intercept counts as 0", 100, 0, 8, 1, nan, "", 0, 0, 0},
      {"huge slope, bounded at 10^15", 30000, 0, 16, 3e38f, 0, "", 255, 4095, 32768},
  };
  for (const ScaleCase &k : cases) {
    const Bytes in = Words({k.stored});
    std::uint8_t to8 = 0xEE;
    ScaleTo8Bit(&to8, in.data(), 2, k.bitsStored,
                {.pixelRepresentation = k.pixelRepresentation,
                 .slope = k.slope,
                 .intercept = k.intercept,
                 .modality = k.modality});
    EXPECT_EQ(to8, k.to8) << k.name;
    Bytes to12 = in;
    ScaleTo12Bit(to12.data(), 2,
                 {.pixelRepresentation = k.pixelRepresentation,
                  .slope = k.slope,
                  .intercept = k.intercept,
                  .modality = k.modality});
    EXPECT_EQ(to12, Words({k.to12})) << k.name;
    Bytes rescaled = in;
    RescaleInPlace(rescaled.data(), 2,
                   {.pixelRepresentation = k.pixelRepresentation,
                    .slope = k.slope,
                    .intercept = k.intercept,
                    .modality = k.modality});
    EXPECT_EQ(rescaled, Words({k.rescaled})) << k.name;
  }
}

TEST(Scaling, ConversionsCoverByteCountBytesOnly) {
  const Bytes in = Words({10, 20, 30, 40});
  Bytes out(4, 0xEE);
  ScaleTo8Bit(out.data(), in.data(), 5, 8, {.slope = 1, .intercept = 0}); // odd count: two samples
  EXPECT_EQ(out, (Bytes{10, 20, 0xEE, 0xEE}));
  Bytes samples = in;
  ScaleTo12Bit(samples.data(), 4, {.slope = 2, .intercept = 0});
  EXPECT_EQ(samples, Words({20, 40, 30, 40}));
  RescaleInPlace(samples.data(), 6, {.slope = 1, .intercept = -25});
  EXPECT_EQ(samples, Words({0, 15, 5, 40}));
}

TEST(Scaling, DivisorFollowsBitsStoredAndModality) {
  EXPECT_EQ(ScaleTo8BitDivisor(10, "MR"), 4);
  EXPECT_EQ(ScaleTo8BitDivisor(12, "MR"), 16);
  EXPECT_EQ(ScaleTo8BitDivisor(14, ""), 64);
  EXPECT_EQ(ScaleTo8BitDivisor(16, "US"), 256);
  EXPECT_EQ(ScaleTo8BitDivisor(11, "MR"), 1);
  EXPECT_EQ(ScaleTo8BitDivisor(16, "CT"), 16);
  EXPECT_EQ(ScaleTo8BitDivisor(16, "NM"), 1);
}

TEST(Scaling, JpegExtendedAndJ2kConvertSixteenBitGreyInPlace) {
  // 16 bits stored to JPEG extended: clamped to 12 bits before encoding.
  const Bytes flat = Words({5000, 5000, 5000, 5000, 5000, 5000, 5000, 5000});
  for (const auto &[syntax, expected] :
       {std::pair{JPEG_EXTENDED, 4095}, std::pair{JPEG_2000_LOSSLESS, 5000 - 1000 + 1024}}) {
    DcmObj c;
    std::size_t index = 0;
    test::MakePixelDataSet(c, index);
    Bytes work = flat;
    float ratio = -1;
    ASSERT_TRUE(EncodePixelData(c, index,
                                {.pixels = work.data(),
                                 .pixelBytes = work.size(),
                                 .frames = 1,
                                 .columns = 4,
                                 .rows = 2,
                                 .bitsAllocated = 16,
                                 .bitsStored = 16,
                                 .rescale = {.slope = 1, .intercept = -1000, .modality = "CT"},
                                 .targetTransferSyntax = syntax},
                                ratio));
    EXPECT_EQ(work, Words({expected, expected, expected, expected, expected, expected, expected, expected})) << syntax;
    c.transferSyntax = std::string(syntax);
    Bytes out(flat.size());
    ASSERT_TRUE(
        DecodePixelData(c, 1, {.destination = out.data(), .totalBytes = out.size(), .frames = 1, .bitsAllocated = 16}))
        << syntax;
    EXPECT_EQ(out, work) << syntax;
  }
}

// A J2K main header: SOC, then the given marker segments.
Bytes J2kHeader(std::initializer_list<Bytes> segments) {
  Bytes b = {0xFF, 0x4F};
  for (const Bytes &segment : segments)
    b.insert(b.end(), segment.begin(), segment.end());
  return b;
}

// A SIZ segment of one 8-bit component; lsiz other than 41 makes it lie
// about its length.
Bytes Siz(std::uint32_t columns, std::uint32_t rows, std::uint16_t lsiz = 41) {
  Bytes b = {0xFF, 0x51, static_cast<std::uint8_t>(lsiz >> 8), static_cast<std::uint8_t>(lsiz), 0x00, 0x00};
  for (std::uint32_t v : {columns, rows, 0u, 0u, columns, rows, 0u, 0u})
    for (int shift : {24, 16, 8, 0})
      b.push_back(static_cast<std::uint8_t>(v >> shift));
  for (std::uint8_t v : {0x00, 0x01, 0x07, 0x01, 0x01})
    b.push_back(v);
  return b;
}

// A comment segment (COM) holding the bytes.
Bytes Comment(const Bytes &text) {
  const std::size_t length = text.size() + 4;
  Bytes b = {0xFF, 0x64, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), 0x00, 0x01};
  for (const std::uint8_t byte : text)
    b.push_back(byte);
  return b;
}

const Bytes SEQUENCE_DELIMITER_BYTES = {0xFE, 0xFF, 0xDD, 0xE0, 0x00, 0x00, 0x00, 0x00};
const Bytes TILE_AND_END = {0xFF, 0x90, 0x00, 0x0A, 0, 0, 0, 0, 0, 0, 0, 1, 0xFF, 0xD9};

// A JP2 file: signature box, file type box, then the codestream box.
Bytes Jp2(const Bytes &codestream) {
  Bytes b = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A, 0x00, 0x00, 0x00, 0x14,
             'f',  't',  'y',  'p',  'j',  'p',  '2',  ' ',  0x00, 0x00, 0x00, 0x00, 'j',  'p',  '2',  ' '};
  const std::size_t length = codestream.size() + 8;
  for (int shift : {24, 16, 8, 0})
    b.push_back(static_cast<std::uint8_t>(length >> shift));
  for (char c : {'j', 'p', '2', 'c'})
    b.push_back(static_cast<std::uint8_t>(c));
  b.insert(b.end(), codestream.begin(), codestream.end());
  return b;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct J2kHeaderCase {
  const char *name;
  Bytes stream;
  const char *refusal; // null: the 16 x 8 frame is accepted
};

class J2kFrameHeaderTest : public testing::TestWithParam<J2kHeaderCase> {};

// The frame header check finds SIZ by walking the main header's segments
// from SOC: what a comment holds is never taken for a header.
TEST_P(J2kFrameHeaderTest, SizIsFoundByWalkingTheSegmentsFromSoc) {
  DcmObj c;
  SetFragments(c, JPEG_2000_LOSSLESS, {GetParam().stream});
  LogCapture log;
  const bool accepted =
      CheckEncapsulatedFrames(c, 1, {.frames = 1, .rows = 8, .columns = 16, .components = 1, .frameBytes = 16 * 8});
  EXPECT_EQ(accepted, GetParam().refusal == nullptr);
  if (GetParam().refusal != nullptr)
    EXPECT_EQ(Errors(log), std::vector<std::string>{GetParam().refusal});
  else
    EXPECT_TRUE(Errors(log).empty()) << testing::PrintToString(Errors(log));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, J2kFrameHeaderTest,
    testing::Values(
        J2kHeaderCase{"SizAfterSoc", Join({J2kHeader({Siz(16, 8)}), TILE_AND_END}), nullptr},
        J2kHeaderCase{"CommentHoldingSequenceDelimiterBytes",
                      Join({J2kHeader({Siz(16, 8), Comment(SEQUENCE_DELIMITER_BYTES)}), TILE_AND_END}), nullptr},
        J2kHeaderCase{"CommentBeforeSizHoldingSequenceDelimiterBytes",
                      Join({J2kHeader({Comment(SEQUENCE_DELIMITER_BYTES), Siz(16, 8)}), TILE_AND_END}), nullptr},
        // The bytes of SOC and a SIZ of another size inside a comment.
        J2kHeaderCase{
            "CommentHoldingAnotherHeader",
            Join({J2kHeader({Comment(Join({{0xFF, 0x4F}, Siz(3722445056u, 1024)})), Siz(16, 8)}), TILE_AND_END}),
            nullptr},
        J2kHeaderCase{"Jp2File", Jp2(Join({J2kHeader({Siz(16, 8)}), TILE_AND_END})), nullptr},
        J2kHeaderCase{"SizOfAnotherSize", Join({J2kHeader({Siz(32, 8)}), TILE_AND_END}),
                      "ERROR, CheckEncapsulatedFrames, frame 0 is 32 x 8 x 1 by its frame header, the image "
                      "attributes say 16 x 8 x 1"},
        J2kHeaderCase{"HeaderNotAtTheStart", Join({{0x00, 0x00}, J2kHeader({Siz(16, 8)}), TILE_AND_END}),
                      "ERROR, CheckEncapsulatedFrames, frame 0 has no frame header"},
        J2kHeaderCase{"SizShorterThanItsComponents", Join({J2kHeader({Siz(16, 8, 38)}), TILE_AND_END}),
                      "ERROR, CheckEncapsulatedFrames, frame 0 has no frame header"},
        J2kHeaderCase{"SegmentRunningPastTheStream", J2kHeader({{0xFF, 0x64, 0x40, 0x00, 0x00, 0x01}, Siz(16, 8)}),
                      "ERROR, CheckEncapsulatedFrames, frame 0 has no frame header"},
        J2kHeaderCase{"TileBeforeSiz", Join({J2kHeader({}), TILE_AND_END, Siz(16, 8)}),
                      "ERROR, CheckEncapsulatedFrames, frame 0 has no frame header"}),
    [](const testing::TestParamInfo<J2kHeaderCase> &info) { return std::string(info.param.name); });

// A real codestream with the bytes of a sequence delimiter in a comment
// after its SIZ passes the check and decodes to its pixels.
TEST(J2kFrameHeader, CodestreamHoldingDelimiterBytesDecodes) {
  const Image image = MakeImage(16, 8, 1, 8, 8, false);
  Bytes stream;
  ASSERT_TRUE(J2kEncode(image.pixels.data(), {16, 8, 1}, 8, J2K_RATE_LOSSLESS, stream));
  const std::size_t afterSiz = 4 + (stream[4] << 8 | stream[5]);
  const Bytes comment = Comment(SEQUENCE_DELIMITER_BYTES);
  stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(afterSiz), comment.begin(), comment.end());
  DcmObj c;
  SetFragments(c, JPEG_2000_LOSSLESS, {stream});
  ASSERT_TRUE(CheckEncapsulatedFrames(
      c, 1, {.frames = 1, .rows = 8, .columns = 16, .components = 1, .frameBytes = image.pixels.size()}));
  Destination destination(image.pixels.size());
  ASSERT_TRUE(DecodePixelData(
      c, 1,
      {.destination = destination.bytes.data(), .totalBytes = destination.total, .frames = 1, .bitsAllocated = 8}));
  EXPECT_EQ(destination.Frames(), image.pixels);
}

} // namespace
} // namespace fw
