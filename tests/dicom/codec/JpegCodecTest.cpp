// JPEG entry points: round trips through every build, the settings the
// streams must carry, and decoders that refuse what does not fit.
#include "dicom/codec/JpegCodec.h"
#include "tests/dicom/codec/TestImages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <utility>

namespace fw {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The SOF segment's component specifications: (H << 4 | V) per component.
std::vector<int> SamplingFactors(const Bytes &stream) {
  std::vector<int> factors;
  for (std::size_t pos = 2; pos + 4 <= stream.size();) {
    const int marker = stream[pos + 1];
    const std::size_t segment = static_cast<std::size_t>(stream[pos + 2]) << 8 | stream[pos + 3];
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      const int count = stream[pos + 9];
      for (int c = 0; c < count; ++c)
        factors.push_back(stream[pos + 10 + 3 * c + 1]);
      return factors;
    }
    pos += 2 + segment;
  }
  return factors;
}

// The SOS parameters that carry the lossless predictor and point transform.
struct ScanParameters {
  int ss = -1; // predictor for lossless
  int al = -1; // point transform for lossless
};

ScanParameters FirstScan(const Bytes &stream) {
  for (std::size_t pos = 2; pos + 4 <= stream.size();) {
    const int marker = stream[pos + 1];
    const std::size_t segment = static_cast<std::size_t>(stream[pos + 2]) << 8 | stream[pos + 3];
    if (marker == 0xDA) {
      const std::size_t params = pos + 5 + 2 * static_cast<std::size_t>(stream[pos + 4]);
      return {stream[params], stream[params + 2] & 0x0F};
    }
    pos += 2 + segment;
  }
  return {};
}

TEST(JpegEncode8Baseline, ColourFrameDecodesCloseToInputWithFullChroma) {
  const int width = 640, height = 480;
  const Bytes picture = test::MakePicture8(width, height, 3);
  Bytes stream;
  ASSERT_EQ(JpegEncode8({width, height, 3}, picture.data(), JPEG_MODE_BASELINE, stream), 0);

  const auto frame = ReadJpegFrameHeader(stream.data(), stream.size());
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->marker, 0xC0);
  EXPECT_EQ(frame->precision, 8);
  EXPECT_EQ(frame->columns, width);
  EXPECT_EQ(frame->rows, height);
  EXPECT_EQ(frame->components, 3);
  EXPECT_EQ(SamplingFactors(stream), (std::vector<int>{0x11, 0x11, 0x11}));

  Bytes decoded(picture.size());
  ASSERT_EQ(JpegDecode8(stream.data(), stream.size(), decoded.data(), decoded.size()), 0);
  // Measured 35.6 dB on this picture at quality 90.
  EXPECT_GT(test::Psnr(picture, decoded, 255), 35.0);
}

