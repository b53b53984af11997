// "videocap.cfg" reading and writing, the analog standard mapping, and the
// V4L2 controls on a node that does not exist.
#include "acquisition/CaptureConfig.h"
#include "acquisition/TvStandard.h"
#include "acquisition/VideoDeviceControls.h"
#include "base/ProgramFolder.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

#include <linux/videodev2.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace fw {
namespace {

using test::LogCapture;
using test::ReadFileBytes;
using test::TempDir;

void WriteBytes(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Four little-endian fields: 0x10 (PAL_B), 720, 576, 2, as the file holds them.
const std::string kPalFile("\x10\x00\x00\x00\xd0\x02\x00\x00\x40\x02\x00\x00\x02\x00\x00\x00", 16);

struct ReadCase {
  const char *name;
  bool createFile;
  std::string bytes;
  CaptureConfig before;
  CaptureConfig expected;
};

TEST(CaptureConfigFile, ReadsWholeFieldsAndKeepsTheOthers) {
  const CaptureConfig previous{7, 11, 13, 17};
  const ReadCase cases[] = {
      {"missing file gives the defaults", false, "", previous, CaptureConfig{1, 640, 480, 0}},
      {"empty file changes nothing", true, "", previous, previous},
      {"8 bytes set tvFormat and width", true, kPalFile.substr(0, 8), previous, CaptureConfig{0x10, 720, 13, 17}},
      {"a partial field is not taken", true, kPalFile.substr(0, 10), previous, CaptureConfig{0x10, 720, 13, 17}},
      {"16 bytes set all four", true, kPalFile, previous, CaptureConfig{0x10, 720, 576, 2}},
      {"bytes past 16 are ignored", true, kPalFile + "xyz", previous, CaptureConfig{0x10, 720, 576, 2}},
      {"negative values are signed", true, std::string(16, '\xff'), previous, CaptureConfig{-1, -1, -1, -1}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.folder() + "videocap.cfg";
    if (c.createFile) {
      WriteBytes(path, c.bytes);
    }
    CaptureConfig config = c.before;
    EXPECT_EQ(ReadCaptureConfig(path, config), c.createFile);
    EXPECT_EQ(config, c.expected);
  }
}

std::string Le32(std::int32_t value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) {
    bytes.push_back(static_cast<char>(static_cast<std::uint32_t>(value) >> (8 * i)));
  }
  return bytes;
}

// A frame size beyond 8K UHD never reaches the device (a test source told
// to make 30000 x 30000 frames crashed the station): the size becomes the
// default, the ERROR line names the file and the size, the other fields stay.
TEST(CaptureConfigFile, OversizedFramesAreRefusedBeforeTheDevice) {
  struct Case {
    const char *name;
    std::string bytes;
    CaptureConfig expected;
    std::string refused; // the size named in the ERROR line, empty when taken
  };
  const auto file = [](std::int32_t width, std::int32_t height) {
    return Le32(0x10) + Le32(width) + Le32(height) + Le32(2);
  };
  const std::vector<Case> cases = {
      {"30000x30000", file(30000, 30000), {0x10, 640, 480, 2}, "30000x30000"},
      {"one column too wide", file(7681, 4320), {0x10, 640, 480, 2}, "7681x4320"},
      {"one row too high", file(7680, 4321), {0x10, 640, 480, 2}, "7680x4321"},
      {"largest taken", file(7680, 4320), {0x10, 7680, 4320, 2}, ""},
      {"int32 maximum", file(0x7FFFFFFF, 480), {0x10, 640, 480, 2}, "2147483647x480"},
      {"no size (device's own) taken", file(0, 0), {0x10, 0, 0, 2}, ""},
      {"width alone, height kept from before", Le32(1) + Le32(9000), {1, 640, 480, 17}, "9000x13"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.folder() + "videocap.cfg";
    WriteBytes(path, c.bytes);
    LogCapture log;
    CaptureConfig config{7, 11, 13, 17};
    EXPECT_TRUE(ReadCaptureConfig(path, config));
    EXPECT_EQ(config, c.expected);
    const std::vector<std::string> errors = log.StartingWith("ERROR");
    if (c.refused.empty()) {
      EXPECT_TRUE(errors.empty());
    } else {
      EXPECT_EQ(errors, std::vector<std::string>{"ERROR, ReadCaptureConfig, " + path + " frame size " + c.refused +
                                                 " is larger than 7680x4320; 640x480 used instead"});
    }
  }
}

// A configuration starts from the defaults, so an empty file at the first
// opening leaves the defaults in place (not a 0 x 0 frame size with no
// standard).
TEST(CaptureConfigFile, FirstOpeningWithAnEmptyFileKeepsTheDefaults) {
  EXPECT_EQ(CaptureConfig{}, (CaptureConfig{1, 640, 480, 0})) << "the value an opening starts from";
  TempDir dir;
  const std::string path = dir.folder() + "videocap.cfg";
  WriteBytes(path, "");
  CaptureConfig config;
  EXPECT_TRUE(ReadCaptureConfig(path, config));
  EXPECT_EQ(config, (CaptureConfig{1, 640, 480, 0}));
}

TEST(CaptureConfigFile, WritesSixteenLittleEndianBytesAndReadsThemBack) {
  TempDir dir;
  const std::string path = dir.folder() + "videocap.cfg";
  WriteBytes(path, std::string(40, 'x')); // an older, longer file is truncated
  ASSERT_TRUE(WriteCaptureConfig(path, CaptureConfig{0x10, 720, 576, 2}));
  EXPECT_EQ(ReadFileBytes(path), kPalFile);

  CaptureConfig back{};
  ASSERT_TRUE(ReadCaptureConfig(path, back));
  EXPECT_EQ(back, (CaptureConfig{0x10, 720, 576, 2}));

  EXPECT_FALSE(WriteCaptureConfig(dir.folder() + "no-such-folder/videocap.cfg", back));
}

TEST(CaptureConfigFile, LivesInTheProgramFolder) {
  const std::string saved = programFolder;
  programFolder = "/opt/station/";
  EXPECT_EQ(CaptureConfigPath(), "/opt/station/videocap.cfg");
  programFolder = saved;
}

TEST(TvStandardMapping, MapsStoredCodesByNameNotByNumber) {
  struct Case {
    std::int32_t code;
    std::uint64_t v4l2;
  };
  const Case cases[] = {
      {0x1, V4L2_STD_NTSC_M},       {0x2, V4L2_STD_NTSC_M_JP},    {0x4, V4L2_STD_NTSC_443},
      {0x10, V4L2_STD_PAL_B},       {0x20, V4L2_STD_PAL_D},       {0x40, V4L2_STD_PAL_G},
      {0x80, V4L2_STD_PAL_H},       {0x100, V4L2_STD_PAL_I},      {0x200, V4L2_STD_PAL_M},
      {0x400, V4L2_STD_PAL_N},      {0x800, V4L2_STD_PAL_60},     {0x1000, V4L2_STD_SECAM_B},
      {0x2000, V4L2_STD_SECAM_D},   {0x4000, V4L2_STD_SECAM_G},   {0x8000, V4L2_STD_SECAM_H},
      {0x10000, V4L2_STD_SECAM_K},  {0x20000, V4L2_STD_SECAM_K1}, {0x40000, V4L2_STD_SECAM_L},
      {0x80000, V4L2_STD_SECAM_LC}, {0x100000, V4L2_STD_PAL_Nc},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.code);
    ASSERT_EQ(V4l2StandardForTvFormat(c.code), c.v4l2);
    EXPECT_EQ(TvFormatForV4l2Standard(c.v4l2), c.code);
  }
  EXPECT_EQ(V4l2StandardForTvFormat(0x1), 0x1000u);
  EXPECT_EQ(V4l2StandardForTvFormat(0x10), 0x1u);
}

TEST(TvStandardMapping, UnknownCodesAndSetsWithoutAStoredStandard) {
  for (std::int32_t code : {0, 3, 0x8, 0x200000, -1}) {
    EXPECT_FALSE(V4l2StandardForTvFormat(code)) << code;
  }
  // Sets as drivers enumerate them map to their first stored standard.
  EXPECT_EQ(TvFormatForV4l2Standard(V4L2_STD_PAL), 0x10);
  EXPECT_EQ(TvFormatForV4l2Standard(V4L2_STD_NTSC), 0x1);
  EXPECT_EQ(TvFormatForV4l2Standard(V4L2_STD_SECAM), 0x1000);
  // PAL-B1, PAL-D1, PAL-K and NTSC-M-KR have no stored code.
  EXPECT_FALSE(TvFormatForV4l2Standard(V4L2_STD_PAL_B1 | V4L2_STD_PAL_D1 | V4L2_STD_PAL_K | V4L2_STD_NTSC_M_KR));
}

TEST(V4l2Controls, ANodeThatIsNoVideoDeviceOffersNothingAndRefusesChanges) {
  for (const char *node : {"/dev/no-such-video-node", "/dev/null", ""}) {
    SCOPED_TRACE(node);
    V4l2DeviceControls controls(node, {{640, 480}});
    EXPECT_TRUE(controls.Inputs().empty());
    EXPECT_TRUE(controls.Standards().empty());
    EXPECT_EQ(controls.Sizes(), (std::vector<FrameSize>{{640, 480}}));
    EXPECT_FALSE(controls.SetInput(0));
    EXPECT_FALSE(controls.SetStandard(V4L2_STD_PAL_B));
  }
}

} // namespace
} // namespace fw
