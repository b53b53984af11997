// ConvertTransferSyntax: the unchanged cases, colour and planar handling, the
// bit depth and rescale rewrites with the values they imply, the lossy marks,
// the icon sequence, lossless round trips and the failures.
#include "presentation/ImageConversion.h"

#include "dicom/PixelData.h"
#include "tests/dicom/codec/TestImages.h"
#include "tests/presentation/ConversionTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::ImageShape;
using test::ValueOf;
using Bytes = std::vector<std::uint8_t>;

Bytes Frames8(const ImageShape &shape) {
  Bytes pixels;
  for (int f = 0; f < shape.frames; ++f) {
    Bytes frame = test::MakePicture8(shape.columns, shape.rows, shape.colour ? 3 : 1);
    for (auto &b : frame)
      b = static_cast<std::uint8_t>(b + 37 * f);
    pixels.insert(pixels.end(), frame.begin(), frame.end());
  }
  return pixels;
}

// "d.dd" and more digits before the point.
bool IsRatioText(const std::string &text) {
  const std::size_t point = text.find('.');
  if (point == std::string::npos || point == 0 || text.size() != point + 3)
    return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (i != point && !std::isdigit(static_cast<unsigned char>(text[i])))
      return false;
  return true;
}

std::string US(std::uint16_t value) { return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)}; }

TEST(ConvertUnchanged, OwnSyntaxOrEmptyTargetChangesNothing) {
  ImageShape shape;
  shape.frames = 2;
  auto native = test::NativeDataSet(shape, Frames8(shape));
  ImageShape jpeg = shape;
  jpeg.transferSyntax = JPEG_BASELINE;
  auto encapsulated = test::EncapsulatedDataSet(jpeg, test::BaselineFrames(jpeg, Frames8(jpeg)));
  for (DcmObj *ds : {native.get(), encapsulated.get()}) {
    const Bytes before = test::Encoded(*ds);
    const std::string ts = ds->transferSyntax;
    EXPECT_TRUE(ConvertTransferSyntax(*ds, ts));
    EXPECT_TRUE(ConvertTransferSyntax(*ds, ""));
    EXPECT_EQ(test::Encoded(*ds), before);
    EXPECT_EQ(ds->transferSyntax, ts);
  }
}

TEST(ConvertUnchanged, UnsupportedSyntaxIsRefusedUntouched) {
  ImageShape shape;
  auto ds = test::NativeDataSet(shape, Frames8(shape));
  const Bytes before = test::Encoded(*ds);
  EXPECT_FALSE(ConvertTransferSyntax(*ds, "1.2.840.10008.1.2.4.57"));
  EXPECT_FALSE(ConvertTransferSyntax(*ds, "1.2.3.4"));
  // MPEG-2 and JPEG-LS can be read as sources but nothing here encodes them:
  // a native value under their label would be a corrupt object.
  EXPECT_FALSE(ConvertTransferSyntax(*ds, MPEG2_MAIN_PROFILE));
  EXPECT_FALSE(ConvertTransferSyntax(*ds, JPEG_LS_LOSSLESS));
  EXPECT_FALSE(ConvertTransferSyntax(*ds, JPEG_LS_NEAR_LOSSLESS));
  EXPECT_EQ(ds->transferSyntax, EXPLICIT_VR_LITTLE_ENDIAN);
  ds->transferSyntax = "1.2.840.10008.1.2.4.57";
  EXPECT_FALSE(ConvertTransferSyntax(*ds, IMPLICIT_VR_LITTLE_ENDIAN));
  ds->transferSyntax = std::string(EXPLICIT_VR_LITTLE_ENDIAN);
  EXPECT_EQ(test::Encoded(*ds), before);
}

TEST(ConvertColour, BaselineColourStillBecomesExplicitRgb) {
  ImageShape shape;
  shape.columns = 64;
  shape.rows = 48;
  shape.frames = 2;
  shape.colour = true;
  shape.photometric = "YBR_FULL_422";
  shape.planarConfiguration = 0;
  shape.transferSyntax = JPEG_BASELINE;
  const Bytes original = Frames8(shape);
  auto ds = test::EncapsulatedDataSet(shape, test::BaselineFrames(shape, original));

  ASSERT_TRUE(ConvertTransferSyntax(*ds, EXPLICIT_VR_LITTLE_ENDIAN));
  EXPECT_EQ(ds->transferSyntax, EXPLICIT_VR_LITTLE_ENDIAN);
  EXPECT_TRUE(ds->explicitVR);
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x0004), "RGB ");
  const DcmTag *pixel = ds->FindElement(0x7FE0, 0x0010);
  ASSERT_NE(pixel, nullptr);
  EXPECT_EQ(pixel->length, 64u * 48 * 3 * 2);
  EXPECT_EQ(pixel->VR(), "OB");
  EXPECT_EQ(ds->ElementAt(ds->Count() - 1), pixel); // no fragments left
  EXPECT_GT(test::Psnr(pixel->data.ToVector(), original, 255), 30.0);
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x2110), "<none>"); // decoding adds no lossy mark

  TImages images;
  PrepareDisplayImage(images, *ds);
  EXPECT_TRUE(images.isColor);
  EXPECT_EQ(images.pixels, pixel->data);
}

TEST(ConvertColour, ToBaselineIsLabelledYbrFull) {
  ImageShape shape;
  shape.colour = true;
  shape.photometric = "RGB";
  shape.planarConfiguration = 0;
  auto ds = test::NativeDataSet(shape, Frames8(shape));
  ASSERT_TRUE(ConvertTransferSyntax(*ds, JPEG_BASELINE));
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x0004), "YBR_FULL");
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x0100), US(8));
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x0101), US(8));
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x1053), "<none>"); // rewrites add no element
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x2110), "01");
}

// The decoded samples of a YBR baseline source are R, G, B; lossless
// targets store them as they are and must say so.
class ConvertYbrSource : public testing::TestWithParam<std::string_view> {};

