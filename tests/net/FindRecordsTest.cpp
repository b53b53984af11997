// C-FIND without a peer: the request command set, the identifiers the four
// key builders make, the readers of response identifiers, and the character
// set rules, checked on the bytes that go out and the records that come in.
#include "dicom/DcmObj.h"
#include "net/query/CFind.h"
#include "net/query/CharacterSet.h"
#include "net/query/ImageInfo.h"
#include "net/query/SeriesInfo.h"
#include "net/query/StudyInfo.h"
#include "net/query/TWorklistItem.h"
#include "tests/net/FindTestSupport.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::DecodeImplicit;
using test::Elem;
using test::EncodeImplicit;
using test::FlatItem;
using test::FlatSequence;
using test::Header;
using test::ItemOf;
using test::Le16;
using test::Le32;

// ---------------------------------------------------------------- command set

struct CommandCase {
  const char *name;
  std::string_view sopClass;
  std::uint32_t groupLength;
};

class FindCommandTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(FindCommandTest, IsTheRequestOfTheTableByteForByte) {
  DcmObj command;
  CFind::BuildRQ(command, GetParam().sopClass, 3);
  std::string uid(GetParam().sopClass);
  if (uid.size() % 2 != 0) {
    uid.push_back('\0');
  }
  const std::string expected = Elem(0, 0x0000, Le32(GetParam().groupLength)) + Elem(0, 0x0002, uid) +
                               Elem(0, 0x0100, Le16(0x0020)) + Elem(0, 0x0110, Le16(3)) + Elem(0, 0x0700, Le16(0)) +
                               Elem(0, 0x0800, Le16(0x0102));
  EXPECT_EQ(EncodeImplicit(command), expected);
  // The group length counts exactly the bytes after its own element.
  EXPECT_EQ(expected.size() - 12, GetParam().groupLength);
}

INSTANTIATE_TEST_SUITE_P(Models, FindCommandTest,
                         ::testing::Values(CommandCase{"StudyRoot", STUDY_ROOT_FIND_UID, 76},
                                           CommandCase{"Worklist", MODALITY_WORKLIST_FIND_UID, 70}),
                         [](const auto &info) { return std::string(info.param.name); });

// ----------------------------------------------------------------- identifiers

TEST(FindKeysTest, StudyQueryWithOnlyPatientIdSendsSixteenKeys) {
  StudyInfo query;
  query.patientID = "123";
  DcmObj identifier;
  BuildStudyKeys(query, identifier);

  const std::string expected =
      Elem(0x0008, 0x0020, "") + Elem(0x0008, 0x0030, "") + Elem(0x0008, 0x0050, "") + Elem(0x0008, 0x0052, "STUDY ") +
      Elem(0x0008, 0x0061, "") + Elem(0x0008, 0x0080, "") + Elem(0x0008, 0x0090, "") + Elem(0x0008, 0x1030, "") +
      Elem(0x0010, 0x0010, "") + Elem(0x0010, 0x0020, "123 ") + Elem(0x0010, 0x0030, "") + Elem(0x0010, 0x0040, "") +
      Elem(0x0010, 0x1010, "") + Elem(0x0010, 0x1030, "") + Elem(0x0020, 0x000D, "") + Elem(0x0020, 0x0010, "");
  EXPECT_EQ(identifier.Count(), 16u);
  EXPECT_EQ(EncodeImplicit(identifier), expected);
}

TEST(FindKeysTest, StudyKeysTakeEveryFieldUnchanged) {
  StudyInfo query{"1.2.3", "20240309", "101500", "S1",       "Chest", "ACC1", "Inst", "REF^DOC",
                  "US",    "PID",      "DOE*",   "19700101", "M",     "054Y", "70"};
  DcmObj identifier;
  BuildStudyKeys(query, identifier);
  EXPECT_EQ(identifier.FindText(0x0020, 0x000D), "1.2.3");
  EXPECT_EQ(identifier.FindElement(0x0020, 0x000D)->data.back(), 0) << "UI padded with a zero byte";
  EXPECT_EQ(identifier.FindText(0x0008, 0x0061), "US");
  EXPECT_EQ(identifier.FindText(0x0010, 0x0010), "DOE*") << "no wildcard added or removed";
  EXPECT_EQ(identifier.FindText(0x0010, 0x1010), "054Y");
  // Reading the keys back as if they were a response gives the record again.
  StudyInfo back;
  ReadStudyInfo(back, identifier);
  EXPECT_EQ(back, query);
}

