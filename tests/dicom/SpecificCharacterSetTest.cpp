// SpecificCharacterSet: texts of every repertoire a peer may declare read into
// UTF-8 (bytes that do not decode become U+FFFD and are counted), and the
// station's UTF-8 texts written as Latin-1 or UTF-8 with the matching
// (0008,0005).
#include "dicom/SpecificCharacterSet.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

namespace fw {
namespace {

struct DecodeCase {
  const char *name;
  std::string declared; // (0008,0005)
  std::string bytes;    // a PN value as it comes from the peer
  std::string utf8;     // what the station keeps
  std::size_t replaced; // bytes shown as U+FFFD
};

std::ostream &operator<<(std::ostream &out, const DecodeCase &c) { return out << c.name; }

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, PersonNameBecomesUtf8) {
  const DecodeCase &c = GetParam();
  std::size_t replaced = 0;
  const SpecificCharacterSet set = SpecificCharacterSet::FromValue(c.declared);
  EXPECT_EQ(set.Decode(c.bytes, true, &replaced), c.utf8);
  EXPECT_EQ(replaced, c.replaced);
  // The same through an element, with its padding.
  const auto element = DcmTag::FromText(0x0010, 0x0010, c.bytes + " ", "PN");
  EXPECT_EQ(set.DecodeText(*element), c.utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Repertoires, DecodeTest,
    ::testing::Values(
        DecodeCase{"NoDeclarationAscii", "", "DOE^JOHN", "DOE^JOHN", 0},
        DecodeCase{"Latin1", "ISO_IR 100", "M\xFCller^J\xFCrgen", "M\xC3\xBCller^J\xC3\xBCrgen", 0},
        DecodeCase{"Latin2", "ISO_IR 101", "\xA3ukasz^Wa\xB3\xEAsa", "\xC5\x81ukasz^Wa\xC5\x82\xC4\x99sa", 0},
        DecodeCase{"Latin3", "ISO_IR 109",
                   "\xA1"
                   "al^\xD5or\xF5",
                   "\xC4\xA6"
                   "al^\xC4\xA0or\xC4\xA1",
                   0},
        DecodeCase{"Latin4", "ISO_IR 110", "\xABirts^\xD3\xBAni\xF1\xB9",
                   "\xC4\xA2irts^\xC4\xB6\xC4\x93ni\xC5\x86\xC5\xA1", 0},
        DecodeCase{"Cyrillic", "ISO_IR 144", "\xB8\xD2\xD0\xDD\xDE\xD2^\xB8\xD2\xD0\xDD",
                   "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2^\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD", 0},
        DecodeCase{"Arabic", "ISO_IR 127", "\xE2\xC8\xC7\xE6\xEA^\xE4\xE6\xD2\xC7\xD1",
                   "\xD9\x82\xD8\xA8\xD8\xA7\xD9\x86\xD9\x8A^\xD9\x84\xD9\x86\xD8\xB2\xD8\xA7\xD8\xB1", 0},
        DecodeCase{"Greek", "ISO_IR 126",
                   "\xD0\xE1\xF0\xE1\xE4\xFC\xF0\xEF\xF5\xEB\xEF\xF2^\xC3\xE9\xFE\xF1\xE3\xEF\xF2",
                   "\xCE\xA0\xCE\xB1\xCF\x80\xCE\xB1\xCE\xB4\xCF\x8C\xCF\x80\xCE\xBF\xCF\x85\xCE\xBB\xCE\xBF\xCF\x82^"
                   "\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82",
                   0},
        DecodeCase{"Hebrew", "ISO_IR 138", "\xF9\xF8\xE5\xEF^\xE3\xE1\xE5\xF8\xE4",
                   "\xD7\xA9\xD7\xA8\xD7\x95\xD7\x9F^\xD7\x93\xD7\x91\xD7\x95\xD7\xA8\xD7\x94", 0},
        DecodeCase{"Latin5", "ISO_IR 148",
                   "\xD6zt\xFCrk^\xDE"
                   "eyma",
                   "\xC3\x96zt\xC3\xBCrk^\xC5\x9E"
                   "eyma",
                   0},
        DecodeCase{"Latin9", "ISO_IR 203", "\xBCuvre^\xA4", "\xC5\x92uvre^\xE2\x82\xAC", 0},
        DecodeCase{"Thai", "ISO_IR 166", "\xBB\xC3\xD0\xE0\xCA\xC3\xD4\xB0^\xCA\xC1\xAA\xD2\xC2",
                   "\xE0\xB8\x9B\xE0\xB8\xA3\xE0\xB8\xB0\xE0\xB9\x80\xE0\xB8\xAA\xE0\xB8\xA3\xE0\xB8\xB4\xE0\xB8\x90^"
                   "\xE0\xB8\xAA\xE0\xB8\xA1\xE0\xB8\x8A\xE0\xB8\xB2\xE0\xB8\xA2",
                   0},
        DecodeCase{"Gb18030", "GB18030", "\xCD\xF5^\xD0\xA1\xB6\xAB", "\xE7\x8E\x8B^\xE5\xB0\x8F\xE4\xB8\x9C", 0},
        DecodeCase{"Gbk", "GBK", "\xCD\xF5^\xD0\xA1\xB6\xAB", "\xE7\x8E\x8B^\xE5\xB0\x8F\xE4\xB8\x9C", 0},
        DecodeCase{"Utf8", "ISO_IR 192", "\xE5\xB1\xB1\xE7\x94\xB0^\xE5\xA4\xAA\xE9\x83\x8E",
                   "\xE5\xB1\xB1\xE7\x94\xB0^\xE5\xA4\xAA\xE9\x83\x8E", 0},
        DecodeCase{"SpelledWithoutBlank", "ISO_IR100", "M\xFCller", "M\xC3\xBCller", 0},
        DecodeCase{"Utf8AsSecondValue", "\\ISO_IR 192", "M\xC3\xBCller", "M\xC3\xBCller", 0},
        DecodeCase{"JapaneseIr87", "\\ISO 2022 IR 87",
                   "Yamada^Tarou=\x1B$B;3ED\x1B(B^\x1B$BB@O:\x1B(B=\x1B$B$d$^$@\x1B(B^\x1B$B$?$m$&\x1B(B",
                   "Yamada^Tarou=\xE5\xB1\xB1\xE7\x94\xB0^\xE5\xA4\xAA\xE9\x83\x8E="
                   "\xE3\x82\x84\xE3\x81\xBE\xE3\x81\xA0^\xE3\x81\x9F\xE3\x82\x8D\xE3\x81\x86",
                   0},
        DecodeCase{
            "JapaneseKatakanaAndIr87", "ISO 2022 IR 13\\ISO 2022 IR 87",
            "\xD4\xCF\xC0\xDE^\xC0\xDB\xB3=\x1B$B;3ED\x1B(J^\x1B$BB@O:\x1B(J=\x1B$B$d$^$@\x1B(J^\x1B$B$?$m$&\x1B(J",
            "\xEF\xBE\x94\xEF\xBE\x8F\xEF\xBE\x80\xEF\xBE\x9E^\xEF\xBE\x80\xEF\xBE\x9B\xEF\xBD\xB3="
            "\xE5\xB1\xB1\xE7\x94\xB0^\xE5\xA4\xAA\xE9\x83\x8E=\xE3\x82\x84\xE3\x81\xBE\xE3\x81\xA0^"
            "\xE3\x81\x9F\xE3\x82\x8D\xE3\x81\x86",
            0},
        DecodeCase{"KoreanIr149", "\\ISO 2022 IR 149",
                   "Hong^Gildong=\x1B$)C\xFB\xF3^\x1B$)C\xD1\xCE\xD4\xD7=\x1B$)C\xC8\xAB^\x1B$)C\xB1\xE6\xB5\xBF",
                   "Hong^Gildong=\xE6\xB4\xAA^\xE5\x90\x89\xE6\xB4\x9E=\xED\x99\x8D^\xEA\xB8\xB8\xEB\x8F\x99", 0},
        DecodeCase{"ChineseIr58", "\\ISO 2022 IR 58", "Zhang^XiaoDong=\x1B$)A\xD5\xC5^\x1B$)A\xD0\xA1\xB6\xAB=",
                   "Zhang^XiaoDong=\xE5\xBC\xA0^\xE5\xB0\x8F\xE4\xB8\x9C=", 0},
        DecodeCase{"GreekByEscape", "\\ISO 2022 IR 126", "Dr. \x1B-F\xC3\xE9\xFE\xF1\xE3\xEF\xF2",
                   "Dr. \xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82", 0},
        DecodeCase{"JisX0212", "\\ISO 2022 IR 159", "\x1B$(D0!\x1B(B", "\xE4\xB8\x82", 0},
        DecodeCase{"Utf8BrokenByte", "ISO_IR 192", "M\xFCller", "M\xEF\xBF\xBDller", 1},
        DecodeCase{"Utf8Overlong", "ISO_IR 192", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD", 2},
        DecodeCase{"Utf8CutShort", "ISO_IR 192", "A\xE5\xB1", "A\xEF\xBF\xBD\xEF\xBF\xBD", 2},
        DecodeCase{"DefaultRepertoireHighByte", "ISO_IR 6", "M\xFCller", "M\xEF\xBF\xBDller", 1},
        DecodeCase{"UnknownTermHighByte", "ISO_IR 999", "M\xFCller", "M\xEF\xBF\xBDller", 1},
        DecodeCase{"UnknownEscape", "\\ISO 2022 IR 87", "A\x1B%GB", "A\xEF\xBF\xBD%GB", 1},
        DecodeCase{"JisOddByte", "\\ISO 2022 IR 87", "\x1B$B;3E\x1B(B", "\xE5\xB1\xB1\xEF\xBF\xBD", 1},
        DecodeCase{"KatakanaOutsideRange", "ISO_IR 13", "\xD4\x81", "\xEF\xBE\x94\xEF\xBF\xBD", 1},
        DecodeCase{"Tis620Unassigned", "ISO_IR 166", "\xDB", "\xEF\xBF\xBD", 1},
        DecodeCase{"KoreanG1EndsAtCaret", "\\ISO 2022 IR 149", "\x1B$)C\xC8\xAB^\xB1\xE6",
                   "\xED\x99\x8D^\xEF\xBF\xBD\xEF\xBF\xBD", 2}),
    [](const ::testing::TestParamInfo<DecodeCase> &info) { return std::string(info.param.name); });

TEST(DecodeTest, EscapeAtTheStartOfAValueIsNotTrimmedAway) {
  // Korean names begin with ESC, a byte below 0x20 that a plain trim drops.
  const auto element = DcmTag::FromText(0x0010, 0x0010, "\x1B$)C\xC8\xAB^\x1B$)C\xB1\xE6\xB5\xBF", "PN");
  EXPECT_EQ(SpecificCharacterSet::FromValue("\\ISO 2022 IR 149").DecodeText(*element),
            "\xED\x99\x8D^\xEA\xB8\xB8\xEB\x8F\x99");
}

TEST(DecodeTest, CaretSwitchesBackOnlyInPersonNames) {
  const SpecificCharacterSet set = SpecificCharacterSet::FromValue("\\ISO 2022 IR 126");
  const std::string bytes = "\x1B-F\xC1^\xC1";
  EXPECT_EQ(set.Decode(bytes, false), "\xCE\x91^\xCE\x91") << "a LO value keeps G1 across ^";
  std::size_t replaced = 0;
  EXPECT_EQ(set.Decode(bytes, true, &replaced), "\xCE\x91^\xEF\xBF\xBD") << "a name starts over after ^";
  EXPECT_EQ(replaced, 1u);
}

TEST(DecodeTest, ValueEndsAtTheFirstZeroByte) {
  EXPECT_EQ(SpecificCharacterSet::Latin1().Decode(std::string("M\xFC\0rest", 7), true), "M\xC3\xBC");
}

TEST(DecodeTest, UnknownTermIsReported) {
  EXPECT_EQ(SpecificCharacterSet::FromValue("ISO_IR 100\\KLINGON").UnknownTerm(), "KLINGON");
  EXPECT_EQ(SpecificCharacterSet::FromValue("ISO 2022 IR 13\\ISO 2022 IR 87").UnknownTerm(), "");
}

// A small data set: name, ID (LO), a CS and a UI that are never converted,
// and an item with a description.
std::unique_ptr<DcmObj> DataSet(const std::string &name, const std::string &description) {
  auto dataSet = std::make_unique<DcmObj>();
  dataSet->Append(DcmTag::FromText(0x0008, 0x0060, "US", "CS"));
  dataSet->Append(DcmTag::FromText(0x0010, 0x0010, name, "PN"));
  dataSet->Append(DcmTag::FromText(0x0010, 0x0020, "ID1", "LO"));
  DcmObj item;
  item.Append(DcmTag::FromText(0x0008, 0x0104, description, "LO"));
  DcmObj sequence;
  sequence.InsertSequence(0xFFFE, 0xE000, item);
  dataSet->InsertSequence(0x0040, 0x0260, sequence);
  dataSet->Append(DcmTag::FromText(0x0020, 0x000D, "1.2.3", "UI"));
  return dataSet;
}

std::string Value(const DcmTag *t) {
  return t == nullptr ? std::string("<none>")
                      : std::string(reinterpret_cast<const char *>(t->data.data()), t->data.size());
}

const DcmTag *ItemValue(const DcmObj &dataSet) {
  for (std::size_t i = 0; i < dataSet.Count(); ++i) {
    if (const DcmObj *sequence = dataSet.ContainerAt(i)) {
      return sequence->ContainerAt(0)->FindElement(0x0008, 0x0104);
    }
  }
  return nullptr;
}

struct EncodeCase {
  const char *name;
  std::string name8;       // UTF-8 (or Latin-1 handed in unconverted)
  std::string description; // in the item
  std::string term;        // (0008,0005) put, "" for none
  std::string nameBytes;   // (0010,0010) afterwards, padded
  std::string itemBytes;   // (0008,0104) afterwards, padded
};

std::ostream &operator<<(std::ostream &out, const EncodeCase &c) { return out << c.name; }

class EncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeTest, ValuesAndDeclaration) {
  const EncodeCase &c = GetParam();
  auto dataSet = DataSet(c.name8, c.description);
  EXPECT_EQ(EncodeTextValues(*dataSet), c.term);
  const DcmTag *declared = dataSet->FindElement(0x0008, 0x0005);
  if (c.term.empty()) {
    EXPECT_EQ(declared, nullptr);
  } else {
    ASSERT_NE(declared, nullptr);
    EXPECT_EQ(declared->GetText(), c.term);
    EXPECT_EQ(dataSet->ElementAt(0), declared) << "(0008,0005) goes first";
  }
  EXPECT_EQ(Value(dataSet->FindElement(0x0010, 0x0010)), c.nameBytes);
  EXPECT_EQ(Value(ItemValue(*dataSet)), c.itemBytes);
  EXPECT_EQ(Value(dataSet->FindElement(0x0010, 0x0020)), "ID1 ");
  EXPECT_EQ(Value(dataSet->FindElement(0x0020, 0x000D)), std::string("1.2.3\0", 6));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EncodeTest,
    ::testing::Values(
        EncodeCase{"AllAsciiDeclaresNothing", "DOE^JOHN", "Abdomen", "", "DOE^JOHN", "Abdomen "},
        // Byte for byte what the station wrote for Latin-1 names before.
        EncodeCase{"Latin1NameAsLatin1", "Mu\xC3\xB1oz^Jos\xC3\xA9", "Abdomen", "ISO_IR 100", "Mu\xF1oz^Jos\xE9",
                   "Abdomen "},
        EncodeCase{"Latin1OddLengthPadded", "M\xC3\xBC", "Abdomen", "ISO_IR 100", "M\xFC", "Abdomen "},
        EncodeCase{"GreekNameInUtf8", "\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82", "Abdomen",
                   "ISO_IR 192", "\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82", "Abdomen "},
        EncodeCase{"NestedValueDecidesToo", "M\xC3\xBCller", "\xE8\x85\xB9\xE9\x83\xA8", "ISO_IR 192", "M\xC3\xBCller ",
                   "\xE8\x85\xB9\xE9\x83\xA8"},
        EncodeCase{"UnconvertedLatin1StaysLatin1", "M\xFCller", "Abdomen", "ISO_IR 100", "M\xFCller", "Abdomen "},
        EncodeCase{"UnconvertedLatin1BesideUtf8BecomesUtf8", "M\xFCller", "\xE8\x85\xB9", "ISO_IR 192",
                   "M\xC3\xBCller ", "\xE8\x85\xB9 "}),
    [](const ::testing::TestParamInfo<EncodeCase> &info) { return std::string(info.param.name); });

TEST(EncodeTest, EarlierDeclarationIsReplaced) {
  auto dataSet = DataSet("\xCE\x91", "x");
  dataSet->Put(DcmTag::FromText(0x0008, 0x0005, "ISO_IR 100", "CS"));
  EXPECT_EQ(EncodeTextValues(*dataSet), "ISO_IR 192");
  EXPECT_EQ(dataSet->FindText(0x0008, 0x0005), "ISO_IR 192");
}

TEST(EncodeTest, WrittenTextsReadBackUnchanged) {
  for (const std::string name : {"M\xC3\xBCller^J\xC3\xB6rg", "\xE5\xB1\xB1\xE7\x94\xB0^\xE5\xA4\xAA\xE9\x83\x8E"}) {
    auto dataSet = DataSet(name, "x");
    const SpecificCharacterSet set = SpecificCharacterSet::FromValue(EncodeTextValues(*dataSet));
    EXPECT_EQ(set.DecodeText(*dataSet->FindElement(0x0010, 0x0010)), name);
  }
}

TEST(Utf8Test, WellFormedAndLatin1) {
  EXPECT_TRUE(IsUtf8("M\xC3\xBCller \xF0\x9F\x98\x80"));
  for (const char *bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "A\xC3", "\x80"}) {
    EXPECT_FALSE(IsUtf8(bad)) << bad;
  }
  std::string latin1;
  EXPECT_TRUE(Utf8ToLatin1Exact("\xC3\xBF\xC3\x80", latin1));
  EXPECT_EQ(latin1, "\xFF\xC0");
  EXPECT_FALSE(Utf8ToLatin1Exact("\xC5\x81", latin1));
  std::string all;
  for (int c = 1; c < 256; ++c) {
    all.push_back(static_cast<char>(c));
  }
  ASSERT_TRUE(Utf8ToLatin1Exact(Latin1ToUtf8(all), latin1));
  EXPECT_EQ(latin1, all);
}

} // namespace
} // namespace fw