TEST_P(ConvertYbrSource, LosslessTargetsAreLabelledRgb) {
  ImageShape shape;
  shape.columns = 32;
  shape.rows = 16;
  shape.colour = true;
  shape.photometric = "YBR_FULL_422";
  shape.planarConfiguration = 0;
  shape.transferSyntax = JPEG_BASELINE;
  auto ds = test::EncapsulatedDataSet(shape, test::BaselineFrames(shape, Frames8(shape)));
  ASSERT_TRUE(ConvertTransferSyntax(*ds, GetParam()));
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x0004), "RGB ");
  if (GetParam() == JPEG_2000)
    return; // lossy: the label is what is checked
  // Decoded again, the samples are those of the explicit RGB conversion.
  auto reference = test::EncapsulatedDataSet(shape, test::BaselineFrames(shape, Frames8(shape)));
  ASSERT_TRUE(ConvertTransferSyntax(*reference, EXPLICIT_VR_LITTLE_ENDIAN));
  ASSERT_TRUE(ConvertTransferSyntax(*ds, EXPLICIT_VR_LITTLE_ENDIAN));
  EXPECT_GT(test::Psnr(test::PixelValue(*ds), test::PixelValue(*reference), 255), 30.0);
}

INSTANTIATE_TEST_SUITE_P(Targets, ConvertYbrSource, testing::Values(JPEG_LOSSLESS, JPEG_2000_LOSSLESS, JPEG_2000));

TEST(ConvertColour, PlanarConfigurationOneComesOutInterleaved) {
  ImageShape shape;
  shape.columns = 4;
  shape.rows = 2;
  shape.frames = 2;
  shape.colour = true;
  shape.photometric = "RGB";
  shape.planarConfiguration = 1;
  shape.transferSyntax = IMPLICIT_VR_LITTLE_ENDIAN;
  // Frame f: plane R = 10f + p, G = 100 + p, B = 200 + p for pixel p.
  Bytes planes;
  for (int f = 0; f < 2; ++f)
    for (int base : {10 * f, 100, 200})
      for (int p = 0; p < 8; ++p)
        planes.push_back(static_cast<std::uint8_t>(base + p));
  auto ds = test::NativeDataSet(shape, planes);
  ASSERT_TRUE(ConvertTransferSyntax(*ds, EXPLICIT_VR_LITTLE_ENDIAN));
  Bytes expected;
  for (int f = 0; f < 2; ++f)
    for (int p = 0; p < 8; ++p)
      for (int base : {10 * f, 100, 200})
        expected.push_back(static_cast<std::uint8_t>(base + p));
  EXPECT_EQ(test::PixelValue(*ds), expected);
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x0006), US(0));
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x0004), "RGB ");
}

// Rescale rewrites to JPEG baseline: the written slope and intercept must
// turn the 8-bit samples back into the original values.
struct BaselineCase {
  const char *name;
  const char *modality;
  int bitsStored;
  int pixelRepresentation;
  const char *intercept; // original
  unsigned stored;       // the uniform stored value
  const char *slopeText; // written
  const char *interceptText;
};

class ConvertToBaseline : public testing::TestWithParam<BaselineCase> {};

TEST_P(ConvertToBaseline, AttributesDescribeThe8BitSamples) {
  const BaselineCase c = GetParam();
  ImageShape shape;
  shape.columns = 16;
  shape.rows = 16;
  shape.bitsAllocated = 16;
  shape.bitsStored = c.bitsStored;
  shape.pixelRepresentation = c.pixelRepresentation;
  shape.modality = c.modality;
  shape.intercept = c.intercept;
  shape.slope = "1";
  auto ds = test::NativeDataSet(shape, test::Uniform16(256, c.stored));
  ASSERT_TRUE(ConvertTransferSyntax(*ds, JPEG_BASELINE));

  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x0100), US(8));
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x0101), US(8));
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x0102), US(7));
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x0103), US(0));
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x1052), c.interceptText);
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x1053), c.slopeText);
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x2110), "01");
  const std::string ratio = ValueOf(*ds, 0x0028, 0x2112);
  EXPECT_TRUE(IsRatioText(ratio) || (ratio.back() == ' ' && IsRatioText(ratio.substr(0, ratio.size() - 1)))) << ratio;
  EXPECT_GT(std::atof(ratio.c_str()), 1.0);

  // Back to native: stored x slope + intercept gives the original value
  // within one step of the slope.
  ASSERT_TRUE(ConvertTransferSyntax(*ds, EXPLICIT_VR_LITTLE_ENDIAN));
  const Bytes &pixels = test::PixelValue(*ds);
  ASSERT_EQ(pixels.size(), 256u);
  const double slope = std::atof(c.slopeText);
  const double intercept = std::atof(c.interceptText);
  const double stored = c.pixelRepresentation != 0 ? static_cast<double>(static_cast<std::int16_t>(c.stored))
                                                   : static_cast<double>(c.stored);
  const double original = stored + std::atof(c.intercept);
  const double shown = pixels[100] * slope + intercept;
  EXPECT_NEAR(shown, original, slope) << "8-bit sample " << int{pixels[100]};
}

INSTANTIATE_TEST_SUITE_P(Cases, ConvertToBaseline,
                         testing::Values(BaselineCase{"Ct12", "CT", 12, 1, "-1024", 3071, "16", "-1024 "},
                                         BaselineCase{"Ct12Air", "CT", 12, 1, "-1024", 0, "16", "-1024 "},
                                         BaselineCase{"Ct16Signed", "CT", 16, 1, "0", 0xFF38 /* -200 */, "16",
                                                      "-1024 "},
                                         BaselineCase{"Mr12", "MR", 12, 0, "0", 2000, "16", "0 "},
                                         BaselineCase{"Mr16", "MR", 16, 0, "0", 40000, "256 ", "0 "},
                                         BaselineCase{"Mr10", "MR", 10, 0, "0", 800, "4 ", "0 "},
                                         BaselineCase{"Mr14", "MR", 14, 0, "0", 9000, "64", "0 "},
                                         BaselineCase{"Nm16", "NM", 16, 0, "0", 200, "1 ", "0 "}),
                         [](const testing::TestParamInfo<BaselineCase> &info) { return std::string(info.param.name); });