// 4:2:2 halves the chroma of each row: luminance 2x1, Cb and Cr 1x1. The
// row-by-row encoder writes the same bytes, and grey and lossless streams
// have no chroma to subsample.
TEST(JpegEncode8Baseline, SubsampledChromaIsTwoByOneLuminance) {
  for (const auto &[width, height] : {std::pair{640, 480}, std::pair{33, 17}, std::pair{1, 1}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    const Bytes picture = test::MakePicture8(width, height, 3);
    Bytes stream;
    ASSERT_EQ(JpegEncode8({width, height, 3}, picture.data(), JPEG_MODE_BASELINE, stream, JpegChroma::Subsampled422),
              0);
    EXPECT_EQ(SamplingFactors(stream), (std::vector<int>{0x21, 0x11, 0x11}));
    Bytes decoded(picture.size());
    ASSERT_EQ(JpegDecode8(stream.data(), stream.size(), decoded.data(), decoded.size()), 0);
    if (width == 640) {
      // Measured 28.6 dB: the test picture's colours change from pixel to
      // pixel, which halved chroma cannot follow.
      EXPECT_GT(test::Psnr(picture, decoded, 255), 27.5);
    }

    Bytes rows;
    JpegEncode8Rows(
        {width, height, 3},
        [&](int first, int count, std::uint8_t *out) {
          std::copy_n(picture.data() + static_cast<std::size_t>(first) * width * 3,
                      static_cast<std::size_t>(count) * width * 3, out);
        },
        rows, JpegChroma::Subsampled422);
    EXPECT_EQ(rows, stream);
  }
  const Bytes grey = test::MakePicture8(16, 16, 1);
  Bytes stream;
  ASSERT_EQ(JpegEncode8({16, 16, 1}, grey.data(), JPEG_MODE_BASELINE, stream, JpegChroma::Subsampled422), 0);
  EXPECT_EQ(SamplingFactors(stream), (std::vector<int>{0x11}));
  const Bytes colour = test::MakePicture8(16, 16, 3);
  ASSERT_EQ(JpegEncode8({16, 16, 3}, colour.data(), JPEG_MODE_LOSSLESS, stream, JpegChroma::Subsampled422), 0);
  EXPECT_EQ(SamplingFactors(stream), (std::vector<int>{0x11, 0x11, 0x11}));
}

TEST(JpegEncode8Baseline, GreyFrameHasOneComponent) {
  const Bytes picture = test::MakePicture8(100, 37, 1);
  Bytes stream;
  ASSERT_EQ(JpegEncode8({100, 37, 1}, picture.data(), JPEG_MODE_BASELINE, stream), 0);
  EXPECT_EQ(SamplingFactors(stream), (std::vector<int>{0x11}));
  Bytes decoded(picture.size());
  ASSERT_EQ(JpegDecode8(stream.data(), stream.size(), decoded.data(), decoded.size()), 0);
  // Measured 41.1 dB.
  EXPECT_GT(test::Psnr(picture, decoded, 255), 40.0);
}

TEST(JpegEncode8Baseline, StreamLongerThanOneCollectorStepIsComplete) {
  // Noise compresses badly: the stream spans several 16384-byte steps.
  const int width = 512, height = 512;
  Bytes picture(static_cast<std::size_t>(width) * height * 3);
  std::uint32_t state = 1;
  for (auto &sample : picture) {
    state = state * 1664525u + 1013904223u;
    sample = static_cast<std::uint8_t>(state >> 24);
  }
  Bytes stream;
  ASSERT_EQ(JpegEncode8({width, height, 3}, picture.data(), JPEG_MODE_BASELINE, stream), 0);
  ASSERT_GT(stream.size(), 3u * 16384u);
  EXPECT_EQ(stream[stream.size() - 2], 0xFF);
  EXPECT_EQ(stream[stream.size() - 1], 0xD9);
  Bytes decoded(picture.size());
  EXPECT_EQ(JpegDecode8(stream.data(), stream.size(), decoded.data(), decoded.size()), 0);
}

TEST(JpegEncode8, UnknownModesAreRefusedWithoutOutput) {
  const Bytes picture = test::MakePicture8(8, 8, 1);
  for (int mode : {1, 2, 3, 5, -1}) {
    Bytes stream{1, 2, 3};
    EXPECT_EQ(JpegEncode8({8, 8, 1}, picture.data(), mode, stream), -1) << "mode " << mode;
    EXPECT_EQ(stream, (Bytes{1, 2, 3})) << "mode " << mode;
  }
}

TEST(JpegEncode8, ImpossibleImagesThrow) {
  const Bytes picture = test::MakePicture8(8, 8, 3);
  Bytes stream;
  for (int mode : {JPEG_MODE_BASELINE, JPEG_MODE_LOSSLESS}) {
    EXPECT_THROW(JpegEncode8({0, 8, 1}, picture.data(), mode, stream), JpegError);
    EXPECT_THROW(JpegEncode8({8, -2, 1}, picture.data(), mode, stream), JpegError);
    EXPECT_THROW(JpegEncode8({8, 8, 0}, picture.data(), mode, stream), JpegError);
    EXPECT_THROW(JpegEncode8({8, 8, 1}, nullptr, mode, stream), JpegError);
    // Beyond the format's 65535 lines: the library's own fatal error.
    EXPECT_THROW(JpegEncode8({70000, 1, 1}, Bytes(70000).data(), mode, stream), JpegError);
  }
}

using Encoder = std::function<int(const ImageShape &shape, const std::uint8_t *samples, Bytes &out)>;
using Decoder = int (*)(const std::uint8_t *, std::size_t, std::uint8_t *, std::size_t);

int EncodeLossless8(const ImageShape &shape, const std::uint8_t *samples, Bytes &out) {
  return JpegEncode8(shape, samples, JPEG_MODE_LOSSLESS, out);
}

struct LosslessCase {
  const char *name;
  Encoder encode;
  Decoder decode;
  int width, height, components;
  int bits; // 8: byte samples, else 16-bit words holding this many bits
  int precision;
};

class JpegLossless : public testing::TestWithParam<LosslessCase> {};

TEST_P(JpegLossless, DecodesToTheExactInputWithPredictorOne) {
  const LosslessCase &c = GetParam();
  const Bytes picture = c.bits == 8 ? test::MakePicture8(c.width, c.height, c.components)
                                    : test::MakePicture16(c.width, c.height, c.components, c.bits);
  Bytes stream;
  ASSERT_EQ(c.encode({c.width, c.height, c.components}, picture.data(), stream), 0);
  const auto frame = ReadJpegFrameHeader(stream.data(), stream.size());
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->marker, 0xC3);
  EXPECT_EQ(frame->precision, c.precision);
  EXPECT_EQ(frame->components, c.components);
  EXPECT_EQ(FirstScan(stream).ss, 1);
  EXPECT_EQ(FirstScan(stream).al, 0);
  EXPECT_EQ(SamplingFactors(stream), std::vector<int>(static_cast<std::size_t>(c.components), 0x11));

  Bytes decoded(picture.size(), 0xAB);
  ASSERT_EQ(c.decode(stream.data(), stream.size(), decoded.data(), decoded.size()), 0);
  EXPECT_EQ(decoded, picture);
}

