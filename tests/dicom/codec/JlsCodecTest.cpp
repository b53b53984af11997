// JlsDecode: streams CharLS writes decode exactly; streams without their end
// are refused before CharLS reads them.
#include "dicom/codec/JlsCodec.h"

#include <charls/charls.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr std::uint32_t SIDE = 16;

std::vector<std::uint8_t> ColourImage() {
  std::vector<std::uint8_t> image(SIDE * SIDE * 3);
  for (std::size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<std::uint8_t>(i * 7 ^ i >> 3);
  return image;
}

std::vector<std::uint8_t> Encode(const std::vector<std::uint8_t> &image) {
  charls::jpegls_encoder encoder;
  encoder.frame_info({SIDE, SIDE, 8, 3}).interleave_mode(charls::interleave_mode::line);
  std::vector<std::uint8_t> stream(encoder.estimated_destination_size());
  encoder.destination(stream);
  stream.resize(encoder.encode(image));
  return stream;
}

// A damaged line-interleaved scan without an end-of-image marker (found by
// fuzzing): CharLS 2.4 spends seconds reading past its end before failing.
constexpr std::uint8_t DAMAGED_SCAN_WITHOUT_END[] = {
    0xff, 0xd8, 0xff, 0xf7, 0x00, 0x11, 0x08, 0x00, 0x10, 0x00, 0x10, 0x03, 0x01, 0x11, 0x00, 0x02, 0x11, 0x00, 0x03,
    0x11, 0x00, 0xff, 0xda, 0x00, 0x0c, 0x03, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01,
    0xc6, 0x94, 0x00, 0x00, 0x02, 0xfe, 0x9a, 0x3f, 0xee, 0xf3, 0x9b, 0x63, 0x07, 0x64, 0x41, 0x7f, 0x88, 0x91, 0x9a,
    0xa3, 0xac, 0xb5, 0xbe, 0xfd, 0x64, 0x07, 0x60, 0x69, 0x72, 0x7b, 0x84, 0x8d, 0x96, 0x6e, 0x00, 0x00, 0x02, 0x7c,
    0x15, 0xfd, 0x97, 0xa0, 0xa9, 0xe1, 0x80, 0x00, 0xfd, 0x64, 0xfd, 0x64, 0x07, 0x6f, 0x78, 0x00};

TEST(JlsDecode, WholeStreamsDecodeExactlyAlsoWithAPadByte) {
  const auto image = ColourImage();
  auto stream = Encode(image);
  ASSERT_EQ(stream.back(), 0xD9);
  for (const bool padded : {false, true}) {
    SCOPED_TRACE(padded ? "pad byte after the end marker" : "no pad byte");
    if (padded)
      stream.push_back(0x00);
    std::vector<std::uint8_t> out(image.size(), 0xA5);
    ASSERT_TRUE(fw::JlsDecode(stream.data(), stream.size(), out.data(), out.size()));
    EXPECT_EQ(out, image);
  }
}

TEST(JlsDecode, StreamsWithoutTheirEndAreRefusedUntouched) {
  auto cut = Encode(ColourImage());
  cut.resize(cut.size() - 2);
  std::vector<std::uint8_t> damaged(std::begin(DAMAGED_SCAN_WITHOUT_END), std::end(DAMAGED_SCAN_WITHOUT_END));
  for (const std::vector<std::uint8_t> *stream : {&cut, &damaged}) {
    std::vector<std::uint8_t> out(SIDE * SIDE * 3, 0xA5);
    EXPECT_FALSE(fw::JlsDecode(stream->data(), stream->size(), out.data(), out.size()));
    EXPECT_EQ(out, std::vector<std::uint8_t>(out.size(), 0xA5));
  }
}

} // namespace
