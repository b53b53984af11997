// Cross-checks of the encapsulated pixel data with DCMTK's JPEG tools, an
// independent implementation: JPEG lossless data sets written here are
// decoded by dcmdjpeg to exactly the original pixels, and files dcmcjpeg
// compressed (baseline, extended with 8- and 12-bit data, lossless; one or
// several fragments per frame) decode here to the pixels dcmdjpeg gives:
// lossless exactly, lossy with no sample more than 1 apart.
#include "dicom/PixelData.h"
#include "dicom/Uids.h"
#include "dicom/codec/JpegCodec.h"
#include "tests/dicom/pixel/PixelTestSupport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>

namespace fw {
namespace {

using test::Image;
using test::MakeImage;
using Bytes = std::vector<std::uint8_t>;

std::string FindTool(const std::string &name) {
  for (const char *dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
    const std::filesystem::path candidate = std::filesystem::path(dir) / name;
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error))
      return candidate.string();
  }
  return {};
}

// Exit status of the command; its output (both streams) in output.
int RunTool(const std::string &command, std::string &output) {
  output.clear();
  FILE *pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr)
    return -1;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
    output.append(buffer, got);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A Secondary Capture data set around the image, pixel data native.
void FillImage(DcmObj &c, const Image &image, int pixelRepresentation) {
  c.PutText(0x0008, 0x0016, SECONDARY_CAPTURE_IMAGE_STORAGE);
  c.PutText(0x0008, 0x0018, "2.25.739104652811350928774.5.1");
  c.PutText(0x0008, 0x0060, "OT");
  c.PutText(0x0010, 0x0010, "Pixel^Test");
  c.PutText(0x0010, 0x0020, "PIXEL1");
  c.PutText(0x0020, 0x000D, "2.25.739104652811350928774.5");
  c.PutText(0x0020, 0x000E, "2.25.739104652811350928774.5.20");
  c.Put(DcmTag::FromUS(0x0028, 0x0002, image.colour ? 3 : 1));
  c.PutText(0x0028, 0x0004, image.colour ? "RGB" : "MONOCHROME2");
  if (image.colour)
    c.Put(DcmTag::FromUS(0x0028, 0x0006, 0));
  if (image.frames > 1)
    c.PutText(0x0028, 0x0008, std::to_string(image.frames));
  c.Put(DcmTag::FromUS(0x0028, 0x0010, static_cast<std::uint16_t>(image.rows)));
  c.Put(DcmTag::FromUS(0x0028, 0x0011, static_cast<std::uint16_t>(image.columns)));
  c.Put(DcmTag::FromUS(0x0028, 0x0100, static_cast<std::uint16_t>(image.bitsAllocated)));
  c.Put(DcmTag::FromUS(0x0028, 0x0101, static_cast<std::uint16_t>(image.bitsStored)));
  c.Put(DcmTag::FromUS(0x0028, 0x0102, static_cast<std::uint16_t>(image.bitsStored - 1)));
  c.Put(DcmTag::FromUS(0x0028, 0x0103, static_cast<std::uint16_t>(pixelRepresentation)));
  c.Put(DcmTag::FromBytes(0x7FE0, 0x0010, static_cast<std::uint32_t>(image.pixels.size()), image.pixels.data(),
                          image.bitsAllocated == 8 ? "OB" : "OW"));
}

std::size_t PixelIndex(const DcmObj &c) {
  for (std::size_t i = 0; i < c.Count(); ++i)
    if (const DcmTag *t = c.ElementAt(i); t != nullptr && t->Is(0x7FE0, 0x0010))
      return i;
  return c.Count();
}

int FramesOf(const DcmObj &c) {
  const std::string text = c.FindText(0x0028, 0x0008);
  return text.empty() ? 1 : std::atoi(text.c_str());
}

// Largest difference between two sample arrays (bytes or 16-bit words).
int MaxDifference(const Bytes &a, const Bytes &b, bool words) {
  int worst = 0;
  const std::size_t step = words ? 2 : 1;
  for (std::size_t i = 0; i + step <= std::min(a.size(), b.size()); i += step) {
    const int x = words ? a[i] | a[i + 1] << 8 : a[i];
    const int y = words ? b[i] | b[i + 1] << 8 : b[i];
    worst = std::max(worst, std::abs(x - y));
  }
  return worst;
}

class PixelDcmtk : public ::testing::Test {
protected:
  void SetUp() override {
    dcmcjpeg_ = FindTool("dcmcjpeg");
    dcmdjpeg_ = FindTool("dcmdjpeg");
    if (dcmcjpeg_.empty() || dcmdjpeg_.empty())
      GTEST_SKIP() << "DCMTK's dcmcjpeg and dcmdjpeg are not installed";
  }

