// Encoding and decoding of elements and containers: header layouts of the
// three transfer syntaxes, big-endian values, implicit data inside explicit
// data, sequences of both forms, the pixel-data rule, and untrusted input
// (short values, huge lengths, deep nesting).
#include "dicom/DcmCodec.h"

#include "dicom/Uids.h"
#include "tests/dicom/EncodingTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace fw {
namespace {

using test::Bytes;
using test::Concat;
using test::Decode;
using test::Encode;
using test::LogCapture;
using test::SetSyntax;
using test::TextBytes;

// One element, its transfer syntax and the exact bytes expected for it.
struct LayoutCase {
  const char *name;
  std::function<std::unique_ptr<DcmTag>()> make;
  std::string_view syntax;
  Bytes expected;
};

void PrintTo(const LayoutCase &c, std::ostream *os) { *os << c.name; }

std::unique_ptr<DcmTag> Item(std::uint32_t length) { return DcmTag::FromBytes(0xFFFE, 0xE000, length, nullptr, "DL"); }

const Bytes NAME8 = TextBytes("Doe^John");

const LayoutCase LAYOUTS[] = {
    {"ImplicitPN", [] { return DcmTag::FromText(0x0010, 0x0010, "Doe^John"); }, IMPLICIT_VR_LITTLE_ENDIAN,
     Concat({{0x10, 0x00, 0x10, 0x00, 0x08, 0x00, 0x00, 0x00}, NAME8})},
    {"ExplicitPN", [] { return DcmTag::FromText(0x0010, 0x0010, "Doe^John"); }, EXPLICIT_VR_LITTLE_ENDIAN,
     Concat({{0x10, 0x00, 0x10, 0x00, 'P', 'N', 0x08, 0x00}, NAME8})},
    {"BigEndianPN", [] { return DcmTag::FromText(0x0010, 0x0010, "Doe^John"); }, EXPLICIT_VR_BIG_ENDIAN,
     Concat({{0x00, 0x10, 0x00, 0x10, 'P', 'N', 0x00, 0x08}, NAME8})},
    {"ExplicitUndefinedPixelData",
     [] { return DcmTag::FromBytes(0x7FE0, 0x0010, UNDEFINED_LENGTH, nullptr, "OB"); },
     EXPLICIT_VR_LITTLE_ENDIAN,
     {0xE0, 0x7F, 0x10, 0x00, 'O', 'B', 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
    // Values in memory are little endian; a big-endian stream swaps them.
    {"BigEndianUSSwapped",
     [] { return DcmTag::FromUS(0x0028, 0x0010, 512); },
     EXPLICIT_VR_BIG_ENDIAN,
     {0x00, 0x28, 0x00, 0x10, 'U', 'S', 0x00, 0x02, 0x02, 0x00}},
    {"BigEndianULSwapped",
     [] { return DcmTag::FromUL(0x0008, 0x1199, 0x01020304, "UL"); },
     EXPLICIT_VR_BIG_ENDIAN,
     {0x00, 0x08, 0x11, 0x99, 'U', 'L', 0x00, 0x04, 0x01, 0x02, 0x03, 0x04}},
    {"BigEndianATSwappedByHalves",
     [] {
       const std::uint8_t v[] = {0x28, 0x00, 0x10, 0x00};
       return DcmTag::FromBytes(0x0020, 0x9165, 4, v, "AT");
     },
     EXPLICIT_VR_BIG_ENDIAN,
     {0x00, 0x20, 0x91, 0x65, 'A', 'T', 0x00, 0x04, 0x00, 0x28, 0x00, 0x10}},
    {"BigEndianFDSwappedBy8",
     [] {
       const std::uint8_t v[] = {1, 2, 3, 4, 5, 6, 7, 8};
       return DcmTag::FromBytes(0x0018, 0x9087, 8, v, "FD");
     },
     EXPLICIT_VR_BIG_ENDIAN,
     {0x00, 0x18, 0x90, 0x87, 'F', 'D', 0x00, 0x08, 8, 7, 6, 5, 4, 3, 2, 1}},
    {"BigEndianOBNotSwapped",
     [] {
       const std::uint8_t v[] = {1, 2, 3, 4};
       return DcmTag::FromBytes(0x0009, 0x1010, 4, v, "OB");
     },
     EXPLICIT_VR_BIG_ENDIAN,
     {0x00, 0x09, 0x10, 0x10, 'O', 'B', 0, 0, 0, 0, 0, 4, 1, 2, 3, 4}},
    {"BigEndianTextNotSwapped",
     [] { return DcmTag::FromText(0x0008, 0x0060, "OT"); },
     EXPLICIT_VR_BIG_ENDIAN,
     {0x00, 0x08, 0x00, 0x60, 'C', 'S', 0x00, 0x02, 'O', 'T'}},
    // Command elements carry no VR in any syntax.
    {"CommandInExplicit",
     [] { return DcmTag::FromUS(0x0000, 0x0100, 0x0030); },
     EXPLICIT_VR_LITTLE_ENDIAN,
     {0x00, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x30, 0x00}},
    {"ItemZeroImplicit",
     [] { return Item(0); },
     IMPLICIT_VR_LITTLE_ENDIAN,
     {0xFE, 0xFF, 0x00, 0xE0, 0x00, 0x00, 0x00, 0x00}},
    {"ItemZeroExplicit",
     [] { return Item(0); },
     EXPLICIT_VR_LITTLE_ENDIAN,
     {0xFE, 0xFF, 0x00, 0xE0, 0x00, 0x00, 0x00, 0x00}},
    {"ItemZeroBigEndian",
     [] { return Item(0); },
     EXPLICIT_VR_BIG_ENDIAN,
     {0xFF, 0xFE, 0xE0, 0x00, 0x00, 0x00, 0x00, 0x00}},
    // The standard's long header for the VRs newer than the original set.
    {"ExplicitUCLongForm",
     [] { return DcmTag::FromText(0x0008, 0x0119, "AB", "UC"); },
     EXPLICIT_VR_LITTLE_ENDIAN,
     {0x08, 0x00, 0x19, 0x01, 'U', 'C', 0, 0, 2, 0, 0, 0, 'A', 'B'}},
    {"ExplicitURLongForm",
     [] { return DcmTag::FromText(0x0008, 0x0120, "AB", "UR"); },
     EXPLICIT_VR_LITTLE_ENDIAN,
     {0x08, 0x00, 0x20, 0x01, 'U', 'R', 0, 0, 2, 0, 0, 0, 'A', 'B'}},
    {"ExplicitOFLongForm",
     [] {
       const std::uint8_t v[] = {1, 2, 3, 4};
       return DcmTag::FromBytes(0x0064, 0x0009, 4, v, "OF");
     },
     EXPLICIT_VR_LITTLE_ENDIAN,
     {0x64, 0x00, 0x09, 0x00, 'O', 'F', 0, 0, 4, 0, 0, 0, 1, 2, 3, 4}},
    {"ExplicitSVLongForm",
     [] {
       const std::uint8_t v[] = {1, 2, 3, 4, 5, 6, 7, 8};
       return DcmTag::FromBytes(0x0009, 0x1011, 8, v, "SV");
     },
     EXPLICIT_VR_BIG_ENDIAN,
     {0x00, 0x09, 0x10, 0x11, 'S', 'V', 0, 0, 0, 0, 0, 8, 8, 7, 6, 5, 4, 3, 2, 1}},
    // An element with no VR in explicit data gets the dictionary's, so it can
    // be read back.
    {"ExplicitEmptyVRFromDictionary",
     [] {
       auto t = DcmTag::FromUS(0x0028, 0x0011, 1);
       t->SetVR("");
       return t;
     },
     EXPLICIT_VR_LITTLE_ENDIAN,
     {0x28, 0x00, 0x11, 0x00, 'U', 'S', 0x02, 0x00, 0x01, 0x00}},
};

class LayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutTest, EncodesExactBytesAndDecodesTheSameElement) {
  const LayoutCase &c = GetParam();
  DcmObj written;
  SetSyntax(written, c.syntax);
  written.Append(c.make());
  const bool big = c.syntax == EXPLICIT_VR_BIG_ENDIAN;
  const Bytes bytes = Encode(written, false);
  EXPECT_EQ(bytes, c.expected);

  DcmObj read;
  SetSyntax(read, c.syntax);
  ASSERT_TRUE(Decode(bytes, read, big));
  ASSERT_EQ(read.Count(), 1u);
  const DcmTag *in = read.ElementAt(0);
  const DcmTag *out = written.ElementAt(0);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(in->Key(), out->Key());
  EXPECT_EQ(in->length, out->length);
  EXPECT_EQ(in->data, out->data);
  if (written.explicitVR && out->group != 0x0000 && out->group != 0xFFFE && !out->VR().empty()) {
    EXPECT_EQ(in->VR(), out->VR());
  }
}

INSTANTIATE_TEST_SUITE_P(Codec, LayoutTest, ::testing::ValuesIn(LAYOUTS),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(CodecTest, BigEndianRowsReadAsNumber) {
  // A big-endian Rows of 512 reads back as 512, not as 2.
  DcmObj c;
  SetSyntax(c, EXPLICIT_VR_BIG_ENDIAN);
  ASSERT_TRUE(Decode({0x00, 0x28, 0x00, 0x10, 'U', 'S', 0x00, 0x02, 0x02, 0x00}, c, true));
  EXPECT_EQ(c.FindUS(0x0028, 0x0010), 512);
}

TEST(CodecTest, ImplicitElementInsideExplicitData) {
  // (0028,0010) written implicit (length 4 where the VR belongs) inside
  // explicit data, followed by a normal explicit element.
  DcmObj c;
  SetSyntax(c, EXPLICIT_VR_LITTLE_ENDIAN);
  ASSERT_TRUE(Decode({0x28, 0x00, 0x10, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, //
                      0x28, 0x00, 0x11, 0x00, 'U',  'S',  0x02, 0x00, 0x00, 0x01},
                     c));
  ASSERT_EQ(c.Count(), 2u);
  EXPECT_EQ(c.ElementAt(0)->VR(), "US");
  EXPECT_EQ(c.ElementAt(0)->length, 4u);
  EXPECT_EQ(c.ElementAt(0)->GetUS(), 512);
  EXPECT_EQ(c.ElementAt(1)->GetUS(), 256);
}

TEST(CodecTest, MetaGroupIsExplicitInsideImplicitData) {
  DcmObj c;
  ASSERT_TRUE(Decode({0x02, 0x00, 0x10, 0x00, 'U',  'I',  0x04, 0x00, '1', '.', '2', 0x00, //
                      0x08, 0x00, 0x60, 0x00, 0x02, 0x00, 0x00, 0x00, 'O', 'T'},
                     c));
  ASSERT_EQ(c.Count(), 2u);
  EXPECT_EQ(c.ElementAt(0)->GetText(), "1.2");
  EXPECT_EQ(c.ElementAt(1)->VR(), "CS");
  EXPECT_EQ(c.ElementAt(1)->GetText(), "OT");
}

TEST(CodecTest, ImplicitUnknownUndefinedBecomesFlatSequence) {
  const Bytes bytes = {
      0x09, 0x00, 0x10, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, // private, undefined length
      0xFE, 0xFF, 0x00, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF, // item, undefined length
      0x10, 0x00, 0x20, 0x00, 0x02, 0x00, 0x00, 0x00, 'A',
      'B',  0xFE, 0xFF, 0x0D, 0xE0, 0x00, 0x00, 0x00, 0x00, // item delimiter
      0xFE, 0xFF, 0xDD, 0xE0, 0x00, 0x00, 0x00, 0x00,       // sequence delimiter
  };
  DcmObj c;
  ASSERT_TRUE(Decode(bytes, c));
  ASSERT_EQ(c.Count(), 5u);
  EXPECT_EQ(c.ElementAt(0)->VR(), "SQ");
  EXPECT_EQ(c.ElementAt(2)->GetText(), "AB");
  EXPECT_TRUE(c.ElementAt(4)->Is(0xFFFE, 0xE0DD));
  EXPECT_EQ(c.FindText(0x0010, 0x0020), ""); // inside the sequence
  EXPECT_EQ(Encode(c), bytes);
}

// A defined-length sequence with two defined-length items, in each syntax.
class SequenceTest : public ::testing::TestWithParam<std::string_view> {};

TEST_P(SequenceTest, DefinedLengthsExpandAndEncodeToTheSameBytes) {
  const std::string_view syntax = GetParam();
  const bool big = syntax == EXPLICIT_VR_BIG_ENDIAN;
  DcmObj item1;
  item1.PutText(0x0008, 0x1150, "1.2.3");
  item1.Put(DcmTag::FromUS(0x0028, 0x0010, 512));
  DcmObj item2;
  item2.PutText(0x0008, 0x1155, "1.2.34");
  DcmObj sequence;
  sequence.InsertSequence(0xFFFE, 0xE000, item1);
  sequence.InsertSequence(0xFFFE, 0xE000, item2);
  DcmObj built;
  SetSyntax(built, syntax);
  built.PutText(0x0008, 0x0060, "OT");
  built.InsertSequence(0x0008, 0x1140, sequence);
  built.PutText(0x0010, 0x0010, "Doe");
  const Bytes bytes = Encode(built);

  DcmObj read;
  SetSyntax(read, syntax);
  ASSERT_TRUE(Decode(bytes, read, big));
  ASSERT_EQ(read.Count(), 3u);
  const DcmObj *sq = read.ContainerAt(1);
  ASSERT_NE(sq, nullptr);
  EXPECT_EQ(sq->header.VR(), "SQ");
  EXPECT_EQ(sq->header.length, built.ContainerAt(1)->header.length);
  ASSERT_EQ(sq->Count(), 2u);
  const DcmObj *first = sq->ContainerAt(0);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->header.Is(0xFFFE, 0xE000));
  EXPECT_EQ(first->header.VR(), "");
  EXPECT_EQ(first->FindText(0x0008, 0x1150), "1.2.3");
  EXPECT_EQ(first->FindUS(0x0028, 0x0010), 512);
  EXPECT_EQ(sq->ContainerAt(1)->FindText(0x0008, 0x1155), "1.2.34");
  EXPECT_EQ(read.FindText(0x0010, 0x0010), "Doe");

  read.transferSyntax = built.transferSyntax;
  EXPECT_EQ(Encode(read), bytes);
}

INSTANTIATE_TEST_SUITE_P(Codec, SequenceTest,
                         ::testing::Values(IMPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_LITTLE_ENDIAN,
                                           EXPLICIT_VR_BIG_ENDIAN),
                         [](const auto &info) {
                           return info.param == IMPLICIT_VR_LITTLE_ENDIAN   ? std::string("Implicit")
                                  : info.param == EXPLICIT_VR_LITTLE_ENDIAN ? std::string("Explicit")
                                                                            : std::string("BigEndian");
                         });

TEST(CodecTest, SequenceWithOneItemEncodesDefinedLengths) {
  // (0008,1140) with one item holding (0008,1150) "1.2" + zero byte, explicit LE.
  DcmObj item;
  item.PutText(0x0008, 0x1150, "1.2");
  DcmObj sequence;
  sequence.InsertSequence(0xFFFE, 0xE000, item);
  DcmObj c;
  SetSyntax(c, EXPLICIT_VR_LITTLE_ENDIAN);
  c.InsertSequence(0x0008, 0x1140, sequence);
  const Bytes expected = {0x08, 0x00, 0x40, 0x11, 'S', 'Q', 0, 0, 20,  0,   0,   0, // sequence, 20
                          0xFE, 0xFF, 0x00, 0xE0, 12,  0,   0, 0,                   // item, 12
                          0x08, 0x00, 0x50, 0x11, 'U', 'I', 4, 0, '1', '.', '2', 0};
  EXPECT_EQ(Encode(c), expected);
  // The nested headers keep the encoded lengths and no value.
  const DcmObj *sq = c.ContainerAt(0);
  EXPECT_EQ(sq->header.length, 20u);
  EXPECT_FALSE(sq->header.HasValue());
  EXPECT_EQ(sq->ContainerAt(0)->header.length, 12u);
  EXPECT_TRUE(sq->explicitVR);
}

TEST(CodecTest, EncodeNestedMakesTheContentTheHeaderValue) {
  DcmObj item;
  item.PutText(0x0008, 0x1150, "1.2");
  DcmObj sequence;
  sequence.explicitVR = true;
  sequence.InsertSequence(0xFFFE, 0xE000, item);
  EncodeNested(sequence, false);
  EXPECT_EQ(sequence.header.length, 20u);
  EXPECT_EQ(sequence.header.data,
            (Bytes{0xFE, 0xFF, 0x00, 0xE0, 12, 0, 0, 0, 0x08, 0x00, 0x50, 0x11, 'U', 'I', 4, 0, '1', '.', '2', 0}));
  // Expand_SQ turns that value back into the items.
  DcmObj back;
  back.explicitVR = true;
  ASSERT_TRUE(Expand_SQ(back, sequence.header, false));
  ASSERT_EQ(back.Count(), 1u);
  EXPECT_EQ(back.ContainerAt(0)->FindText(0x0008, 0x1150), "1.2");
}

TEST(CodecTest, FlatSequenceWithDefinedItemRoundTrips) {
  // Undefined-length sequence, one defined-length item (expanded) and one
  // undefined-length item (flat), explicit VR.
  const Bytes bytes = {0x08, 0x00, 0x40, 0x11, 'S',  'Q',  0,    0,    0xFF, 0xFF, 0xFF, 0xFF, //
                       0xFE, 0xFF, 0x00, 0xE0, 10,   0,    0,    0,                            // item, 10
                       0x08, 0x00, 0x50, 0x11, 'U',  'I',  2,    0,    '1',  0,                //
                       0xFE, 0xFF, 0x00, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF,                         // item, undefined
                       0x08, 0x00, 0x50, 0x11, 'U',  'I',  2,    0,    '2',  0,                //
                       0xFE, 0xFF, 0x0D, 0xE0, 0,    0,    0,    0,                            //
                       0xFE, 0xFF, 0xDD, 0xE0, 0,    0,    0,    0,                            //
                       0x10, 0x00, 0x10, 0x00, 'P',  'N',  2,    0,    'A',  'B'};
  DcmObj c;
  SetSyntax(c, EXPLICIT_VR_LITTLE_ENDIAN);
  ASSERT_TRUE(Decode(bytes, c));
  ASSERT_EQ(c.Count(), 7u);
  EXPECT_TRUE(c.ElementAt(0)->HasVR("SQ"));
  ASSERT_NE(c.ContainerAt(1), nullptr);
  EXPECT_EQ(c.ContainerAt(1)->FindText(0x0008, 0x1150), "1");
  EXPECT_TRUE(c.ElementAt(2)->Is(0xFFFE, 0xE000));
  EXPECT_EQ(c.FindText(0x0010, 0x0010), "AB");
  EXPECT_EQ(Encode(c), bytes);
}

TEST(CodecTest, FragmentsAfterPixelDataStayElements) {
  const Bytes bytes = {0xE0, 0x7F, 0x10, 0x00, 'O', 'B', 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, //
                       0xFE, 0xFF, 0x00, 0xE0, 0,   0,   0, 0,                         // empty offset table
                       0xFE, 0xFF, 0x00, 0xE0, 4,   0,   0, 0, 0xFF, 0xD8, 0xFF, 0xD9, // fragment
                       0xFE, 0xFF, 0xDD, 0xE0, 0,   0,   0, 0};
  DcmObj c;
  SetSyntax(c, EXPLICIT_VR_LITTLE_ENDIAN);
  ASSERT_TRUE(Decode(bytes, c));
  ASSERT_EQ(c.Count(), 4u);
  ASSERT_NE(c.ElementAt(2), nullptr);
  EXPECT_EQ(c.ElementAt(2)->data, (Bytes{0xFF, 0xD8, 0xFF, 0xD9}));
  EXPECT_EQ(Encode(c), bytes);
}

// The pieces put together must be exactly what WriteObj writes, with the
// large values referenced (not copied) and everything else encoded.
TEST(CodecTest, PiecesJoinToTheWholeEncoding) {
  for (const std::string_view syntax : {IMPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_BIG_ENDIAN}) {
    SCOPED_TRACE(syntax);
    DcmObj c;
    SetSyntax(c, syntax);
    c.PutText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7");
    DcmObj item;
    item.PutText(0x0008, 0x0100, "CODE");
    c.InsertSequence(0x0008, 0x1032, item);
    Bytes native(300, 0);
    for (std::size_t i = 0; i < native.size(); ++i) {
      native[i] = static_cast<std::uint8_t>(i * 7);
    }
    c.PutBytes(0x0028, 0x0010, 2, "\x02\x00");
    c.Append(DcmTag::FromBytes(0x0029, 0x1010, static_cast<std::uint32_t>(native.size()), native.data(), "OW"));
    // A value that lost bytes is written padded with zeros, never read past.
    auto shortValue = DcmTag::FromBytes(0x0029, 0x1020, 4, "ABCD", "OB");
    shortValue->data.resize(4);
    shortValue->length = 400;
    c.Append(std::move(shortValue));
    c.Append(DcmTag::FromBytes(0x7FE0, 0x0010, UNDEFINED_LENGTH, nullptr, "OB"));
    c.Append(Item(0));
    c.Append(DcmTag::FromBytes(0xFFFE, 0xE000, 256, native.data(), "DL"));
    c.Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));

    const Bytes whole = Encode(c);
    BufData stream;
    std::vector<EncodedPiece> pieces;
    WriteObjPieces(stream, c, 256, pieces);
    Bytes joined;
    std::size_t referenced = 0;
    for (const EncodedPiece &piece : pieces) {
      const std::uint8_t *from = piece.external != nullptr ? piece.external : stream.Bytes().data() + piece.offset;
      joined.insert(joined.end(), from, from + piece.size);
      referenced += piece.external != nullptr ? 1 : 0;
    }
    EXPECT_EQ(joined, whole);
    // Big endian values are swapped while encoded, so none is referenced.
    EXPECT_EQ(referenced, syntax == EXPLICIT_VR_BIG_ENDIAN ? 0u : 2u);
  }
}

