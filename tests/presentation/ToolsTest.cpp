// fwconvert and fwrender as support staff run them: conversions written and
// read back, pictures of the right size and levels, the default windows, and
// the exit codes (0 done, 1 failed, 2 usage).
#include "presentation/ImageConversion.h"
#include "tests/presentation/ConversionTestSupport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fw {
namespace {

using test::ImageShape;
using Bytes = std::vector<std::uint8_t>;

struct ToolRun {
  int status = -1;
  std::string output; // both streams
};

ToolRun RunTool(const std::string &tool, const std::string &arguments) {
  ToolRun run;
  FILE *pipe = popen((tool + " " + arguments + " 2>&1").c_str(), "r");
  if (pipe == nullptr)
    return run;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    run.output.append(buffer, got);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

ToolRun Convert(const std::string &arguments) { return RunTool(FW_CONVERT_TOOL, arguments); }
ToolRun Render(const std::string &arguments) { return RunTool(FW_RENDER_TOOL, arguments); }

class ImageTools : public testing::Test {
protected:
  std::string Path(const std::string &name) const { return dir_.folder() + name; }

  // Writes a data set as a DICOM file; returns its path.
  std::string Write(DcmObj &ds, const std::string &name) const {
    const std::string path = Path(name);
    EXPECT_TRUE(ds.Write(path));
    return path;
  }

  test::TempDir dir_;
};

Bytes Ramp(std::size_t n) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 7);
  return bytes;
}

