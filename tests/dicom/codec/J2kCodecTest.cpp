// JPEG 2000 entry points: lossless and lossy round trips, the codestream's
// settings, refusals, and the cross-check with OpenJPEG's own tools.
#include "dicom/codec/J2kCodec.h"
#include "tests/dicom/codec/TestImages.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace fw {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Picture(int width, int height, int components, int bits) {
  return bits <= 8 ? test::MakePicture8(width, height, components)
                   : test::MakePicture16(width, height, components, bits);
}

struct LosslessCase {
  const char *name;
  int width, height, components, bits;
};

class J2kLossless : public testing::TestWithParam<LosslessCase> {};

TEST_P(J2kLossless, DecodesToTheExactInput) {
  const LosslessCase &c = GetParam();
  const Bytes picture = Picture(c.width, c.height, c.components, c.bits);
  Bytes stream;
  ASSERT_TRUE(J2kEncode(picture.data(), {c.width, c.height, c.components}, c.bits, J2K_RATE_LOSSLESS, stream));
  ASSERT_GE(stream.size(), 4u);
  EXPECT_EQ(stream.size() % 2, 0u);
  EXPECT_EQ((Bytes{stream[0], stream[1], stream[2], stream[3]}), (Bytes{0xFF, 0x4F, 0xFF, 0x51})) << "SOC, SIZ";

  Bytes decoded(picture.size(), 0xAB);
  ASSERT_TRUE(J2kDecode(stream.data(), stream.size(), decoded.data(), decoded.size()));
  EXPECT_EQ(decoded, picture);
}

INSTANTIATE_TEST_SUITE_P(Images, J2kLossless,
                         testing::Values(LosslessCase{"Grey8", 256, 256, 1, 8}, LosslessCase{"Colour8", 320, 240, 3, 8},
                                         LosslessCase{"Grey12", 200, 100, 1, 12},
                                         LosslessCase{"Grey16", 128, 128, 1, 16},
                                         LosslessCase{"Colour16", 40, 40, 3, 16},
                                         // Below OpenJPEG's default of 32 pixels for 6 resolutions.
                                         LosslessCase{"Small16x16", 16, 16, 1, 8}, LosslessCase{"Line", 300, 1, 1, 8},
                                         LosslessCase{"OnePixel", 1, 1, 3, 8}),
                         [](const testing::TestParamInfo<LosslessCase> &info) { return std::string(info.param.name); });

TEST(J2kEncode, LossyRateGivesAboutTenToOne) {
  const Bytes picture = test::MakePicture8(256, 256, 1);
  Bytes stream;
  ASSERT_TRUE(J2kEncode(picture.data(), {256, 256, 1}, 8, J2K_RATE_LOSSY, stream));
  EXPECT_LE(stream.size(), picture.size() / 10 + 64);
  EXPECT_GE(stream.size(), picture.size() / 20);
  Bytes decoded(picture.size());
  ASSERT_TRUE(J2kDecode(stream.data(), stream.size(), decoded.data(), decoded.size()));
  // Measured 38.6 dB.
  EXPECT_GT(test::Psnr(picture, decoded, 255), 37.5);
}

TEST(J2kEncode, ComponentCountsOtherThanOneOrThreeAreRefused) {
  const Bytes picture = test::MakePicture8(16, 16, 4);
  for (int components : {0, 2, 4}) {
    Bytes stream;
    EXPECT_FALSE(J2kEncode(picture.data(), {16, 16, components}, 8, J2K_RATE_LOSSLESS, stream)) << components;
  }
}

TEST(J2kEncode, ImpossibleImagesAreRefused) {
  const Bytes picture = test::MakePicture8(16, 16, 1);
  Bytes stream;
  EXPECT_FALSE(J2kEncode(picture.data(), {0, 16, 1}, 8, 0, stream));
  EXPECT_FALSE(J2kEncode(picture.data(), {16, -1, 1}, 8, 0, stream));
  EXPECT_FALSE(J2kEncode(picture.data(), {16, 16, 1}, 0, 0, stream));
  EXPECT_FALSE(J2kEncode(nullptr, {16, 16, 1}, 8, 0, stream));
}

