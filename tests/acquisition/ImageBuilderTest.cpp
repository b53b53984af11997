// The frame-to-DICOM builder: element table, the modality's storage classes,
// frames, file names, and the objects of every class as DCMTK, dicom3tools
// and pydicom read them.
#include "acquisition/ImageBuilder.h"

#include "acquisition/AcquisitionSession.h"
#include "acquisition/SGCallback.h"
#include "dicom/DcmObj.h"
#include "dicom/Tags.h"
#include "dicom/Uids.h"
#include "dicom/codec/JpegCodec.h"
#include "tests/acquisition/FakeFrameSource.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace fw {
namespace {

using test::PeerProcess;

std::tm At(int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 9;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

StudyInfo Context() {
  StudyInfo c;
  c.studyInstanceUID = "1.2.3.4";
  c.studyDate = "20240301";
  c.studyTime = "101500";
  c.studyID = "S1";
  c.studyDescription = "Colonoscopy";
  c.accessionNumber = "A123";
  c.institutionName = "General";
  c.referringPhysicianName = "Who^Doctor";
  c.modality = "US";
  c.patientID = "PID-007";
  c.patientName = "Doe^Jane";
  c.patientBirthDate = "19700101";
  c.patientSex = "F";
  return c;
}

// A solid RGB frame compressed as the capture pipeline does it.
EncodedFrame SolidFrame(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  for (std::size_t i = 0; i < rgb.size(); i += 3) {
    rgb[i] = r;
    rgb[i + 1] = g;
    rgb[i + 2] = b;
  }
  EncodedFrame frame;
  EXPECT_EQ(JpegEncode8({width, height, 3}, rgb.data(), JPEG_MODE_BASELINE, frame.data, CAPTURE_CHROMA), 0);
  return frame;
}

EncodedFrame Bytes(std::vector<std::uint8_t> bytes) { return EncodedFrame{std::move(bytes)}; }

std::string Key(const DcmTag &t) {
  char text[16];
  std::snprintf(text, sizeof(text), "%04X,%04X", t.group, t.element);
  return text;
}

// The tags of the top-level elements before the pixel data, in file order.
std::vector<std::string> TagsBeforePixelData(const DcmObj &dataSet) {
  std::vector<std::string> tags;
  for (std::size_t i = 0; i < dataSet.Count(); ++i) {
    const DcmTag *t = dataSet.ElementAt(i);
    if (t == nullptr || t->Is(0x7FE0, 0x0010)) {
      break;
    }
    tags.push_back(Key(*t));
  }
  return tags;
}

// Whether the data set has the sequence at its top level, as an element or
// as a nested container.
bool HasSequence(const DcmObj &dataSet, std::uint16_t group, std::uint16_t element);

// A top-level sequence as read back (its entries are the items), or null.
const DcmObj *FindSequence(const DcmObj &dataSet, std::uint16_t group, std::uint16_t element) {
  for (std::size_t i = 0; i < dataSet.Count(); ++i) {
    const DcmEntry *entry = dataSet.EntryAt(i);
    if (entry != nullptr && entry->IsContainer()) {
      const auto *sequence = static_cast<const DcmObj *>(entry);
      if (sequence->header.Is(group, element)) {
        return sequence;
      }
    }
  }
  return nullptr;
}

bool HasSequence(const DcmObj &dataSet, std::uint16_t group, std::uint16_t element) {
  return FindSequence(dataSet, group, element) != nullptr || dataSet.FindElement(group, element) != nullptr;
}

class ImageBuilderTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_.path() / "temp");
    state_.baseUid = "2.25.1.2";
    state_.seriesInstanceUid = state_.baseUid + ".20";
  }
  LocalClock Fixed(std::tm t) const {
    return [t] { return t; };
  }
  CapturedFrames Frames(std::vector<EncodedFrame> frames, int width = 16, int height = 8) const {
    return CapturedFrames{std::move(frames), width, height, 25, 1};
  }
  std::unique_ptr<DcmObj> ReadBack(std::size_t index) const {
    auto dataSet = std::make_unique<DcmObj>();
    EXPECT_TRUE(dataSet->Read(state_.fileList.at(index).path));
    return dataSet;
  }

  test::TempDir dir_;
  test::LogCapture log_;
  AcquisitionState state_;
  StudyInfo context_ = Context();
};

const std::vector<std::string> STILL_TAGS = {
    "0008,0008", "0008,0012", "0008,0013", "0008,0016", "0008,0018", "0008,0020", "0008,0023", "0008,0030",
    "0008,0032", "0008,0033", "0008,0050", "0008,0060", "0008,0070", "0008,0080", "0008,0090", "0008,1030",
    "0008,103E", "0010,0010", "0010,0020", "0010,0030", "0010,0040", "0020,000D", "0020,000E", "0020,0010",
    "0020,0011", "0020,0013", "0020,0020", "0020,0060", "0028,0002", "0028,0004", "0028,0006", "0028,0010",
    "0028,0011", "0028,0100", "0028,0101", "0028,0102", "0028,0103", "0028,2110", "0028,2112", "0028,2114"};