TEST(ConvertRewrites, JpegExtendedRewritesToTwelveBits) {
  ImageShape shape;
  shape.bitsAllocated = 16;
  shape.bitsStored = 16;
  shape.modality = "MR";
  shape.intercept = "-5";
  shape.slope = "2";
  auto ds = test::NativeDataSet(shape, test::Uniform16(64, 1000));
  ASSERT_TRUE(ConvertTransferSyntax(*ds, JPEG_EXTENDED));
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x0100), US(16));
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x0101), US(12));
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x0102), US(11));
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x0103), US(0));
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x1052), "0 ");
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x1053), "2 "); // untouched
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x2110), "01");
  EXPECT_EQ(ds->transferSyntax, JPEG_EXTENDED);
}

TEST(ConvertRewrites, Jpeg2000RewritesRescaleOnly) {
  for (std::string_view target : {JPEG_2000, JPEG_2000_LOSSLESS}) {
    ImageShape shape;
    shape.bitsAllocated = 16;
    shape.bitsStored = 12;
    shape.modality = "CT";
    shape.intercept = "-1024";
    shape.slope = "1";
    auto ds = test::NativeDataSet(shape, test::Uniform16(64, 1500));
    ASSERT_TRUE(ConvertTransferSyntax(*ds, target));
    EXPECT_EQ(ValueOf(*ds, 0x0028, 0x0101), US(12));
    EXPECT_EQ(ValueOf(*ds, 0x0028, 0x1052), "-1024 ");
    EXPECT_EQ(ValueOf(*ds, 0x0028, 0x1053), "1 ");
    EXPECT_EQ(ValueOf(*ds, 0x0028, 0x2110), target == JPEG_2000 ? "01" : "<none>");
  }
}

struct RoundTripCase {
  const char *name;
  std::string_view target;
  int bitsStored;
  bool colour;
};

class ConvertLossless : public testing::TestWithParam<RoundTripCase> {};

TEST_P(ConvertLossless, RoundTripGivesThePixelsBack) {
  const RoundTripCase c = GetParam();
  ImageShape shape;
  shape.columns = 24;
  shape.rows = 20;
  shape.frames = 3;
  shape.colour = c.colour;
  shape.photometric = c.colour ? "RGB" : "MONOCHROME2";
  shape.bitsAllocated = c.bitsStored == 8 ? 8 : 16;
  shape.bitsStored = c.bitsStored;
  shape.transferSyntax = IMPLICIT_VR_LITTLE_ENDIAN;
  Bytes original;
  if (c.bitsStored == 8) {
    original = Frames8(shape);
  } else {
    for (int f = 0; f < shape.frames; ++f) {
      const Bytes frame = test::MakePicture16(shape.columns, shape.rows, 1, c.bitsStored);
      original.insert(original.end(), frame.begin(), frame.end());
    }
  }
  auto ds = test::NativeDataSet(shape, original);
  ASSERT_TRUE(ConvertTransferSyntax(*ds, c.target));
  EXPECT_EQ(ds->transferSyntax, c.target);
  EXPECT_EQ(ds->FindElement(0x7FE0, 0x0010)->length, UNDEFINED_LENGTH);
  ASSERT_TRUE(ConvertTransferSyntax(*ds, EXPLICIT_VR_BIG_ENDIAN));
  EXPECT_EQ(test::PixelValue(*ds), original);
  EXPECT_EQ(ds->FindElement(0x7FE0, 0x0010)->VR(), c.bitsStored == 8 ? "OB" : "OW");
}

INSTANTIATE_TEST_SUITE_P(Cases, ConvertLossless,
                         testing::Values(RoundTripCase{"JpegLossless16", JPEG_LOSSLESS, 12, false},
                                         RoundTripCase{"JpegLosslessColour", JPEG_LOSSLESS, 8, true},
                                         RoundTripCase{"Jpeg2000Lossless16", JPEG_2000_LOSSLESS, 16, false},
                                         RoundTripCase{"Jpeg2000LosslessColour", JPEG_2000_LOSSLESS, 8, true}),
                         [](const testing::TestParamInfo<RoundTripCase> &info) {
                           return std::string(info.param.name);
                         });

// An icon of other geometry before the pixel data, as a flat item or as an
// item the reader expanded.
class ConvertIcon : public testing::TestWithParam<bool> {};

