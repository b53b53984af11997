// PrepareDisplayImage: colour model from the photometric interpretation,
// planar colour rearranged, texts and numbers, the icon's geometry left out,
// encapsulated and short pixel data.
#include "presentation/ImageConversion.h"

#include "tests/presentation/ConversionTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fw {
namespace {

using test::ImageShape;
using Bytes = std::vector<std::uint8_t>;

struct PhotometricCase {
  const char *name;
  const char *photometric;
  bool isColor;
  bool isMonochrome1;
};

class PreparePhotometric : public testing::TestWithParam<PhotometricCase> {};

TEST_P(PreparePhotometric, ColourModelFollowsTheExactText) {
  const PhotometricCase c = GetParam();
  ImageShape shape;
  shape.photometric = c.photometric;
  auto ds = test::NativeDataSet(shape, Bytes(64, 1));
  TImages images;
  PrepareDisplayImage(images, *ds);
  EXPECT_EQ(images.isColor, c.isColor);
  EXPECT_EQ(images.isMonochrome1, c.isMonochrome1);
}

INSTANTIATE_TEST_SUITE_P(Cases, PreparePhotometric,
                         testing::Values(PhotometricCase{"Rgb", "RGB", true, false},
                                         PhotometricCase{"RgbPadded", "RGB ", true, false},
                                         PhotometricCase{"YbrFull422AsWritten", "YBR_FULL_422", false, false},
                                         PhotometricCase{"YbrFull422Short", "YBR_FULL422", true, false},
                                         PhotometricCase{"YbrFull", "YBR_FULL", false, false},
                                         PhotometricCase{"Monochrome1", "MONOCHROME1", false, true},
                                         PhotometricCase{"Monochrome2", "MONOCHROME2", false, false}),
                         [](const testing::TestParamInfo<PhotometricCase> &info) {
                           return std::string(info.param.name);
                         });

TEST(PrepareColour, PlanarFramesBecomeTriples) {
  ImageShape shape;
  shape.columns = 3;
  shape.rows = 2;
  shape.frames = 2;
  shape.colour = true;
  shape.photometric = "RGB";
  shape.planarConfiguration = 1;
  Bytes planes;
  for (int f = 0; f < 2; ++f)
    for (int base : {10 + f, 100 + f, 200 + f})
      for (int p = 0; p < 6; ++p)
        planes.push_back(static_cast<std::uint8_t>(base + 10 * p));
  auto ds = test::NativeDataSet(shape, planes);
  TImages images;
  PrepareDisplayImage(images, *ds);
  Bytes expected;
  for (int f = 0; f < 2; ++f)
    for (int p = 0; p < 6; ++p)
      for (int base : {10 + f, 100 + f, 200 + f})
        expected.push_back(static_cast<std::uint8_t>(base + 10 * p));
  EXPECT_EQ(images.pixels, expected);
  EXPECT_EQ(images.planarConfiguration, 1);
  EXPECT_EQ(images.frameCount, 2);
}

TEST(PrepareFields, TextsAndNumbersAreTaken) {
  ImageShape shape;
  shape.columns = 4;
  shape.rows = 3;
  shape.bitsAllocated = 16;
  shape.bitsStored = 12;
  shape.modality = "US";
  auto ds = test::NativeDataSet(shape, Bytes(24, 7));
  ds->PutText(0x0010, 0x0020, "PID42");
  ds->PutText(0x0010, 0x0030, "19700101");
  ds->PutText(0x0010, 0x0040, "F");
  ds->PutText(0x0008, 0x1030, "Gastroscopy");
  ds->PutText(0x0008, 0x0080, "St. Elsewhere");
  ds->PutText(0x0020, 0x0013, "12");
  TImages images;
  PrepareDisplayImage(images, *ds);
  EXPECT_EQ(images.patientName, "Render^Test");
  EXPECT_EQ(images.patientId, "PID42");
  EXPECT_EQ(images.patientBirthDate, "19700101");
  EXPECT_EQ(images.patientSex, "F");
  EXPECT_EQ(images.studyDescription, "Gastroscopy");
  EXPECT_EQ(images.institutionName, "St. Elsewhere");
  EXPECT_EQ(images.modality, "US");
  EXPECT_EQ(images.imageInstanceNumber, 12);
  EXPECT_EQ(images.columns, 4);
  EXPECT_EQ(images.rows, 3);
  EXPECT_EQ(images.bitsAllocated, 16);
  EXPECT_EQ(images.photometric, "MONOCHROME2");
  EXPECT_EQ(images.pixels, Bytes(24, 7));
}

struct NumberCase {
  const char *name;
  const char *instance;
  const char *frames;
  int instanceNumber;
  int frameCount;
};

class PrepareNumbers : public testing::TestWithParam<NumberCase> {};

TEST_P(PrepareNumbers, LeadingDigitsAreRead) {
  const NumberCase c = GetParam();
  ImageShape shape;
  auto ds = test::NativeDataSet(shape, Bytes(64, 1));
  ds->PutText(0x0020, 0x0013, c.instance);
  ds->PutText(0x0028, 0x0008, c.frames);
  TImages images;
  PrepareDisplayImage(images, *ds);
  EXPECT_EQ(images.imageInstanceNumber, c.instanceNumber);
  EXPECT_EQ(images.frameCount, c.frameCount);
}

INSTANTIATE_TEST_SUITE_P(Cases, PrepareNumbers,
                         testing::Values(NumberCase{"Plain", "7", "3", 7, 3},
                                         NumberCase{"TrailingText", "12abc", "4 frames", 12, 4},
                                         NumberCase{"NotANumber", "abc", "many", 0, 1},
                                         NumberCase{"Empty", "", "", 0, 1},
                                         NumberCase{"ZeroFramesIsOne", "1", "0", 1, 1},
                                         NumberCase{"Huge", "99999999999", "99999999999", 2147483647, 2147483647}),
                         [](const testing::TestParamInfo<NumberCase> &info) { return std::string(info.param.name); });

TEST(PreparePixels, IconGeometryIsNotTaken) {
  ImageShape shape;
  shape.columns = 4;
  shape.rows = 4;
  auto ds = test::AttributesOf(shape);
  ds->Append(DcmTag::FromBytes(0x0088, 0x0200, UNDEFINED_LENGTH, nullptr, "SQ"));
  ds->Append(DcmTag::FromBytes(0xFFFE, 0xE000, UNDEFINED_LENGTH, nullptr, ""));
  ds->Append(DcmTag::FromText(0x0028, 0x0004, "RGB"));
  ds->Append(DcmTag::FromUS(0x0028, 0x0006, 1));
  ds->Append(DcmTag::FromUS(0x0028, 0x0010, 2));
  ds->Append(DcmTag::FromUS(0x0028, 0x0011, 2));
  const Bytes icon(12, 9);
  ds->Append(DcmTag::FromBytes(0x7FE0, 0x0010, 12, icon.data(), "OB"));
  ds->Append(DcmTag::FromBytes(0xFFFE, 0xE00D, 0, nullptr, ""));
  ds->Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, ""));
  Bytes pixels(16);
  for (std::size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = static_cast<std::uint8_t>(i);
  ds->Append(DcmTag::FromBytes(0x7FE0, 0x0010, 16, pixels.data(), "OB"));
  TImages images;
  PrepareDisplayImage(images, *ds);
  EXPECT_EQ(images.columns, 4);
  EXPECT_EQ(images.rows, 4);
  EXPECT_FALSE(images.isColor);
  EXPECT_EQ(images.planarConfiguration, 0);
  EXPECT_EQ(images.pixels, pixels);
}