TEST_F(ImageBuilderTest, AStillCarriesTheElementTableInOrderWithTheContextsValues) {
  ASSERT_TRUE(SaveStill(state_, context_, Frames({SolidFrame(16, 8, 10, 20, 30)}), dir_.folder(), Fixed(At(9, 8, 7))));
  const auto ds = ReadBack(0);
  EXPECT_EQ(TagsBeforePixelData(*ds), STILL_TAGS);
  EXPECT_EQ(ds->transferSyntax, JPEG_BASELINE);
  struct Expect {
    std::uint16_t group, element;
    std::string value;
  };
  const Expect expected[] = {
      {0x0008, 0x0008, "ORIGINAL\\PRIMARY"},
      {0x0008, 0x0012, "20240309"},
      {0x0008, 0x0013, "090807"},
      {0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.6.1"},
      {0x0008, 0x0018, "2.25.1.2.10.1"},
      {0x0008, 0x0020, "20240301"},
      {0x0008, 0x0023, "20240309"},
      {0x0008, 0x0030, "101500"},
      {0x0008, 0x0032, "090807"},
      {0x0008, 0x0033, "090807"},
      {0x0008, 0x0050, "A123"},
      {0x0008, 0x0060, "US"},
      {0x0008, 0x0070, "Framewell"},
      {0x0008, 0x0080, "General"},
      {0x0008, 0x0090, "Who^Doctor"},
      {0x0008, 0x1030, "Colonoscopy"},
      {0x0008, 0x103E, "Colonoscopy"},
      {0x0010, 0x0010, "Doe^Jane"},
      {0x0010, 0x0020, "PID-007"},
      {0x0010, 0x0030, "19700101"},
      {0x0010, 0x0040, "F"},
      {0x0020, 0x000D, "1.2.3.4"},
      {0x0020, 0x000E, "2.25.1.2.20"},
      {0x0020, 0x0010, "S1"},
      {0x0020, 0x0011, "1"},
      {0x0020, 0x0013, "1"},
      {0x0020, 0x0020, ""},
      {0x0020, 0x0060, ""},
      {0x0028, 0x0004, "YBR_FULL_422"},
      {0x0028, 0x2110, "01"},
      {0x0028, 0x2114, "ISO_10918_1"},
  };
  for (const auto &e : expected) {
    SCOPED_TRACE(e.value);
    EXPECT_EQ(ds->FindText(e.group, e.element), e.value);
  }
  EXPECT_EQ(ds->FindUS(0x0028, 0x0002), 3);
  EXPECT_EQ(ds->FindUS(0x0028, 0x0006), 0);
  EXPECT_EQ(ds->FindUS(0x0028, 0x0010), 8);  // rows: frame height
  EXPECT_EQ(ds->FindUS(0x0028, 0x0011), 16); // columns: frame width
  EXPECT_EQ(ds->FindUS(0x0028, 0x0100), 8);
  EXPECT_EQ(ds->FindUS(0x0028, 0x0102), 7);
  EXPECT_EQ(ds->FindElement(0x0008, 0x0005), nullptr);
  // 16 x 8 x 3 bytes over the size of the JPEG stream.
  const std::size_t stream = state_.fileList.empty() ? 0 : SolidFrame(16, 8, 10, 20, 30).data.size();
  EXPECT_NEAR(std::stod(ds->FindText(0x0028, 0x2112)), 384.0 / static_cast<double>(stream), 0.01);
}

// A save that starts at 23:59:59 on New Year's Eve, on a clock that reads
// the next day from its second reading on: every date and time of the object
// is the first reading's, whether it is a still or a clip.
TEST_F(ImageBuilderTest, EveryDateAndTimeOfAnObjectComesFromOneClockReading) {
  std::tm lastSecond{};
  lastSecond.tm_year = 2024 - 1900;
  lastSecond.tm_mon = 11;
  lastSecond.tm_mday = 31;
  lastSecond.tm_hour = 23;
  lastSecond.tm_min = 59;
  lastSecond.tm_sec = 59;
  std::tm nextDay{};
  nextDay.tm_year = 2025 - 1900;
  nextDay.tm_mon = 0;
  nextDay.tm_mday = 1;
  for (const bool clip : {false, true}) {
    SCOPED_TRACE(clip ? "clip" : "still");
    int readings = 0;
    const LocalClock midnight = [&] { return readings++ == 0 ? lastSecond : nextDay; };
    const bool saved = clip ? SaveClip(state_, context_, Frames({SolidFrame(8, 8, 1, 2, 3)}), dir_.folder(), midnight)
                            : SaveStill(state_, context_, Frames({SolidFrame(8, 8, 1, 2, 3)}), dir_.folder(), midnight);
    ASSERT_TRUE(saved);
    EXPECT_EQ(readings, 1);
    const auto ds = ReadBack(state_.fileList.size() - 1);
    EXPECT_EQ(ds->FindText(tag::InstanceCreationDate), "20241231");
    EXPECT_EQ(ds->FindText(tag::InstanceCreationTime), "235959");
    EXPECT_EQ(ds->FindText(tag::ContentDate), "20241231");
    EXPECT_EQ(ds->FindText(tag::AcquisitionTime), "235959");
    EXPECT_EQ(ds->FindText(tag::ContentTime), "235959");
  }
}

// Each row of the station's table: the classes, the Modality written, and
// the attributes only some classes have.
TEST_F(ImageBuilderTest, TheModalityChoosesTheClassesAndTheirAttributes) {
  struct Case {
    const char *modality;
    std::string_view still, clip;
    const char *written;
    const char *imageType;
    bool conversionType, burnedIn, acquisitionContext, anatomicRegionInClip;
  } cases[] = {
      {"US", ULTRASOUND_IMAGE_STORAGE, ULTRASOUND_MULTIFRAME_IMAGE_STORAGE, "US", "ORIGINAL\\PRIMARY", false, false,
       false, false},
      {"ES", VL_ENDOSCOPIC_IMAGE_STORAGE, VIDEO_ENDOSCOPIC_IMAGE_STORAGE, "ES", "ORIGINAL\\PRIMARY", false, false, true,
       true},
      {"XC", VL_PHOTOGRAPHIC_IMAGE_STORAGE, VIDEO_PHOTOGRAPHIC_IMAGE_STORAGE, "XC", "ORIGINAL\\PRIMARY", false, false,
       true, true},
      // VL Photographic allows only XC.
      {"GM", VL_PHOTOGRAPHIC_IMAGE_STORAGE, VIDEO_PHOTOGRAPHIC_IMAGE_STORAGE, "XC", "ORIGINAL\\PRIMARY", false, false,
       true, true},
      {"OT", VL_PHOTOGRAPHIC_IMAGE_STORAGE, VIDEO_PHOTOGRAPHIC_IMAGE_STORAGE, "XC", "ORIGINAL\\PRIMARY", false, false,
       true, true},
      // Secondary capture keeps any valid code.
      {"CT", SECONDARY_CAPTURE_IMAGE_STORAGE, MULTIFRAME_TRUE_COLOR_SC_IMAGE_STORAGE, "CT", "DERIVED\\SECONDARY", true,
       true, false, false},
      {"DX", SECONDARY_CAPTURE_IMAGE_STORAGE, MULTIFRAME_TRUE_COLOR_SC_IMAGE_STORAGE, "DX", "DERIVED\\SECONDARY", true,
       true, false, false},
      {"XA", SECONDARY_CAPTURE_IMAGE_STORAGE, MULTIFRAME_TRUE_COLOR_SC_IMAGE_STORAGE, "XA", "DERIVED\\SECONDARY", true,
       true, false, false},
      // Modality is Type 1: none, or a malformed code, is "other".
      {"", SECONDARY_CAPTURE_IMAGE_STORAGE, MULTIFRAME_TRUE_COLOR_SC_IMAGE_STORAGE, "OT", "DERIVED\\SECONDARY", true,
       true, false, false},
      {"ct", SECONDARY_CAPTURE_IMAGE_STORAGE, MULTIFRAME_TRUE_COLOR_SC_IMAGE_STORAGE, "OT", "DERIVED\\SECONDARY", true,
       true, false, false},
      {"US ", SECONDARY_CAPTURE_IMAGE_STORAGE, MULTIFRAME_TRUE_COLOR_SC_IMAGE_STORAGE, "US", "DERIVED\\SECONDARY", true,
       true, false, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string("modality \"") + c.modality + "\"");
    state_ = AcquisitionState{};
    state_.baseUid = "2.25.1.2";
    context_.modality = c.modality;
    context_.accessionNumber = std::string("M") + std::to_string(std::hash<std::string>{}(c.modality) % 100000);
    EXPECT_EQ(StillSopClassUid(c.modality), c.still);
    EXPECT_EQ(ClipSopClassUid(c.modality), c.clip);
    ASSERT_TRUE(SaveStill(state_, context_, Frames({SolidFrame(8, 8, 1, 2, 3)}), dir_.folder(), Fixed(At(9, 0, 0))));
    ASSERT_TRUE(SaveClip(state_, context_, Frames({SolidFrame(8, 8, 1, 2, 3), SolidFrame(8, 8, 1, 2, 3)}),
                         dir_.folder(), Fixed(At(9, 0, 1))));
    for (std::size_t i = 0; i < 2; ++i) {
      const bool clip = i == 1;
      SCOPED_TRACE(clip ? "clip" : "still");
      const auto ds = ReadBack(i);
      EXPECT_EQ(ds->FindText(0x0008, 0x0016), clip ? c.clip : c.still);
      EXPECT_EQ(state_.fileList[i].sopClassUid, clip ? c.clip : c.still);
      EXPECT_EQ(ds->FindText(0x0008, 0x0060), c.written);
      EXPECT_EQ(ds->FindText(0x0008, 0x0008), c.imageType);
      EXPECT_EQ(ds->FindText(0x0008, 0x0064), c.conversionType ? "WSD" : "");
      EXPECT_EQ(ds->FindElement(0x0008, 0x0064) != nullptr, c.conversionType);
      EXPECT_EQ(ds->FindText(0x0028, 0x0301), c.burnedIn ? "YES" : "");
      EXPECT_EQ(HasSequence(*ds, 0x0040, 0x0555), c.acquisitionContext);
      const DcmObj *region = FindSequence(*ds, 0x0008, 0x2218);
      EXPECT_EQ(region != nullptr, c.anatomicRegionInClip && clip);
      if (region != nullptr) {
        ASSERT_EQ(region->Count(), 1u);
        const DcmEntry *entry = region->EntryAt(0);
        ASSERT_TRUE(entry != nullptr && entry->IsContainer());
        const auto *item = static_cast<const DcmObj *>(entry);
        EXPECT_EQ(item->FindText(0x0008, 0x0100), "261665006");
        EXPECT_EQ(item->FindText(0x0008, 0x0102), "SCT");
        EXPECT_EQ(item->FindText(0x0008, 0x0104), "Unknown");
      }
    }
  }
}

TEST(StationIodsTest, OnlyTheTablesModalitiesAreStationModalities) {
  for (const char *modality : {"US", "ES", "XC", "GM", "OT", "CR", "CT", "MR", "DX", "XA", "RF"}) {
    EXPECT_TRUE(IsStationModality(modality)) << modality;
  }
  for (const char *modality : {"", "us", "US ", "SC", "XX", "ESX"}) {
    EXPECT_FALSE(IsStationModality(modality)) << modality;
  }
  EXPECT_EQ(StationSopClasses(),
            (std::vector<std::string>{
                std::string(ULTRASOUND_IMAGE_STORAGE), std::string(ULTRASOUND_MULTIFRAME_IMAGE_STORAGE),
                std::string(VL_ENDOSCOPIC_IMAGE_STORAGE), std::string(VIDEO_ENDOSCOPIC_IMAGE_STORAGE),
                std::string(VL_PHOTOGRAPHIC_IMAGE_STORAGE), std::string(VIDEO_PHOTOGRAPHIC_IMAGE_STORAGE),
                std::string(SECONDARY_CAPTURE_IMAGE_STORAGE), std::string(MULTIFRAME_TRUE_COLOR_SC_IMAGE_STORAGE)}));
}

TEST_F(ImageBuilderTest, EmptyContextFieldsBecomeZeroLengthElements) {
  context_.studyDescription.clear();
  context_.patientSex.clear();
  context_.studyInstanceUID.clear();
  context_.studyID.clear();
  ASSERT_TRUE(SaveStill(state_, context_, Frames({SolidFrame(8, 8, 0, 0, 0)}), dir_.folder(), Fixed(At(9, 0, 0))));
  const auto ds = ReadBack(0);
  // A study without its own ID is identified by its accession number.
  EXPECT_EQ(ds->FindText(0x0020, 0x0010), "A123");
  // No description: no Series Description either.
  std::vector<std::string> tags = STILL_TAGS;
  tags.erase(std::find(tags.begin(), tags.end(), "0008,103E"));
  EXPECT_EQ(TagsBeforePixelData(*ds), tags);
  for (auto [g, e] : {std::pair{0x0008, 0x1030}, {0x0010, 0x0040}, {0x0020, 0x000D}}) {
    const DcmTag *t = ds->FindElement(static_cast<std::uint16_t>(g), static_cast<std::uint16_t>(e));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->length, 0u);
  }
}

