// Files as other toolkits write them, read and converted here to the pixels
// DCMTK's own decoders give: RLE (dcmcrle / dcmdrle), Deflate (dcmconv),
// JPEG-LS (dcmcjpls / dcmdjpls), colour JPEG streams without a JFIF or Adobe
// marker (dcmdjpeg); RLE and Deflate written here and read back by DCMTK;
// sequences of VR UN and undefined length, nested private sequences,
// meta information without a transfer syntax, a JPEG 2000 fragment holding
// delimiter bytes, data sets without pixel data.
#include "base/Log.h"
#include "dicom/DcmFile.h"
#include "dicom/PixelData.h"
#include "dicom/Uids.h"
#include "dicom/codec/J2kCodec.h"
#include "dicom/codec/JpegCodec.h"
#include "presentation/ImageConversion.h"
#include "tests/dicom/codec/TestImages.h"
#include "tests/presentation/ConversionTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fw {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ImageShape;

// Exit status of the command; its output (both streams) in output.
int RunCommand(const std::string &command, std::string &output) {
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

void WriteBytes(const std::string &path, const Bytes &bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadBytes(const std::string &path) {
  const std::string text = test::ReadFileBytes(path);
  return Bytes(text.begin(), text.end());
}

// Pixels of the shape: every frame different, flat stretches for RLE runs.
Bytes MakePixels(const ImageShape &shape) {
  Bytes pixels;
  const int components = shape.colour ? 3 : 1;
  for (int f = 0; f < shape.frames; ++f) {
    Bytes frame = shape.bitsAllocated == 8 ? test::MakePicture8(shape.columns, shape.rows, components)
                                           : test::MakePicture16(shape.columns * shape.bitsAllocated / 16, shape.rows,
                                                                 components, std::min(shape.bitsStored, 16));
    for (std::size_t i = 0; i < frame.size(); i += 2)
      frame[i] = static_cast<std::uint8_t>(frame[i] + 17 * f);
    if (shape.bitsAllocated == 16)
      for (std::size_t i = 1; i < frame.size(); i += 2)
        frame[i] &= static_cast<std::uint8_t>((1u << (shape.bitsStored - 8)) - 1);
    pixels.insert(pixels.end(), frame.begin(), frame.end());
  }
  return pixels;
}

// The native pixels of a file after conversion here to explicit VR little
// endian; empty when reading or converting fails.
Bytes ConvertedHere(const std::string &path) {
  DcmObj ds;
  if (!ds.Read(path) || !ConvertTransferSyntax(ds, EXPLICIT_VR_LITTLE_ENDIAN))
    return {};
  return test::PixelValue(ds);
}

Bytes PixelsOfFile(const std::string &path) {
  DcmObj ds;
  if (!ds.Read(path))
    return {};
  return test::PixelValue(ds);
}

class FieldFiles : public ::testing::Test {
protected:
  std::string File(const std::string &name) const { return dir_.folder() + name; }

  // Runs a DCMTK tool on in, writing out; the test fails when it does.
  void Tool(const std::string &tool, const std::string &in, const std::string &out) {
    std::string output;
    ASSERT_EQ(RunCommand(tool + " \"" + in + "\" \"" + out + "\"", output), 0) << tool << ": " << output;
  }

  std::string WriteNative(const ImageShape &shape, const Bytes &pixels, const std::string &name) {
    auto ds = test::NativeDataSet(shape, pixels);
    EXPECT_TRUE(ds->Write(File(name)));
    return File(name);
  }

  test::TempDir dir_;
};

// Compressed by DCMTK, decoded here and by DCMTK's decoder to equal pixels.
struct DcmtkCase {
  const char *name;
  const char *compress;   // DCMTK tool and options
  const char *decompress; // DCMTK tool and options
  std::string_view syntax;
  ImageShape shape;
  bool lossless;
};

void PrintTo(const DcmtkCase &c, std::ostream *os) { *os << c.name; }

ImageShape Shape(int columns, int rows, int frames, int bitsAllocated, int bitsStored, bool colour) {
  ImageShape s;
  s.columns = columns;
  s.rows = rows;
  s.frames = frames;
  s.bitsAllocated = bitsAllocated;
  s.bitsStored = bitsStored;
  s.colour = colour;
  s.photometric = colour ? "RGB" : "MONOCHROME2";
  if (colour)
    s.planarConfiguration = 0;
  return s;
}

class DcmtkCompressed : public FieldFiles, public ::testing::WithParamInterface<DcmtkCase> {};

TEST_P(DcmtkCompressed, DecodeHereToWhatDcmtkDecodes) {
  const DcmtkCase &p = GetParam();
  const Bytes pixels = MakePixels(p.shape);
  const std::string native = WriteNative(p.shape, pixels, "native.dcm");
  Tool(p.compress, native, File("compressed.dcm"));
  Tool(p.decompress, File("compressed.dcm"), File("reference.dcm"));

  DcmObj compressed;
  ASSERT_TRUE(compressed.Read(File("compressed.dcm")));
  ASSERT_EQ(compressed.transferSyntax, p.syntax); // the premise
  // Values of odd length carry one pad byte.
  Bytes reference = PixelsOfFile(File("reference.dcm"));
  ASSERT_EQ(reference.size(), pixels.size() + pixels.size() % 2);
  reference.resize(pixels.size());
  Bytes decoded = ConvertedHere(File("compressed.dcm"));
  ASSERT_EQ(decoded.size(), reference.size() + pixels.size() % 2);
  decoded.resize(pixels.size());
  EXPECT_EQ(decoded, reference);
  if (p.lossless) {
    EXPECT_EQ(decoded, pixels);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Syntaxes, DcmtkCompressed,
    ::testing::Values(
        DcmtkCase{"RleColourThreeFrames", "dcmcrle", "dcmdrle", RLE_LOSSLESS, Shape(64, 48, 3, 8, 8, true), true},
        DcmtkCase{"RleGrey12In16", "dcmcrle", "dcmdrle", RLE_LOSSLESS, Shape(50, 31, 2, 16, 12, false), true},
        DcmtkCase{"RleGrey8OddWidth", "dcmcrle", "dcmdrle", RLE_LOSSLESS, Shape(37, 21, 1, 8, 8, false), true},
        DcmtkCase{"DeflatedColour", "dcmconv +td", "dcmconv +te", DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN,
                  Shape(40, 30, 2, 8, 8, true), true},
        DcmtkCase{"DeflatedGrey16", "dcmconv +td", "dcmconv +te", DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN,
                  Shape(40, 30, 1, 16, 16, false), true},
        DcmtkCase{"JpegLsColourLineInterleaved", "dcmcjpls", "dcmdjpls", JPEG_LS_LOSSLESS, Shape(64, 48, 2, 8, 8, true),
                  true},
        DcmtkCase{"JpegLsColourNotInterleaved", "dcmcjpls +in", "dcmdjpls", JPEG_LS_LOSSLESS,
                  Shape(64, 48, 1, 8, 8, true), true},
        DcmtkCase{"JpegLsColourSampleInterleaved", "dcmcjpls +is", "dcmdjpls", JPEG_LS_LOSSLESS,
                  Shape(64, 48, 1, 8, 8, true), true},
        DcmtkCase{"JpegLsGrey12", "dcmcjpls", "dcmdjpls", JPEG_LS_LOSSLESS, Shape(50, 40, 2, 16, 12, false), true},
        DcmtkCase{"JpegLsNearLosslessGrey16", "dcmcjpls +en", "dcmdjpls", JPEG_LS_NEAR_LOSSLESS,
                  Shape(50, 40, 1, 16, 16, false), false},
        DcmtkCase{"JpegLsNearLosslessColour", "dcmcjpls +en", "dcmdjpls", JPEG_LS_NEAR_LOSSLESS,
                  Shape(64, 48, 1, 8, 8, true), false}),
    [](const ::testing::TestParamInfo<DcmtkCase> &info) { return std::string(info.param.name); });

// Written here, read by DCMTK to the original pixels; and read back here.
struct WrittenCase {
  const char *name;
  std::string_view syntax;
  const char *decompress;
  ImageShape shape;
};

void PrintTo(const WrittenCase &c, std::ostream *os) { *os << c.name; }

class WrittenHere : public FieldFiles, public ::testing::WithParamInterface<WrittenCase> {};

TEST_P(WrittenHere, DcmtkReadsTheOriginalPixels) {
  const WrittenCase &p = GetParam();
  const Bytes pixels = MakePixels(p.shape);
  auto ds = test::NativeDataSet(p.shape, pixels);
  ASSERT_TRUE(ConvertTransferSyntax(*ds, p.syntax));
  ASSERT_TRUE(ds->Write(File("ours.dcm")));
  Tool(p.decompress, File("ours.dcm"), File("theirs.dcm"));
  EXPECT_EQ(PixelsOfFile(File("theirs.dcm")), pixels);
  EXPECT_EQ(ConvertedHere(File("ours.dcm")), pixels);
}

INSTANTIATE_TEST_SUITE_P(
    Syntaxes, WrittenHere,
    ::testing::Values(WrittenCase{"RleColourThreeFrames", RLE_LOSSLESS, "dcmdrle", Shape(64, 48, 3, 8, 8, true)},
                      WrittenCase{"RleGrey16", RLE_LOSSLESS, "dcmdrle", Shape(33, 17, 2, 16, 16, false)},
                      WrittenCase{"RleGrey32", RLE_LOSSLESS, "dcmdrle", Shape(16, 8, 1, 32, 32, false)},
                      WrittenCase{"DeflatedColour", DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN, "dcmconv +te",
                                  Shape(40, 30, 2, 8, 8, true)}),
    [](const ::testing::TestParamInfo<WrittenCase> &info) { return std::string(info.param.name); });

// DCMTK's RLE file, decoded and encoded again here, decodes to the same
// pixels, and encoding is deterministic: the second round gives the same
// fragments byte for byte.
TEST_F(FieldFiles, RleRoundTripIsByteExact) {
  const ImageShape shape = Shape(64, 48, 3, 8, 8, true);
  const Bytes pixels = MakePixels(shape);
  Tool("dcmcrle", WriteNative(shape, pixels, "native.dcm"), File("rle.dcm"));
  DcmObj ds;
  ASSERT_TRUE(ds.Read(File("rle.dcm")));
  ASSERT_TRUE(ConvertTransferSyntax(ds, EXPLICIT_VR_LITTLE_ENDIAN));
  ASSERT_EQ(test::PixelValue(ds), pixels);
  ASSERT_TRUE(ConvertTransferSyntax(ds, RLE_LOSSLESS));
  const Bytes once = test::Encoded(ds);
  ASSERT_TRUE(ConvertTransferSyntax(ds, EXPLICIT_VR_LITTLE_ENDIAN));
  EXPECT_EQ(test::PixelValue(ds), pixels);
  ASSERT_TRUE(ConvertTransferSyntax(ds, RLE_LOSSLESS));
  EXPECT_EQ(test::Encoded(ds), once);
}

TEST_F(FieldFiles, DeflatedFileListsTheElementsOfItsInflatedForm) {
  const ImageShape shape = Shape(16, 8, 1, 8, 8, false);
  Tool("dcmconv +td", WriteNative(shape, MakePixels(shape), "native.dcm"), File("deflated.dcm"));
  Tool("dcmconv +te", File("deflated.dcm"), File("inflated.dcm"));
  DcmObj deflated, inflated;
  ASSERT_TRUE(deflated.Read(File("deflated.dcm")));
  ASSERT_TRUE(inflated.Read(File("inflated.dcm")));
  EXPECT_EQ(deflated.transferSyntax, DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN);
  EXPECT_TRUE(deflated.explicitVR);
  EXPECT_EQ(test::Encoded(deflated), test::Encoded(inflated));
}

TEST_F(FieldFiles, DamagedDeflatedFilesFailWithALine) {
  const ImageShape shape = Shape(32, 32, 1, 8, 8, false);
  Tool("dcmconv +td", WriteNative(shape, MakePixels(shape), "native.dcm"), File("deflated.dcm"));
  const Bytes whole = ReadBytes(File("deflated.dcm"));
  const struct {
    const char *name;
    Bytes bytes;
  } cases[] = {
      {"cut short", Bytes(whole.begin(), whole.end() - 40)},
      {"reserved block type",
       [&] {
         // The deflate stream starts after group 0002, whose length is at 140.
         Bytes b = whole;
         b[144 + (b[140] | b[141] << 8)] = 0xFF;
         return b;
       }()},
  };
  for (const auto &c : cases) {
    WriteBytes(File("bad.dcm"), c.bytes);
    test::LogCapture log;
    DcmObj ds;
    EXPECT_FALSE(ds.Read(File("bad.dcm"))) << c.name;
    EXPECT_FALSE(log.StartingWith("ERROR, DcmObj::Read, ").empty()) << c.name;
  }
}

Bytes RawDeflate(const Bytes &plain) {
  z_stream z{};
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, plain.size()));
  z.next_in = const_cast<Bytef *>(plain.data());
  z.avail_in = static_cast<uInt>(plain.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return out;
}

// A few kilobytes may inflate to gigabytes: the limit is kept.
TEST(InflateDataSet, StopsAtTheLimit) {
  const Bytes zeros(2 << 20, 0);
  const Bytes small = RawDeflate(zeros);
  ASSERT_LT(small.size(), 10000u);
  Bytes out;
  {
    test::LogCapture log;
    EXPECT_FALSE(InflateDataSet(small.data(), small.size(), 1 << 20, out));
    EXPECT_TRUE(log.Contains("ERROR, DcmObj::Read, deflated data set larger than 1048576 bytes (1 MiB), refused"));
    EXPECT_LE(out.size(), std::size_t{1} << 20);
  }
  ASSERT_TRUE(InflateDataSet(small.data(), small.size(), 4 << 20, out));
  EXPECT_EQ(out, zeros);
  ASSERT_TRUE(InflateDataSet(small.data(), small.size(), zeros.size(), out));
  EXPECT_EQ(out.size(), zeros.size());
}

// Colour JPEG without JFIF or Adobe marker: the label decides, as in dcmdjpeg.
// The streams are dcmcjpeg's with the markers taken out and, where asked,
// the component identifiers renumbered 0, 1, 2.
Bytes WithoutColourMarkers(const Bytes &stream, bool renumber) {
  Bytes out(stream.begin(), stream.begin() + 2);
  std::size_t pos = 2;
  while (pos + 4 <= stream.size() && stream[pos] == 0xFF) {
    const std::uint8_t marker = stream[pos + 1];
    const std::size_t length = static_cast<std::size_t>(stream[pos + 2]) << 8 | stream[pos + 3];
    Bytes segment(stream.begin() + static_cast<std::ptrdiff_t>(pos),
                  stream.begin() + static_cast<std::ptrdiff_t>(pos + 2 + length));
    if (renumber && (marker == 0xC0 || marker == 0xC1))
      for (int c = 0; c < segment[9]; ++c)
        segment[10 + 3 * c] = static_cast<std::uint8_t>(c);
    if (renumber && marker == 0xDA)
      for (int c = 0; c < segment[4]; ++c)
        segment[5 + 2 * c] = static_cast<std::uint8_t>(c);
    if (marker != 0xE0 && marker != 0xEE)
      out.insert(out.end(), segment.begin(), segment.end());
    pos += 2 + length;
    if (marker == 0xDA)
      break;
  }
  out.insert(out.end(), stream.begin() + static_cast<std::ptrdiff_t>(pos), stream.end());
  return out;
}

struct MarkerlessCase {
  const char *name;
  const char *options; // of dcmcjpeg
  bool renumber;
  const char *label;
  bool guessDiffers; // the library's own guess gives other colours
};

void PrintTo(const MarkerlessCase &c, std::ostream *os) { *os << c.name; }

class MarkerlessJpeg : public FieldFiles, public ::testing::WithParamInterface<MarkerlessCase> {};

TEST_P(MarkerlessJpeg, LabelDecidesTheColourTransformAsInDcmdjpeg) {
  const MarkerlessCase &p = GetParam();
  const ImageShape shape = Shape(64, 48, 1, 8, 8, true);
  const Bytes pixels = MakePixels(shape);
  Tool(std::string("dcmcjpeg +eb ") + p.options, WriteNative(shape, pixels, "native.dcm"), File("jpeg.dcm"));
  DcmObj ds;
  ASSERT_TRUE(ds.Read(File("jpeg.dcm")));
  std::size_t index = 0;
  while (index < ds.Count() && (ds.ElementAt(index) == nullptr || !ds.ElementAt(index)->Is(0x7FE0, 0x0010)))
    ++index;
  ASSERT_LT(index + 3, ds.Count());
  DcmTag &fragment = *ds.ElementAt(index + 2);
  const Bytes stream = WithoutColourMarkers(fragment.data.ToVector(), p.renumber);
  fragment.data = stream;
  fragment.length = static_cast<std::uint32_t>(stream.size());
  if (fragment.length % 2 != 0) {
    fragment.data.push_back(0);
    ++fragment.length;
  }
  ds.PutText(0x0028, 0x0004, p.label);
  ASSERT_TRUE(ds.Write(File("markerless.dcm")));
  Tool("dcmdjpeg", File("markerless.dcm"), File("reference.dcm"));
  const Bytes reference = PixelsOfFile(File("reference.dcm"));
  ASSERT_EQ(reference.size(), pixels.size());

  const Bytes decoded = ConvertedHere(File("markerless.dcm"));
  ASSERT_EQ(decoded.size(), reference.size());
  long worst = 0, total = 0;
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    const long d = std::labs(long{decoded[i]} - long{reference[i]});
    worst = std::max(worst, d);
    total += d;
  }
  EXPECT_LE(worst, 1) << "mean difference " << static_cast<double>(total) / decoded.size();

  // The premise: left to its guess, the library gives other colours.
  Bytes guessed(pixels.size());
  ASSERT_EQ(JpegDecode8(stream.data(), stream.size(), guessed.data(), guessed.size()), 0);
  long guessTotal = 0;
  for (std::size_t i = 0; i < guessed.size(); ++i)
    guessTotal += std::labs(long{guessed[i]} - long{reference[i]});
  EXPECT_EQ(guessTotal / static_cast<long>(guessed.size()) > 10, p.guessDiffers);
}

INSTANTIATE_TEST_SUITE_P(Streams, MarkerlessJpeg,
                         ::testing::Values(MarkerlessCase{"RgbNumberedFromZero", "+cr", true, "RGB", true},
                                           MarkerlessCase{"RgbLettersKept", "+cr", false, "RGB", false},
                                           MarkerlessCase{"SubsampledLabelledRgb", "+s2", false, "RGB", true},
                                           MarkerlessCase{"SubsampledLabelledYbr", "+s2", false, "YBR_FULL_422", false},
                                           MarkerlessCase{"FullYbrNumberedFromZero", "+s4", true, "YBR_FULL", false}),
                         [](const ::testing::TestParamInfo<MarkerlessCase> &info) {
                           return std::string(info.param.name);
                         });

// Writes a dump2dcm text and returns the file it makes.
std::string Dump2Dcm(const std::string &folder, const std::string &text, const std::string &options) {
  const std::string in = folder + "dump.txt";
  std::ofstream(in) << text;
  const std::string out = folder + "dump2dcm.dcm";
  std::string output;
  EXPECT_EQ(RunCommand("dump2dcm " + options + " \"" + in + "\" \"" + out + "\"", output), 0) << output;
  return out;
}

// dcmdump's listing of a file, without its header lines; its warnings too.
std::string Dcmdump(const std::string &path) {
  std::string output;
  EXPECT_EQ(RunCommand("dcmdump -q +L \"" + path + "\"", output), 0) << output;
  return output;
}

const char *const NESTED_PRIVATE = R"((0008,0016) UI =SecondaryCaptureImageStorage
(0008,0018) UI [1.2.3.4]
(0009,0010) LO [ACME]
(0009,1010) SQ (Sequence with undefined length)
  (fffe,e000) na (Item with undefined length)
    (0009,0010) LO [ACME]
    (0009,1011) SQ (Sequence with undefined length)
      (fffe,e000) na (Item with undefined length)
        (0009,1012) LO [inner]
      (fffe,e00d) na (ItemDelimitationItem)
    (fffe,e0dd) na (SequenceDelimitationItem)
  (fffe,e00d) na (ItemDelimitationItem)
(fffe,e0dd) na (SequenceDelimitationItem)
(0010,0010) PN [Doe^John]
)";

