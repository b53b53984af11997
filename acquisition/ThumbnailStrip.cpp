// Thumbnail tiles: from a captured first frame, or read, first frame
// converted to explicit VR little endian, prepared and rendered; cached per
// file.
#include "acquisition/ThumbnailStrip.h"

#include "conversion/IconSkipper.h"
#include "dicom/DcmObj.h"
#include "dicom/Tags.h"
#include "dicom/Uids.h"
#include "dicom/codec/JpegCodec.h"
#include "presentation/DCMPresentation.h"
#include "presentation/ImageConversion.h"

#include <QFont>
#include <QPainter>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <system_error>

namespace fw {
namespace {

QImage BlackTile() {
  QImage black;
  MakeRgbBitmap(black, THUMBNAIL_SIZE, THUMBNAIL_SIZE, 0);
  return black;
}

// The window's font: Tahoma, 11 pixels high.
QFont CaptionFont() {
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(11);
  return font;
}

// Index of the image's own encapsulated pixel data element (not an icon's),
// or Count() when there is none.
std::size_t EncapsulatedPixelIndex(const DcmObj &ds) {
  IconSkipper icon;
  for (std::size_t i = 0; i < ds.Count(); ++i) {
    const DcmTag *t = ds.ElementAt(i);
    if (t == nullptr || icon.Skip(*t))
      continue;
    if (t->Is(tag::PixelData))
      return t->length == UNDEFINED_LENGTH ? i : ds.Count();
  }
  return ds.Count();
}

// Cuts a multi-frame encapsulated object down to its first frame when every
// frame is one fragment: the fragments after the first go and Number of
// Frames becomes 1. Objects laid out otherwise stay whole (all frames are
// then decoded, which draws the same tile).
void KeepFirstFrameOnly(DcmObj &ds, int frames) {
  if (frames < 2)
    return;
  const std::size_t pixel = EncapsulatedPixelIndex(ds);
  if (pixel >= ds.Count())
    return;
  // Offset table item, then the fragments, then the sequence delimiter.
  std::size_t end = pixel + 1;
  std::size_t fragments = 0;
  bool closed = false;
  for (; end < ds.Count(); ++end) {
    const DcmTag *t = ds.ElementAt(end);
    if (t == nullptr)
      return;
    if (t->Is(tag::SequenceDelimitationItem)) {
      closed = true;
      break;
    }
    if (!t->Is(tag::Item))
      return;
    ++fragments;
  }
  if (!closed || fragments != static_cast<std::size_t>(frames) + 1)
    return;
  for (std::size_t i = end - 1; i > pixel + 2; --i)
    ds.RemoveAt(i);
  // The offsets named the frames that are gone.
  DcmTag *offsets = ds.ElementAt(pixel + 1);
  offsets->SetValue(nullptr, 0);
  ds.PutText(tag::NumberOfFrames, "1");
}

} // namespace

std::string ThumbnailCaption(const TImages &images) {
  return ThumbnailCaption(images.imageInstanceNumber, images.frameCount);
}

std::string ThumbnailCaption(std::int32_t instanceNumber, std::int32_t frames) {
  std::string caption = std::to_string(instanceNumber);
  if (frames >= 2) {
    caption += '/';
    caption += std::to_string(frames);
  }
  return caption;
}

QImage RenderThumbnailTile(TImages &images, const std::string &caption) {
  QImage tile;
  MakeRgbBitmap(tile, THUMBNAIL_SIZE, THUMBNAIL_SIZE, 0);
  if (images.rows == 0)
    return tile;
  DCMPresentation presentation(images);
  // Rows when both sides are equal.
  const int longer = images.columns > images.rows ? images.columns : images.rows;
  presentation.zoom = static_cast<float>(longer) / static_cast<float>(THUMBNAIL_SIZE);
  presentation.windowWidth = THUMBNAIL_WINDOW_WIDTH;
  presentation.windowCentre = THUMBNAIL_WINDOW_CENTRE;
  RenderImage(presentation, tile, 0, 0, 0, 0, 0);
  QPainter painter(&tile);
  painter.setFont(CaptionFont());
  painter.setPen(Qt::white);
  painter.drawText(QRect(0, 0, THUMBNAIL_SIZE, THUMBNAIL_SIZE), Qt::AlignLeft | Qt::AlignTop,
                   QString::fromLatin1(caption.c_str()));
  return tile;
}

QImage MakeThumbnailTile(const std::string &path) {
  DcmObj ds;
  if (!ds.Read(path)) {
    return BlackTile();
  }
  // The caption's numbers as the whole object states them.
  TImages described;
  PrepareDisplayImage(described, ds);
  KeepFirstFrameOnly(ds, described.frameCount);
  TImages images;
  if (!ConvertTransferSyntax(ds, EXPLICIT_VR_LITTLE_ENDIAN)) {
    return BlackTile();
  }
  PrepareDisplayImage(images, ds);
  return RenderThumbnailTile(images, ThumbnailCaption(described));
}

QImage MakeThumbnailTile(const EncodedFrame &firstFrame, const std::string &caption) {
  const std::optional<JpegFrameInfo> info = ReadJpegFrameHeader(firstFrame.data.data(), firstFrame.data.size());
  if (!info || info->precision != 8 || info->components != 3 || info->rows <= 0 || info->columns <= 0 ||
      info->rows > UINT16_MAX || info->columns > UINT16_MAX) {
    return BlackTile();
  }
  // What the file route prepares from the decoded object: R, G, B bytes of
  // one frame, as the captured frames declare Y, Cb, Cr.
  TImages images;
  images.frameCount = 1;
  images.rows = static_cast<std::uint16_t>(info->rows);
  images.columns = static_cast<std::uint16_t>(info->columns);
  images.bitsAllocated = 8;
  images.photometric = "RGB";
  images.isColor = true;
  images.pixels.resize(std::size_t{images.rows} * images.columns * 3);
  if (JpegDecode8Colour(firstFrame.data.data(), firstFrame.data.size(), images.pixels.data(), images.pixels.size(),
                        JpegColour::Ybr) != 0) {
    return BlackTile();
  }
  return RenderThumbnailTile(images, caption);
}

ThumbnailCache::Stamp ThumbnailCache::StampOf(const std::string &file) {
  std::error_code error;
  Stamp stamp;
  stamp.written = std::filesystem::last_write_time(file, error);
  stamp.size = error ? 0 : std::filesystem::file_size(file, error);
  stamp.found = !error;
  return stamp;
}

bool ThumbnailCache::Matches(const Entry &entry, const Stamp &stamp) {
  return stamp.found && entry.written == stamp.written && entry.size == stamp.size;
}

void ThumbnailCache::AddFromFrame(const std::string &file, const EncodedFrame &firstFrame, const std::string &caption) {
  const Stamp stamp = StampOf(file);
  const auto cached = tiles_.find(file);
  if (cached != tiles_.end() && Matches(cached->second, stamp)) {
    return;
  }
  ++decodes_;
  tiles_[file] = Entry{stamp.written, stamp.size, MakeThumbnailTile(firstFrame, caption)};
}

void ThumbnailCache::Refresh(const std::vector<std::string> &files, QImage &strip) {
  std::map<std::string, Entry> kept;
  for (const std::string &file : files) {
    const Stamp stamp = StampOf(file);
    auto cached = tiles_.find(file);
    if (cached != tiles_.end() && Matches(cached->second, stamp)) {
      kept.insert(tiles_.extract(cached));
      continue;
    }
    if (kept.count(file) != 0)
      continue; // listed twice: drawn twice from one tile
    ++decodes_;
    kept[file] = Entry{stamp.written, stamp.size, MakeThumbnailTile(file)};
  }
  tiles_ = std::move(kept);

  const int n = static_cast<int>(files.size());
  if (n == 0) {
    strip = QImage();
    return;
  }
  MakeRgbBitmap(strip, n * THUMBNAIL_SIZE, THUMBNAIL_SIZE, 0);
  for (int i = 0; i < n; ++i) {
    const QImage &tile = tiles_[files[static_cast<std::size_t>(i)]].tile;
    const std::size_t rowBytes = 3 * THUMBNAIL_SIZE;
    for (int y = 0; y < THUMBNAIL_SIZE; ++y)
      std::memcpy(strip.scanLine(y) + static_cast<std::size_t>(i) * rowBytes, tile.constScanLine(y), rowBytes);
  }
}

} // namespace fw