struct NameCase {
  const char *name;
  std::string patientName; // UTF-8, as the context holds it
  std::string term;        // (0008,0005) written, "" for none
  std::string stored;      // the (0010,0010) bytes of the file, unpadded
};

std::ostream &operator<<(std::ostream &out, const NameCase &c) { return out << c.name; }

class ObjectNameTest : public ImageBuilderTest, public ::testing::WithParamInterface<NameCase> {};

// Every character of the name reaches the file, and an independent reader
// (pydicom, by the object's own Specific Character Set) reads the same name.
TEST_P(ObjectNameTest, NameIsCarriedExactly) {
  const NameCase &c = GetParam();
  context_.patientName = c.patientName;
  context_.institutionName = "H\xC3\xB4pital";
  ASSERT_TRUE(SaveStill(state_, context_, Frames({SolidFrame(8, 8, 0, 0, 0)}), dir_.folder(), Fixed(At(9, 0, 0))));
  const auto ds = ReadBack(0);
  ASSERT_GT(ds->Count(), 1u);
  EXPECT_EQ(Key(*ds->ElementAt(0)), "0008,0005") << "the character set comes first";
  EXPECT_EQ(ds->FindText(0x0008, 0x0005), c.term);
  EXPECT_EQ(ds->FindText(0x0010, 0x0010), c.stored);
  const std::string script = R"(
import sys, pydicom
ds = pydicom.dcmread(sys.argv[1])
sys.stdout.buffer.write((str(ds.PatientName) + '|' + ds.InstitutionName).encode('utf-8'))
)";
  std::string out;
  std::string err;
  ASSERT_EQ(PeerProcess::Run({"/usr/bin/python3", "-c", script, state_.fileList[0].path}, &out, &err), 0) << err;
  EXPECT_EQ(out, c.patientName + "|H\xC3\xB4pital");
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, ObjectNameTest,
    ::testing::Values(
        // Byte for byte what the station always wrote for Latin-1 names.
        NameCase{"Latin1", "Mu\xC3\xB1oz^Jos\xC3\xA9", "ISO_IR 100", "Mu\xF1oz^Jos\xE9"},
        NameCase{"Greek",
                 "\xCE\xA0\xCE\xB1\xCF\x80\xCE\xB1\xCE\xB4\xCF\x8C\xCF\x80\xCE\xBF\xCF\x85\xCE\xBB\xCE\xBF\xCF\x82^"
                 "\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82",
                 "ISO_IR 192",
                 "\xCE\xA0\xCE\xB1\xCF\x80\xCE\xB1\xCE\xB4\xCF\x8C\xCF\x80\xCE\xBF\xCF\x85\xCE\xBB\xCE\xBF\xCF\x82^"
                 "\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82"},
        NameCase{"Japanese", "\xE5\xB1\xB1\xE7\x94\xB0^\xE5\xA4\xAA\xE9\x83\x8E", "ISO_IR 192",
                 "\xE5\xB1\xB1\xE7\x94\xB0^\xE5\xA4\xAA\xE9\x83\x8E"}),
    [](const ::testing::TestParamInfo<NameCase> &info) { return std::string(info.param.name); });

