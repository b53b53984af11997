// The thumbnail strip of the acquisition window: one 96 x 96 tile per object
// of the acquisition, side by side in a picture n x 96 pixels.
//
// A tile is the object's first frame drawn with window width 255 and centre
// 127 (8-bit values unchanged), the longer side of the image mapped onto the
// tile's 96 pixels, with the caption "n" (Instance Number) or "n/frames" in
// white at its top-left. A file that cannot be read, converted or prepared,
// or holds no rows, leaves a black slot.
//
// Tiles come from one of two places, and look the same:
//   an object the acquisition just saved   its first frame as captured (a
//                                          JPEG stream), decoded once
//                                          (AddFromFrame)
//   any other file                         the file: read, its first frame
//                                          converted and prepared
//                                          (MakeThumbnailTile(path))
//
// Tiles are cached by file: a refresh decodes only files it has not drawn
// yet (or that changed on disk since), and of those only the first frame
// (the first fragment, when each frame is one fragment). Tiles of files that
// left the list are dropped.
#pragma once

#include "acquisition/EncodedFrame.h"
#include "presentation/TImages.h"

#include <QImage>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace fw {

inline constexpr int THUMBNAIL_SIZE = 96;
inline constexpr std::int32_t THUMBNAIL_WINDOW_WIDTH = 255;
inline constexpr std::int32_t THUMBNAIL_WINDOW_CENTRE = 127;

// "n" for single-frame objects, "n/frames" for two frames or more.
std::string ThumbnailCaption(const TImages &images);
std::string ThumbnailCaption(std::int32_t instanceNumber, std::int32_t frames);

// Renders frame 0 of a prepared image into a new black 96 x 96 Format_BGR888
// tile and writes the caption; a black tile when the image has no rows.
QImage RenderThumbnailTile(TImages &images, const std::string &caption);

// The tile of one file, decoding only its first frame; a black tile when the
// file cannot be read, converted or prepared.
QImage MakeThumbnailTile(const std::string &path);

// The tile of an object from its first frame as captured (an 8-bit colour
// JPEG stream, EncodedFrame.h); a black tile when it does not decode.
QImage MakeThumbnailTile(const EncodedFrame &firstFrame, const std::string &caption);

class ThumbnailCache {
public:
  // Brings the strip picture up to date with files: n x 96 wide, 96 high,
  // Format_BGR888, tile i at x = i x 96 (a null picture for no files).
  void Refresh(const std::vector<std::string> &files, QImage &strip);

  // Draws the tile of file from its first frame as captured, so the refresh
  // that lists it reads nothing; nothing when the tile is cached already.
  void AddFromFrame(const std::string &file, const EncodedFrame &firstFrame, const std::string &caption);

  // Files decoded since the cache was made (tests, benchmarks).
  int Decodes() const { return decodes_; }
  void Clear() { tiles_.clear(); }

private:
  // The file's time and size as the cache last saw them; found is false
  // when it cannot be seen.
  struct Stamp {
    std::filesystem::file_time_type written;
    std::uintmax_t size = 0;
    bool found = false;
  };
  struct Entry {
    std::filesystem::file_time_type written;
    std::uintmax_t size = 0;
    QImage tile;
  };
  static Stamp StampOf(const std::string &file);
  // Whether a cached tile still shows the file as it is on disk.
  static bool Matches(const Entry &entry, const Stamp &stamp);

  std::map<std::string, Entry> tiles_;
  int decodes_ = 0;
};

} // namespace fw