TEST(CodecTest, EmptyStreamReadsNothing) {
  DcmObj c;
  EXPECT_TRUE(Decode({}, c));
  EXPECT_EQ(c.Count(), 0u);
}

TEST(CodecTest, ShortValueFailsWithTheLogLine) {
  LogCapture log;
  DcmObj c;
  SetSyntax(c, EXPLICIT_VR_LITTLE_ENDIAN);
  EXPECT_FALSE(Decode({0x08, 0x00, 0x60, 0x00, 'C', 'S', 2, 0, 'O', 'T', //
                       0x10, 0x00, 0x10, 0x00, 'P', 'N', 8, 0, 'D', 'o', 'e'},
                      c));
  ASSERT_EQ(c.Count(), 1u); // what was read before stays
  EXPECT_EQ(c.FindText(0x0008, 0x0060), "OT");
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"ERROR: read bytes!=tag->length (0010,0010) count=3, tag->length=8"});
}

TEST(CodecTest, HugeLengthFailsWithoutAllocating) {
  LogCapture log;
  DcmObj c;
  EXPECT_FALSE(Decode({0xE0, 0x7F, 0x10, 0x00, 0xF0, 0xFF, 0xFF, 0xFF, 1, 2}, c));
  EXPECT_EQ(log.Lines(),
            std::vector<std::string>{"ERROR: read bytes!=tag->length (7FE0,0010) count=2, tag->length=4294967280"});
}

