// A file read element by element is still refused when it is not whole: a
// clip cut between two fragments, a flat sequence without its delimiter at
// the end of the file, fewer fragments than frames, and native pixel data
// under an encapsulated transfer syntax. What was read stays in the
// container; a missing delimiter inside an item of defined length is still
// read.
#include "dicom/BufData.h"
#include "dicom/DcmFile.h"
#include "dicom/Uids.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace fw {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

constexpr std::uint32_t UNDEFINED = 0xFFFFFFFF;

std::unique_ptr<DcmTag> Flat(std::uint16_t group, std::uint16_t element, std::string_view vr) {
  auto t = DcmTag::FromBytes(group, element, 0, nullptr, vr);
  t->length = UNDEFINED;
  return t;
}

std::unique_ptr<DcmTag> Item(const Bytes &bytes) {
  return DcmTag::FromBytes(0xFFFE, 0xE000, static_cast<std::uint32_t>(bytes.size()), bytes.data(), "DL");
}

std::unique_ptr<DcmTag> Delimiter(std::uint16_t element) {
  return DcmTag::FromBytes(0xFFFE, element, 0, nullptr, "DL");
}

// Header attributes of a 8 x 8 image of `frames` frames.
void PutImage(DcmObj &c, int frames) {
  c.PutText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7.4");
  c.PutText(0x0008, 0x0018, "1.2.3.4.5");
  c.Put(DcmTag::FromUS(0x0028, 0x0002, 1));
  c.PutText(0x0028, 0x0008, std::to_string(frames));
  c.Put(DcmTag::FromUS(0x0028, 0x0010, 8));
  c.Put(DcmTag::FromUS(0x0028, 0x0011, 8));
  c.Put(DcmTag::FromUS(0x0028, 0x0100, 8));
}

// A clip in the encapsulated layout: offset table, one fragment per frame,
// delimiter. The fragments are only headers: the read does not decode.
void PutClip(DcmObj &c, int fragments) {
  c.Append(Flat(0x7FE0, 0x0010, "OB"));
  c.Append(Item({}));
  for (int f = 0; f < fragments; ++f)
    c.Append(Item({0xFF, 0xD8, static_cast<std::uint8_t>(f), 0x00, 0xFF, 0xD9}));
  c.Append(Delimiter(0xE0DD));
}

// Index of the last entry; the delimiter of a whole clip.
std::size_t Last(const DcmObj &c) { return c.Count() - 1; }

struct Case {
  const char *name;
  std::string_view syntax;
  std::function<void(DcmObj &)> build;
  const char *refusal; // the refusal line, or null when the file reads whole
};

void Clip(DcmObj &c) {
  PutImage(c, 5);
  PutClip(c, 5);
}

const Case CASES[] = {
    {"WholeClip", JPEG_BASELINE, Clip, nullptr},
    {"ClipCutAfterAFragment", JPEG_BASELINE,
     [](DcmObj &c) {
       Clip(c);
       for (int k = 0; k < 3; ++k)
         c.RemoveAt(Last(c)); // the delimiter and the last two fragments
     },
     "ERROR, DcmObj::Read, truncated: the file ends inside (7FE0,0010) before its delimitation item"},
    {"ClipWithoutItsDelimiter", JPEG_2000,
     [](DcmObj &c) {
       Clip(c);
       c.RemoveAt(Last(c));
     },
     "ERROR, DcmObj::Read, truncated: the file ends inside (7FE0,0010) before its delimitation item"},
    {"ClipShortOfFragments", RLE_LOSSLESS,
     [](DcmObj &c) {
       Clip(c);
       c.RemoveAt(Last(c) - 1);
       c.RemoveAt(Last(c) - 1);
     },
     "ERROR, DcmObj::Read, truncated: 3 fragments for 5 frames of (7FE0,0010)"},
    {"FrameInSeveralFragments", JPEG_LOSSLESS,
     [](DcmObj &c) {
       PutImage(c, 2);
       PutClip(c, 5);
     },
     nullptr},
    // A video stream runs through its fragments whatever the frame count.
    {"VideoInOneFragment", MPEG2_MAIN_PROFILE,
     [](DcmObj &c) {
       PutImage(c, 5);
       PutClip(c, 1);
     },
     nullptr},
    {"NativeUnderAnEncapsulatedLabel", JPEG_BASELINE,
     [](DcmObj &c) {
       PutImage(c, 1);
       c.Put(DcmTag::FromBytes(0x7FE0, 0x0010, 64, Bytes(64, 7).data(), "OB"));
     },
     "ERROR, DcmObj::Read, pixel data of defined length under the encapsulated transfer syntax "
     "1.2.840.10008.1.2.4.50"},
    {"NativeUnderANativeLabel", EXPLICIT_VR_LITTLE_ENDIAN,
     [](DcmObj &c) {
       PutImage(c, 1);
       c.Put(DcmTag::FromBytes(0x7FE0, 0x0010, 64, Bytes(64, 7).data(), "OB"));
     },
     nullptr},
    {"FlatSequenceCutAtTheEnd", IMPLICIT_VR_LITTLE_ENDIAN,
     [](DcmObj &c) {
       c.PutText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7");
       c.Append(Flat(0x0040, 0x0275, "SQ"));
       c.Append(Flat(0xFFFE, 0xE000, "DL"));
       c.Append(DcmTag::FromText(0x0040, 0x1001, "RP1"));
       c.Append(Delimiter(0xE00D)); // the item closes, the sequence never does
     },
     "ERROR, DcmObj::Read, truncated: the file ends inside (0040,0275) before its delimitation item"},
    {"FlatSequenceWhole", EXPLICIT_VR_LITTLE_ENDIAN,
     [](DcmObj &c) {
       c.PutText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7");
       c.Append(Flat(0x0040, 0x0275, "SQ"));
       c.Append(Flat(0xFFFE, 0xE000, "DL"));
       c.Append(DcmTag::FromText(0x0040, 0x1001, "RP1"));
       c.Append(Delimiter(0xE00D));
       c.Append(Delimiter(0xE0DD));
     },
     nullptr},
    // The item's own length says where its content ends: the missing
    // delimiter of the sequence inside loses nothing and is read.
    {"DelimiterMissingInsideAnItemOfDefinedLength", EXPLICIT_VR_LITTLE_ENDIAN,
     [](DcmObj &c) {
       c.PutText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7");
       DcmObj item;
       item.Append(Flat(0x0040, 0x0275, "SQ"));
       item.Append(Flat(0xFFFE, 0xE000, "DL"));
       item.Append(DcmTag::FromText(0x0040, 0x1001, "RP1"));
       item.Append(Delimiter(0xE00D));
       DcmObj sequence;
       sequence.InsertSequence(0xFFFE, 0xE000, item);
       c.InsertSequence(0x0008, 0x1115, sequence);
       c.PutText(0x0010, 0x0010, "Doe^Jane");
     },
     nullptr},
};