TEST(FindKeysTest, SeriesAndImageKeysCarryTheirLevelInTagOrder) {
  SeriesInfo series;
  series.seriesInstanceUID = "1.2.3.4";
  DcmObj seriesKeys;
  BuildSeriesKeys(series, seriesKeys);
  ImageInfo image;
  image.sopInstanceUID = "1.2.3.4.5";
  DcmObj imageKeys;
  BuildImageKeys(image, imageKeys);

  struct Expect {
    DcmObj *keys;
    std::size_t count;
    std::string level;
  } cases[] = {{&seriesKeys, 11, "SERIES"}, {&imageKeys, 16, "IMAGE"}};
  for (const Expect &c : cases) {
    SCOPED_TRACE(c.level);
    ASSERT_EQ(c.keys->Count(), c.count);
    EXPECT_EQ(c.keys->FindText(0x0008, 0x0052), c.level);
    for (std::size_t i = 1; i < c.keys->Count(); ++i) {
      EXPECT_LT(c.keys->ElementAt(i - 1)->Key(), c.keys->ElementAt(i)->Key());
    }
  }
  EXPECT_EQ(seriesKeys.FindText(0x0020, 0x000E), "1.2.3.4");
  EXPECT_EQ(imageKeys.FindText(0x0008, 0x0018), "1.2.3.4.5");
  EXPECT_EQ(imageKeys.FindElement(0x0028, 0x0008)->length, 0u);
}

// The worklist identifier of a query for one day and one modality.
std::string ExpectedWorklistIdentifier() {
  const std::string step = Elem(0x0008, 0x0060, "US") + Elem(0x0032, 0x1070, "") + Elem(0x0040, 0x0001, "") +
                           Elem(0x0040, 0x0002, "20240309") + Elem(0x0040, 0x0003, "") + Elem(0x0040, 0x0006, "") +
                           Elem(0x0040, 0x0007, "") + Elem(0x0040, 0x0009, "") + Elem(0x0040, 0x0010, "") +
                           Elem(0x0040, 0x0011, "") + Elem(0x0040, 0x0012, "");
  return Elem(0x0008, 0x0050, "") + Elem(0x0010, 0x0010, "DOE^JOHN") + Elem(0x0010, 0x0020, "") +
         Elem(0x0010, 0x0030, "") + Elem(0x0010, 0x0040, "") + Elem(0x0010, 0x2110, "") + Elem(0x0020, 0x000D, "") +
         Elem(0x0032, 0x1032, "") + Elem(0x0032, 0x1060, "") + Elem(0x0040, 0x0100, ItemOf(step)) +
         Elem(0x0040, 0x1001, "") + Elem(0x0040, 0x1003, "");
}

TEST(FindKeysTest, WorklistIdentifierHasTheStepItemInDefinedLengthForm) {
  TWorklistItem query;
  query.patientName = "DOE^JOHN";
  query.scheduledStartDate = "20240309";
  query.modality = "US";
  // Fields that are sent empty whatever the record holds.
  query.allergies = "LATEX";
  query.scheduledStationAETitle = "SCANNER1";
  query.requestedContrastAgent = "IODINE";
  query.requestedProcedureID = "RP1";
  query.requestedProcedurePriority = "HIGH";
  DcmObj identifier;
  BuildWorklistKeys(query, identifier);
  EXPECT_EQ(EncodeImplicit(identifier), ExpectedWorklistIdentifier());
}

TEST(FindKeysTest, WorklistStepFieldsGoIntoTheItem) {
  TWorklistItem query;
  query.scheduledStartTime = "0800";
  query.scheduledPerformingPhysicianName = "PERF^DOC";
  query.scheduledProcedureStepDescription = "Abdomen";
  query.scheduledProcedureStepID = "SPS1";
  query.scheduledStationName = "ROOM1";
  query.scheduledProcedureStepLocation = "L2";
  query.preMedication = "None";
  query.requestingPhysician = "REQ^DOC";
  query.requestedProcedureDescription = "Ultrasound";
  query.studyInstanceUID = "1.2.3";
  DcmObj identifier;
  BuildWorklistKeys(query, identifier);
  EXPECT_EQ(identifier.FindText(0x0040, 0x0003), "") << "step keys are not at top level";
  TWorklistItem back;
  ReadWorklistItem(back, identifier);
  EXPECT_EQ(back, query);
}

