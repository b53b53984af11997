// The thumbnail strip: cached first-frame tiles against tiles made by reading,
// converting, preparing and rendering the whole object.
#include "acquisition/ThumbnailStrip.h"
#include "base/Log.h"
#include "dicom/DcmObj.h"
#include "presentation/ImageConversion.h"
#include "tests/acquisition/ThumbnailTestObjects.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

namespace fw {
namespace {

// The tile as the strip has always drawn it: the whole object decoded.
QImage ReferenceTile(const std::string &path) {
  DcmObj ds;
  TImages images;
  if (ds.Read(path) && ConvertTransferSyntax(ds, EXPLICIT_VR_LITTLE_ENDIAN))
    PrepareDisplayImage(images, ds);
  return RenderThumbnailTile(images, ThumbnailCaption(images));
}

bool SameBytes(const QImage &a, const QImage &b) {
  if (a.size() != b.size() || a.format() != b.format())
    return false;
  for (int y = 0; y < a.height(); ++y)
    if (std::memcmp(a.constScanLine(y), b.constScanLine(y), static_cast<std::size_t>(a.width()) * 3) != 0)
      return false;
  return true;
}

QImage TileOf(const QImage &strip, int slot) {
  return strip.copy(slot * THUMBNAIL_SIZE, 0, THUMBNAIL_SIZE, THUMBNAIL_SIZE);
}

bool AllBlack(const QImage &tile) {
  for (int y = 0; y < tile.height(); ++y)
    for (int x = 0; x < tile.width() * 3; ++x)
      if (tile.constScanLine(y)[x] != 0)
        return false;
  return true;
}

class ThumbnailStripTest : public ::testing::Test {
protected:
  void SetUp() override { SetLogTarget(dir_.folder() + "test.log", "", ""); }
  void TearDown() override { FreeLogTarget(); }
  std::string File(const std::string &name) const { return dir_.folder() + name; }