TEST(CodecTest, ShortValueInsideSequenceAddsTheExpandLine) {
  LogCapture log;
  // A sequence of 16 bytes whose item claims 100.
  const Bytes bytes = {0x08, 0x00, 0x40, 0x11, 16,  0, 0, 0, //
                       0xFE, 0xFF, 0x00, 0xE0, 8,   0, 0, 0, //
                       0x08, 0x00, 0x50, 0x11, 100, 0, 0, 0};
  DcmObj c;
  EXPECT_FALSE(Decode(bytes, c));
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{"ERROR: read bytes!=tag->length (0008,1150) count=0, tag->length=100",
                                      "ERROR, Expand_SQ: Reading tag..."}));
}

// Sequences nested `levels` deep, each with one item, innermost item empty.
Bytes NestedSequences(int levels) {
  Bytes inner;
  for (int i = 0; i < levels; ++i) {
    Bytes item = Concat({{0xFE, 0xFF, 0x00, 0xE0}, {}});
    const auto itemLength = static_cast<std::uint32_t>(inner.size());
    item.insert(item.end(), {static_cast<std::uint8_t>(itemLength), static_cast<std::uint8_t>(itemLength >> 8),
                             static_cast<std::uint8_t>(itemLength >> 16), 0});
    item.insert(item.end(), inner.begin(), inner.end());
    const auto seqLength = static_cast<std::uint32_t>(item.size());
    Bytes seq = {0x08,
                 0x00,
                 0x40,
                 0x11,
                 static_cast<std::uint8_t>(seqLength),
                 static_cast<std::uint8_t>(seqLength >> 8),
                 static_cast<std::uint8_t>(seqLength >> 16),
                 0};
    seq.insert(seq.end(), item.begin(), item.end());
    inner = std::move(seq);
  }
  return inner;
}