TEST_P(ConvertIcon, IconAttributesAreNeitherTakenNorRewritten) {
  const bool expandedItem = GetParam();
  ImageShape shape;
  shape.columns = 16;
  shape.rows = 16;
  shape.bitsAllocated = 16;
  shape.bitsStored = 12;
  shape.modality = "MR";
  shape.slope = "1";
  auto ds = test::AttributesOf(shape);
  ds->Append(DcmTag::FromBytes(0x0088, 0x0200, UNDEFINED_LENGTH, nullptr, "SQ"));
  std::vector<std::unique_ptr<DcmTag>> icon;
  icon.push_back(DcmTag::FromText(0x0028, 0x0004, "PALETTE COLOR"));
  icon.push_back(DcmTag::FromUS(0x0028, 0x0010, 2));
  icon.push_back(DcmTag::FromUS(0x0028, 0x0011, 2));
  icon.push_back(DcmTag::FromUS(0x0028, 0x0100, 8));
  icon.push_back(DcmTag::FromUS(0x0028, 0x0101, 8));
  const std::uint8_t iconPixels[4] = {1, 2, 3, 4};
  icon.push_back(DcmTag::FromBytes(0x7FE0, 0x0010, 4, iconPixels, "OB"));
  if (expandedItem) {
    auto item = std::make_unique<DcmObj>();
    item->header = *DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr, "");
    for (auto &t : icon)
      item->Append(std::move(t));
    ds->Append(std::move(item));
  } else {
    ds->Append(DcmTag::FromBytes(0xFFFE, 0xE000, UNDEFINED_LENGTH, nullptr, ""));
    for (auto &t : icon)
      ds->Append(std::move(t));
    ds->Append(DcmTag::FromBytes(0xFFFE, 0xE00D, 0, nullptr, ""));
  }
  ds->Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, ""));
  const Bytes pixels = test::Uniform16(256, 1600);
  ds->Append(DcmTag::FromBytes(0x7FE0, 0x0010, static_cast<std::uint32_t>(pixels.size()), pixels.data(), "OW"));

  ASSERT_TRUE(ConvertTransferSyntax(*ds, JPEG_BASELINE));
  EXPECT_EQ(ValueOf(*ds, 0x0028, 0x1053), "16"); // the main image's 12 bits
  EXPECT_EQ(ds->FindElement(0x7FE0, 0x0010)->length, UNDEFINED_LENGTH);
  if (!expandedItem) {
    // The icon's own elements and pixel data are as they were.
    std::size_t iconAt = 0;
    while (!ds->ElementAt(iconAt)->Is(0x0088, 0x0200))
      ++iconAt;
    EXPECT_EQ(ds->ElementAt(iconAt + 2)->GetText(), "PALETTE COLOR");
    EXPECT_EQ(ds->ElementAt(iconAt + 5)->GetUS(), 8);
    EXPECT_EQ(ds->ElementAt(iconAt + 6)->GetUS(), 8);
    EXPECT_EQ(ds->ElementAt(iconAt + 7)->data, Bytes(iconPixels, iconPixels + 4));
  }
  ASSERT_TRUE(ConvertTransferSyntax(*ds, EXPLICIT_VR_LITTLE_ENDIAN));
  EXPECT_EQ(test::PixelValue(*ds), Bytes(256, 100)); // 1600 / 16
}

INSTANTIATE_TEST_SUITE_P(Layouts, ConvertIcon, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) {
                           return info.param ? std::string("ExpandedItem") : std::string("FlatItem");
                         });

struct LengthCase {
  const char *name;
  int columns;
  int rows;
  int lengthChange;
  bool accepted;
};

class ConvertNativeLength : public testing::TestWithParam<LengthCase> {};

TEST_P(ConvertNativeLength, OnlyTheComputedSizeOrOneMoreIsAccepted) {
  const LengthCase c = GetParam();
  ImageShape shape;
  shape.columns = c.columns;
  shape.rows = c.rows;
  Bytes pixels(static_cast<std::size_t>(static_cast<long>(shape.FrameBytes()) + c.lengthChange), 50);
  auto ds = test::NativeDataSet(shape, pixels);
  EXPECT_EQ(ConvertTransferSyntax(*ds, JPEG_LOSSLESS), c.accepted);
  if (!c.accepted) {
    EXPECT_EQ(ds->transferSyntax, EXPLICIT_VR_LITTLE_ENDIAN);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ConvertNativeLength,
                         testing::Values(LengthCase{"Exact", 8, 8, 0, true},
                                         LengthCase{"OddSizePadded", 3, 3, 0, true}, // 9 bytes stored as 10
                                         LengthCase{"TwoShort", 8, 8, -2, false}, LengthCase{"TwoLong", 8, 8, 2, false},
                                         LengthCase{"Empty", 8, 8, -64, false}),
                         [](const testing::TestParamInfo<LengthCase> &info) { return std::string(info.param.name); });

// Without pixel data there is nothing to decode: native syntaxes re-encode
// the data set, a compressed one would claim pixels it has not.
TEST(ConvertFailures, ImageWithoutPixelDataConvertsBetweenNativeSyntaxesOnly) {
  ImageShape shape;
  auto ds = test::AttributesOf(shape);
  EXPECT_TRUE(ConvertTransferSyntax(*ds, IMPLICIT_VR_LITTLE_ENDIAN));
  EXPECT_EQ(ds->transferSyntax, IMPLICIT_VR_LITTLE_ENDIAN);
  EXPECT_FALSE(ds->explicitVR);
  EXPECT_FALSE(ConvertTransferSyntax(*ds, JPEG_LOSSLESS));
}

struct DamageCase {
  const char *name;
  void (*damage)(DcmObj &ds);
};

class ConvertDamaged : public testing::TestWithParam<DamageCase> {};

TEST_P(ConvertDamaged, DamagedFragmentsFailTheConversion) {
  ImageShape shape;
  shape.columns = 64;
  shape.rows = 32;
  shape.frames = 3;
  shape.transferSyntax = JPEG_BASELINE;
  auto ds = test::EncapsulatedDataSet(shape, test::BaselineFrames(shape, Frames8(shape)));
  GetParam().damage(*ds);
  EXPECT_FALSE(ConvertTransferSyntax(*ds, EXPLICIT_VR_LITTLE_ENDIAN));
}

// Index of fragment f (after the offset table) in the data sets above.
DcmTag &Fragment(DcmObj &ds, int f) {
  std::size_t i = 0;
  while (!ds.ElementAt(i)->Is(0x7FE0, 0x0010))
    ++i;
  return *ds.ElementAt(i + 2 + static_cast<std::size_t>(f));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConvertDamaged,
    testing::Values(DamageCase{"CutFragment",
                               [](DcmObj &ds) {
                                 DcmTag &t = Fragment(ds, 1);
                                 t.data.resize(t.data.size() / 2 & ~std::size_t{1});
                                 t.length = static_cast<std::uint32_t>(t.data.size());
                               }},
                    DamageCase{"GarbageFragment",
                               [](DcmObj &ds) {
                                 DcmTag &t = Fragment(ds, 2);
                                 for (std::size_t i = 0; i < t.data.size(); ++i)
                                   t.data[i] = static_cast<std::uint8_t>(i * 37);
                               }},
                    DamageCase{"MissingFragment",
                               [](DcmObj &ds) {
                                 std::size_t i = 0;
                                 while (!ds.ElementAt(i)->Is(0x7FE0, 0x0010))
                                   ++i;
                                 ds.RemoveAt(i + 3);
                               }},
                    DamageCase{"ColumnsOfAnotherImage", [](DcmObj &ds) { ds.Put(DcmTag::FromUS(0x0028, 0x0011, 65)); }},
                    DamageCase{"HugeFrameCount", [](DcmObj &ds) { ds.PutText(0x0028, 0x0008, "99999999999"); }},
                    DamageCase{"HugeGeometry",
                               [](DcmObj &ds) {
                                 ds.Put(DcmTag::FromUS(0x0028, 0x0010, 65535));
                                 ds.Put(DcmTag::FromUS(0x0028, 0x0011, 65535));
                                 ds.Put(DcmTag::FromUS(0x0028, 0x0100, 16));
                               }}),
    [](const testing::TestParamInfo<DamageCase> &info) { return std::string(info.param.name); });

// A frame header of the given geometry and nothing to decode.
Bytes TinyJpeg(std::uint16_t columns, std::uint16_t rows) {
  return {0xFF,
          0xD8,
          0xFF,
          0xC0,
          0x00,
          0x0B,
          8,
          static_cast<std::uint8_t>(rows >> 8),
          static_cast<std::uint8_t>(rows),
          static_cast<std::uint8_t>(columns >> 8),
          static_cast<std::uint8_t>(columns),
          1,
          1,
          0x11,
          0,
          0xFF,
          0xD9};
}

// SOC and a SIZ segment of one 8-bit component.
Bytes TinyJ2k(std::uint32_t columns, std::uint32_t rows) {
  Bytes b = {0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x29, 0x00, 0x00};
  for (std::uint32_t v : {columns, rows, 0u, 0u, columns, rows, 0u, 0u})
    for (int shift : {24, 16, 8, 0})
      b.push_back(static_cast<std::uint8_t>(v >> shift));
  for (std::uint8_t v : {0x00, 0x01, 0x07, 0x01, 0x01, 0xFF, 0xD9})
    b.push_back(v);
  return b;
}

// SOI and a JPEG-LS frame header (SOF55) of one 8-bit component.
Bytes TinyJpegLs(std::uint16_t columns, std::uint16_t rows) {
  Bytes b = TinyJpeg(columns, rows);
  b[3] = 0xF7;
  return b;
}

// An RLE frame header with the given segment count and offsets, then one
// PackBits run of 128 zero bytes per segment.
Bytes TinyRle(std::uint32_t segments, const std::vector<std::uint32_t> &offsets) {
  Bytes b(64, 0);
  auto put = [&](std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k)
      b[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (8 * k));
  };
  put(0, segments);
  for (std::size_t s = 0; s < offsets.size(); ++s)
    put(4 + 4 * s, offsets[s]);
  for (std::size_t s = 0; s < offsets.size(); ++s)
    b.insert(b.end(), {0x81, 0x00});
  return b;
}

