#include "acquisition/StationRecords.h"
#include "acquisition/AccessionNumber.h"

#include <gtest/gtest.h>

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

TEST(AccessionNumberTest, DateAndMinuteThenTheCounter) {
  std::int32_t counter = 0;
  EXPECT_EQ(GenerateAccessionNumber(At(2024, 3, 9, 14, 5), counter), "24030914050");
  EXPECT_EQ(GenerateAccessionNumber(At(2024, 3, 9, 14, 5), counter), "24030914051");
  EXPECT_EQ(counter, 2);
  // Single-digit fields are zero-padded; the counter is not.
  counter = 123;
  EXPECT_EQ(GenerateAccessionNumber(At(2001, 1, 2, 3, 4), counter), "0101020304123");
}

TEST(AccessionNumberTest, CounterWrapsAfter9999) {
  std::int32_t counter = 9999;
  EXPECT_EQ(GenerateAccessionNumber(At(2024, 3, 9, 14, 5), counter), "24030914059999");
  EXPECT_EQ(counter, 10000);
  EXPECT_EQ(GenerateAccessionNumber(At(2024, 3, 9, 14, 5), counter), "24030914050");
  EXPECT_EQ(counter, 1);
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