class WholeFileTest : public testing::TestWithParam<Case> {};

TEST_P(WholeFileTest, ReadIsRefusedOnlyWhenTheFileIsNotWhole) {
  const Case &c = GetParam();
  DcmObj written;
  written.transferSyntax = std::string(c.syntax);
  written.explicitVR = c.syntax != IMPLICIT_VR_LITTLE_ENDIAN;
  c.build(written);
  BufData stream(false);
  written.WriteTo(stream);

  test::LogCapture log;
  DcmObj read;
  const bool whole = read.ReadFrom(stream.Bytes());
  EXPECT_EQ(whole, c.refusal == nullptr);
  const std::vector<std::string> errors = log.StartingWith("ERROR");
  if (c.refusal == nullptr) {
    EXPECT_TRUE(errors.empty()) << testing::PrintToString(errors);
    EXPECT_EQ(TruncationOf(read), "");
    return;
  }
  EXPECT_EQ(errors, std::vector<std::string>{c.refusal});
  // What the file holds is still there, for a dump to show.
  EXPECT_EQ(read.Count(), written.Count());
  EXPECT_EQ(read.FindText(0x0008, 0x0016), written.FindText(0x0008, 0x0016));
  const bool truncated = std::string_view(c.refusal).find("truncated: ") != std::string_view::npos;
  EXPECT_EQ(TruncationOf(read).empty(), !truncated);
}

INSTANTIATE_TEST_SUITE_P(Cases, WholeFileTest, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

// Preamble, "DICM" and explicit VR little endian meta information.
Bytes MetaHeader(std::string_view syntax) {
  BufData stream(false);
  WriteMetaHeader(stream, "1.2.840.10008.5.1.4.1.1.7", "1.2.3.4.5", syntax);
  return stream.Bytes();
}

// A sequence of VR UN and undefined length is implicit inside, up to its own
// delimiter: at the end of the file without it, the file was cut.
TEST(WholeFileUnknownSequence, CutAtTheEndOfTheFileIsRefused) {
  const Bytes un = {0x11, 0x00, 0x10, 0x10, 'U', 'N', 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  const Bytes item = {0xFE, 0xFF, 0x00, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF,                     // item, undefined length
                      0x10, 0x00, 0x10, 0x00, 0x04, 0x00, 0x00, 0x00, 'A', '^', 'B', ' ', // implicit (0010,0010)
                      0xFE, 0xFF, 0x0D, 0xE0, 0x00, 0x00, 0x00, 0x00};                    // item delimiter
  const Bytes sequenceEnd = {0xFE, 0xFF, 0xDD, 0xE0, 0x00, 0x00, 0x00, 0x00};
  const Bytes sop = {0x08, 0x00, 0x16, 0x00, 'U', 'I', 0x02, 0x00, '1', 0x00};
  for (const bool cut : {false, true}) {
    SCOPED_TRACE(cut ? "cut" : "whole");
    Bytes file = Concat({MetaHeader(EXPLICIT_VR_LITTLE_ENDIAN), sop, un, item});
    if (!cut)
      file = Concat({file, sequenceEnd});
    test::LogCapture log;
    DcmObj read;
    EXPECT_EQ(read.ReadFrom(file), !cut);
    if (cut)
      EXPECT_EQ(log.StartingWith("ERROR"),
                std::vector<std::string>{
                    "ERROR, ReadOjb, truncated: the data set ends inside (0011,1010) before its delimitation item"});
    else
      EXPECT_TRUE(log.StartingWith("ERROR").empty());
  }
}

} // namespace
} // namespace fw