TEST(PreparePixels, EncapsulatedPixelDataIsNotTaken) {
  ImageShape shape;
  shape.transferSyntax = JPEG_BASELINE;
  auto ds = test::EncapsulatedDataSet(shape, {Bytes(100, 1)});
  TImages images;
  PrepareDisplayImage(images, *ds);
  EXPECT_TRUE(images.pixels.empty());
  EXPECT_EQ(images.columns, 8);
}

TEST(PreparePixels, ShortValueGivesOnlyWhatIsThere) {
  for (bool colour : {false, true}) {
    for (int planar : {0, 1}) {
      ImageShape shape;
      shape.frames = 3;
      shape.colour = colour;
      shape.photometric = colour ? "RGB" : "MONOCHROME2";
      shape.planarConfiguration = planar;
      const std::size_t frame = shape.FrameBytes();
      auto ds = test::NativeDataSet(shape, Bytes(frame + frame / 2, 5)); // one and a half frames
      TImages images;
      PrepareDisplayImage(images, *ds);
      EXPECT_EQ(images.frameCount, 3);
      const std::size_t expected = colour && planar == 1 ? frame : frame + frame / 2;
      EXPECT_EQ(images.pixels.size(), expected) << "colour " << colour << " planar " << planar;
    }
  }
}

TEST(PreparePixels, LongValueIsCutToTheFrames) {
  ImageShape shape;
  auto ds = test::NativeDataSet(shape, Bytes(100, 3));
  TImages images;
  PrepareDisplayImage(images, *ds);
  EXPECT_EQ(images.pixels.size(), 64u);
}

} // namespace
} // namespace fw