  test::TempDir dir_;
  ThumbnailCache cache_;
  QImage strip_;
};

struct TileCase {
  const char *name;
  int columns;
  int rows;
  int frames;
  int instance;
};

TEST_F(ThumbnailStripTest, CachedTilesEqualTilesOfTheWholeObject) {
  const TileCase cases[] = {
      {"still_4_3", 640, 480, 1, 1},
      {"clip_first_frame_differs", 320, 240, 4, 2}, // a wrong frame shows in the pixels
      {"portrait_rows_longer", 120, 200, 1, 3},     // scale taken from Rows
      {"square_clip", 100, 100, 3, 12},             // caption "12/3"
      {"wide_720p", 1280, 720, 2, 5},
  };
  std::vector<std::string> files;
  for (const TileCase &c : cases) {
    files.push_back(File(std::string(c.name) + ".dcm"));
    ASSERT_TRUE(test::WriteJpegObject(files.back(), c.columns, c.rows, c.frames, c.instance)) << c.name;
  }
  cache_.Refresh(files, strip_);
  ASSERT_EQ(strip_.width(), 5 * THUMBNAIL_SIZE);
  ASSERT_EQ(strip_.height(), THUMBNAIL_SIZE);
  for (std::size_t i = 0; i < files.size(); ++i) {
    const QImage reference = ReferenceTile(files[i]);
    EXPECT_FALSE(AllBlack(reference)) << cases[i].name;
    EXPECT_TRUE(SameBytes(TileOf(strip_, static_cast<int>(i)), reference)) << cases[i].name;
    EXPECT_TRUE(SameBytes(MakeThumbnailTile(files[i]), reference)) << cases[i].name;
  }
}

TEST_F(ThumbnailStripTest, UnreadableFileLeavesABlackSlotAndTheOthersAreDrawn) {
  const std::string good = File("good.dcm");
  const std::string garbage = File("garbage.dcm");
  const std::string missing = File("missing.dcm");
  ASSERT_TRUE(test::WriteJpegObject(good, 64, 48, 1, 1));
  std::ofstream(garbage) << "not a DICOM file at all";
  cache_.Refresh({garbage, good, missing}, strip_);
  ASSERT_EQ(strip_.width(), 3 * THUMBNAIL_SIZE);
  EXPECT_TRUE(AllBlack(TileOf(strip_, 0)));
  EXPECT_TRUE(SameBytes(TileOf(strip_, 1), ReferenceTile(good)));
  EXPECT_TRUE(AllBlack(TileOf(strip_, 2)));
}

TEST_F(ThumbnailStripTest, RefreshDecodesOnlyObjectsItHasNotDrawn) {
  std::vector<std::string> files;
  for (int i = 1; i <= 3; ++i) {
    files.push_back(File("obj" + std::to_string(i) + ".dcm"));
    ASSERT_TRUE(test::WriteJpegObject(files.back(), 64, 48, i, i));
    cache_.Refresh(files, strip_);
    EXPECT_EQ(cache_.Decodes(), i);
  }
  cache_.Refresh(files, strip_);
  EXPECT_EQ(cache_.Decodes(), 3) << "an unchanged list decodes nothing";

  // A file rewritten under the same name is drawn anew.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(test::WriteJpegObject(files[0], 80, 60, 2, 9));
  cache_.Refresh(files, strip_);
  EXPECT_EQ(cache_.Decodes(), 4);
  EXPECT_TRUE(SameBytes(TileOf(strip_, 0), ReferenceTile(files[0])));

  // A shorter list gives a narrower strip; a name that comes back is decoded again.
  cache_.Refresh({files[2]}, strip_);
  EXPECT_EQ(strip_.width(), THUMBNAIL_SIZE);
  EXPECT_TRUE(SameBytes(TileOf(strip_, 0), ReferenceTile(files[2])));
  cache_.Refresh(files, strip_);
  EXPECT_EQ(cache_.Decodes(), 6);

  cache_.Refresh({}, strip_);
  EXPECT_TRUE(strip_.isNull());
}

// The window draws an object it just saved from the first frame it was made
// from: the tile must be the one the saved file gives, and the refresh that
// lists the file must not read it again.
TEST_F(ThumbnailStripTest, TilesFromTheCapturedFirstFrameEqualTilesOfTheSavedFile) {
  const TileCase cases[] = {
      {"still_4_3", 640, 480, 1, 1},
      {"clip_first_frame_differs", 320, 240, 3, 2}, // caption "2/3", the first frame's pixels
      {"portrait_rows_longer", 120, 200, 1, 3},
      {"odd_size_chroma_edge", 97, 33, 1, 4},
  };
  std::vector<std::string> files;
  for (const TileCase &c : cases) {
    files.push_back(File(std::string(c.name) + ".dcm"));
    ASSERT_TRUE(test::WriteJpegObject(files.back(), c.columns, c.rows, c.frames, c.instance)) << c.name;
    const EncodedFrame first{test::JpegObjectFrames(c.columns, c.rows, c.frames).front()};
    const std::string caption = ThumbnailCaption(c.instance, c.frames);
    const QImage reference = ReferenceTile(files.back());
    EXPECT_FALSE(AllBlack(reference)) << c.name;
    EXPECT_TRUE(SameBytes(MakeThumbnailTile(first, caption), reference)) << c.name;
    cache_.AddFromFrame(files.back(), first, caption);
    cache_.AddFromFrame(files.back(), first, caption);
  }
  EXPECT_EQ(cache_.Decodes(), 4) << "one decode per object, none for a tile already drawn";
  cache_.Refresh(files, strip_);
  EXPECT_EQ(cache_.Decodes(), 4) << "the refresh decodes none of the files";
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_TRUE(SameBytes(TileOf(strip_, static_cast<int>(i)), ReferenceTile(files[i]))) << cases[i].name;
  }
}

TEST_F(ThumbnailStripTest, AFrameThatDoesNotDecodeGivesABlackTile) {
  const std::vector<std::uint8_t> good = test::JpegObjectFrames(64, 48, 1).front();
  const std::vector<std::uint8_t> grey = [] {
    std::vector<std::uint8_t> stream;
    const std::vector<std::uint8_t> pixels(64 * 48, 100);
    JpegEncode8({64, 48, 1}, pixels.data(), JPEG_MODE_BASELINE, stream);
    return stream;
  }();
  const struct {
    const char *name;
    std::vector<std::uint8_t> stream;
  } cases[] = {
      {"empty", {}},
      {"not_jpeg", {'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'}},
      {"cut_in_its_header", {good.begin(), good.begin() + 20}},
      {"greyscale", grey},
  };
  for (const auto &c : cases) {
    const QImage tile = MakeThumbnailTile(EncodedFrame{c.stream}, "1");
    EXPECT_EQ(tile.size(), QSize(THUMBNAIL_SIZE, THUMBNAIL_SIZE)) << c.name;
    EXPECT_TRUE(AllBlack(tile)) << c.name;
  }
}

TEST(ThumbnailCaptionTest, InstanceNumberAndFramesFromTwoFramesOn) {
  struct {
    std::int32_t instance;
    std::int32_t frames;
    const char *caption;
  } const cases[] = {{1, 1, "1"}, {4, 118, "4/118"}, {3, 2, "3/2"}, {0, 1, "0"}};
  for (const auto &c : cases) {
    TImages images;
    images.imageInstanceNumber = c.instance;
    images.frameCount = c.frames;
    EXPECT_EQ(ThumbnailCaption(images), c.caption);
  }
}

} // namespace
} // namespace fw