TEST_F(ImageBuilderTest, AsciiTextsDeclareNoCharacterSet) {
  ASSERT_TRUE(SaveStill(state_, context_, Frames({SolidFrame(8, 8, 0, 0, 0)}), dir_.folder(), Fixed(At(9, 0, 0))));
  EXPECT_EQ(ReadBack(0)->FindElement(0x0008, 0x0005), nullptr);
}

TEST(FrameTimeTest, IsTheNegotiatedIntervalInMilliseconds) {
  struct Case {
    int n, d;
    const char *text;
  } cases[] = {
      {25, 1, "40.0"}, {30, 1, "33.3333"}, {30000, 1001, "33.3667"}, {60, 1, "16.6667"},
      {50, 1, "20.0"}, {0, 1, "40.0"},     {0, 0, "40.0"},           {-1, 1, "40.0"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FrameTimeText(c.n, c.d), c.text);
  }
}

TEST(CineRateTest, IsTheRateRoundedToWholeFrames) {
  struct Case {
    int n, d;
    const char *text;
  } cases[] = {
      {25, 1, "25"}, {30000, 1001, "30"}, {60000, 1001, "60"}, {15, 2, "8"}, {1, 3, "1"}, {0, 1, "25"}, {30, 0, "25"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(CineRateText(c.n, c.d), c.text);
  }
}

// A multi-frame class needs its frame count and pointer even for a clip of
// one frame; a single-frame class never has them.
TEST_F(ImageBuilderTest, MultiFrameElementsForEveryClipAndNoStill) {
  struct Case {
    const char *name;
    bool clip;
    int frames;
    bool multiFrameElements;
    std::string_view sopClass;
  } cases[] = {
      {"still", false, 1, false, SECONDARY_CAPTURE_IMAGE_STORAGE},
      {"still given three frames keeps the first", false, 3, false, SECONDARY_CAPTURE_IMAGE_STORAGE},
      {"clip of one frame", true, 1, true, MULTIFRAME_TRUE_COLOR_SC_IMAGE_STORAGE},
      {"clip of three frames", true, 3, true, MULTIFRAME_TRUE_COLOR_SC_IMAGE_STORAGE},
  };
  context_.modality = "CR";
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<EncodedFrame> frames;
    for (int i = 0; i < c.frames; ++i) {
      frames.push_back(SolidFrame(16, 8, static_cast<std::uint8_t>(40 * i), 0, 0));
    }
    std::vector<std::uint8_t> first = frames.front().data;
    if (first.size() % 2 != 0) {
      first.push_back(0x00);
    }
    CapturedFrames captured{std::move(frames), 16, 8, 30, 1};
    ASSERT_TRUE(c.clip ? SaveClip(state_, context_, std::move(captured), dir_.folder(), Fixed(At(9, 0, 0)))
                       : SaveStill(state_, context_, std::move(captured), dir_.folder(), Fixed(At(9, 0, 0))));
    const auto ds = ReadBack(state_.fileList.size() - 1);
    EXPECT_EQ(ds->FindText(0x0008, 0x0016), c.sopClass);
    EXPECT_EQ(ds->FindElement(0x0018, 0x0040) != nullptr, c.multiFrameElements);
    EXPECT_EQ(ds->FindElement(0x0018, 0x1063) != nullptr, c.multiFrameElements);
    EXPECT_EQ(ds->FindElement(0x0028, 0x0008) != nullptr, c.multiFrameElements);
    EXPECT_EQ(ds->FindElement(0x0028, 0x0009) != nullptr, c.multiFrameElements);
    EXPECT_EQ(state_.fileList.back().sopClassUid, ds->FindText(0x0008, 0x0016));
    // The fragments after the offset table: one per frame.
    std::vector<const DcmTag *> items;
    for (std::size_t i = 0; i < ds->Count(); ++i) {
      const DcmTag *t = ds->ElementAt(i);
      if (t != nullptr && t->Is(0xFFFE, 0xE000)) {
        items.push_back(t);
      }
    }
    const std::size_t expectedFrames = c.clip ? static_cast<std::size_t>(c.frames) : 1;
    ASSERT_EQ(items.size(), expectedFrames + 1);
    EXPECT_EQ(items[0]->length, 0u);
    EXPECT_EQ(items[1]->data, first);
    if (c.multiFrameElements) {
      EXPECT_EQ(ds->FindText(0x0028, 0x0008), std::to_string(c.frames));
      EXPECT_EQ(ds->FindText(0x0018, 0x1063), "33.3333"); // 30 frames a second
      EXPECT_EQ(ds->FindText(0x0018, 0x0040), "30");
      const DcmTag *pointer = ds->FindElement(0x0028, 0x0009);
      EXPECT_EQ(pointer->data, (std::vector<std::uint8_t>{0x18, 0x00, 0x63, 0x10}));
    }
  }
}

