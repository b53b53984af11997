// Query response values cut to their VR's maximum: where the cut falls
// (characters, not bytes, under UTF-8; each PN component group; each of
// several values), what is left alone, and the WARNING line.
#include "net/query/ValueBounds.h"

#include "dicom/DcmTag.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <string>

namespace fw {
namespace {

using test::LogCapture;

struct BoundCase {
  const char *name;
  const char *vr;
  std::string value;
  std::string charset; // (0008,0005), empty: none
  std::string expected;
  bool warned;
};

std::string Repeat(const std::string &piece, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) {
    all += piece;
  }
  return all;
}

TEST(ValueBoundsTest, ValuesAreCutToTheirVrMaximum) {
  const std::string e = "\xC3\xA9"; // U+00E9 in UTF-8
  const BoundCase cases[] = {
      {"LO of 64 stays", "LO", std::string(64, 'a'), "", std::string(64, 'a'), false},
      {"LO of 65 is cut", "LO", std::string(65, 'a'), "", std::string(64, 'a'), true},
      {"SH of 17 is cut to 16", "SH", std::string(17, 'b'), "", std::string(16, 'b'), true},
      {"trailing spaces do not count", "SH", std::string(16, 'b') + "  ", "", std::string(16, 'b') + "  ", false},
      {"each of several values", "CS", std::string(20, 'c') + "\\OK", "", std::string(16, 'c') + "\\OK", true},
      {"each PN component group", "PN", std::string(70, 'A') + "=" + std::string(70, 'B'), "",
       std::string(64, 'A') + "=" + std::string(64, 'B'), true},
      {"UTF-8 counts characters", "LO", Repeat(e, 64), "ISO_IR 192", Repeat(e, 64), false},
      {"UTF-8 cut falls between characters", "LO", Repeat(e, 65), "ISO_IR 192", Repeat(e, 64), true},
      {"multi-byte sets allow 4 bytes a character", "PN", std::string(200, 'x'), "\\ISO 2022 IR 87",
       std::string(200, 'x'), false},
      {"ST is one value of 1024", "ST", std::string(1000, 's') + "\\" + std::string(100, 's'), "",
       std::string(1000, 's') + "\\" + std::string(23, 's'), true},
      {"UT has no maximum", "UT", std::string(20000, 'u'), "", std::string(20000, 'u'), false},
      {"UI padded with NUL after the cut", "UI", "1." + std::string(70, '2'), "", "1." + std::string(62, '2'), true},
  };
  for (const BoundCase &c : cases) {
    SCOPED_TRACE(c.name);
    DcmObj identifier;
    if (!c.charset.empty()) {
      identifier.Put(DcmTag::FromText(0x0008, 0x0005, c.charset, "CS"));
    }
    identifier.Put(DcmTag::FromText(0x0011, 0x0010, c.value, c.vr));
    LogCapture log;
    BoundValueLengths(identifier, "CFind::ReadRSP");
    std::string expected = c.expected;
    if (expected.size() % 2 != 0) {
      expected.push_back(std::string(c.vr) == "UI" ? '\0' : ' ');
    }
    const DcmTag &element = *identifier.FindElement(0x0011, 0x0010);
    EXPECT_EQ(std::string(element.data.begin(), element.data.end()), expected);
    EXPECT_EQ(log.Messages().size(), c.warned ? 1u : 0u) << testing::PrintToString(log.Messages());
  }
}

TEST(ValueBoundsTest, NestedItemsAreCutAndTheLineNamesTheElement) {
  DcmObj identifier;
  DcmObj sequence;
  auto item = std::make_unique<DcmObj>();
  item->Put(DcmTag::FromText(0x0040, 0x0001, std::string(40, 'T'), "AE"));
  sequence.Append(std::move(item));
  identifier.InsertSequence(0x0040, 0x0100, sequence);
  LogCapture log;
  BoundValueLengths(identifier, "CFind::ReadRSP");
  EXPECT_EQ(log.Messages(),
            std::vector<std::string>{"WARNING, CFind::ReadRSP, (0040,0001) AE value of 40 bytes cut to 16 characters"});
}

} // namespace
} // namespace fw