  std::string File(const std::string &name) const { return dir_.folder() + name; }

  // dcmdjpeg of a file; the native pixel data it wrote.
  Bytes DcmdjpegPixels(const std::string &in) {
    const std::string out = in + ".dec.dcm";
    std::string output;
    EXPECT_EQ(RunTool(dcmdjpeg_ + " +px \"" + in + "\" \"" + out + "\"", output), 0) << output;
    DcmObj decoded;
    EXPECT_TRUE(decoded.Read(out));
    EXPECT_EQ(decoded.transferSyntax, EXPLICIT_VR_LITTLE_ENDIAN);
    const DcmTag *pixels = decoded.FindElement(0x7FE0, 0x0010);
    return pixels != nullptr ? pixels->data.ToVector() : Bytes{};
  }

  test::TempDir dir_;
  std::string dcmcjpeg_;
  std::string dcmdjpeg_;
};

struct CompressedCase {
  const char *name;
  const char *options; // of dcmcjpeg
  std::string_view syntax;
  int columns, rows, frames, bitsAllocated, bitsStored;
  bool colour;
  int marker, precision; // of the frame header dcmcjpeg writes (lossless: 16 for 12-bit data)
  bool lossless;
  bool split; // several fragments per frame
};

void PrintTo(const CompressedCase &c, std::ostream *os) { *os << c.name; }

class DcmcjpegFiles : public PixelDcmtk, public ::testing::WithParamInterface<CompressedCase> {};