TEST_F(ImageBuilderTest, EncapsulationPadsOddFragmentsAndClosesTheSequence) {
  DcmObj ds;
  AppendEncapsulatedFrames(ds, {Bytes({0xFF, 0xD8, 0x01}), Bytes({0xFF, 0xD8, 0x02, 0x03})});
  ASSERT_EQ(ds.Count(), 5u);
  EXPECT_EQ(Key(*ds.ElementAt(0)), "7FE0,0010");
  EXPECT_EQ(ds.ElementAt(0)->length, UNDEFINED_LENGTH);
  EXPECT_EQ(ds.ElementAt(0)->VR(), "OB");
  EXPECT_EQ(ds.ElementAt(1)->length, 0u);
  EXPECT_EQ(ds.ElementAt(2)->data, (std::vector<std::uint8_t>{0xFF, 0xD8, 0x01, 0x00}));
  EXPECT_EQ(ds.ElementAt(2)->length, 4u);
  EXPECT_EQ(ds.ElementAt(3)->data, (std::vector<std::uint8_t>{0xFF, 0xD8, 0x02, 0x03}));
  EXPECT_EQ(Key(*ds.ElementAt(4)), "FFFE,E0DD");

  DcmObj empty;
  AppendEncapsulatedFrames(empty, {});
  ASSERT_EQ(empty.Count(), 3u);
  EXPECT_EQ(Key(*empty.ElementAt(1)), "FFFE,E000");
  EXPECT_EQ(Key(*empty.ElementAt(2)), "FFFE,E0DD");
}

