// The built-in data dictionary: the rows the toolkit fixes, its conventions
// (groups, group lengths, two-VR names, Windows-1252 names) and that the
// indexed look-up answers exactly as a scan from the first row would.
#include "dicom/DataDictionary.h"
#include "dicom/DcmTag.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace fw {
namespace {

struct Row {
  std::uint16_t group;
  std::uint16_t element;
  std::string vr;
  std::string name;
};

std::string Describe(std::uint16_t group, std::uint16_t element) {
  char text[16];
  std::snprintf(text, sizeof(text), "(%04X,%04X)", group, element);
  return text;
}

std::vector<Row> RowsOfGroup(std::uint16_t group) {
  std::vector<Row> rows;
  for (std::size_t i = 0; i < DataDictionaryRows; ++i) {
    const DictionaryEntry &e = DataDictionary[i];
    if (e.group == group) {
      rows.push_back({e.group, e.element, e.vr, e.name});
    }
  }
  return rows;
}

// The command, file meta and structural groups hold exactly these rows.
const std::vector<Row> FIXED_ROWS = {
    {0x0000, 0x0000, "UL", "Group Length"},
    {0x0000, 0x0002, "UI", "Affected SOP Class UID"},
    {0x0000, 0x0003, "UI", "Requested SOP Class UID"},
    {0x0000, 0x0100, "US", "Command Field"},
    {0x0000, 0x0110, "US", "Message ID"},
    {0x0000, 0x0120, "US", "Message ID Being Responded To"},
    {0x0000, 0x0600, "AE", "Move Destination"},
    {0x0000, 0x0700, "US", "Priority"},
    {0x0000, 0x0800, "US", "Data Set Type"},
    {0x0000, 0x0900, "US", "Status"},
    {0x0000, 0x0901, "AT", "Offending Element"},
    {0x0000, 0x0902, "LO", "Error Comment"},
    {0x0000, 0x0903, "US", "Error ID"},
    {0x0000, 0x1000, "UI", "Affected SOP Instance UID"},
    {0x0000, 0x1001, "UI", "Requested SOP Instance UID"},
    {0x0000, 0x1002, "US", "Event Type ID"},
    {0x0000, 0x1005, "AT", "Attribute Identifier List"},
    {0x0000, 0x1008, "US", "Action Type ID"},
    {0x0000, 0x1020, "US", "Number of Remaining Sub-Operations"},
    {0x0000, 0x1021, "US", "Number of Completed Sub-Operations"},
    {0x0000, 0x1022, "US", "Number of Failed Sub-Operations"},
    {0x0000, 0x1023, "US", "Number of Warning Sub-Operations"},
    {0x0000, 0x1030, "AE", "Move Originator AET"},
    {0x0000, 0x1031, "US", "Move Originator Message ID"},
    {0x0002, 0x0000, "UL", "Group Length"},
    {0x0002, 0x0001, "OB", "File Meta Information Version"},
    {0x0002, 0x0002, "UI", "Media Storage SOP Class UID"},
    {0x0002, 0x0003, "UI", "Media Storage SOP Instance UID"},
    {0x0002, 0x0010, "UI", "Transfer Syntax UID"},
    {0x0002, 0x0012, "UI", "Implementation Class UID"},
    {0x0002, 0x0013, "SH", "Implementation Version Name"},
    {0x0002, 0x0016, "AE", "Source Application Entity Title"},
    {0x0002, 0x0100, "UI", "Private Information Creator UID"},
    {0x0002, 0x0102, "OB", "Private Information"},
    {0x7FE0, 0x0000, "UL", "Group 7FE0 Length"},
    {0x7FE0, 0x0010, "OW", "Pixel Data"},
    {0xFFFA, 0xFFFA, "SQ", "Digital Signatures Sequence"},
    {0xFFFC, 0xFFFC, "OB", "Data Set Trailing Padding"},
    {0xFFFE, 0xE000, "DL", "Item"},
    {0xFFFE, 0xE00D, "DL", "Item Delimitation Item"},
    {0xFFFE, 0xE0DD, "DL", "Sequence Delimitation Item"},
};

TEST(DataDictionaryTest, FixedGroupsHoldExactlyTheirRows) {
  for (const std::uint16_t group : {0x0000, 0x0002, 0x7FE0, 0xFFFA, 0xFFFC, 0xFFFE}) {
    std::vector<Row> expected;
    for (const Row &r : FIXED_ROWS) {
      if (r.group == group) {
        expected.push_back(r);
      }
    }
    const std::vector<Row> actual = RowsOfGroup(group);
    ASSERT_EQ(actual.size(), expected.size()) << "group " << Describe(group, 0);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(actual[i].element, expected[i].element) << Describe(group, expected[i].element);
      EXPECT_EQ(actual[i].vr, expected[i].vr) << Describe(group, expected[i].element);
      EXPECT_EQ(actual[i].name, expected[i].name) << Describe(group, expected[i].element);
    }
  }
}