INSTANTIATE_TEST_SUITE_P(Streams, JpegLossless,
                         testing::Values(LosslessCase{"Grey8", EncodeLossless8, JpegDecode8, 300, 200, 1, 8, 8},
                                         LosslessCase{"Colour8", EncodeLossless8, JpegDecode8, 320, 240, 3, 8, 8},
                                         LosslessCase{"OnePixel8", EncodeLossless8, JpegDecode8, 1, 1, 1, 8, 8},
                                         LosslessCase{"Grey16FullRange", JpegEncode16, JpegDecode16, 256, 256, 1, 16,
                                                      16},
                                         LosslessCase{"Grey12In16", JpegEncode16, JpegDecode16, 129, 67, 1, 12, 16},
                                         LosslessCase{"Colour16", JpegEncode16, JpegDecode16, 33, 17, 3, 16, 16}),
                         [](const testing::TestParamInfo<LosslessCase> &info) { return std::string(info.param.name); });

TEST(JpegDecode8, LosslessColourLabelledYCbCrKeepsStoredValues) {
  // Other writers label untransformed lossless colour as YCbCr: relabel an
  // RGB stream through its Adobe marker's transform flag.
  const Bytes picture = test::MakePicture8(64, 48, 3);
  Bytes stream;
  ASSERT_EQ(JpegEncode8({64, 48, 3}, picture.data(), JPEG_MODE_LOSSLESS, stream), 0);
  bool relabelled = false;
  for (std::size_t pos = 2; pos + 16 <= stream.size() && stream[pos + 1] != 0xDA;) {
    const std::size_t segment = static_cast<std::size_t>(stream[pos + 2]) << 8 | stream[pos + 3];
    if (stream[pos + 1] == 0xEE && std::string(stream.begin() + pos + 4, stream.begin() + pos + 9) == "Adobe") {
      stream[pos + 15] = 1; // transform: YCbCr
      relabelled = true;
    }
    pos += 2 + segment;
  }
  ASSERT_TRUE(relabelled);

  Bytes decoded(picture.size());
  ASSERT_EQ(JpegDecode8(stream.data(), stream.size(), decoded.data(), decoded.size()), 0);
  EXPECT_EQ(decoded, picture);
}

