#include "station/StationRecords.h"
#include "station/AccessionNumber.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <span>
#include <string>

namespace fw {
namespace {

std::tm At(int year, int month, int day, int hour, int minute) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  return t;
}

bool IsCrockfordBase32(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z' && c != 'I' && c != 'L' && c != 'O' && c != 'U');
}

TEST(AccessionNumberTest, TheMinuteThenSixCharactersThatReadBackWithoutDoubt) {
  const struct {
    std::tm now;
    const char *prefix;
  } cases[] = {
      {At(2024, 3, 9, 14, 5), "2403091405"},
      {At(2001, 1, 2, 3, 4), "0101020304"}, // every field zero-padded
      {At(2099, 12, 31, 23, 59), "9912312359"},
  };
  for (const auto &c : cases) {
    const std::string number = GenerateAccessionNumber(c.now);
    ASSERT_EQ(number.size(), 16u) << number; // the most an SH holds
    EXPECT_EQ(number.substr(0, 10), c.prefix);
    EXPECT_TRUE(std::all_of(number.begin() + 10, number.end(), IsCrockfordBase32)) << number;
  }
}

TEST(AccessionNumberTest, NeverTheSameNumberTwiceInOneMinuteEvenFromAStuckSource) {
  const RandomBytes stuck = [](std::span<std::uint8_t> bytes) {
    std::fill(bytes.begin(), bytes.end(), 0x5A);
    return true;
  };
  const RandomBytes none = [](std::span<std::uint8_t>) { return false; };
  for (const RandomBytes &source : {RandomBytes(KernelRandomBytes), stuck, none}) {
    std::set<std::string> numbers;
    for (int i = 0; i < 2000; ++i) {
      const std::string number = GenerateAccessionNumber(At(2024, 3, 9, 14, 5), source);
      ASSERT_TRUE(numbers.insert(number).second) << "repeated " << number;
      ASSERT_TRUE(std::all_of(number.begin() + 10, number.end(), IsCrockfordBase32)) << number;
    }
  }
}

TEST(StationRecordsTest, BuiltInDefaultsAndModalityList) {
  const setupcfg config;
  EXPECT_EQ(config.LocalAET, "QUILLBROOK");
  EXPECT_EQ(config.InstitutionName, "Institution Name");
  EXPECT_EQ(config.PacsAET, "PACS");
  EXPECT_EQ(config.PacsPort, "104");
  EXPECT_EQ(config.WlAET, "WORKLIST");
  EXPECT_EQ(config.Reserved, "0");
  EXPECT_EQ(config.ModalityIndex, 0);
  EXPECT_EQ(ModalityAt(0), "US");
  EXPECT_EQ(ModalityAt(5), "ES");
  EXPECT_EQ(ModalityAt(6), "OT");
  EXPECT_EQ(ModalityAt(7), "");
  EXPECT_EQ(ModalityAt(-1), "");
  EXPECT_EQ(StudyContext(), StudyInfo{});
}

} // namespace
} // namespace fw