// Rows whose VR or name a fault in the generator would change.
const std::vector<Row> SPOT_ROWS = {
    {0x0028, 0x0106, "SS", "Smallest Image Pixel Value US or"},
    {0x0028, 0x0107, "SS", "Largest Image Pixel Value US or"},
    {0x0028, 0x0108, "SS", "Smallest Pixel Value in Series US or"},
    {0x0028, 0x0109, "SS", "Largest Pixel Value in Series US or"},
    {0x0028, 0x0110, "SS", "Smallest Image Pixel Value in Plane US or"},
    {0x0028, 0x0111, "SS", "Largest Image Pixel Value in Plane US or"},
    {0x0028, 0x0120, "SS", "Pixel Padding Value US or"},
    {0x0028, 0x1101, "SS", "Red Palette Color Lookup Table Descriptor US or"},
    {0x0028, 0x1102, "SS", "Green Palette Color Lookup Table Descriptor US or"},
    {0x0028, 0x1103, "SS", "Blue Palette Color Lookup Table Descriptor US or"},
    {0x0040, 0x9211, "SS", "Real World Value Last Value Mapped US or"},
    {0x0040, 0x9216, "SS", "Real World Value First Value Mapped US or"},
    {0x0060, 0x3004, "SS", "Histogram First Bin Value US or"},
    {0x0060, 0x3006, "SS", "Histogram Last Bin Value US or"},
    {0x5400, 0x0110, "OW", "Channel Minimum Value OB or"},
    {0x5400, 0x0112, "OW", "Channel Maximum Value OB or"},
    {0x5400, 0x100A, "OW", "Waveform Padding Value OB or"},
    {0x5400, 0x1010, "OW", "Waveform Data OB or"},
    {0x6000, 0x3000, "OW", "Overlay Data OB or"},
    // two VRs beyond the list above, retired, and three VRs
    {0x0028, 0x3006, "OW", "LUT Data US or"},
    {0x0028, 0x0104, "SS", "Smallest Valid Pixel Value (RET) US or"},
    {0x0028, 0x1200, "OW", "Gray Lookup Table Data (RET) US or SS or"},
    // retired
    {0x0008, 0x0040, "US", "Data Set Type (RET)"},
    {0x5000, 0x0005, "US", "Curve Dimensions (RET)"},
    // Windows-1252 names
    {0x0010, 0x0010, "PN", "Patient\x92s Name"},
    {0x0008, 0x1070, "PN", "Operators\x92 Name"},
    {0x0010, 0x1060, "PN", "Patient\x92s Mother\x92s Birth Name"},
    {0x0018, 0x8150, "DS", "Exposure Time in \xB5S"},
    {0x0018, 0x8151, "DS",
     "X-Ray Tube Current in \xB5"
     "A"},
    {0x0020, 0x9251, "FD", "R\x96R Interval Time Nominal"},
    {0x6000, 0x1100, "US", "Overlay Descriptor \x96 Gray (RET)"},
    {0x6000, 0x1203, "US", "Overlays \x96 Blue (RET)"},
    // everyday attributes
    {0x0008, 0x0016, "UI", "SOP Class UID"},
    {0x0008, 0x1140, "SQ", "Referenced Image Sequence"},
    {0x0028, 0x0010, "US", "Rows"},
    {0x0040, 0x0100, "SQ", "Scheduled Procedure Step Sequence"},
    {0x0008, 0x0000, "UL", "Group Length"},
    {0x6000, 0x0010, "US", "Overlay Rows"},
    {0x0072, 0x006D, "UN", "Selector UN Value"},
};

TEST(DataDictionaryTest, SpotRows) {
  for (const Row &r : SPOT_ROWS) {
    DcmTag t;
    t.group = r.group;
    t.element = r.element;
    LookupVR(t);
    EXPECT_EQ(t.VR(), r.vr) << Describe(r.group, r.element);
    EXPECT_EQ(LookupName(t), r.name) << Describe(r.group, r.element);
  }
}

TEST(DataDictionaryTest, UnknownTags) {
  const std::uint16_t unknown[][2] = {{0x6002, 0x3000}, // repeating group: only the base number is known
                                      {0x5010, 0x0005}, {0x0009, 0x1010}, // private
                                      {0x0029, 0x0010}, {0x0014, 0x3050}, // a group outside the table
                                      {0x0020, 0x3100},                   // a repeating element range
                                      {0x7F00, 0x0010}, {0x4FFE, 0x0000}, // no group length row
                                      {0xFFFE, 0x0000}, {0xFFFF, 0xFFFF}};
  for (const auto &tag : unknown) {
    DcmTag t;
    t.group = tag[0];
    t.element = tag[1];
    t.SetVR("SQ");
    LookupVR(t);
    EXPECT_EQ(t.VR(), "UN") << Describe(tag[0], tag[1]);
    EXPECT_EQ(t.vr[2], 0);
    EXPECT_EQ(LookupName(t), "*** Unidentified ***") << Describe(tag[0], tag[1]);
    EXPECT_EQ(FindDictionaryEntry(tag[0], tag[1]), nullptr);
  }
}