TEST_F(FieldFiles, NestedPrivateSequencesInImplicitVrRead) {
  for (const char *options : {"-e +ti", "+e +ti"}) {
    const std::string file = Dump2Dcm(dir_.folder(), NESTED_PRIVATE, options);
    DcmObj ds;
    ASSERT_TRUE(ds.Read(file)) << options;
    EXPECT_EQ(ds.FindText(0x0010, 0x0010), "Doe^John") << options;
    // Written back, DCMTK reads it with the same patient.
    ds.transferSyntax = std::string(EXPLICIT_VR_LITTLE_ENDIAN);
    ds.explicitVR = true;
    ASSERT_TRUE(ds.Write(File("back.dcm")));
    const std::string listing = Dcmdump(File("back.dcm"));
    EXPECT_NE(listing.find("[Doe^John]"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("E: "), std::string::npos) << listing;
  }
}

// (0009,1010) UN of undefined length in explicit VR little endian data: an
// item with (0010,0020) inside, in implicit VR, then (0010,0010).
Bytes UnSequenceFile() {
  DcmObj meta;
  meta.transferSyntax = std::string(EXPLICIT_VR_LITTLE_ENDIAN);
  BufData stream;
  WriteMetaHeader(stream, SECONDARY_CAPTURE_IMAGE_STORAGE, "1.2.3.4", EXPLICIT_VR_LITTLE_ENDIAN);
  Bytes bytes = stream.Bytes();
  const Bytes dataSet = {0x08, 0x00, 0x60, 0x00, 'C',  'S',  2,    0,    'O',  'T',              // (0008,0060) CS OT
                         0x09, 0x00, 0x10, 0x00, 'L',  'O',  4,    0,    'A',  'C',  'M',  'E',  // creator
                         0x09, 0x00, 0x10, 0x10, 'U',  'N',  0,    0,    0xFF, 0xFF, 0xFF, 0xFF, // UN, undefined
                         0xFE, 0xFF, 0x00, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF,                         // item, undefined
                         0x10, 0x00, 0x20, 0x00, 4,    0,    0,    0,    'I',  'D',  '1',  ' ',  // implicit (0010,0020)
                         0xFE, 0xFF, 0x0D, 0xE0, 0,    0,    0,    0,                            // item end
                         0xFE, 0xFF, 0x00, 0xE0, 12,   0,    0,    0,    0x10, 0x00, 0x30, 0x00, 4,   0,   0,   0,
                         '1',  '9',  '7',  '0',                       // defined item
                         0xFE, 0xFF, 0xDD, 0xE0, 0,    0,    0,    0, // sequence end
                         0x10, 0x00, 0x10, 0x00, 'P',  'N',  8,    0,    'D',  'o',  'e',  '^',  'J', 'o', 'h', 'n'};
  bytes.insert(bytes.end(), dataSet.begin(), dataSet.end());
  return bytes;
}

TEST_F(FieldFiles, UnSequenceOfUndefinedLengthReadsAsImplicitSequence) {
  WriteBytes(File("un.dcm"), UnSequenceFile());
  DcmObj ds;
  ASSERT_TRUE(ds.Read(File("un.dcm")));
  EXPECT_EQ(ds.FindText(0x0010, 0x0010), "Doe^John");
  const DcmObj *sequence = nullptr;
  for (std::size_t i = 0; i < ds.Count(); ++i)
    if (const DcmObj *n = ds.ContainerAt(i); n != nullptr && n->header.Is(0x0009, 0x1010))
      sequence = n;
  ASSERT_NE(sequence, nullptr);
  EXPECT_TRUE(sequence->header.HasVR("SQ"));
  ASSERT_EQ(sequence->Count(), 4u); // item, its element, its end, and the defined item
  EXPECT_EQ(sequence->ElementAt(1)->GetText(), "ID1");
  ASSERT_NE(sequence->ContainerAt(3), nullptr);
  EXPECT_EQ(sequence->ContainerAt(3)->FindText(0x0010, 0x0030), "1970");

  // Written back as an explicit sequence, DCMTK lists both items' values.
  ASSERT_TRUE(ds.Write(File("back.dcm")));
  const std::string listing = Dcmdump(File("back.dcm"));
  EXPECT_NE(listing.find("(0009,1010) SQ"), std::string::npos) << listing;
  EXPECT_NE(listing.find("(0010,0020) LO [ID1]"), std::string::npos) << listing;
  EXPECT_NE(listing.find("(0010,0030) DA [1970]"), std::string::npos) << listing;
  EXPECT_EQ(listing.find("W: "), std::string::npos) << listing;
}

// The meta information without (0002,0010): the data set's first element
// shows its encoding.
TEST_F(FieldFiles, MissingTransferSyntaxIsTakenFromTheDataSet) {
  for (const std::string_view syntax : {IMPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_LITTLE_ENDIAN}) {
    const ImageShape shape = Shape(8, 4, 1, 16, 12, false);
    auto written = test::NativeDataSet(shape, MakePixels(shape));
    written->transferSyntax = std::string(syntax);
    written->explicitVR = syntax != IMPLICIT_VR_LITTLE_ENDIAN;
    BufData stream;
    written->WriteTo(stream);
    Bytes bytes = stream.Bytes();
    // Cut (0002,0010) out and mend the group length.
    const std::uint8_t tag[] = {0x02, 0x00, 0x10, 0x00, 'U', 'I'};
    const auto at = std::search(bytes.begin(), bytes.end(), std::begin(tag), std::end(tag));
    ASSERT_NE(at, bytes.end());
    const std::size_t length = 8 + (at[6] | at[7] << 8);
    bytes.erase(at, at + static_cast<std::ptrdiff_t>(length));
    const std::uint32_t groupLength = (bytes[140] | bytes[141] << 8) - static_cast<std::uint32_t>(length);
    bytes[140] = static_cast<std::uint8_t>(groupLength);
    bytes[141] = static_cast<std::uint8_t>(groupLength >> 8);
    WriteBytes(File("nots.dcm"), bytes);

    test::LogCapture log;
    DcmObj ds;
    ASSERT_TRUE(ds.Read(File("nots.dcm"))) << syntax;
    EXPECT_EQ(ds.transferSyntax, syntax);
    EXPECT_EQ(ds.FindUS(0x0028, 0x0101), 12) << syntax;
    EXPECT_EQ(test::PixelValue(ds), test::PixelValue(*written)) << syntax;
    const auto warnings = log.StartingWith("WARNING, DcmObj::Read, no transfer syntax");
    ASSERT_EQ(warnings.size(), 1u) << syntax;
    EXPECT_NE(warnings[0].find(syntax == IMPLICIT_VR_LITTLE_ENDIAN ? "implicit" : "explicit"), std::string::npos);
  }
}

// A comment segment puts the bytes of a sequence delimiter item inside the
// codestream: the fragment's item length alone says where it ends.
TEST_F(FieldFiles, J2kFragmentHoldingDelimiterBytesIsOneFragment) {
  const ImageShape shape = Shape(32, 24, 2, 8, 8, false);
  const Bytes pixels = MakePixels(shape);
  std::vector<Bytes> fragments;
  for (int f = 0; f < shape.frames; ++f) {
    Bytes stream;
    ASSERT_TRUE(J2kEncode(pixels.data() + f * shape.FrameBytes(), {shape.columns, shape.rows, 1}, 8, J2K_RATE_LOSSLESS,
                          stream));
    // SOC, then SIZ of Lsiz bytes; the comment goes after it.
    const std::size_t afterSiz = 4 + (stream[4] << 8 | stream[5]);
    const Bytes comment = {0xFF, 0x64, 0x00, 0x0C, 0x00, 0x00, 0xFE, 0xFF, 0xDD, 0xE0, 0x00, 0x00, 0x00, 0x00};
    stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(afterSiz), comment.begin(), comment.end());
    fragments.push_back(stream);
  }
  ImageShape stored = shape;
  stored.transferSyntax = std::string(JPEG_2000_LOSSLESS);
  auto ds = test::EncapsulatedDataSet(stored, fragments);
  ASSERT_TRUE(ds->Write(File("j2k.dcm")));
  EXPECT_EQ(ConvertedHere(File("j2k.dcm")), pixels);
}