TEST(CodecTest, NestingIsBounded) {
  // 32 sequences hold 63 nested containers (the innermost item is empty and
  // stays an element): within the bound.
  DcmObj ok;
  ASSERT_TRUE(Decode(NestedSequences(32), ok));
  EXPECT_EQ(Encode(ok), NestedSequences(32));

  LogCapture log;
  DcmObj deep;
  EXPECT_FALSE(Decode(NestedSequences(5000), deep));
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"ERROR, Expand_SQ: nesting deeper than 64 levels"});
}

TEST(CodecTest, LongValueOfShortFormVRWrittenAsUN) {
  LogCapture log;
  const std::string text(70000, 'x');
  DcmObj c;
  SetSyntax(c, EXPLICIT_VR_LITTLE_ENDIAN);
  c.Append(DcmTag::FromText(0x0008, 0x0081, text, "ST"));
  const Bytes bytes = Encode(c);
  ASSERT_EQ(bytes.size(), 12u + text.size());
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 12),
            (Bytes{0x08, 0x00, 0x81, 0x00, 'U', 'N', 0, 0, 0x70, 0x11, 0x01, 0x00}));
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"WARNING, WriteElement, (0008,0081) ST value of 70000 bytes does "
                                                  "not fit a 16-bit length, written as UN"});
  DcmObj read;
  SetSyntax(read, EXPLICIT_VR_LITTLE_ENDIAN);
  ASSERT_TRUE(Decode(bytes, read));
  EXPECT_EQ(read.ElementAt(0)->length, 70000u);
  EXPECT_EQ(read.ElementAt(0)->VR(), "UN");
  EXPECT_EQ(read.ElementAt(0)->data, c.ElementAt(0)->data);
}

