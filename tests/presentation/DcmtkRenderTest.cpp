// Files compressed by DCMTK's dcmcjpeg, an independent implementation,
// converted, prepared and drawn here: a JPEG baseline colour picture and a
// 12-bit JPEG lossless greyscale one. The pictures are written as PNG files
// into the test output folder, so a person can look at them.
#include "presentation/DCMPresentation.h"
#include "presentation/ImageConversion.h"
#include "tests/dicom/codec/TestImages.h"
#include "tests/presentation/ConversionTestSupport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fw {
namespace {

using test::ImageShape;
using Bytes = std::vector<std::uint8_t>;

int RunCommand(const std::string &command, std::string &output) {
  output.clear();
  FILE *pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr)
    return -1;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    output.append(buffer, got);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class DcmtkRender : public testing::Test {
protected:
  void SetUp() override {
    if (!std::filesystem::exists("/usr/bin/dcmcjpeg"))
      GTEST_SKIP() << "dcmcjpeg (dcmtk) is not installed";
    std::filesystem::create_directories(FW_TEST_OUTPUT_DIR);
  }

  // Writes the data set, compresses it with dcmcjpeg and reads the result.
  void Compress(DcmObj &ds, const std::string &options, DcmObj &out) {
    const std::string in = dir_.folder() + "native.dcm";
    const std::string compressed = dir_.folder() + "compressed.dcm";
    ASSERT_TRUE(ds.Write(in));
    std::string output;
    ASSERT_EQ(RunCommand("/usr/bin/dcmcjpeg " + options + " " + in + " " + compressed, output), 0) << output;
    ASSERT_TRUE(out.Read(compressed));
  }

  static std::string Output(const std::string &name) { return std::string(FW_TEST_OUTPUT_DIR) + "/" + name; }

  test::TempDir dir_;
};

TEST_F(DcmtkRender, BaselineColourFromDcmtkIsDrawn) {
  ImageShape shape;
  shape.columns = 320;
  shape.rows = 240;
  shape.colour = true;
  shape.photometric = "RGB";
  shape.planarConfiguration = 0;
  const Bytes original = test::MakePicture8(320, 240, 3);
  auto ds = test::NativeDataSet(shape, original);
  DcmObj compressed;
  Compress(*ds, "+eb", compressed);
  ASSERT_EQ(compressed.transferSyntax, JPEG_BASELINE);
  EXPECT_EQ(compressed.FindText(0x0028, 0x0004).rfind("YBR_FULL", 0), 0u);

  // DCMTK's own decoding of the same file, for comparison.
  std::string output;
  const std::string reference = dir_.folder() + "reference.dcm";
  ASSERT_EQ(RunCommand("/usr/bin/dcmdjpeg " + dir_.folder() + "compressed.dcm " + reference, output), 0) << output;
  DcmObj decoded;
  ASSERT_TRUE(decoded.Read(reference));

  ASSERT_TRUE(ConvertTransferSyntax(compressed, EXPLICIT_VR_LITTLE_ENDIAN));
  EXPECT_EQ(compressed.FindText(0x0028, 0x0004), "RGB");
  TImages images;
  PrepareDisplayImage(images, compressed);
  ASSERT_TRUE(images.isColor);
  ASSERT_EQ(images.pixels.size(), original.size());
  // Subsampled colour of a noisy picture with hard edges: 27.7 dB measured.
  EXPECT_GT(test::Psnr(images.pixels, original, 255), 26.0);
  const Bytes &theirs = test::PixelValue(decoded);
  ASSERT_EQ(theirs.size(), images.pixels.size());
  int worst = 0;
  for (std::size_t i = 0; i < theirs.size(); ++i)
    worst = std::max(worst, std::abs(int{theirs[i]} - int{images.pixels[i]}));
  EXPECT_LE(worst, 1);

  DCMPresentation p(images);
  p.zoom = 1;
  p.windowWidth = 255;
  p.windowCentre = 127;
  QImage full;
  MakeRgbBitmap(full, 320, 240, 0);
  RenderImage(p, full, 0, 0, 0, 0, 0);
  ASSERT_TRUE(full.save(QString::fromStdString(Output("dcmtk-baseline-colour.png")), "PNG"));
  // Zoom 1 draws the decoded pixels themselves.
  for (int y = 1; y < 239; y += 17)
    for (int x = 1; x < 319; x += 13) {
      const std::size_t i = 3 * (static_cast<std::size_t>(y) * 320 + x);
      ASSERT_EQ(full.pixel(x, y), qRgb(images.pixels[i], images.pixels[i + 1], images.pixels[i + 2])) << x << "," << y;
    }

  p.zoom = 320.0f / 96;
  QImage tile;
  MakeRgbBitmap(tile, 96, 96, 0);
  RenderImage(p, tile, 0, 0, 0, 0, 0);
  ASSERT_TRUE(tile.save(QString::fromStdString(Output("dcmtk-baseline-colour-tile.png")), "PNG"));
  EXPECT_EQ(tile.pixel(48, 10), qRgb(0, 0, 0)); // above the 4:3 picture
  EXPECT_NE(tile.pixel(48, 48), qRgb(0, 0, 0));
}

TEST_F(DcmtkRender, Lossless12BitFromDcmtkIsDrawnWithA16BitWindow) {
  ImageShape shape;
  shape.columns = 256;
  shape.rows = 200;
  shape.bitsAllocated = 16;
  shape.bitsStored = 12;
  shape.modality = "MR";
  const Bytes original = test::MakePicture16(256, 200, 1, 12);
  auto ds = test::NativeDataSet(shape, original);
  DcmObj compressed;
  Compress(*ds, "+e1", compressed);
  ASSERT_EQ(compressed.transferSyntax, JPEG_LOSSLESS);

  ASSERT_TRUE(ConvertTransferSyntax(compressed, EXPLICIT_VR_LITTLE_ENDIAN));
  TImages images;
  PrepareDisplayImage(images, compressed);
  ASSERT_EQ(images.pixels, original);

  DCMPresentation p(images);
  p.zoom = 1;
  p.windowWidth = 4096;
  p.windowCentre = 2048;
  QImage picture;
  MakeGrayBitmap(picture, 256, 200, 0);
  RenderImage(p, picture, 0, 0, 0, 0, 0);
  ASSERT_TRUE(picture.save(QString::fromStdString(Output("dcmtk-lossless-12bit.png")), "PNG"));
  for (int y = 1; y < 199; y += 11)
    for (int x = 1; x < 255; x += 7) {
      const int v = test::Sample16(original, static_cast<std::size_t>(y) * 256 + x);
      const int level = std::clamp((v - 2048) * 255 / 4096 + 127, 0, 255);
      ASSERT_EQ(picture.constScanLine(y)[x], level) << x << "," << y;
    }
}

} // namespace
} // namespace fw