TEST_F(ImageBuilderTest, ObjectsAreNumberedAndNamedInOrder) {
  const auto save = [&](bool clip, std::tm t) {
    std::vector<EncodedFrame> frames{SolidFrame(8, 8, 1, 2, 3), SolidFrame(8, 8, 4, 5, 6)};
    return clip ? SaveClip(state_, context_, Frames(std::move(frames)), dir_.folder(), Fixed(t))
                : SaveStill(state_, context_, Frames(std::move(frames)), dir_.folder(), Fixed(t));
  };
  ASSERT_TRUE(save(false, At(10, 0, 1)));
  ASSERT_TRUE(save(true, At(10, 0, 2)));
  ASSERT_TRUE(save(false, At(10, 0, 3)));
  ASSERT_EQ(state_.fileList.size(), 3u);
  EXPECT_EQ(state_.fileList[2].name, "temp/A1233.dcm");
  EXPECT_EQ(state_.fileList[2].path, dir_.folder() + "temp/A1233.dcm");
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "temp/A1233.dcm"));
  const auto first = ReadBack(0);
  const auto third = ReadBack(2);
  EXPECT_EQ(third->FindText(0x0020, 0x0013), "3");
  EXPECT_EQ(third->FindText(0x0008, 0x0018), "2.25.1.2.10.3");
  EXPECT_EQ(third->FindText(0x0020, 0x000E), first->FindText(0x0020, 0x000E));
  EXPECT_EQ(ReadBack(1)->FindText(0x0020, 0x000E), first->FindText(0x0020, 0x000E));
  // Built in different seconds: creation and content times differ, the
  // study's date and time do not.
  EXPECT_EQ(first->FindText(0x0008, 0x0013), "100001");
  EXPECT_EQ(third->FindText(0x0008, 0x0013), "100003");
  EXPECT_EQ(third->FindText(0x0008, 0x0033), "100003");
  EXPECT_EQ(first->FindText(0x0008, 0x0030), third->FindText(0x0008, 0x0030));
  EXPECT_EQ(first->FindText(0x0008, 0x0020), third->FindText(0x0008, 0x0020));
  EXPECT_EQ(state_.currentSopClassUid, ULTRASOUND_IMAGE_STORAGE);
}

