// JPEG entry points: round trips through every build, the settings the
// streams must carry, and decoders that refuse what does not fit.
#include "dicom/codec/JpegCodec.h"
#include "tests/dicom/codec/TestImages.h"

#include <gtest/gtest.h>

#include <string>

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

TEST(JpegEncode8Baseline, ColourFrameDecodesCloseToInputWithFullChroma) {
  const int width = 640, height = 480;
  const Bytes picture = test::MakePicture8(width, height, 3);
  Bytes stream;
  ASSERT_EQ(JpegEncode8(width, height, 3, picture.data(), JPEG_MODE_BASELINE, stream), 0);

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

TEST(JpegEncode8Baseline, GreyFrameHasOneComponent) {
  const Bytes picture = test::MakePicture8(100, 37, 1);
  Bytes stream;
  ASSERT_EQ(JpegEncode8(100, 37, 1, picture.data(), JPEG_MODE_BASELINE, stream), 0);
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
  ASSERT_EQ(JpegEncode8(width, height, 3, picture.data(), JPEG_MODE_BASELINE, stream), 0);
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
    EXPECT_EQ(JpegEncode8(8, 8, 1, picture.data(), mode, stream), -1) << "mode " << mode;
    EXPECT_EQ(stream, (Bytes{1, 2, 3})) << "mode " << mode;
  }
}

TEST(JpegEncode8, ImpossibleImagesThrow) {
  const Bytes picture = test::MakePicture8(8, 8, 3);
  Bytes stream;
  for (int mode : {JPEG_MODE_BASELINE, JPEG_MODE_LOSSLESS}) {
    EXPECT_THROW(JpegEncode8(0, 8, 1, picture.data(), mode, stream), JpegError);
    EXPECT_THROW(JpegEncode8(8, -2, 1, picture.data(), mode, stream), JpegError);
    EXPECT_THROW(JpegEncode8(8, 8, 0, picture.data(), mode, stream), JpegError);
    EXPECT_THROW(JpegEncode8(8, 8, 1, nullptr, mode, stream), JpegError);
    // Beyond the format's 65535 lines: the library's own fatal error.
    EXPECT_THROW(JpegEncode8(70000, 1, 1, Bytes(70000).data(), mode, stream), JpegError);
  }
}

} // namespace
} // namespace fw