// Samples of 32-bit little-endian words.
Bytes Picture32(int width, int height, int bits) {
  Bytes samples(static_cast<std::size_t>(width) * height * 4);
  const std::uint64_t top = (std::uint64_t{1} << bits) - 1;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      // Blocks of the two extremes: the content that first breaks wide
      // precisions.
      const std::uint32_t value = static_cast<std::uint32_t>((x / 3 + y / 5) % 2 ? top : 0);
      const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 4;
      for (int b = 0; b < 4; ++b)
        samples[at + b] = static_cast<std::uint8_t>(value >> (8 * b));
    }
  return samples;
}

TEST(J2kEncode, WidePrecisionsRoundTripInWordsOrAreRefused) {
  for (int bits : {17, 20, J2K_MAX_BITS}) {
    const Bytes picture = Picture32(64, 64, bits);
    Bytes stream;
    ASSERT_TRUE(J2kEncode(picture.data(), {64, 64, 1}, bits, J2K_RATE_LOSSLESS, stream)) << bits;
    Bytes decoded(picture.size());
    ASSERT_TRUE(J2kDecode(stream.data(), stream.size(), decoded.data(), decoded.size())) << bits;
    EXPECT_EQ(decoded, picture) << bits;
  }
  // 24 bits of this picture come back changed from OpenJPEG.
  for (int bits : {J2K_MAX_BITS + 1, 24, 32}) {
    const Bytes picture = Picture32(64, 64, bits);
    Bytes stream;
    EXPECT_FALSE(J2kEncode(picture.data(), {64, 64, 1}, bits, J2K_RATE_LOSSLESS, stream)) << bits;
  }
}

TEST(J2kEncode, CodestreamsAreEvenAndOddOnesEndInOnePadByte) {
  // Lengths vary with the content; among these some codestreams come out
  // odd (found by trying), and those must end EOC, 0x00.
  int padded = 0;
  for (int size = 8; size < 40; ++size) {
    const Bytes picture = test::MakePicture8(size, size + 3, 1);
    Bytes stream;
    ASSERT_TRUE(J2kEncode(picture.data(), {size, size + 3, 1}, 8, J2K_RATE_LOSSLESS, stream));
    ASSERT_EQ(stream.size() % 2, 0u) << size;
    const std::size_t n = stream.size();
    if (stream[n - 2] == 0xFF && stream[n - 1] == 0xD9)
      continue;
    ASSERT_EQ((Bytes{stream[n - 3], stream[n - 2], stream[n - 1]}), (Bytes{0xFF, 0xD9, 0x00})) << size;
    ++padded;
    // The pad byte after EOC does not disturb decoding.
    Bytes decoded(picture.size());
    ASSERT_TRUE(J2kDecode(stream.data(), n, decoded.data(), decoded.size()));
    EXPECT_EQ(decoded, picture);
  }
  EXPECT_GT(padded, 0);
}

TEST(J2kEncode, CommentNamesTheLinkedOpenJpeg) {
  const std::string comment = J2kComment();
  EXPECT_EQ(comment.rfind("Created by OpenJPEG version 2.", 0), 0u) << comment;
  const Bytes picture = test::MakePicture8(32, 32, 1);
  Bytes stream;
  ASSERT_TRUE(J2kEncode(picture.data(), {32, 32, 1}, 8, J2K_RATE_LOSSLESS, stream));
  // COM marker: FF64, length, Rcom 1 (Latin text), the text.
  const std::string bytes(stream.begin(), stream.end());
  const std::string marker = std::string("\xFF\x64", 2);
  const std::size_t at = bytes.find(marker);
  ASSERT_NE(at, std::string::npos);
  const std::size_t length = static_cast<std::size_t>(stream[at + 2]) << 8 | stream[at + 3];
  EXPECT_EQ(bytes.substr(at + 6, length - 4), comment);
}