struct HostileCase {
  const char *name;
  const char *transferSyntax;
  Bytes fragment;
  const char *line; // the start of the refusal
};

class ConvertHostile : public testing::TestWithParam<HostileCase> {};

// A few bytes that claim gigabytes of frames are refused before anything is
// allocated for them: the refusal names the reason.
TEST_P(ConvertHostile, RefusedBeforeTheFramesAreAllocated) {
  ImageShape shape;
  shape.columns = 65535;
  shape.rows = 65535;
  shape.transferSyntax = GetParam().transferSyntax;
  auto ds = test::EncapsulatedDataSet(shape, {GetParam().fragment});
  test::LogCapture log;
  EXPECT_FALSE(ConvertTransferSyntax(*ds, EXPLICIT_VR_LITTLE_ENDIAN));
  const std::vector<std::string> lines = log.StartingWith("ERROR, CheckEncapsulatedFrames, ");
  ASSERT_EQ(lines.size(), 1u) << testing::PrintToString(log.Messages());
  EXPECT_EQ(lines[0].rfind(GetParam().line, 0), 0u) << lines[0];
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConvertHostile,
    testing::Values(
        HostileCase{"JpegOfTheClaimedSize", "1.2.840.10008.1.2.4.50", TinyJpeg(65535, 65535),
                    "ERROR, CheckEncapsulatedFrames, the fragments can decode to at most 73728 of the 4294836225 "
                    "bytes the image attributes describe"},
        HostileCase{"J2kOfTheClaimedSize", "1.2.840.10008.1.2.4.90", TinyJ2k(65535, 65535),
                    "ERROR, CheckEncapsulatedFrames, the fragments can decode to at most"},
        HostileCase{"JpegOfAnotherSize", "1.2.840.10008.1.2.4.70", TinyJpeg(16, 16),
                    "ERROR, CheckEncapsulatedFrames, frame 0 is 16 x 16 x 1 by its frame header, the image attributes "
                    "say 65535 x 65535 x 1"},
        HostileCase{"NoFrameHeader", "1.2.840.10008.1.2.4.91", Bytes(64, 0x42),
                    "ERROR, CheckEncapsulatedFrames, frame 0 has no frame header"},
        HostileCase{"JpegLsOfTheClaimedSize", "1.2.840.10008.1.2.4.80", TinyJpegLs(65535, 65535),
                    "ERROR, CheckEncapsulatedFrames, the fragments can decode to at most"},
        HostileCase{"JpegLsOfAnotherSize", "1.2.840.10008.1.2.4.81", TinyJpegLs(16, 16),
                    "ERROR, CheckEncapsulatedFrames, frame 0 is 16 x 16 x 1 by its frame header, the image attributes "
                    "say 65535 x 65535 x 1"},
        HostileCase{"JpegUnderAJpegLsLabel", "1.2.840.10008.1.2.4.80", TinyJpeg(65535, 65535),
                    "ERROR, CheckEncapsulatedFrames, frame 0 has no frame header"},
        HostileCase{"JpegLsUnderAJpegLabel", "1.2.840.10008.1.2.4.70", TinyJpegLs(65535, 65535),
                    "ERROR, CheckEncapsulatedFrames, frame 0 has no frame header"},
        // One segment of two bytes decodes to at most 128.
        HostileCase{"RleOfTheClaimedSize", "1.2.840.10008.1.2.5", TinyRle(1, {64}),
                    "ERROR, CheckEncapsulatedFrames, the fragments can decode to at most 128 of the 4294836225 bytes "
                    "the image attributes describe"},
        HostileCase{"RleOfAnotherSampleCount", "1.2.840.10008.1.2.5", TinyRle(3, {64, 66, 68}),
                    "ERROR, CheckEncapsulatedFrames, frame 0 has no RLE header that fits the image attributes and its "
                    "70 bytes"},
        HostileCase{"RleSegmentPastTheEnd", "1.2.840.10008.1.2.5", TinyRle(1, {4096}),
                    "ERROR, CheckEncapsulatedFrames, frame 0 has no RLE header that fits the image attributes and its "
                    "66 bytes"},
        HostileCase{"RleCutHeader", "1.2.840.10008.1.2.5", Bytes{1, 0, 0, 0, 64, 0, 0, 0},
                    "ERROR, CheckEncapsulatedFrames, frame 0 has no RLE header that fits the image attributes and its "
                    "8 bytes"}),
    [](const testing::TestParamInfo<HostileCase> &info) { return std::string(info.param.name); });