// ------------------------------------------------------------------- readers

struct StudyReadCase {
  const char *name;
  std::string response;
  std::string StudyInfo::*field;
  std::string expected;
};

class StudyReadTest : public ::testing::TestWithParam<StudyReadCase> {};

TEST_P(StudyReadTest, FillsTheField) {
  DcmObj identifier;
  ASSERT_TRUE(DecodeImplicit(GetParam().response, identifier));
  StudyInfo study;
  ReadStudyInfo(study, identifier);
  EXPECT_EQ(study.*GetParam().field, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Responses, StudyReadTest,
    ::testing::Values(
        StudyReadCase{"CommaInNameBecomesCaret", Elem(0x0010, 0x0010, "DOE,JOHN"), &StudyInfo::patientName, "DOE^JOHN"},
        StudyReadCase{"TrailingBlanksRemoved", Elem(0x0010, 0x0010, " DOE,J  "), &StudyInfo::patientName, "DOE^J"},
        StudyReadCase{"ModalitiesInStudyAfterModality", Elem(0x0008, 0x0060, "US") + Elem(0x0008, 0x0061, "US\\CT "),
                      &StudyInfo::modality, "US\\CT"},
        StudyReadCase{"ModalityAfterModalitiesInStudy", Elem(0x0008, 0x0061, "US\\CT ") + Elem(0x0008, 0x0060, "MR"),
                      &StudyInfo::modality, "MR"},
        StudyReadCase{"LaterElementWins", Elem(0x0010, 0x0020, "A1") + Elem(0x0010, 0x0020, "B2"),
                      &StudyInfo::patientID, "B2"},
        StudyReadCase{"EmptyLaterElementPassedOver", Elem(0x0010, 0x0020, "A1") + Elem(0x0010, 0x0020, ""),
                      &StudyInfo::patientID, "A1"},
        StudyReadCase{"UidCutAtZeroByte", Elem(0x0020, 0x000D, std::string("1.2.3\0", 6)), &StudyInfo::studyInstanceUID,
                      "1.2.3"},
        // A defined-length sequence decodes into a nested container, which
        // the study reader passes over.
        StudyReadCase{"NestedContainerPassedOver",
                      Elem(0x0008, 0x0050, "ACC1") + Elem(0x0008, 0x1110, ItemOf(Elem(0x0008, 0x0050, "INNER"))),
                      &StudyInfo::accessionNumber, "ACC1"},
        // The elements of a flat sequence are element entries of the
        // identifier itself, and are read.
        StudyReadCase{"FlatSequenceElementsRead",
                      Elem(0x0008, 0x0050, "ACC1") +
                          FlatSequence(0x0008, 0x1110, FlatItem(Elem(0x0008, 0x0050, "FLAT"))),
                      &StudyInfo::accessionNumber, "FLAT"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FindReadTest, StudyResponseFillsEveryField) {
  const std::string response =
      Elem(0x0008, 0x0020, "20240309") + Elem(0x0008, 0x0030, "101500") + Elem(0x0008, 0x0050, "ACC1") +
      Elem(0x0008, 0x0052, "STUDY ") + Elem(0x0008, 0x0061, "US") + Elem(0x0008, 0x0080, "Inst") +
      Elem(0x0008, 0x0090, "REF^DOC ") + Elem(0x0008, 0x1030, "Chest ") + Elem(0x0010, 0x0010, "DOE^JOHN") +
      Elem(0x0010, 0x0020, "PID1") + Elem(0x0010, 0x0030, "19700101") + Elem(0x0010, 0x0040, "M ") +
      Elem(0x0010, 0x1010, "054Y") + Elem(0x0010, 0x1030, "70") + Elem(0x0020, 0x000D, std::string("1.2.3\0", 6)) +
      Elem(0x0020, 0x0010, "S1");
  DcmObj identifier;
  ASSERT_TRUE(DecodeImplicit(response, identifier));
  StudyInfo study;
  ReadStudyInfo(study, identifier);
  const std::vector<std::string> expected = {"1.2.3",    "20240309", "101500",  "S1",   "Chest",
                                             "ACC1",     "Inst",     "REF^DOC", "US",   "PID1",
                                             "DOE^JOHN", "19700101", "M",       "054Y", "70"};
  EXPECT_EQ(FieldTexts(study), expected);
}

TEST(FindReadTest, SeriesResponseTakesFrameOfReference) {
  DcmObj identifier;
  ASSERT_TRUE(DecodeImplicit(Elem(0x0008, 0x0060, "US") + Elem(0x0020, 0x000E, "1.2.3.4 ") +
                                 Elem(0x0020, 0x0011, "7 ") + Elem(0x0020, 0x0052, "1.2.9 "),
                             identifier));
  SeriesInfo series;
  ReadSeriesInfo(series, identifier);
  EXPECT_EQ(series.modality, "US");
  EXPECT_EQ(series.seriesInstanceUID, "1.2.3.4");
  EXPECT_EQ(series.seriesNumber, "7");
  EXPECT_EQ(series.frameOfReferenceUID, "1.2.9");
}

TEST(FindReadTest, ImageResponseNumbersAndSkippedSequences) {
  // A flat sequence (with a flat sequence inside it) whose content would
  // overwrite the SOP instance UID, and a nested one, must both be passed over.
  const std::string inner = FlatSequence(0x0008, 0x1140, FlatItem(Elem(0x0008, 0x0018, "9.9.9 ")));
  const std::string response =
      Elem(0x0008, 0x0018, "1.2.3 ") + FlatSequence(0x0008, 0x1115, FlatItem(inner + Elem(0x0008, 0x0018, "8.8 "))) +
      Elem(0x0008, 0x1140, ItemOf(Elem(0x0008, 0x0018, "7.7 "))) + Elem(0x0018, 0x1210, "B30f") +
      Elem(0x0020, 0x0013, "12") + Elem(0x0028, 0x0002, Le16(3)) + Elem(0x0028, 0x0004, "RGB ") +
      Elem(0x0028, 0x0008, "25") + Elem(0x0028, 0x0010, Le16(480)) + Elem(0x0028, 0x0011, Le16(640)) +
      Elem(0x0028, 0x0101, Le16(8));
  DcmObj identifier;
  ASSERT_TRUE(DecodeImplicit(response, identifier));
  ImageInfo image;
  ReadImageInfo(image, identifier);
  EXPECT_EQ(image.sopInstanceUID, "1.2.3");
  EXPECT_EQ(image.convolutionKernel, "B30f");
  EXPECT_EQ(image.instanceNumber, "12");
  EXPECT_EQ(image.photometricInterpretation, "RGB");
  EXPECT_EQ(image.numberOfFrames, "25");
  EXPECT_EQ(image.samplesPerPixel, 3);
  EXPECT_EQ(image.rows, 480);
  EXPECT_EQ(image.columns, 640);
  EXPECT_EQ(image.bitsStored, 8);
}

struct WorklistForm {
  const char *name;
  std::string response;
};

class WorklistReadTest : public ::testing::TestWithParam<WorklistForm> {};

TEST_P(WorklistReadTest, StepItemFieldsLandInTheRecord) {
  DcmObj identifier;
  ASSERT_TRUE(DecodeImplicit(GetParam().response, identifier));
  TWorklistItem item;
  ReadWorklistItem(item, identifier);
  EXPECT_EQ(item.patientName, "DOE^JOHN");
  EXPECT_EQ(item.allergies, "LATEX");
  EXPECT_EQ(item.scheduledStartDate, "20240309");
  EXPECT_EQ(item.scheduledStartTime, "0800");
  EXPECT_EQ(item.modality, "US");
  EXPECT_EQ(item.scheduledStationAETitle, "SCANNER1");
  EXPECT_EQ(item.requestedContrastAgent, "IODINE");
  EXPECT_EQ(item.scheduledProcedureStepID, "SPS1");
  EXPECT_EQ(item.requestedProcedureID, "RP1");
  EXPECT_EQ(item.requestedProcedurePriority, "HIGH");
}

const std::string WORKLIST_TOP = Elem(0x0010, 0x0010, "DOE^JOHN") + Elem(0x0010, 0x2110, "LATEX ");
const std::string WORKLIST_STEP = Elem(0x0008, 0x0060, "US") + Elem(0x0032, 0x1070, "IODINE") +
                                  Elem(0x0040, 0x0001, "SCANNER1") + Elem(0x0040, 0x0002, "20240309") +
                                  Elem(0x0040, 0x0003, "0800") + Elem(0x0040, 0x0009, "SPS1");
const std::string WORKLIST_END = Elem(0x0040, 0x1001, "RP1 ") + Elem(0x0040, 0x1003, "HIGH");

INSTANTIATE_TEST_SUITE_P(
    SequenceForms, WorklistReadTest,
    ::testing::Values(
        WorklistForm{"DefinedLength", WORKLIST_TOP + Elem(0x0040, 0x0100, ItemOf(WORKLIST_STEP)) + WORKLIST_END},
        WorklistForm{"UndefinedLength",
                     WORKLIST_TOP + FlatSequence(0x0040, 0x0100, FlatItem(WORKLIST_STEP)) + WORKLIST_END},
        WorklistForm{"UndefinedSequenceDefinedItem",
                     WORKLIST_TOP + FlatSequence(0x0040, 0x0100, ItemOf(WORKLIST_STEP)) + WORKLIST_END},
        // The step attributes one level deeper still count.
        WorklistForm{"DeeperNesting", WORKLIST_TOP +
                                          Elem(0x0040, 0x0100, ItemOf(Elem(0x0040, 0x0008, ItemOf(WORKLIST_STEP)))) +
                                          WORKLIST_END}),
    [](const auto &info) { return std::string(info.param.name); });

// ------------------------------------------------------------ character sets

const std::string GREEK_UTF8 = "\xCE\xA0\xCE\xB1\xCF\x80\xCE\xB1\xCE\xB4\xCF\x8C\xCF\x80\xCE\xBF\xCF\x85\xCE\xBB"
                               "\xCE\xBF\xCF\x82^\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82";

struct CharsetQueryCase {
  const char *name;
  std::string nameKey;     // the record's UTF-8 text
  std::string declaration; // (0008,0005) sent, "" for none
  std::string sentName;    // (0010,0010) sent, padded
};

std::ostream &operator<<(std::ostream &out, const CharsetQueryCase &c) { return out << c.name; }

class CharsetQueryTest : public ::testing::TestWithParam<CharsetQueryCase> {};

// Both query records, with the name at the top level and in the step item.
TEST_P(CharsetQueryTest, KeysGoOutInTheSmallestRepertoire) {
  const CharsetQueryCase &c = GetParam();
  StudyInfo study;
  study.patientName = c.nameKey;
  DcmObj studyKeys;
  BuildStudyKeys(study, studyKeys);
  TWorklistItem item;
  item.scheduledPerformingPhysicianName = c.nameKey;
  DcmObj worklistKeys;
  BuildWorklistKeys(item, worklistKeys);
  const std::string studyBytes = EncodeImplicit(studyKeys);
  const std::string worklistBytes = EncodeImplicit(worklistKeys);
  for (const std::string *bytes : {&studyBytes, &worklistBytes}) {
    if (c.declaration.empty()) {
      EXPECT_NE(bytes->substr(0, 4), Le16(0x0008) + Le16(0x0005));
    } else {
      EXPECT_EQ(bytes->find(Elem(0x0008, 0x0005, c.declaration)), 0u) << "declared first";
    }
  }
  EXPECT_NE(studyBytes.find(Elem(0x0010, 0x0010, c.sentName)), std::string::npos);
  EXPECT_NE(worklistBytes.find(Elem(0x0040, 0x0006, c.sentName)), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Names, CharsetQueryTest,
                         ::testing::Values(CharsetQueryCase{"AsciiDeclaresNothing", "MULLER*", "", "MULLER* "},
                                           CharsetQueryCase{"Latin1AsBefore", "M\xC3\x9CLLER^J\xC3\x96RG", "ISO_IR 100",
                                                            "M\xDCLLER^J\xD6RG "},
                                           CharsetQueryCase{"GreekInUtf8", GREEK_UTF8, "ISO_IR 192", GREEK_UTF8 + " "},
                                           CharsetQueryCase{"JapaneseWildcardInUtf8", "\xE5\xB1\xB1\xE7\x94\xB0*",
                                                            "ISO_IR 192", "\xE5\xB1\xB1\xE7\x94\xB0* "}),
                         [](const auto &info) { return std::string(info.param.name); });

struct CharsetReadCase {
  const char *name;
  std::string declaration; // the (0008,0005) value, or empty for none
  std::string nameValue;   // the (0010,0010) value as it arrives
  std::string expected;    // UTF-8
  bool logged;             // a warning about undecodable bytes
};

std::ostream &operator<<(std::ostream &out, const CharsetReadCase &c) { return out << c.name; }

class CharsetReadTest : public ::testing::TestWithParam<CharsetReadCase> {};

TEST_P(CharsetReadTest, StudyAndWorklistRecordsGetUtf8) {
  const CharsetReadCase &c = GetParam();
  test::LogCapture log;
  std::string response;
  if (!c.declaration.empty()) {
    response += Elem(0x0008, 0x0005, c.declaration);
  }
  response += Elem(0x0010, 0x0010, c.nameValue);
  DcmObj identifier;
  ASSERT_TRUE(DecodeImplicit(response, identifier));
  StudyInfo study;
  ReadStudyInfo(study, identifier);
  TWorklistItem item;
  ReadWorklistItem(item, identifier);
  EXPECT_EQ(study.patientName, c.expected);
  EXPECT_EQ(item.patientName, c.expected);
  EXPECT_EQ(log.StartingWith("WARNING, C-FIND response, (0010,0010): ").size(), c.logged ? 2u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Declarations, CharsetReadTest,
    ::testing::Values(
        CharsetReadCase{"Utf8", "ISO_IR 192", "M\xC3\x9CLLER^J", "M\xC3\x9CLLER^J", false},
        CharsetReadCase{"Utf8OutsideLatin1", "ISO_IR 192", "\xC5\x81UKASZ ", "\xC5\x81UKASZ", false},
        CharsetReadCase{"Latin1Declared", "ISO_IR 100", "M\xDCLLER^J", "M\xC3\x9CLLER^J", false},
        CharsetReadCase{"NoDeclarationIsLatin1", "", "M\xDCLLER^J", "M\xC3\x9CLLER^J", false},
        CharsetReadCase{"Greek", "ISO_IR 126", "\xC3\xE9\xFE\xF1\xE3\xEF\xF2",
                        "\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82", false},
        CharsetReadCase{"JapaneseStartsWithEscape", "\\ISO 2022 IR 87", "\x1B$B;3ED\x1B(B^\x1B$BB@O:\x1B(B",
                        "\xE5\xB1\xB1\xE7\x94\xB0^\xE5\xA4\xAA\xE9\x83\x8E", false},
        CharsetReadCase{"BrokenUtf8ShownAsReplacement", "ISO_IR 192", "M\xDCLLER", "M\xEF\xBF\xBDLLER", true},
        CharsetReadCase{"UnknownTerm", "ISO_IR 999", "M\xDCLLER", "M\xEF\xBF\xBDLLER", true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CharacterSetTest, Utf8SeriesAndImageValuesKept) {
  DcmObj identifier;
  ASSERT_TRUE(DecodeImplicit(Elem(0x0008, 0x0005, "ISO_IR 192") + Elem(0x0008, 0x103E, "K\xC3\xB6rper ") +
                                 Elem(0x0018, 0x1210, "F\xC3\xBC\xC3\x9F"),
                             identifier));
  SeriesInfo series;
  ReadSeriesInfo(series, identifier);
  ImageInfo image;
  ReadImageInfo(image, identifier);
  EXPECT_EQ(series.seriesDescription, "K\xC3\xB6rper");
  EXPECT_EQ(image.convolutionKernel, "F\xC3\xBC\xC3\x9F");
}

TEST(CharacterSetTest, WorklistItemMayDeclareItsOwnCharacterSet) {
  // The top level is Cyrillic; the step item says UTF-8 for its own values.
  const std::string step = Elem(0x0008, 0x0005, "ISO_IR 192") + Elem(0x0040, 0x0006, "M\xC3\xBCller");
  DcmObj identifier;
  ASSERT_TRUE(DecodeImplicit(Elem(0x0008, 0x0005, "ISO_IR 144") + Elem(0x0010, 0x0010, "\xB8\xD2\xD0\xDD") +
                                 Elem(0x0040, 0x0100, ItemOf(step)),
                             identifier));
  TWorklistItem item;
  ReadWorklistItem(item, identifier);
  EXPECT_EQ(item.patientName, "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD");
  EXPECT_EQ(item.scheduledPerformingPhysicianName, "M\xC3\xBCller");
}

} // namespace
} // namespace fw