TEST_P(DcmcjpegFiles, DecodeHereToWhatDcmdjpegGives) {
  const CompressedCase &p = GetParam();
  const Image image = MakeImage(p.columns, p.rows, p.frames, p.bitsAllocated, p.bitsStored, p.colour);
  DcmObj native;
  native.transferSyntax = std::string(EXPLICIT_VR_LITTLE_ENDIAN);
  native.explicitVR = true;
  FillImage(native, image, 0);
  ASSERT_TRUE(native.Write(File("in.dcm")));
  std::string output;
  ASSERT_EQ(RunTool(dcmcjpeg_ + " " + p.options + " \"" + File("in.dcm") + "\" \"" + File("jpeg.dcm") + "\"", output),
            0)
      << output;
  const Bytes reference = DcmdjpegPixels(File("jpeg.dcm"));
  ASSERT_GE(reference.size(), image.pixels.size());

  DcmObj c;
  ASSERT_TRUE(c.Read(File("jpeg.dcm")));
  ASSERT_EQ(c.transferSyntax, p.syntax);
  const std::size_t index = PixelIndex(c);
  ASSERT_LT(index + 2, c.Count());
  // The premise: the process, precision and fragmentation the case is about.
  const DcmTag &first = *c.ElementAt(index + 2);
  const auto header = ReadJpegFrameHeader(first.data.data(), first.data.size());
  ASSERT_TRUE(header);
  EXPECT_EQ(header->marker, p.marker);
  EXPECT_EQ(header->precision, p.precision);
  std::size_t fragments = 0;
  while (c.ElementAt(index + 2 + fragments) != nullptr && c.ElementAt(index + 2 + fragments)->Is(0xFFFE, 0xE000))
    ++fragments;
  if (p.split)
    EXPECT_GT(fragments, static_cast<std::size_t>(p.frames));
  else
    EXPECT_EQ(fragments, static_cast<std::size_t>(p.frames));

  const int frames = FramesOf(c);
  ASSERT_EQ(frames, p.frames);
  const std::size_t total = static_cast<std::size_t>(c.FindUS(0x0028, 0x0010)) * c.FindUS(0x0028, 0x0011) *
                            c.FindUS(0x0028, 0x0002) * (c.FindUS(0x0028, 0x0100) / 8) * frames;
  ASSERT_EQ(total, image.pixels.size());
  Bytes decoded(total);
  std::vector<int> failed;
  ASSERT_TRUE(DecodePixelData(c, index,
                              {.destination = decoded.data(),
                               .totalBytes = total,
                               .frames = frames,
                               .bitsAllocated = c.FindUS(0x0028, 0x0100),
                               .failedFrames = &failed}));
  EXPECT_TRUE(failed.empty());
  const Bytes expected(reference.begin(), reference.begin() + static_cast<std::ptrdiff_t>(total));
  if (p.lossless) {
    EXPECT_EQ(decoded, expected);
    EXPECT_EQ(decoded, image.pixels);
  } else {
    EXPECT_LE(MaxDifference(decoded, expected, p.bitsAllocated == 16), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Processes, DcmcjpegFiles,
    ::testing::Values(
        CompressedCase{"BaselineGrey", "+eb", JPEG_BASELINE, 64, 48, 1, 8, 8, false, 0xC0, 8, false, false},
        CompressedCase{"BaselineColour422", "+eb", JPEG_BASELINE, 64, 48, 1, 8, 8, true, 0xC0, 8, false, false},
        CompressedCase{"BaselineThreeFramesInSmallFragments", "+eb +fs 1", JPEG_BASELINE, 96, 64, 3, 8, 8, false, 0xC0,
                       8, false, true},
        CompressedCase{"Extended8Bit", "+ee", JPEG_EXTENDED, 64, 48, 2, 8, 8, false, 0xC1, 8, false, false},
        CompressedCase{"Extended12Bit", "+ee", JPEG_EXTENDED, 64, 48, 2, 16, 12, false, 0xC1, 12, false, false},
        CompressedCase{"Lossless8Bit", "+e1", JPEG_LOSSLESS, 64, 48, 2, 8, 8, false, 0xC3, 8, true, false},
        CompressedCase{"Lossless12Bit", "+e1", JPEG_LOSSLESS, 64, 48, 2, 16, 12, false, 0xC3, 16, true, false},
        CompressedCase{"Lossless16Bit", "+e1", JPEG_LOSSLESS, 64, 48, 1, 16, 16, false, 0xC3, 16, true, false},
        CompressedCase{"LosslessColour", "+e1", JPEG_LOSSLESS, 40, 30, 1, 8, 8, true, 0xC3, 8, true, false},
        CompressedCase{"LosslessSingleFrameInSmallFragments", "+e1 +fs 1", JPEG_LOSSLESS, 96, 64, 1, 16, 12, false,
                       0xC3, 16, true, true}),
    [](const ::testing::TestParamInfo<CompressedCase> &info) { return std::string(info.param.name); });

struct LosslessCase {
  const char *name;
  int columns, rows, frames, bitsAllocated, bitsStored;
  bool colour;
  int pixelRepresentation;
};

void PrintTo(const LosslessCase &c, std::ostream *os) { *os << c.name; }

class LosslessWrittenHere : public PixelDcmtk, public ::testing::WithParamInterface<LosslessCase> {};

TEST_P(LosslessWrittenHere, DcmdjpegDecodesTheOriginalPixels) {
  const LosslessCase &p = GetParam();
  const Image image = MakeImage(p.columns, p.rows, p.frames, p.bitsAllocated, p.bitsStored, p.colour);
  DcmObj c;
  FillImage(c, image, p.pixelRepresentation);
  std::size_t index = PixelIndex(c);
  Bytes work = image.pixels;
  float ratio = -1;
  ASSERT_TRUE(EncodePixelData(
      c, index,
      {.pixels = work.data(),
       .pixelBytes = work.size(),
       .frames = p.frames,
       .columns = p.columns,
       .rows = p.rows,
       .isColour = p.colour,
       .bitsAllocated = p.bitsAllocated,
       .bitsStored = p.bitsStored,
       .rescale = {.pixelRepresentation = p.pixelRepresentation, .slope = 1, .intercept = 0, .modality = "OT"},
       .targetTransferSyntax = JPEG_LOSSLESS},
      ratio));
  c.transferSyntax = std::string(JPEG_LOSSLESS);
  c.explicitVR = true;
  ASSERT_TRUE(c.Write(File("lossless.dcm")));

  const Bytes decoded = DcmdjpegPixels(File("lossless.dcm"));
  EXPECT_EQ(decoded, image.pixels);
}

INSTANTIATE_TEST_SUITE_P(Images, LosslessWrittenHere,
                         ::testing::Values(LosslessCase{"Grey8TwoFrames", 64, 48, 2, 8, 8, false, 0},
                                           LosslessCase{"Grey12In16", 64, 48, 1, 16, 12, false, 0},
                                           LosslessCase{"Grey16ThreeFrames", 32, 24, 3, 16, 16, false, 0},
                                           LosslessCase{"SignedGrey16", 32, 24, 1, 16, 16, false, 1},
                                           LosslessCase{"Colour8", 40, 30, 2, 8, 8, true, 0}),
                         [](const ::testing::TestParamInfo<LosslessCase> &info) {
                           return std::string(info.param.name);
                         });

} // namespace
} // namespace fw