const std::vector<std::uint16_t> GROUPS = {
    0x0000, 0x0002, 0x0004, 0x0008, 0x0010, 0x0012, 0x0018, 0x0020, 0x0022, 0x0028, 0x0032, 0x0038, 0x003A, 0x0040,
    0x0042, 0x0050, 0x0054, 0x0060, 0x0070, 0x0072, 0x0088, 0x0100, 0x0400, 0x2000, 0x2010, 0x2020, 0x2030, 0x2040,
    0x2050, 0x2100, 0x2110, 0x2120, 0x2130, 0x2200, 0x3002, 0x3004, 0x3006, 0x3008, 0x300A, 0x300C, 0x300E, 0x4000,
    0x4008, 0x4FFE, 0x5000, 0x5200, 0x5400, 0x5600, 0x6000, 0x7FE0, 0xFFFA, 0xFFFC, 0xFFFE};

TEST(DataDictionaryTest, GroupsAndGroupLengths) {
  std::set<std::uint16_t> present;
  for (std::size_t i = 0; i < DataDictionaryRows; ++i) {
    present.insert(DataDictionary[i].group);
  }
  EXPECT_EQ(present, std::set<std::uint16_t>(GROUPS.begin(), GROUPS.end()));

  for (const std::uint16_t group : GROUPS) {
    const DictionaryEntry *row = FindDictionaryEntry(group, 0x0000);
    if (group == 0x4FFE || group == 0xFFFA || group == 0xFFFC || group == 0xFFFE) {
      EXPECT_EQ(row, nullptr) << Describe(group, 0);
      continue;
    }
    ASSERT_NE(row, nullptr) << Describe(group, 0);
    EXPECT_STREQ(row->vr, "UL");
    EXPECT_STREQ(row->name, group == 0x7FE0 ? "Group 7FE0 Length" : "Group Length");
  }
}

TEST(DataDictionaryTest, RowsAreWellFormedAndStrictlyAscending) {
  ASSERT_GT(DataDictionaryRows, 2429u); // a newer edition than the toolkit's first table
  for (std::size_t i = 0; i < DataDictionaryRows; ++i) {
    const DictionaryEntry &e = DataDictionary[i];
    const std::string where = Describe(e.group, e.element);
    EXPECT_TRUE(e.vr[0] >= 'A' && e.vr[0] <= 'Z' && e.vr[1] >= 'A' && e.vr[1] <= 'Z') << where;
    EXPECT_EQ(e.vr[2], 0) << where;
    EXPECT_EQ(e.vr[3], 0) << where;
    ASSERT_NE(e.name, nullptr) << where;
    EXPECT_GT(std::strlen(e.name), 0u) << where;
    if (i > 0) {
      const DictionaryEntry &p = DataDictionary[i - 1];
      EXPECT_TRUE(p.group < e.group || (p.group == e.group && p.element < e.element))
          << Describe(p.group, p.element) << " before " << where;
    }
  }
  const DictionaryEntry &end = DataDictionary[DataDictionaryRows];
  EXPECT_EQ(end.group, 0);
  EXPECT_EQ(end.element, 0);
  EXPECT_EQ(end.vr[0], 0);
  EXPECT_EQ(end.name, nullptr);
}

// The row a scan from the first row finds, as the look-up is defined.
const DictionaryEntry *ScanFor(std::uint16_t group, std::uint16_t element) {
  for (const DictionaryEntry *e = DataDictionary; e->vr[0] != 0; ++e) {
    if (e->group == group && e->element == element) {
      return e;
    }
  }
  return nullptr;
}

TEST(DataDictionaryTest, IndexFindsWhatTheScanFinds) {
  std::vector<std::pair<std::uint16_t, std::uint16_t>> probes = {{0, 0}, {0xFFFF, 0xFFFF}, {0xFFFE, 0xE0DE}};
  for (std::size_t i = 0; i < DataDictionaryRows; ++i) {
    const DictionaryEntry &e = DataDictionary[i];
    probes.emplace_back(e.group, e.element);
    probes.emplace_back(e.group, static_cast<std::uint16_t>(e.element + 1));
    probes.emplace_back(e.group, static_cast<std::uint16_t>(e.element - 1));
    probes.emplace_back(static_cast<std::uint16_t>(e.group + 1), e.element);
  }
  for (const auto &[group, element] : probes) {
    ASSERT_EQ(FindDictionaryEntry(group, element), ScanFor(group, element)) << Describe(group, element);
  }
}

} // namespace
} // namespace fw