TEST_F(ImageBuilderTest, AFileAlreadyThereIsNeverOverwritten) {
  std::ofstream(dir_.path() / "temp/A1231.dcm") << "left by an earlier run";
  std::ofstream(dir_.path() / "temp/A1232.dcm") << "and another";
  ASSERT_TRUE(SaveStill(state_, context_, Frames({SolidFrame(8, 8, 1, 2, 3)}), dir_.folder(), Fixed(At(9, 0, 0))));
  EXPECT_EQ(test::ReadFileBytes(dir_.path() / "temp/A1231.dcm"), "left by an earlier run");
  ASSERT_EQ(state_.fileList.size(), 1u);
  EXPECT_EQ(state_.fileList[0].name, "temp/A1233.dcm");
  EXPECT_EQ(state_.instanceNumber, 3);
  EXPECT_EQ(ReadBack(0)->FindText(0x0020, 0x0013), "3");
}

TEST_F(ImageBuilderTest, AFileThatCannotBeWrittenIsLoggedAndNotListed) {
  std::filesystem::remove(dir_.path() / "temp");
  EXPECT_FALSE(SaveStill(state_, context_, Frames({SolidFrame(8, 8, 1, 2, 3)}), dir_.folder(), Fixed(At(9, 0, 0))));
  EXPECT_FALSE(SaveClip(state_, context_, Frames({SolidFrame(8, 8, 1, 2, 3)}), dir_.folder(), Fixed(At(9, 0, 0))));
  EXPECT_TRUE(state_.fileList.empty());
  EXPECT_EQ(state_.instanceNumber, 2);
  EXPECT_TRUE(log_.Contains("ERROR, SaveStill, couldn't write " + dir_.folder() + "temp/A1231.dcm"));
  EXPECT_TRUE(log_.Contains("ERROR, SaveClip, couldn't write " + dir_.folder() + "temp/A1232.dcm"));
}

// ------------------------------------------------ other readers of the files

// One row of the station's table, and what dciodvfy calls its objects.
struct RowCase {
  const char *modality;
  const char *stillIod;
  const char *clipIod;
};

std::ostream &operator<<(std::ostream &out, const RowCase &c) { return out << c.modality; }

// A still and a three-frame clip of pure blue, 64 x 48, made through the
// session at the row's modality.
class WrittenObjectsTest : public ::testing::TestWithParam<RowCase> {
protected:
  void SetUp() override {
    InstanceCounters::ForgetRun();
    std::filesystem::create_directories(dir_.path() / "temp");
    context_ = Context();
    context_.studyInstanceUID.clear();
    context_.modality = GetParam().modality;
    source_.width = 64;
    source_.height = 48;
    source_.blue = true;
    AcquisitionSessionSetup setup;
    setup.grabber = &source_;
    setup.programFolder = dir_.folder();
    setup.context = &context_;
    setup.config = &config_;
    session_ = std::make_unique<AcquisitionSession>(std::move(setup));
    ASSERT_TRUE(session_->Open());
    ASSERT_TRUE(session_->Snap());
    source_.framesPerCapture = 3;
    ASSERT_TRUE(session_->Video());
    for (int i = 0; i < 5; ++i) {
      session_->Tick();
    }
    ASSERT_EQ(session_->Files().size(), 2u);
  }
  void TearDown() override {
    session_.reset();
    InstanceCounters::ForgetRun();
  }

  test::TempDir dir_;
  test::LogCapture log_;
  test::FakeFrameSource source_;
  StudyInfo context_;
  setupcfg config_;
  std::unique_ptr<AcquisitionSession> session_;
};