TEST(J2kDecode, ImageLargerThanTheSlotIsRefusedUntouched) {
  const Bytes picture = test::MakePicture16(64, 48, 1, 16);
  Bytes stream;
  ASSERT_TRUE(J2kEncode(picture.data(), {64, 48, 1}, 16, J2K_RATE_LOSSLESS, stream));
  Bytes slot(picture.size(), 0xAB);
  EXPECT_FALSE(J2kDecode(stream.data(), stream.size(), slot.data(), slot.size() - 1));
  EXPECT_EQ(slot, Bytes(picture.size(), 0xAB));
  EXPECT_TRUE(J2kDecode(stream.data(), stream.size(), slot.data(), slot.size()));
}

TEST(J2kDecode, HeaderAnnouncingAHugeImageIsRefused) {
  const Bytes picture = test::MakePicture8(16, 16, 1);
  Bytes stream;
  ASSERT_TRUE(J2kEncode(picture.data(), {16, 16, 1}, 8, J2K_RATE_LOSSLESS, stream));
  // Xsiz and Ysiz of the SIZ segment (after SOC, SIZ, Lsiz, Rsiz): 0xFFFF0000.
  for (std::size_t at : {8u, 12u}) {
    stream[at] = 0xFF;
    stream[at + 1] = 0xFF;
  }
  Bytes slot(picture.size(), 0xAB);
  EXPECT_FALSE(J2kDecode(stream.data(), stream.size(), slot.data(), slot.size()));
  EXPECT_EQ(slot, Bytes(picture.size(), 0xAB));
}

TEST(J2kDecode, CutOrForeignStreamsFail) {
  const Bytes picture = test::MakePicture8(64, 64, 3);
  Bytes stream;
  ASSERT_TRUE(J2kEncode(picture.data(), {64, 64, 3}, 8, J2K_RATE_LOSSLESS, stream));
  Bytes slot(picture.size());
  for (std::size_t length : {std::size_t{0}, std::size_t{2}, std::size_t{60}, stream.size() / 2, stream.size() - 20})
    EXPECT_FALSE(J2kDecode(stream.data(), length, slot.data(), slot.size())) << "cut at " << length;
  const Bytes jpeg{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00, 0x01};
  EXPECT_FALSE(J2kDecode(jpeg.data(), jpeg.size(), slot.data(), slot.size()));
  EXPECT_FALSE(J2kDecode(nullptr, 0, slot.data(), slot.size()));
}

TEST(J2kDecode, DamagedStreamsStayInsideTheSlot) {
  // Whether a damaged codestream still decodes depends on where the damage
  // falls; the bytes after the slot must stay as they were.
  const Bytes picture = test::MakePicture8(64, 64, 1);
  Bytes original;
  ASSERT_TRUE(J2kEncode(picture.data(), {64, 64, 1}, 8, J2K_RATE_LOSSLESS, original));
  for (std::size_t step : {5u, 33u, 97u}) {
    Bytes stream = original;
    for (std::size_t i = 40; i + 2 < stream.size(); i += step)
      stream[i] ^= 0x3C;
    Bytes slot(picture.size() + 64, 0xAB);
    J2kDecode(stream.data(), stream.size(), slot.data(), picture.size());
    EXPECT_EQ(Bytes(slot.begin() + static_cast<std::ptrdiff_t>(picture.size()), slot.end()), Bytes(64, 0xAB))
        << "step " << step;
  }
}

TEST(J2kCodecThreads, OverlappingCallsGiveTheSameCodestreams) {
  const Bytes picture = test::MakePicture8(96, 64, 3);
  Bytes reference;
  ASSERT_TRUE(J2kEncode(picture.data(), {96, 64, 3}, 8, J2K_RATE_LOSSLESS, reference));
  std::vector<int> mismatches(3, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([&, t] {
      Bytes stream, slot(picture.size());
      for (int round = 0; round < 5; ++round) {
        mismatches[t] += !J2kEncode(picture.data(), {96, 64, 3}, 8, J2K_RATE_LOSSLESS, stream) || stream != reference;
        mismatches[t] += !J2kDecode(reference.data(), reference.size(), slot.data(), slot.size()) || slot != picture;
      }
    });
  for (auto &thread : threads)
    thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(3, 0));
}

