// DcmObj: entry access, Put ordering, replacement and group lengths, the
// top-level rule around flat sequences and encapsulated pixel data,
// InsertSequence placement, CopyFrom order and ownership.
#include "dicom/DcmObj.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <ostream>
#include <pthread.h>
#include <string>
#include <vector>

namespace fw {
namespace {

using Tags = std::vector<std::string>;

// "gggg,eeee" for an element, "[gggg,eeee]" for a nested container.
std::string Name(const DcmEntry &entry) {
  char text[16];
  const DcmTag &t = entry.Tag();
  std::snprintf(text, sizeof(text), entry.IsElement() ? "%04X,%04X" : "[%04X,%04X]", t.group, t.element);
  return text;
}

Tags Order(const DcmObj &c) {
  Tags tags;
  for (std::size_t i = 0; i < c.Count(); ++i) {
    tags.push_back(Name(*c.EntryAt(i)));
  }
  return tags;
}

std::unique_ptr<DcmTag> Text(std::uint16_t g, std::uint16_t e, std::string_view text) {
  return DcmTag::FromText(g, e, text);
}
std::unique_ptr<DcmTag> Undefined(std::uint16_t g, std::uint16_t e, std::string_view vr) {
  return DcmTag::FromBytes(g, e, UNDEFINED_LENGTH, nullptr, vr);
}
std::unique_ptr<DcmTag> Delimiter(std::uint16_t e) { return DcmTag::FromBytes(0xFFFE, e, 0, nullptr, "DL"); }

std::uint32_t GroupLengthValue(const DcmObj &c, std::uint16_t group) {
  const DcmTag *t = c.FindElement(group, 0x0000);
  if (t == nullptr || t->data.size() != 4) {
    ADD_FAILURE() << "no 4-byte group length";
    return 0;
  }
  return t->data[0] | t->data[1] << 8 | t->data[2] << 16 | static_cast<std::uint32_t>(t->data[3]) << 24;
}

TEST(DcmObjTest, Defaults) {
  const DcmObj c;
  EXPECT_EQ(c.Count(), 0u);
  EXPECT_EQ(c.transferSyntax, "1.2.840.10008.1.2");
  EXPECT_FALSE(c.explicitVR);
  EXPECT_EQ(c.header.Key(), 0u);
  EXPECT_EQ(c.header.VR(), "");
  EXPECT_TRUE(c.IsContainer());
}

TEST(DcmObjTest, EntryAccessAndBadIndexes) {
  DcmObj c;
  c.Append(Text(0x0010, 0x0010, "A"));
  c.Append(std::make_unique<DcmObj>());
  c.Append(std::unique_ptr<DcmTag>()); // nothing to add
  ASSERT_EQ(c.Count(), 2u);
  EXPECT_TRUE(c.IsElement(0));
  EXPECT_FALSE(c.IsElement(1));
  EXPECT_NE(c.ElementAt(0), nullptr);
  EXPECT_EQ(c.ContainerAt(0), nullptr);
  EXPECT_EQ(c.ElementAt(1), nullptr);
  EXPECT_NE(c.ContainerAt(1), nullptr);
  EXPECT_FALSE(c.IsElement(2));
  EXPECT_EQ(c.ElementAt(2), nullptr);
  EXPECT_EQ(c.ContainerAt(99), nullptr);
  EXPECT_EQ(c.EntryAt(2), nullptr);

  c.InsertAt(0, Text(0x0008, 0x0020, "20240101"));
  c.InsertAt(c.Count(), Text(0x0020, 0x0010, "1"));
  c.InsertAt(100, Text(0x0020, 0x0011, "2")); // past the end: appended
  EXPECT_EQ(Order(c), (Tags{"0008,0020", "0010,0010", "[0000,0000]", "0020,0010", "0020,0011"}));
  c.RemoveAt(2);
  c.RemoveAt(100);
  EXPECT_EQ(Order(c), (Tags{"0008,0020", "0010,0010", "0020,0010", "0020,0011"}));
}

struct PutOrderCase {
  const char *name;
  Tags before;
  std::uint16_t group;
  std::uint16_t element;
  Tags after;
};

// ctest shows the case by its name.
void PrintTo(const PutOrderCase &c, std::ostream *os) { *os << c.name; }

class PutOrderTest : public ::testing::TestWithParam<PutOrderCase> {};

TEST_P(PutOrderTest, InsertsBeforeTheFirstGreaterTag) {
  const PutOrderCase &p = GetParam();
  DcmObj c;
  for (const std::string &tag : p.before) {
    unsigned g = 0, e = 0;
    std::sscanf(tag.c_str(), "%x,%x", &g, &e);
    c.Append(Text(static_cast<std::uint16_t>(g), static_cast<std::uint16_t>(e), "x"));
  }
  c.Put(Text(p.group, p.element, "new"));
  EXPECT_EQ(Order(c), p.after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PutOrderTest,
    ::testing::Values(
        PutOrderCase{"Empty", {}, 0x0010, 0x0010, {"0010,0010"}},
        PutOrderCase{
            "SmallestGoesFirst", {"0010,0010", "0020,000D"}, 0x0008, 0x0016, {"0008,0016", "0010,0010", "0020,000D"}},
        PutOrderCase{
            "GreatestGoesLast", {"0008,0016", "0010,0010"}, 0x7FE0, 0x0010, {"0008,0016", "0010,0010", "7FE0,0010"}},
        PutOrderCase{"SameGroupGreaterElement",
                     {"0010,0010", "0010,0030"},
                     0x0010,
                     0x0020,
                     {"0010,0010", "0010,0020", "0010,0030"}},
        PutOrderCase{"GreaterGroupSmallerElement",
                     {"0008,0090", "0010,0010"},
                     0x0009,
                     0x0001,
                     {"0008,0090", "0009,0001", "0010,0010"}},
        PutOrderCase{
            "ComparedUnsigned", {"0008,0016", "8000,0001"}, 0x7FE0, 0x8000, {"0008,0016", "7FE0,8000", "8000,0001"}},
        PutOrderCase{"UnsortedStopsAtFirstGreater",
                     {"0020,000D", "0008,0016"},
                     0x0010,
                     0x0010,
                     {"0010,0010", "0020,000D", "0008,0016"}}),
    [](const ::testing::TestParamInfo<PutOrderCase> &info) { return std::string(info.param.name); });

// Put remembers what it walked so that ascending Puts append at once; every
// way of changing walked entries must make it look again.
TEST(DcmObjTest, PutAfterChangesToWalkedEntriesStillOrders) {
  DcmObj c;
  c.PutBytes(0x0010, 0x0000, 4, "\0\0\0\0");
  c.Put(Text(0x0010, 0x0010, "AB"));
  c.Put(Text(0x0010, 0x0020, "CD"));
  EXPECT_EQ(GroupLengthValue(c, 0x0010), 20u);

  // A tag changed through the accessor: the next Put must see it.
  c.ElementAt(2)->group = 0x0020;
  c.Put(Text(0x0010, 0x0030, "EF"));
  EXPECT_EQ(Order(c), (Tags{"0010,0000", "0010,0010", "0010,0030", "0020,0020"}));

  // The group length element removed: nothing may still point at it.
  c.RemoveAt(0);
  c.Put(Text(0x0030, 0x0010, "GH"));
  EXPECT_EQ(Order(c), (Tags{"0010,0010", "0010,0030", "0020,0020", "0030,0010"}));

  // An appended flat sequence left open: a later Put lands inside its
  // content, which is not top level, so the next one goes after the close.
  c.Append(Undefined(0x0040, 0x0100, "SQ"));
  c.Append(Text(0x0008, 0x0001, "in"));
  c.Put(Text(0x0040, 0x0200, "IJ"));
  EXPECT_EQ(Order(c).back(), "0040,0200");
  c.Append(Delimiter(0xE0DD));
  c.Put(Text(0x0040, 0x0150, "KL"));
  EXPECT_EQ(Order(c), (Tags{"0010,0010", "0010,0030", "0020,0020", "0030,0010", "0040,0100", "0008,0001", "0040,0200",
                            "FFFE,E0DD", "0040,0150"}));
}

TEST(DcmObjTest, AscendingPutsKeepEveryGroupLength) {
  DcmObj c;
  for (std::uint16_t group : {0x0008, 0x0010}) {
    c.PutBytes(group, 0x0000, 4, "\0\0\0\0");
    for (std::uint16_t element = 0x10; element < 0x60; element += 0x10) {
      c.Put(Text(group, element, "AB"));
    }
  }
  EXPECT_EQ(GroupLengthValue(c, 0x0008), 5u * 10u);
  EXPECT_EQ(GroupLengthValue(c, 0x0010), 5u * 10u);
  c.Put(Text(0x0008, 0x0070, "ABCD")); // goes back into group 0008
  EXPECT_EQ(GroupLengthValue(c, 0x0008), 5u * 10u + 12u);
  EXPECT_EQ(Order(c)[6], "0008,0070");
}

TEST(DcmObjTest, PutReplacesTheValueInPlace) {
  DcmObj c;
  c.PutText(0x0028, 0x0004, "RGB");
  c.PutText(0x0028, 0x2110, "00");
  c.PutText(0x0028, 0x2112, "1");
  c.ElementAt(1)->SetVR("LO"); // replacement keeps the entry's own VR
  c.PutText(0x0028, 0x2110, "01");
  ASSERT_EQ(c.Count(), 3u);
  EXPECT_EQ(c.FindText(0x0028, 0x2110), "01");
  EXPECT_EQ(c.ElementAt(1)->VR(), "LO");
  EXPECT_EQ(c.ElementAt(1)->length, 2u);
  c.PutBytes(0x0028, 0x2110, 0, nullptr);
  EXPECT_EQ(c.Count(), 3u);
  EXPECT_EQ(c.ElementAt(1)->length, 0u);
  EXPECT_FALSE(c.ElementAt(1)->HasValue());
}

TEST(DcmObjTest, PutKeepsTheGroupLength) {
  DcmObj c;
  c.Append(DcmTag::FromUL(0x0028, 0x0000, 100));
  c.Append(DcmTag::FromUL(0x0010, 0x0000, 7)); // out of order, as a stream may be
  std::uint8_t two[2] = {1, 0};
  std::uint8_t four[4] = {1, 0, 0, 0};
  c.PutBytes(0x0028, 0x2110, 2, two);
  EXPECT_EQ(GroupLengthValue(c, 0x0028), 110u);
  c.PutBytes(0x0028, 0x2110, 4, four);
  EXPECT_EQ(GroupLengthValue(c, 0x0028), 112u);
  c.PutBytes(0x0028, 0x2110, 0, nullptr);
  EXPECT_EQ(GroupLengthValue(c, 0x0028), 108u);
  c.Put(Undefined(0x0028, 0x3000, "SQ")); // an undefined length counts as no value
  EXPECT_EQ(GroupLengthValue(c, 0x0028), 116u);
  c.Put(DcmTag::FromUL(0x0028, 0x0000, 50));
  EXPECT_EQ(GroupLengthValue(c, 0x0028), 50u);
  EXPECT_EQ(GroupLengthValue(c, 0x0010), 7u); // other groups untouched
  c.Put(DcmTag::FromUS(0x0028, 0x0000, 3));   // a 2-byte group length is no longer adjusted
  c.PutText(0x0028, 0x0002, "3");
  EXPECT_EQ(c.FindElement(0x0028, 0x0000)->length, 2u);
  EXPECT_EQ(c.FindUS(0x0028, 0x0000), 3);
}

TEST(DcmObjTest, GroupLengthAfterTheInsertionPointIsNotAdjusted) {
  DcmObj c;
  c.Append(Text(0x0028, 0x0010, "x"));
  c.Append(DcmTag::FromUL(0x0028, 0x0000, 100));
  c.PutText(0x0028, 0x0002, "ab");
  EXPECT_EQ(GroupLengthValue(c, 0x0028), 100u);
}

// (0008,0005), flat (0008,1140) holding one flat item with (0008,1150), (0010,0010).
class FlatSequenceTest : public ::testing::Test {
protected:
  void SetUp() override {
    c.Append(Text(0x0008, 0x0005, "ISO_IR 100"));
    c.Append(Undefined(0x0008, 0x1140, "SQ"));
    c.Append(Undefined(0xFFFE, 0xE000, "DL"));
    c.Append(Text(0x0008, 0x1150, "1.2.3"));
    c.Append(Delimiter(0xE00D));
    c.Append(Delimiter(0xE0DD));
    c.Append(Text(0x0010, 0x0010, "Doe"));
  }
  DcmObj c;
};

TEST_F(FlatSequenceTest, FindPassesOverSequenceContent) {
  EXPECT_EQ(c.FindText(0x0008, 0x1150), "");
  EXPECT_EQ(c.FindElement(0x0008, 0x1150), nullptr);
  EXPECT_EQ(c.FindText(0x0010, 0x0010), "Doe");
  EXPECT_EQ(c.FindText(0x0008, 0x0005), "ISO_IR 100");
}

TEST_F(FlatSequenceTest, PutDoesNotReplaceInsideTheSequence) {
  c.PutText(0x0008, 0x1150, "9.9");
  EXPECT_EQ(Order(c), (Tags{"0008,0005", "0008,1140", "FFFE,E000", "0008,1150", "FFFE,E00D", "FFFE,E0DD", "0008,1150",
                            "0010,0010"}));
  EXPECT_EQ(c.ElementAt(3)->GetText(), "1.2.3");
  EXPECT_EQ(c.FindText(0x0008, 0x1150), "9.9");
}

TEST_F(FlatSequenceTest, PutBeforeTheSequenceKeepsTheOrder) {
  c.PutText(0x0008, 0x1115, "x");
  EXPECT_EQ(Order(c), (Tags{"0008,0005", "0008,1115", "0008,1140", "FFFE,E000", "0008,1150", "FFFE,E00D", "FFFE,E0DD",
                            "0010,0010"}));
}

TEST_F(FlatSequenceTest, PutOfTheSequenceTagReplacesItsContent) {
  c.Put(DcmTag::FromBytes(0x0008, 0x1140, 0, nullptr));
  EXPECT_EQ(Order(c), (Tags{"0008,0005", "0008,1140", "0010,0010"}));
  EXPECT_EQ(c.ElementAt(1)->length, 0u);
}

TEST_F(FlatSequenceTest, InnerSequenceDelimiterDoesNotEndTheOuterOne) {
  // Nest a second flat sequence inside the item, before (0008,1150).
  c.InsertAt(3, Undefined(0x0008, 0x1199, "SQ"));
  c.InsertAt(4, Undefined(0xFFFE, 0xE000, "DL"));
  c.InsertAt(5, Text(0x0008, 0x1155, "4.5"));
  c.InsertAt(6, Delimiter(0xE00D));
  c.InsertAt(7, Delimiter(0xE0DD));
  EXPECT_EQ(c.FindText(0x0008, 0x1150), "");
  DcmObj item;
  item.PutText(0x0040, 0x0001, "AE");
  c.InsertSequence(0x0009, 0x0010, item);
  c.PutText(0x0008, 0x1160, "1");
  EXPECT_EQ(Order(c),
            (Tags{"0008,0005", "0008,1140", "FFFE,E000", "0008,1199", "FFFE,E000", "0008,1155", "FFFE,E00D",
                  "FFFE,E0DD", "0008,1150", "FFFE,E00D", "FFFE,E0DD", "0008,1160", "[0009,0010]", "0010,0010"}));
}

TEST_F(FlatSequenceTest, StrayDelimiterDoesNotHideLaterElements) {
  c.InsertAt(0, Delimiter(0xE0DD));
  EXPECT_EQ(c.FindText(0x0010, 0x0010), "Doe");
  c.PutText(0x0010, 0x0010, "Roe");
  EXPECT_EQ(c.Count(), 8u);
  EXPECT_EQ(c.FindText(0x0010, 0x0010), "Roe");
}

// (0028,0010), encapsulated (7FE0,0010) with an empty offset table and one
// fragment, then the sequence delimiter.
class EncapsulatedPixelDataTest : public ::testing::Test {
protected:
  void SetUp() override {
    c.Append(DcmTag::FromUS(0x0028, 0x0010, 480));
    c.Append(Undefined(0x7FE0, 0x0010, "OB"));
    c.Append(DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr, "DL"));
    const std::uint8_t jpeg[4] = {0xFF, 0xD8, 0xFF, 0xD9};
    c.Append(DcmTag::FromBytes(0xFFFE, 0xE000, 4, jpeg, "DL"));
    c.Append(Delimiter(0xE0DD));
  }
  DcmObj c;
};

TEST_F(EncapsulatedPixelDataTest, PutGoesAroundTheFragments) {
  c.PutText(0x0028, 0x2110, "01");
  c.PutBytes(0xFFFC, 0xFFFC, 2, "\0\0");
  EXPECT_EQ(Order(c),
            (Tags{"0028,0010", "0028,2110", "7FE0,0010", "FFFE,E000", "FFFE,E000", "FFFE,E0DD", "FFFC,FFFC"}));
  EXPECT_EQ(c.FindElement(0xFFFE, 0xE000), nullptr);
  EXPECT_NE(c.FindElement(0xFFFC, 0xFFFC), nullptr);
}

TEST_F(EncapsulatedPixelDataTest, PutOfNativePixelDataReplacesTheFragments) {
  const std::vector<std::uint8_t> pixels(16, 7);
  c.PutBytes(0x7FE0, 0x0010, 16, pixels.data());
  EXPECT_EQ(Order(c), (Tags{"0028,0010", "7FE0,0010"}));
  EXPECT_EQ(c.ElementAt(1)->data, pixels);
}

TEST(DcmObjTest, FindUS) {
  DcmObj c;
  c.Append(DcmTag::FromUS(0x0028, 0x0010, 480));
  c.Append(DcmTag::FromBytes(0x0028, 0x0011, 0, nullptr));
  auto nested = std::make_unique<DcmObj>();
  nested->header.group = 0x0028;
  nested->header.element = 0x0100;
  nested->Append(DcmTag::FromUS(0x0028, 0x0101, 8));
  c.Append(std::move(nested));
  EXPECT_EQ(c.FindUS(0x0028, 0x0010), 480);
  EXPECT_EQ(c.FindUS(0x0028, 0x0011), 0); // present without a value
  EXPECT_EQ(c.FindUS(0x0028, 0x0002), 0); // missing
  EXPECT_EQ(c.FindUS(0x0028, 0x0101), 0); // inside a nested container
  EXPECT_EQ(c.FindUS(0x0028, 0x0100), 0); // a nested container is not an element
}

TEST(DcmObjTest, PutOfANestedSequenceTagSetsItsHeaderValue) {
  DcmObj c;
  DcmObj item;
  item.PutText(0x0008, 0x1150, "1.2");
  c.InsertSequence(0x0008, 0x1140, item);
  c.PutBytes(0x0008, 0x1140, 4, "abcd");
  ASSERT_EQ(c.Count(), 1u);
  const DcmObj *sequence = c.ContainerAt(0);
  ASSERT_NE(sequence, nullptr);
  EXPECT_EQ(sequence->header.length, 4u);
  EXPECT_EQ(sequence->header.VR(), "SQ");
  EXPECT_EQ(sequence->Count(), 1u); // the content stays
}

TEST(DcmObjTest, InsertSequencePlacement) {
  DcmObj c;
  c.explicitVR = true;
  c.PutText(0x0040, 0x0001, "STATION");
  c.PutText(0x0040, 0x1001, "RP1");
  DcmObj step;
  step.PutText(0x0040, 0x0002, "20240309");
  c.InsertSequence(0x0040, 0x0100, step);
  c.InsertSequence(0x0040, 0x0100, step);
  EXPECT_EQ(Order(c), (Tags{"0040,0001", "[0040,0100]", "[0040,0100]", "0040,1001"}));

  const DcmObj *sequence = c.ContainerAt(1);
  ASSERT_NE(sequence, nullptr);
  EXPECT_EQ(sequence->header.VR(), "SQ");
  EXPECT_EQ(sequence->header.length, 0u);
  EXPECT_TRUE(sequence->explicitVR);
  EXPECT_EQ(sequence->FindText(0x0040, 0x0002), "20240309");

  // InsertSequence never replaces and keeps a copy: the source stays the caller's.
  step.PutText(0x0040, 0x0002, "19990101");
  EXPECT_EQ(sequence->FindText(0x0040, 0x0002), "20240309");
  EXPECT_EQ(step.Count(), 1u);
}

TEST(DcmObjTest, InsertSequenceHeaderVR) {
  DcmObj c;
  const DcmObj empty;
  c.InsertSequence(0xFFFE, 0xE000, empty);
  c.InsertSequence(0x0009, 0xE000, empty);
  c.InsertSequence(0x0009, 0x1000, empty);
  ASSERT_EQ(Order(c), (Tags{"[0009,1000]", "[0009,E000]", "[FFFE,E000]"}));
  EXPECT_EQ(c.ContainerAt(0)->header.VR(), "SQ");
  EXPECT_EQ(c.ContainerAt(1)->header.VR(), ""); // element E000 of any group
  EXPECT_EQ(c.ContainerAt(2)->header.VR(), ""); // an item
}

TEST(DcmObjTest, InsertSequenceSkipsFlatContent) {
  DcmObj c;
  c.PutText(0x0040, 0x0001, "STATION");
  c.Append(Undefined(0x0040, 0x0275, "SQ"));
  c.Append(Undefined(0xFFFE, 0xE000, "DL"));
  c.Append(Text(0x0040, 0x0007, "x"));
  c.Append(Delimiter(0xE00D));
  c.Append(Delimiter(0xE0DD));
  c.Append(Text(0x0040, 0x1001, "RP1"));
  c.InsertSequence(0x0040, 0x0400, DcmObj());
  EXPECT_EQ(Order(c), (Tags{"0040,0001", "0040,0275", "FFFE,E000", "0040,0007", "FFFE,E00D", "FFFE,E0DD", "[0040,0400]",
                            "0040,1001"}));
}

// The worklist query's way of building a sequence of one item.
TEST(DcmObjTest, SequenceOfOneItem) {
  DcmObj identifier;
  identifier.PutText(0x0010, 0x0010, "");
  identifier.PutText(0x0040, 0x1001, "");
  {
    DcmObj item;
    item.PutText(0x0040, 0x0002, "20240309");
    item.PutText(0x0008, 0x0060, "ES");
    DcmObj sequence;
    sequence.InsertSequence(0xFFFE, 0xE000, item);
    identifier.InsertSequence(0x0040, 0x0100, sequence);
  }
  EXPECT_EQ(Order(identifier), (Tags{"0010,0010", "[0040,0100]", "0040,1001"}));
  const DcmObj *sequence = identifier.ContainerAt(1);
  ASSERT_EQ(sequence->Count(), 1u);
  const DcmObj *item = sequence->ContainerAt(0);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->header.group, 0xFFFE);
  EXPECT_EQ(item->header.element, 0xE000);
  EXPECT_EQ(item->header.VR(), "");
  EXPECT_EQ(Order(*item), (Tags{"0008,0060", "0040,0002"}));
}

TEST(DcmObjTest, CopyFromKeepsElementOrderAndPlacesSequencesByTag) {
  // Entries in stream order, as a reader appends them.
  DcmObj source;
  source.Append(Text(0x0008, 0x0020, "20240309"));
  source.Append(Text(0x0020, 0x000D, "1.2"));
  source.Append(Text(0x0010, 0x0010, "Doe"));
  DcmObj item;
  item.PutText(0x0008, 0x1150, "1.2.840.10008.5.1.4.1.1.7");
  auto sequence = std::make_unique<DcmObj>();
  sequence->header.group = 0x0008;
  sequence->header.element = 0x1140;
  sequence->header.SetVR("SQ");
  sequence->header.length = 40; // encoded size from an earlier write: not copied
  sequence->InsertSequence(0xFFFE, 0xE000, item);
  source.Append(std::move(sequence));

  DcmObj copy;
  copy.explicitVR = true;
  copy.CopyFrom(source);
  EXPECT_EQ(Order(copy), (Tags{"0008,0020", "[0008,1140]", "0020,000D", "0010,0010"}));
  const DcmObj *copied = copy.ContainerAt(1);
  ASSERT_NE(copied, nullptr);
  EXPECT_EQ(copied->header.length, 0u);
  EXPECT_TRUE(copied->explicitVR);
  ASSERT_EQ(copied->Count(), 1u);
  EXPECT_EQ(copied->ContainerAt(0)->FindText(0x0008, 0x1150), "1.2.840.10008.5.1.4.1.1.7");

  // A deep copy: changing the source leaves the copy alone.
  source.ElementAt(2)->data[0] = 'R';
  source.ContainerAt(3)->ContainerAt(0)->PutText(0x0008, 0x1150, "9");
  EXPECT_EQ(copy.FindText(0x0010, 0x0010), "Doe");
  EXPECT_EQ(copied->ContainerAt(0)->FindText(0x0008, 0x1150), "1.2.840.10008.5.1.4.1.1.7");
}

TEST(DcmObjTest, CopyFromCopiesElementsExactly) {
  DcmObj source;
  source.Append(DcmTag::FromBytes(0x0009, 0x1001, 3, "abc", "OB"));
  source.Append(Undefined(0x7FE0, 0x0010, "OB"));
  DcmObj copy;
  copy.CopyFrom(source);
  ASSERT_EQ(copy.Count(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(copy.ElementAt(i)->Key(), source.ElementAt(i)->Key());
    EXPECT_EQ(copy.ElementAt(i)->vr, source.ElementAt(i)->vr);
    EXPECT_EQ(copy.ElementAt(i)->length, source.ElementAt(i)->length);
    EXPECT_EQ(copy.ElementAt(i)->data, source.ElementAt(i)->data);
  }
}

TEST(DcmObjTest, CopyFromItself) {
  DcmObj c;
  c.PutText(0x0010, 0x0010, "Doe");
  c.InsertSequence(0x0040, 0x0100, DcmObj());
  c.CopyFrom(c);
  EXPECT_EQ(Order(c), (Tags{"0010,0010", "[0040,0100]", "0010,0010", "[0040,0100]"}));
}

TEST(DcmObjTest, ClearDestroysEntriesAndKeepsTheRest) {
  DcmObj c;
  c.transferSyntax = "1.2.840.10008.1.2.1";
  c.explicitVR = true;
  c.header.group = 0x0040;
  c.header.element = 0x0100;
  DcmObj item;
  item.InsertSequence(0x0008, 0x1140, DcmObj());
  c.InsertSequence(0xFFFE, 0xE000, item);
  c.PutText(0x0010, 0x0010, "Doe");
  c.Clear();
  EXPECT_EQ(c.Count(), 0u);
  EXPECT_EQ(c.transferSyntax, "1.2.840.10008.1.2.1");
  EXPECT_TRUE(c.explicitVR);
  EXPECT_EQ(c.header.element, 0x0100);
  c.PutText(0x0010, 0x0010, "Roe"); // usable again
  EXPECT_EQ(c.FindText(0x0010, 0x0010), "Roe");
}

// Runs work on a thread with a 256 KiB stack.
void RunWithSmallStack(void (*work)()) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 256 * 1024);
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, &attributes,
                [](void *w) -> void * {
                  reinterpret_cast<void (*)()>(w)();
                  return nullptr;
                },
                reinterpret_cast<void *>(work)),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

// A hostile file can nest items very deeply; letting the tree go must not
// take stack in proportion to the depth.
TEST(DcmObjTest, DeeplyNestedContainersAreDestroyedWithoutRecursion) {
  static std::size_t remaining = 0;
  RunWithSmallStack([] {
    auto inner = std::make_unique<DcmObj>();
    for (int level = 0; level < 50000; ++level) {
      auto outer = std::make_unique<DcmObj>();
      outer->Append(DcmTag::FromUS(0x0028, 0x0010, 1));
      outer->Append(std::move(inner));
      inner = std::move(outer);
    }
    inner->RemoveAt(1);
    remaining = inner->Count();
    for (int level = 0; level < 50000; ++level) {
      auto outer = std::make_unique<DcmObj>();
      outer->Append(std::move(inner));
      inner = std::move(outer);
    }
    inner->Clear();
    for (int level = 0; level < 50000; ++level) {
      auto outer = std::make_unique<DcmObj>();
      outer->Append(std::move(inner));
      inner = std::move(outer);
    }
  });
  EXPECT_EQ(remaining, 1u);
}

} // namespace
} // namespace fw