// A clip decoded on several threads logs each failed frame once, with its
// number in the clip, exactly as one thread does.
TEST(ConvertClipLog, FailedFramesAreLoggedOnceWithTheirClipNumbers) {
  ImageShape shape;
  shape.columns = 32;
  shape.rows = 16;
  shape.frames = 7;
  shape.transferSyntax = JPEG_BASELINE;
  const std::vector<std::string> expected = {"ERROR, DecodePixelData, frame 2 failed",
                                             "ERROR, DecodePixelData, frame 5 failed",
                                             "ERROR, DecodePixelData, frame 6 failed"};
  for (unsigned threads : {1u, 2u, 3u, 8u}) {
    SCOPED_TRACE(threads);
    auto ds = test::EncapsulatedDataSet(shape, test::BaselineFrames(shape, Frames8(shape)));
    for (int f : {2, 5, 6}) {
      DcmTag &t = Fragment(*ds, f);
      t.data.resize(t.data.size() / 2 & ~std::size_t{1}); // cut in its scan
      t.length = static_cast<std::uint32_t>(t.data.size());
    }
    test::LogCapture log;
    EXPECT_FALSE(ConvertTransferSyntax(*ds, EXPLICIT_VR_LITTLE_ENDIAN, {.decodeThreads = threads}));
    EXPECT_EQ(log.StartingWith("ERROR, DecodePixelData"), expected);
    EXPECT_TRUE(log.StartingWith("ERROR, ConvertTransferSyntax, frame").empty());
  }
}

// Frames decoded a range at a time into a caller's buffer are the very bytes
// the whole conversion gives those frames, on any number of threads, and the
// data set keeps its fragments for the next range.
class DecodeFrameRangeTest : public ::testing::Test {
protected:
  void SetUp() override {
    shape_.columns = 24;
    shape_.rows = 10;
    shape_.frames = 7;
    shape_.colour = true;
    shape_.photometric = "YBR_FULL";
    shape_.transferSyntax = JPEG_BASELINE;
    frames_ = test::BaselineFrames(shape_, Frames8(shape_));
    auto whole = test::EncapsulatedDataSet(shape_, frames_);
    ASSERT_TRUE(ConvertTransferSyntax(*whole, EXPLICIT_VR_LITTLE_ENDIAN));
    whole_ = whole->FindElement(0x7FE0, 0x0010)->data.ToVector();
    ds_ = test::EncapsulatedDataSet(shape_, frames_);
    for (std::size_t i = 0; i < ds_->Count(); ++i)
      if (const DcmTag *t = ds_->ElementAt(i); t != nullptr && t->Is(0x7FE0, 0x0010))
        index_ = i;
  }
  static constexpr std::uint64_t kFrameBytes = 24 * 10 * 3;

  ImageShape shape_;
  std::vector<Bytes> frames_;
  Bytes whole_;
  std::unique_ptr<DcmObj> ds_;
  std::size_t index_ = 0;
};

TEST_F(DecodeFrameRangeTest, RangesMatchTheWholeConversion) {
  struct Range {
    int first, count;
  };
  for (unsigned threads : {1u, 2u, 3u}) {
    for (const Range range : {Range{0, 7}, Range{0, 1}, Range{3, 2}, Range{6, 1}, Range{1, 5}}) {
      SCOPED_TRACE(std::to_string(range.first) + " + " + std::to_string(range.count) + " on " +
                   std::to_string(threads));
      Bytes buffer(range.count * kFrameBytes, 0x5A);
      std::vector<int> failed{99};
      ASSERT_TRUE(DecodeFrameRange(*ds_, index_,
                                   {.firstFrame = range.first,
                                    .frameCount = range.count,
                                    .destination = buffer.data(),
                                    .frameBytes = kFrameBytes,
                                    .bitsAllocated = 8,
                                    .threads = threads,
                                    .failedFrames = &failed}));
      EXPECT_TRUE(failed.empty());
      const auto begin = whole_.begin() + static_cast<std::ptrdiff_t>(range.first * kFrameBytes);
      EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), begin));
    }
  }
}