// --- Cross-checks with OpenJPEG's command-line tools -----------------------

// A PGM or PPM file as interleaved samples (bytes, or 16-bit little-endian
// words when maxval is above 255).
struct Pnm {
  int width = 0, height = 0, components = 0, maxval = 0;
  Bytes samples;
};

Pnm ReadPnm(const std::filesystem::path &file) {
  const std::string bytes = test::ReadFileBytes(file);
  // Four header fields separated by whitespace, "#" comments to the end of
  // their line, then one whitespace byte before the samples.
  std::string fields[4];
  std::size_t pos = 0;
  for (std::string &field : fields) {
    while (pos < bytes.size() && (std::isspace(static_cast<unsigned char>(bytes[pos])) || bytes[pos] == '#')) {
      if (bytes[pos] == '#')
        pos = bytes.find('\n', pos);
      else
        ++pos;
    }
    while (pos < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[pos])))
      field += bytes[pos++];
  }
  const std::size_t start = pos + 1;
  Pnm pnm;
  pnm.components = fields[0] == "P6" ? 3 : fields[0] == "P5" ? 1 : 0;
  pnm.width = std::atoi(fields[1].c_str());
  pnm.height = std::atoi(fields[2].c_str());
  pnm.maxval = std::atoi(fields[3].c_str());
  const std::size_t count = static_cast<std::size_t>(pnm.width) * pnm.height * pnm.components;
  const bool wide = pnm.maxval > 255;
  if (pnm.components == 0 || start + count * (wide ? 2 : 1) > bytes.size())
    return {};
  for (std::size_t i = 0; i < count; ++i) {
    if (wide) { // PNM words are big-endian
      pnm.samples.push_back(static_cast<std::uint8_t>(bytes[start + 2 * i + 1]));
      pnm.samples.push_back(static_cast<std::uint8_t>(bytes[start + 2 * i]));
    } else {
      pnm.samples.push_back(static_cast<std::uint8_t>(bytes[start + i]));
    }
  }
  return pnm;
}

void WritePnm(const std::filesystem::path &file, int width, int height, int components, int bits,
              const Bytes &samples) {
  std::ofstream out(file, std::ios::binary);
  out << (components == 3 ? "P6" : "P5") << "\n" << width << " " << height << "\n" << ((1 << bits) - 1) << "\n";
  if (bits <= 8) {
    out.write(reinterpret_cast<const char *>(samples.data()), static_cast<std::streamsize>(samples.size()));
    return;
  }
  for (std::size_t i = 0; i + 1 < samples.size(); i += 2)
    out.put(static_cast<char>(samples[i + 1])).put(static_cast<char>(samples[i]));
}