TEST(JpegDecode16, WidensLossless8BitStreamsExactly) {
  const Bytes picture = test::MakePicture8(40, 30, 1);
  Bytes stream;
  ASSERT_EQ(JpegEncode8({40, 30, 1}, picture.data(), JPEG_MODE_LOSSLESS, stream), 0);
  Bytes decoded(picture.size() * 2);
  ASSERT_EQ(JpegDecode16(stream.data(), stream.size(), decoded.data(), decoded.size()), 0);
  for (std::size_t i = 0; i < picture.size(); ++i)
    ASSERT_EQ(decoded[2 * i] | decoded[2 * i + 1] << 8, picture[i]) << "sample " << i;
}

TEST(JpegEncode12, ExtendedProcessCloseToInputWithFullChroma) {
  struct Case {
    int components;
    double floor; // dB over the 4095 peak, measured 60.0 (grey) and 58.6 (colour)
  };
  for (const Case c : {Case{1, 58.0}, Case{3, 56.5}}) {
    const Bytes picture = test::MakePicture16(256, 256, c.components, 12);
    Bytes stream;
    ASSERT_EQ(JpegEncode12({256, 256, c.components}, picture.data(), stream), 0);
    const auto frame = ReadJpegFrameHeader(stream.data(), stream.size());
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->marker, 0xC1);
    EXPECT_EQ(frame->precision, 12);
    EXPECT_EQ(SamplingFactors(stream), std::vector<int>(static_cast<std::size_t>(c.components), 0x11));
    Bytes decoded(picture.size());
    ASSERT_EQ(JpegDecode12(stream.data(), stream.size(), decoded.data(), decoded.size()), 0);
    EXPECT_GT(test::Psnr(picture, decoded, 4095, true), c.floor) << c.components << " components";
  }
}

TEST(JpegEncode12, BitsAboveTwelveAreIgnored) {
  const Bytes picture = test::MakePicture16(64, 64, 1, 12);
  Bytes dirty = picture;
  for (std::size_t i = 1; i < dirty.size(); i += 2)
    dirty[i] |= 0xA0; // overlay-style bits 13 and 15
  Bytes clean, fromDirty;
  ASSERT_EQ(JpegEncode12({64, 64, 1}, picture.data(), clean), 0);
  ASSERT_EQ(JpegEncode12({64, 64, 1}, dirty.data(), fromDirty), 0);
  EXPECT_EQ(fromDirty, clean);
}

// One stream of every kind the encoders write, for the decoder cases.
struct Streams {
  Bytes baseline8, lossless8, extended12, lossless16;
  Streams() {
    const Bytes bytes = test::MakePicture8(48, 32, 3);
    const Bytes words = test::MakePicture16(48, 32, 1, 16);
    const Bytes words12 = test::MakePicture16(48, 32, 1, 12);
    JpegEncode8({48, 32, 3}, bytes.data(), JPEG_MODE_BASELINE, baseline8);
    JpegEncode8({48, 32, 3}, bytes.data(), JPEG_MODE_LOSSLESS, lossless8);
    JpegEncode12({48, 32, 1}, words12.data(), extended12);
    JpegEncode16({48, 32, 1}, words.data(), lossless16);
  }
};

struct DecoderCase {
  const char *name;
  Bytes Streams::*stream;
  Decoder decode;
  std::size_t imageBytes; // what the stream decodes to
};

const DecoderCase MATCHING_DECODERS[] = {
    {"baseline8", &Streams::baseline8, JpegDecode8, 48 * 32 * 3},
    {"lossless8", &Streams::lossless8, JpegDecode8, 48 * 32 * 3},
    {"extended12", &Streams::extended12, JpegDecode12, 48 * 32 * 2},
    {"lossless16", &Streams::lossless16, JpegDecode16, 48 * 32 * 2},
};