std::vector<std::string> LinesOf(const std::string &text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// dciodvfy checks each object against its class: no error. Its warnings are
// printed for the record.
TEST_P(WrittenObjectsTest, DciodvfyFindsNoError) {
  for (const AcquiredFile &file : session_->Files()) {
    SCOPED_TRACE(file.name);
    std::string out;
    std::string err;
    PeerProcess::Run({"dciodvfy", file.path}, &out, &err);
    const std::vector<std::string> lines = LinesOf(out + err);
    const std::string iod = file.frames > 1 ? GetParam().clipIod : GetParam().stillIod;
    EXPECT_NE(std::find(lines.begin(), lines.end(), iod), lines.end()) << out << err;
    for (const std::string &line : lines) {
      EXPECT_NE(line.rfind("Error", 0), 0u) << line;
      if (line.rfind("Warning", 0) == 0) {
        std::printf("dciodvfy %s %s: %s\n", GetParam().modality, iod.c_str(), line.c_str());
      }
    }
  }
}

TEST_P(WrittenObjectsTest, DcmdumpReadsThemWithoutComplaint) {
  for (const AcquiredFile &file : session_->Files()) {
    SCOPED_TRACE(file.name);
    std::string out;
    std::string err;
    ASSERT_EQ(PeerProcess::Run({"dcmdump", "+E", "+L", "-Un", file.path}, &out, &err), 0) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(out.find("W: "), std::string::npos) << out;
    EXPECT_EQ(out.find("E: "), std::string::npos) << out;
    EXPECT_NE(out.find("(0028,0004) CS [YBR_FULL_422]"), std::string::npos) << out;
    EXPECT_NE(out.find("(0008,0016) UI [" + file.sopClassUid + "]"), std::string::npos) << out;
  }
}

// Decoded by DCMTK, every pixel of the pure blue frames is blue: a colour
// conversion done twice (or not at all) would not give this.
TEST_P(WrittenObjectsTest, APureBlueFrameReadsBackBlueInDcmdjpeg) {
  for (const AcquiredFile &file : session_->Files()) {
    SCOPED_TRACE(file.name);
    const std::string out = dir_.folder() + "decoded.dcm";
    std::string err;
    ASSERT_EQ(PeerProcess::Run({"dcmdjpeg", file.path, out}, nullptr, &err), 0) << err;
    DcmObj decoded;
    ASSERT_TRUE(decoded.Read(out));
    EXPECT_EQ(decoded.FindText(0x0028, 0x0004), "RGB");
    const DcmTag *pixels = decoded.FindElement(0x7FE0, 0x0010);
    ASSERT_NE(pixels, nullptr);
    ASSERT_EQ(pixels->data.size(), 64u * 48u * 3u * static_cast<unsigned>(file.frames));
    for (std::size_t i = 0; i < pixels->data.size(); i += 3) {
      ASSERT_LE(pixels->data[i], 2) << i;
      ASSERT_LE(pixels->data[i + 1], 2) << i;
      ASSERT_GE(pixels->data[i + 2], 253) << i;
    }
  }
}

// pydicom hands YBR_FULL_422 samples over as the codec returned them (Y, Cb,
// Cr); converted as the object declares, they are blue.
TEST_P(WrittenObjectsTest, PydicomDecodesThemToTheCapturedSizeAndBlue) {
  const std::string script = R"(
import sys, pydicom
from pydicom.pixel_data_handlers.util import convert_color_space
for path in sys.argv[1:]:
    ds = pydicom.dcmread(path)
    a = ds.pixel_array
    frames = int(getattr(ds, 'NumberOfFrames', 1) or 1)
    shape = (frames, 48, 64, 3) if frames > 1 else (48, 64, 3)
    assert a.shape == shape, (path, a.shape)
    assert ds.PhotometricInterpretation == 'YBR_FULL_422', ds.PhotometricInterpretation
    rgb = convert_color_space(a, 'YBR_FULL_422', 'RGB')
    r, g, b = (int(rgb[..., c].min()) for c in range(3))
    R, G, B = (int(rgb[..., c].max()) for c in range(3))
    assert R <= 3 and G <= 3 and b >= 252, (path, r, g, b, R, G, B)
    print(path, ds.SOPClassUID, frames, 'blue')
)";
  std::vector<std::string> argv = {"/usr/bin/python3", "-c", script};
  for (const AcquiredFile &file : session_->Files()) {
    argv.push_back(file.path);
  }
  std::string out;
  std::string err;
  ASSERT_EQ(PeerProcess::Run(argv, &out, &err), 0) << err;
  const std::vector<std::string> lines = LinesOf(out);
  ASSERT_EQ(lines.size(), 2u) << out;
  EXPECT_NE(lines[0].find(session_->Files()[0].sopClassUid + " 1 blue"), std::string::npos) << out;
  EXPECT_NE(lines[1].find(session_->Files()[1].sopClassUid + " 3 blue"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(StationRows, WrittenObjectsTest,
                         ::testing::Values(RowCase{"US", "USImage", "USMultiFrameImage"},
                                           RowCase{"ES", "VLEndoscopicImage", "VideoEndoscopicImage"},
                                           RowCase{"XC", "VLPhotographicImage", "VideoPhotographicImage"},
                                           RowCase{"GM", "VLPhotographicImage", "VideoPhotographicImage"},
                                           RowCase{"OT", "VLPhotographicImage", "VideoPhotographicImage"},
                                           RowCase{"CT", "SCImage", "MultiframeTrueColorSCImage"},
                                           RowCase{"RF", "SCImage", "MultiframeTrueColorSCImage"}),
                         [](const ::testing::TestParamInfo<RowCase> &info) { return info.param.modality; });

} // namespace
} // namespace fw