int RunTool(const std::string &command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

struct ToolCase {
  const char *name;
  int width, height, components, bits;
};

const ToolCase TOOL_CASES[] = {
    {"grey 8", 97, 61, 1, 8},
    {"colour 8", 64, 48, 3, 8},
    {"grey 12", 50, 70, 1, 12},
    {"grey 16", 64, 64, 1, 16},
};

TEST(J2kCrossCheck, OpjDecompressReadsOurCodestreamsToTheInput) {
  test::TempDir dir;
  for (const ToolCase &c : TOOL_CASES) {
    const Bytes picture = Picture(c.width, c.height, c.components, c.bits);
    Bytes stream;
    ASSERT_TRUE(J2kEncode(picture.data(), {c.width, c.height, c.components}, c.bits, J2K_RATE_LOSSLESS, stream));
    const auto j2k = dir.path() / "ours.j2k";
    const auto pnm = dir.path() / "theirs.pnm";
    std::ofstream(j2k, std::ios::binary)
        .write(reinterpret_cast<const char *>(stream.data()), static_cast<std::streamsize>(stream.size()));
    std::filesystem::remove(pnm);
    ASSERT_EQ(RunTool("opj_decompress -i " + j2k.string() + " -o " + pnm.string()), 0) << c.name;
    // opj_decompress names colour output .pnm too, one file.
    const Pnm decoded = ReadPnm(pnm);
    EXPECT_EQ(decoded.width, c.width) << c.name;
    EXPECT_EQ(decoded.height, c.height) << c.name;
    EXPECT_EQ(decoded.components, c.components) << c.name;
    EXPECT_EQ(decoded.samples, picture) << c.name;
  }
}

TEST(J2kCrossCheck, CodestreamsAndJp2FilesOfOpjCompressDecodeHere) {
  test::TempDir dir;
  for (const ToolCase &c : TOOL_CASES) {
    const Bytes picture = Picture(c.width, c.height, c.components, c.bits);
    const auto pnm = dir.path() / (c.components == 3 ? "in.ppm" : "in.pgm");
    WritePnm(pnm, c.width, c.height, c.components, c.bits, picture);
    for (const char *extension : {".j2k", ".jp2"}) {
      const auto encoded = dir.path() / (std::string("theirs") + extension);
      ASSERT_EQ(RunTool("opj_compress -i " + pnm.string() + " -o " + encoded.string()), 0) << c.name << extension;
      const std::string bytes = test::ReadFileBytes(encoded);
      Bytes decoded(picture.size());
      ASSERT_TRUE(
          J2kDecode(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size(), decoded.data(), decoded.size()))
          << c.name << extension;
      EXPECT_EQ(decoded, picture) << c.name << extension;
    }
  }
}

// Samples of a 12-bit codestream decoded into 16-bit words: the Pixel
// Representation passed in decides how the stored bits are read when the
// codestream says the other signedness.
TEST(J2kDecode, PixelRepresentationDecidesTheSignedness) {
  // A signed codestream of -5, -2048, 2047, 0: unsigned coding subtracts
  // 2048 before the wavelet and signed coding does not, so the unsigned
  // stream of the values + 2048 with the sign bit of Ssiz set is exactly it.
  const Bytes shifted = {0xFB, 0x07, 0x00, 0x00, 0xFF, 0x0F, 0x00, 0x08};
  Bytes signedStream;
  ASSERT_TRUE(J2kEncode(shifted.data(), {4, 1, 1}, 12, J2K_RATE_LOSSLESS, signedStream));
  constexpr std::size_t SSIZ0 = 42;   // SOC, SIZ, Lsiz, Rsiz, 8 sizes, Csiz
  ASSERT_EQ(signedStream[SSIZ0], 11); // unsigned, 12 bits
  signedStream[SSIZ0] |= 0x80;
  // An unsigned codestream of the same bits.
  const Bytes unsignedSamples = {0xFB, 0x0F, 0x00, 0x08, 0xFF, 0x07, 0x00, 0x00};
  Bytes unsignedStream;
  ASSERT_TRUE(J2kEncode(unsignedSamples.data(), {4, 1, 1}, 12, J2K_RATE_LOSSLESS, unsignedStream));

  const Bytes asUnsigned = {0xFB, 0x0F, 0x00, 0x08, 0xFF, 0x07, 0x00, 0x00};
  const Bytes asSigned = {0xFB, 0xFF, 0x00, 0xF8, 0xFF, 0x07, 0x00, 0x00};
  const struct {
    const char *name;
    bool signedStream;
    int pixelRepresentation;
    Bytes expected;
  } cases[] = {
      {"signed stream, its own signedness", true, -1, asSigned},
      {"signed stream, signed data", true, 1, asSigned},
      {"signed stream, unsigned data", true, 0, asUnsigned},
      {"unsigned stream, its own signedness", false, -1, asUnsigned},
      {"unsigned stream, unsigned data", false, 0, asUnsigned},
      {"unsigned stream, signed data", false, 1, asSigned},
  };
  for (const auto &c : cases) {
    const auto *stream =
        c.signedStream ? reinterpret_cast<const std::uint8_t *>(signedStream.data()) : unsignedStream.data();
    const std::size_t length = c.signedStream ? signedStream.size() : unsignedStream.size();
    Bytes decoded(8);
    ASSERT_TRUE(J2kDecode(stream, length, decoded.data(), decoded.size(), c.pixelRepresentation)) << c.name;
    EXPECT_EQ(decoded, c.expected) << c.name;
  }
}

} // namespace
} // namespace fw