TEST_F(DecodeFrameRangeTest, RangesOutsideTheClipOrOffThePixelDataAreRefused) {
  Bytes buffer(8 * kFrameBytes);
  EXPECT_FALSE(DecodeFrameRange(
      *ds_, index_,
      {.firstFrame = 6, .frameCount = 2, .destination = buffer.data(), .frameBytes = kFrameBytes, .bitsAllocated = 8}));
  EXPECT_FALSE(DecodeFrameRange(*ds_, index_,
                                {.firstFrame = -1,
                                 .frameCount = 2,
                                 .destination = buffer.data(),
                                 .frameBytes = kFrameBytes,
                                 .bitsAllocated = 8}));
  EXPECT_FALSE(DecodeFrameRange(
      *ds_, index_,
      {.firstFrame = 0, .frameCount = 0, .destination = buffer.data(), .frameBytes = kFrameBytes, .bitsAllocated = 8}));
  EXPECT_FALSE(DecodeFrameRange(
      *ds_, index_ + 1,
      {.firstFrame = 0, .frameCount = 1, .destination = buffer.data(), .frameBytes = kFrameBytes, .bitsAllocated = 8}));
  EXPECT_FALSE(DecodeFrameRange(
      *ds_, 0,
      {.firstFrame = 0, .frameCount = 1, .destination = buffer.data(), .frameBytes = kFrameBytes, .bitsAllocated = 8}));
}

TEST_F(DecodeFrameRangeTest, ADamagedFrameFailsOnlyTheRangesThatHoldIt) {
  DcmTag &t = Fragment(*ds_, 5);
  t.data.resize(t.data.size() / 2 & ~std::size_t{1}); // cut in its scan
  t.length = static_cast<std::uint32_t>(t.data.size());
  Bytes buffer(7 * kFrameBytes);
  for (unsigned threads : {1u, 3u}) {
    SCOPED_TRACE(threads);
    std::vector<int> failed;
    test::LogCapture log;
    EXPECT_FALSE(DecodeFrameRange(*ds_, index_,
                                  {.firstFrame = 2,
                                   .frameCount = 5,
                                   .destination = buffer.data(),
                                   .frameBytes = kFrameBytes,
                                   .bitsAllocated = 8,
                                   .threads = threads,
                                   .failedFrames = &failed}));
    EXPECT_EQ(failed, std::vector<int>{5});
    EXPECT_TRUE(log.StartingWith("ERROR, DecodePixelData").empty());
    EXPECT_TRUE(DecodeFrameRange(*ds_, index_,
                                 {.firstFrame = 0,
                                  .frameCount = 5,
                                  .destination = buffer.data(),
                                  .frameBytes = kFrameBytes,
                                  .bitsAllocated = 8,
                                  .threads = threads,
                                  .failedFrames = &failed}));
    EXPECT_TRUE(failed.empty());
  }
}

// A clip written by ConvertTransferSyntaxToFile: decoded a range of frames
// at a time straight into the file, or, where that cannot be, converted
// whole; either way the very file the whole conversion and Write give.
struct StreamCase {
  const char *name;
  ImageShape shape;        // native; converted to source first
  std::string_view source; // the encapsulated syntax of the clip
  std::string_view target;
  ConversionOptions options;
  bool flatIcon; // native icon pixel data beside the image's
  bool streams;  // decoded range by range, not whole
};

void PrintTo(const StreamCase &c, std::ostream *os) { *os << c.name; }

ImageShape StreamShape(int columns, int rows, int frames, bool colour, int bitsStored = 8) {
  ImageShape shape;
  shape.columns = columns;
  shape.rows = rows;
  shape.frames = frames;
  shape.colour = colour;
  shape.photometric = colour ? "RGB" : "MONOCHROME2";
  shape.bitsAllocated = bitsStored == 8 ? 8 : 16;
  shape.bitsStored = bitsStored;
  return shape;
}

// The clip of the case, encapsulated in its source syntax.
std::unique_ptr<DcmObj> StreamClip(const StreamCase &c) {
  Bytes pixels;
  if (c.shape.bitsStored == 8) {
    pixels = Frames8(c.shape);
  } else {
    for (int f = 0; f < c.shape.frames; ++f) {
      const Bytes frame = test::MakePicture16(c.shape.columns, c.shape.rows, 1, c.shape.bitsStored);
      pixels.insert(pixels.end(), frame.begin(), frame.end());
    }
  }
  auto ds = test::AttributesOf(c.shape);
  if (c.flatIcon) {
    ds->Append(DcmTag::FromBytes(0x0088, 0x0200, UNDEFINED_LENGTH, nullptr, "SQ"));
    ds->Append(DcmTag::FromBytes(0xFFFE, 0xE000, UNDEFINED_LENGTH, nullptr, ""));
    ds->Append(DcmTag::FromUS(0x0028, 0x0010, 2));
    ds->Append(DcmTag::FromUS(0x0028, 0x0011, 2));
    const std::uint8_t iconPixels[4] = {1, 2, 3, 4};
    ds->Append(DcmTag::FromBytes(0x7FE0, 0x0010, 4, iconPixels, "OB"));
    ds->Append(DcmTag::FromBytes(0xFFFE, 0xE00D, 0, nullptr, ""));
    ds->Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, ""));
  }
  ds->Append(DcmTag::FromBytes(0x7FE0, 0x0010, static_cast<std::uint32_t>(pixels.size()), pixels.data(),
                               c.shape.bitsStored == 8 ? "OB" : "OW"));
  // Trailing padding: elements after the pixel data are written after it.
  ds->Append(DcmTag::FromBytes(0xFFFC, 0xFFFC, 4, "\0\0\0\0", "OB"));
  EXPECT_TRUE(ConvertTransferSyntax(*ds, c.source));
  return ds;
}