TEST(JpegDecoders, ImageLargerThanTheSlotIsRefusedUntouched) {
  const Streams streams;
  for (const DecoderCase &c : MATCHING_DECODERS) {
    const Bytes &stream = streams.*c.stream;
    Bytes slot(c.imageBytes, 0xAB);
    EXPECT_EQ(c.decode(stream.data(), stream.size(), slot.data(), slot.size() - 1), -1) << c.name;
    EXPECT_EQ(slot, Bytes(c.imageBytes, 0xAB)) << c.name;
    EXPECT_EQ(c.decode(stream.data(), stream.size(), slot.data(), slot.size()), 0) << c.name;
  }
}

TEST(JpegDecoders, CutStreamsFail) {
  const Streams streams;
  for (const DecoderCase &c : MATCHING_DECODERS) {
    const Bytes &stream = streams.*c.stream;
    for (std::size_t length :
         {std::size_t{0}, std::size_t{2}, std::size_t{40}, stream.size() / 2, stream.size() - 16}) {
      Bytes slot(c.imageBytes);
      EXPECT_EQ(c.decode(stream.data(), length, slot.data(), slot.size()), -1) << c.name << " cut at " << length;
    }
  }
}

TEST(JpegDecoders, DamagedEntropyDataStaysInsideTheSlot) {
  // Whether a damaged stream still yields rows depends on where the damage
  // falls; the bytes after the slot must stay as they were.
  const Streams streams;
  for (const DecoderCase &c : MATCHING_DECODERS) {
    for (std::size_t step : {7u, 31u, 101u}) {
      Bytes stream = streams.*c.stream;
      for (std::size_t i = stream.size() / 3; i + 2 < stream.size(); i += step)
        stream[i] ^= 0x5A;
      Bytes slot(c.imageBytes + 64, 0xAB);
      const int result = c.decode(stream.data(), stream.size(), slot.data(), c.imageBytes);
      EXPECT_TRUE(result == 0 || result == -1) << c.name << " step " << step;
      EXPECT_EQ(Bytes(slot.begin() + static_cast<std::ptrdiff_t>(c.imageBytes), slot.end()), Bytes(64, 0xAB))
          << c.name << " step " << step;
    }
  }
}

TEST(JpegDecoders, StreamsOfAnotherPrecisionOrProcessAreRefused) {
  const Streams streams;
  const struct {
    const char *name;
    Bytes Streams::*stream;
    Decoder decode;
  } cases[] = {
      {"baseline8 as 12", &Streams::baseline8, JpegDecode12}, {"baseline8 as 16", &Streams::baseline8, JpegDecode16},
      {"extended12 as 8", &Streams::extended12, JpegDecode8}, {"extended12 as 16", &Streams::extended12, JpegDecode16},
      {"lossless16 as 8", &Streams::lossless16, JpegDecode8}, {"lossless16 as 12", &Streams::lossless16, JpegDecode12},
  };
  for (const auto &c : cases) {
    const Bytes &stream = streams.*c.stream;
    Bytes slot(48 * 32 * 3 * 2);
    EXPECT_EQ(c.decode(stream.data(), stream.size(), slot.data(), slot.size()), -1) << c.name;
  }
}

TEST(JpegDecoders, NotAJpegStreamFails) {
  const Bytes noise{0x00, 0x11, 0x22, 0x33, 0xFF, 0xD8, 0xFF, 0xD9};
  Bytes slot(4096);
  for (Decoder decode : {JpegDecode8, JpegDecode12, JpegDecode16}) {
    EXPECT_EQ(decode(noise.data(), noise.size(), slot.data(), slot.size()), -1);
    EXPECT_EQ(decode(nullptr, 0, slot.data(), slot.size()), -1);
  }
}