TEST(CodecTest, ReadTagAndWriteElementOnAStream) {
  BufData stream(true);
  const std::uint8_t value[] = {0x00, 0x02};
  WriteElement(stream, {0x0028, 0x0010}, 2, value, "US", true);
  EXPECT_EQ(stream.Bytes(), (Bytes{0x00, 0x28, 0x00, 0x10, 'U', 'S', 0x00, 0x02, 0x02, 0x00}));
  stream.Seek(0);
  DcmTag t;
  ASSERT_TRUE(ReadTag(stream, t, true));
  EXPECT_EQ(t.data, (Bytes{0x00, 0x02}));
  EXPECT_EQ(stream.Position(), stream.Size());
}

TEST(BufDataTest, NumbersInBothOrdersAndShortReads) {
  BufData le(false);
  le.WriteUS(0x0102);
  le.WriteUL(0x03040506);
  EXPECT_EQ(le.Bytes(), (Bytes{0x02, 0x01, 0x06, 0x05, 0x04, 0x03}));
  BufData be(true);
  be.WriteUS(0x0102);
  be.WriteUL(0x03040506);
  EXPECT_EQ(be.Bytes(), (Bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06}));
  be.Seek(0);
  EXPECT_EQ(be.ReadUS(), 0x0102);
  EXPECT_EQ(be.ReadUL(), 0x03040506u);
  // Missing bytes at the end read as zero.
  be.Seek(5);
  EXPECT_EQ(be.ReadUS(), 0x0600);
  EXPECT_EQ(be.Position(), 6u);
  std::uint8_t buffer[4];
  EXPECT_EQ(be.ReadBytes(buffer, 4), 0u);
}

TEST(BufDataTest, FilesLoadAndSave) {
  test::TempDir dir;
  BufData out(false);
  out.WriteBytes("abc", 3);
  ASSERT_TRUE(out.SaveToFile(dir.folder() + "x.bin"));
  BufData in(false);
  ASSERT_TRUE(in.LoadFromFile(dir.folder() + "x.bin"));
  EXPECT_EQ(in.Bytes(), TextBytes("abc"));
  EXPECT_EQ(in.Position(), 0u);
  EXPECT_FALSE(in.LoadFromFile(dir.folder() + "missing.bin"));
  EXPECT_EQ(in.Size(), 0u);
  EXPECT_FALSE(out.SaveToFile(dir.folder() + "no/such/folder.bin"));
}

} // namespace
} // namespace fw