// A structured report has no pixel data: it is re-encoded between the
// native syntaxes, and refused for a compressed one.
TEST(NoPixelData, ConvertsBetweenNativeSyntaxesOnly) {
  const struct {
    std::string_view from, to;
    bool converts;
  } cases[] = {
      {IMPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_LITTLE_ENDIAN, true},
      {EXPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_BIG_ENDIAN, true},
      {EXPLICIT_VR_BIG_ENDIAN, IMPLICIT_VR_LITTLE_ENDIAN, true},
      {IMPLICIT_VR_LITTLE_ENDIAN, DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN, true},
      {IMPLICIT_VR_LITTLE_ENDIAN, JPEG_BASELINE, false},
      {IMPLICIT_VR_LITTLE_ENDIAN, RLE_LOSSLESS, false},
  };
  for (const auto &c : cases) {
    DcmObj ds;
    ds.transferSyntax = std::string(c.from);
    ds.explicitVR = c.from != IMPLICIT_VR_LITTLE_ENDIAN;
    ds.PutText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.88.11");
    ds.PutText(0x0008, 0x0060, "SR");
    ds.PutText(0x0040, 0xA040, "CONTAINER");
    EXPECT_EQ(ConvertTransferSyntax(ds, c.to), c.converts) << c.from << " to " << c.to;
    if (c.converts) {
      EXPECT_EQ(ds.transferSyntax, c.to);
      EXPECT_EQ(ds.FindText(0x0008, 0x0060), "SR");
      EXPECT_EQ(ds.FindElement(0x0028, 0x2110), nullptr); // no lossy mark on a report
    }
  }
}

} // namespace
} // namespace fw