class ConvertToFile : public testing::TestWithParam<StreamCase> {
protected:
  std::string Path(const std::string &name) const { return dir_.folder() + name; }
  test::TempDir dir_;
};

TEST_P(ConvertToFile, StreamedFileEqualsTheWholeConversion) {
  const StreamCase &c = GetParam();
  auto whole = StreamClip(c);
  ASSERT_TRUE(ConvertTransferSyntax(*whole, c.target, c.options));
  ASSERT_TRUE(whole->Write(Path("whole.dcm")));

  auto streamed = StreamClip(c);
  ASSERT_EQ(ConvertTransferSyntaxToFile(*streamed, c.target, Path("streamed.dcm"), c.options), ConvertedFile::Written);
  const std::string expected = test::ReadFileBytes(Path("whole.dcm"));
  ASSERT_FALSE(expected.empty());
  EXPECT_TRUE(test::ReadFileBytes(Path("streamed.dcm")) == expected) << "the files differ";
  // A streamed clip leaves the data set's native pixel data without its bytes.
  const DcmTag &pixels = *streamed->FindElement(0x7FE0, 0x0010);
  EXPECT_EQ(pixels.length != UNDEFINED_LENGTH && pixels.data.empty(), c.streams);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConvertToFile,
    testing::Values(
        // 7 frames in ranges of 3: the last range is short.
        StreamCase{"ColourClipInRangesOfThree",
                   StreamShape(24, 10, 7, true),
                   JPEG_BASELINE,
                   EXPLICIT_VR_LITTLE_ENDIAN,
                   {.decodeThreads = 2, .streamFrames = 3},
                   false,
                   true},
        StreamCase{"ImplicitTargetOneThread",
                   StreamShape(24, 10, 5, true),
                   JPEG_BASELINE,
                   IMPLICIT_VR_LITTLE_ENDIAN,
                   {.decodeThreads = 1, .streamFrames = 2},
                   false,
                   true},
        StreamCase{"DefaultRangesOnEveryCore",
                   StreamShape(16, 8, 11, false),
                   JPEG_BASELINE,
                   EXPLICIT_VR_LITTLE_ENDIAN,
                   {},
                   false,
                   true},
        // 3 x 3 x 5 bytes: the value gets its pad byte.
        StreamCase{"OddLengthIsPadded",
                   StreamShape(3, 3, 5, false),
                   JPEG_BASELINE,
                   EXPLICIT_VR_LITTLE_ENDIAN,
                   {.decodeThreads = 2, .streamFrames = 2},
                   false,
                   true},
        StreamCase{"SixteenBitSamples",
                   StreamShape(12, 9, 4, false, 12),
                   JPEG_LOSSLESS,
                   EXPLICIT_VR_LITTLE_ENDIAN,
                   {.decodeThreads = 3, .streamFrames = 3},
                   false,
                   true},
        StreamCase{"Still", StreamShape(20, 14, 1, true), JPEG_BASELINE, EXPLICIT_VR_LITTLE_ENDIAN, {}, false, true},
        // Not streamed, but the same file all the same.
        StreamCase{"BigEndianIsConvertedWhole",
                   StreamShape(12, 9, 4, false, 12),
                   JPEG_LOSSLESS,
                   EXPLICIT_VR_BIG_ENDIAN,
                   {.streamFrames = 2},
                   false,
                   false},
        StreamCase{"FlatIconIsConvertedWhole",
                   StreamShape(24, 10, 5, true),
                   JPEG_BASELINE,
                   EXPLICIT_VR_LITTLE_ENDIAN,
                   {.streamFrames = 2},
                   true,
                   false},
        StreamCase{"CompressedTargetIsConvertedWhole",
                   StreamShape(24, 10, 3, true),
                   JPEG_BASELINE,
                   JPEG_LOSSLESS,
                   {.streamFrames = 2},
                   false,
                   false}),
    [](const testing::TestParamInfo<StreamCase> &info) { return std::string(info.param.name); });

// A frame that does not decode half way through the clip fails the
// conversion after some frames were written: the file that was there stays
// as it was and no temporary file is left.
TEST(ConvertToFileFailure, ADamagedFrameMidStreamLeavesTheOldFile) {
  const StreamCase c{"", StreamShape(24, 10, 7, true), JPEG_BASELINE, EXPLICIT_VR_LITTLE_ENDIAN, {}, false, true};
  test::TempDir dir;
  const std::string path = dir.folder() + "clip.dcm";
  for (unsigned threads : {1u, 2u}) {
    SCOPED_TRACE(threads);
    {
      std::ofstream old(path, std::ios::binary | std::ios::trunc);
      old << "the old file";
    }
    auto ds = StreamClip(c);
    std::size_t index = 0;
    while (!ds->ElementAt(index)->Is(0x7FE0, 0x0010))
      ++index;
    DcmTag &t = *ds->ElementAt(index + 2 + 5);
    t.data.resize(t.data.size() / 2 & ~std::size_t{1}); // cut in its scan
    t.length = static_cast<std::uint32_t>(t.data.size());
    test::LogCapture log;
    EXPECT_EQ(ConvertTransferSyntaxToFile(*ds, c.target, path, {.decodeThreads = threads, .streamFrames = 2}),
              ConvertedFile::NotConverted);
    EXPECT_EQ(test::ReadFileBytes(path), "the old file");
    EXPECT_EQ(log.StartingWith("ERROR, DecodePixelData"),
              std::vector<std::string>{"ERROR, DecodePixelData, frame 5 failed"});
    EXPECT_EQ(log.StartingWith("ERROR, ConvertTransferSyntax"),
              std::vector<std::string>{"ERROR, ConvertTransferSyntax, the pixel data could not be decoded"});
    std::size_t files = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(dir.path()))
      ++files;
    EXPECT_EQ(files, 1u) << "a temporary file was left";
  }
}

} // namespace
} // namespace fw