TEST(ReadJpegFrameHeader, FindsTheFrameHeaderOrNothing) {
  const struct {
    const char *name;
    Bytes stream;
    std::optional<JpegFrameInfo> expected;
  } cases[] = {
      {"extended after fill bytes and a table",
       {0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x04, 0x00, 0x00, 0xFF, 0xFF, 0xC1,
        0x00, 0x0B, 0x0C, 0x00, 0x10, 0x01, 0x20, 0x01, 0x01, 0x11, 0x00},
       JpegFrameInfo{0xC1, 12, 16, 288, 1}},
      {"lossless after APP0",
       {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x4A, 0x46, 0xFF, 0xC3, 0x00, 0x08, 0x10, 0x02, 0x00, 0x00, 0x03, 0x03},
       JpegFrameInfo{0xC3, 16, 512, 3, 3}},
      {"JPEG-LS after LSE",
       {0xFF, 0xD8, 0xFF, 0xF8, 0x00, 0x04, 0x01, 0x00, 0xFF, 0xF7, 0x00,
        0x0B, 0x0C, 0x01, 0x00, 0x00, 0x40, 0x01, 0x01, 0x11, 0x00},
       JpegFrameInfo{0xF7, 12, 256, 64, 1}},
      {"no SOI", {0xFF, 0xC0, 0x00, 0x08, 0x08, 0x00, 0x01, 0x00, 0x01, 0x01}, std::nullopt},
      {"scan before any frame header", {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x08, 0, 0, 0, 0, 0, 0}, std::nullopt},
      {"frame header cut short", {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x08, 0x08, 0x00}, std::nullopt},
      {"segment length past the end", {0xFF, 0xD8, 0xFF, 0xE1, 0x40, 0x00, 0x00}, std::nullopt},
      {"segment length below two", {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x01, 0xFF, 0xC0}, std::nullopt},
      {"garbage between segments", {0xFF, 0xD8, 0x12, 0xFF, 0xC0, 0x00, 0x08, 0x08, 0, 1, 0, 1, 1}, std::nullopt},
  };
  for (const auto &c : cases) {
    const auto info = ReadJpegFrameHeader(c.stream.data(), c.stream.size());
    ASSERT_EQ(info.has_value(), c.expected.has_value()) << c.name;
    if (!info)
      continue;
    EXPECT_EQ(info->marker, c.expected->marker) << c.name;
    EXPECT_EQ(info->precision, c.expected->precision) << c.name;
    EXPECT_EQ(info->rows, c.expected->rows) << c.name;
    EXPECT_EQ(info->columns, c.expected->columns) << c.name;
    EXPECT_EQ(info->components, c.expected->components) << c.name;
  }
}

TEST(JpegCodecThreads, OverlappingCallsGiveTheSameStreams) {
  const Bytes colour = test::MakePicture8(160, 120, 3);
  const Bytes words = test::MakePicture16(160, 120, 1, 12);
  Bytes baseline, lossless, extended, lossless16;
  JpegEncode8({160, 120, 3}, colour.data(), JPEG_MODE_BASELINE, baseline);
  JpegEncode8({160, 120, 3}, colour.data(), JPEG_MODE_LOSSLESS, lossless);
  JpegEncode12({160, 120, 1}, words.data(), extended);
  JpegEncode16({160, 120, 1}, words.data(), lossless16);

  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      Bytes stream, slot(colour.size());
      for (int round = 0; round < 10; ++round) {
        JpegEncode8({160, 120, 3}, colour.data(), JPEG_MODE_BASELINE, stream);
        mismatches[t] += stream != baseline;
        JpegEncode8({160, 120, 3}, colour.data(), JPEG_MODE_LOSSLESS, stream);
        mismatches[t] += stream != lossless;
        JpegEncode12({160, 120, 1}, words.data(), stream);
        mismatches[t] += stream != extended;
        JpegEncode16({160, 120, 1}, words.data(), stream);
        mismatches[t] += stream != lossless16;
        mismatches[t] += JpegDecode8(lossless.data(), lossless.size(), slot.data(), slot.size()) != 0 || slot != colour;
      }
    });
  for (auto &thread : threads)
    thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

} // namespace
} // namespace fw