TEST_F(ImageTools, ConvertWritesTheTargetSyntaxAndBack) {
  ImageShape shape;
  shape.columns = 32;
  shape.rows = 16;
  shape.frames = 2;
  const Bytes pixels = Ramp(shape.FrameBytes() * 2);
  auto ds = test::NativeDataSet(shape, pixels);
  const std::string in = Write(*ds, "in.dcm");

  ToolRun run = Convert("--ts 1.2.840.10008.1.2.4.70 " + in + " " + Path("lossless.dcm"));
  ASSERT_EQ(run.status, 0) << run.output;
  DcmObj lossless;
  ASSERT_TRUE(lossless.Read(Path("lossless.dcm")));
  EXPECT_EQ(lossless.transferSyntax, JPEG_LOSSLESS);
  EXPECT_EQ(lossless.FindElement(0x7FE0, 0x0010)->length, UNDEFINED_LENGTH);

  run = Convert("-v --ts=1.2.840.10008.1.2 " + Path("lossless.dcm") + " " + Path("back.dcm"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("written"), std::string::npos) << run.output;
  DcmObj back;
  ASSERT_TRUE(back.Read(Path("back.dcm")));
  EXPECT_EQ(back.transferSyntax, IMPLICIT_VR_LITTLE_ENDIAN);
  EXPECT_EQ(test::PixelValue(back), pixels);
}

// OUT may be IN: a conversion that succeeds replaces the file, one that
// fails leaves it byte for byte.
TEST_F(ImageTools, ConvertOntoItself) {
  ImageShape shape;
  shape.columns = 32;
  shape.rows = 16;
  const Bytes pixels = Ramp(shape.FrameBytes());
  auto ds = test::NativeDataSet(shape, pixels);
  const std::string file = Write(*ds, "same.dcm");
  const ToolRun run = Convert("--ts 1.2.840.10008.1.2.4.70 " + file + " " + file);
  ASSERT_EQ(run.status, 0) << run.output;
  DcmObj lossless;
  ASSERT_TRUE(lossless.Read(file));
  EXPECT_EQ(lossless.transferSyntax, JPEG_LOSSLESS);
  ASSERT_TRUE(ConvertTransferSyntax(lossless, EXPLICIT_VR_LITTLE_ENDIAN));
  EXPECT_EQ(test::PixelValue(lossless), pixels);

  auto bad = test::NativeDataSet(shape, Bytes(10, 1)); // the wrong length
  const std::string badFile = Write(*bad, "bad.dcm");
  const std::string before = test::ReadFileBytes(badFile);
  const ToolRun failed = Convert("--ts 1.2.840.10008.1.2.4.70 " + badFile + " " + badFile);
  EXPECT_EQ(failed.status, 1) << failed.output;
  EXPECT_EQ(test::ReadFileBytes(badFile), before);
}

TEST_F(ImageTools, ConvertFailuresAndUsage) {
  ImageShape shape;
  auto bad = test::NativeDataSet(shape, Bytes(10, 1)); // 64 bytes expected
  const std::string badFile = Write(*bad, "bad.dcm");
  const std::string out = Path("out.dcm");

  const ToolRun wrongLength = Convert("--ts 1.2.840.10008.1.2.4.50 " + badFile + " " + out);
  EXPECT_EQ(wrongLength.status, 1);
  EXPECT_NE(wrongLength.output.find("could not be converted"), std::string::npos) << wrongLength.output;
  EXPECT_NE(wrongLength.output.find("ERROR, ConvertTransferSyntax"), std::string::npos) << wrongLength.output;
  EXPECT_FALSE(std::filesystem::exists(out));

  const ToolRun missing = Convert("--ts 1.2.840.10008.1.2.1 " + Path("none.dcm") + " " + out);
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find("cannot read"), std::string::npos) << missing.output;

  EXPECT_EQ(Convert("--ts 1.2.840.10008.1.2.1 " + badFile + " " + Path("no/such/folder/out.dcm")).status, 1);

  for (const char *usage :
       {"", "--ts", "--ts 1.2.840.10008.1.2.1 onlyone.dcm", "in.dcm out.dcm", "--ts 1.2.840.10008.1.2.4.80 a.dcm b.dcm",
        "--ts 1.2.840.10008.1.2.4.100 a.dcm b.dcm", "--bogus --ts 1.2.840.10008.1.2 a b"})
    EXPECT_EQ(Convert(usage).status, 2) << usage;
  const ToolRun help = Convert("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("usage: fwconvert"), std::string::npos);
  const ToolRun version = Convert("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output.rfind("fwconvert ", 0), 0u) << version.output;
}

TEST_F(ImageTools, RenderDrawsAtTheImagesOwnSizeWithTheIdentityWindow) {
  ImageShape shape;
  shape.columns = 40;
  shape.rows = 30;
  shape.frames = 2;
  Bytes pixels(shape.FrameBytes() * 2, 60);
  std::fill(pixels.begin() + static_cast<std::ptrdiff_t>(shape.FrameBytes()), pixels.end(), 200);
  auto ds = test::NativeDataSet(shape, pixels);
  const std::string in = Write(*ds, "grey.dcm");

  ASSERT_EQ(Render(in + " " + Path("f0.png")).status, 0);
  QImage picture(QString::fromStdString(Path("f0.png")));
  ASSERT_EQ(picture.size(), QSize(40, 30));
  EXPECT_EQ(picture.pixel(20, 15), qRgb(60, 60, 60));
  EXPECT_EQ(picture.pixel(0, 0), qRgb(0, 0, 0)); // the border

  ASSERT_EQ(Render("--frame 1 --size 20x20 " + in + " " + Path("f1.png")).status, 0);
  picture.load(QString::fromStdString(Path("f1.png")));
  ASSERT_EQ(picture.size(), QSize(20, 20));
  EXPECT_EQ(picture.pixel(10, 10), qRgb(200, 200, 200));

  ASSERT_EQ(Render("--window 1 100 " + in + " " + Path("w.png")).status, 0);
  picture.load(QString::fromStdString(Path("w.png")));
  EXPECT_EQ(picture.pixel(20, 15), qRgb(0, 0, 0));
}

TEST_F(ImageTools, RenderConvertsCompressedInputFirst) {
  ImageShape shape;
  shape.columns = 48;
  shape.rows = 32;
  shape.colour = true;
  shape.photometric = "RGB";
  shape.planarConfiguration = 0;
  Bytes pixels;
  for (int i = 0; i < 48 * 32; ++i)
    pixels.insert(pixels.end(), {250, 120, 10});
  auto ds = test::NativeDataSet(shape, pixels);
  ASSERT_TRUE(ConvertTransferSyntax(*ds, JPEG_BASELINE));
  const std::string in = Write(*ds, "colour.dcm");
  ASSERT_EQ(Render(in + " " + Path("c.png")).status, 0);
  const QImage picture(QString::fromStdString(Path("c.png")));
  const QRgb centre = picture.pixel(24, 16);
  EXPECT_NEAR(qRed(centre), 250, 3);
  EXPECT_NEAR(qGreen(centre), 120, 3);
  EXPECT_NEAR(qBlue(centre), 10, 3);
}

// 16-bit data: the file's window is taken back to stored values through the
// rescale; without one, the frame's range is used.
TEST_F(ImageTools, RenderDefaultWindowOf16BitData) {
  ImageShape shape;
  shape.columns = 16;
  shape.rows = 16;
  shape.bitsAllocated = 16;
  shape.bitsStored = 12;
  shape.modality = "CT";
  shape.intercept = "-1024";
  shape.slope = "1";
  Bytes pixels = test::Uniform16(256, 1024 + 40); // 40 HU
  for (std::size_t i = 0; i < 16; ++i) {          // first row: 1000 and 2000
    pixels[2 * i] = static_cast<std::uint8_t>(i % 2 ? 2000 & 0xFF : 1000 & 0xFF);
    pixels[2 * i + 1] = static_cast<std::uint8_t>(i % 2 ? 2000 >> 8 : 1000 >> 8);
  }
  auto withWindow = test::NativeDataSet(shape, pixels);
  withWindow->PutText(0x0028, 0x1050, "40");
  withWindow->PutText(0x0028, 0x1051, "400");
  ASSERT_EQ(Render(Write(*withWindow, "ct.dcm") + " " + Path("ct.png")).status, 0);
  QImage picture(QString::fromStdString(Path("ct.png")));
  EXPECT_EQ(qRed(picture.pixel(8, 8)), 127); // 40 HU at the centre

  // Range 1000..2000: centre 1500, width 1000; 1064 is (1064 - 1500) x 255 /
  // 1000 + 127 = 16.
  auto noWindow = test::NativeDataSet(shape, pixels);
  ASSERT_EQ(Render(Write(*noWindow, "range.dcm") + " " + Path("range.png")).status, 0);
  picture.load(QString::fromStdString(Path("range.png")));
  EXPECT_EQ(qRed(picture.pixel(8, 8)), 16);
}

TEST_F(ImageTools, RenderFailuresAndUsage) {
  ImageShape shape;
  auto ds = test::NativeDataSet(shape, Bytes(64, 9));
  const std::string in = Write(*ds, "one.dcm");
  const ToolRun beyond = Render("--frame 1 " + in + " " + Path("x.png"));
  EXPECT_EQ(beyond.status, 1);
  EXPECT_NE(beyond.output.find("does not exist"), std::string::npos) << beyond.output;
  EXPECT_EQ(Render(Path("none.dcm") + " " + Path("x.png")).status, 1);
  EXPECT_EQ(Render(in + " " + Path("no/such/folder/x.png")).status, 1);

  ImageShape jpeg = shape;
  jpeg.transferSyntax = JPEG_BASELINE;
  auto broken = test::EncapsulatedDataSet(jpeg, {Bytes(40, 0x11)});
  const ToolRun undecodable = Render(Write(*broken, "broken.dcm") + " " + Path("x.png"));
  EXPECT_EQ(undecodable.status, 1);
  EXPECT_NE(undecodable.output.find("could not be decoded"), std::string::npos) << undecodable.output;
  EXPECT_FALSE(std::filesystem::exists(Path("x.png")));

  for (const char *usage : {"", "only.dcm", "--frame -1 a b", "--frame x a b", "--size 10 a b", "--size 0x5 a b",
                            "--window 0 10 a b", "--window 10 a b", "--what a b"})
    EXPECT_EQ(Render(usage).status, 2) << usage;
  EXPECT_EQ(Render("--help").status, 0);
  EXPECT_EQ(Render("--version").status, 0);
}

} // namespace
} // namespace fw
