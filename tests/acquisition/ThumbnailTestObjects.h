// JPEG baseline objects as the station writes them, for the thumbnail strip
// and the acquisition window tests: colour frames (YBR_FULL, one fragment per
// frame) with an Instance Number, written as DICOM files.
#pragma once

#include "dicom/Uids.h"
#include "tests/presentation/ConversionTestSupport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fw::test {

// Colour frames whose content differs from frame to frame: diagonal bands
// shifted by the frame number.
inline std::vector<std::uint8_t> BandedFrames(int columns, int rows, int frames) {
  std::vector<std::uint8_t> pixels;
  pixels.reserve(static_cast<std::size_t>(columns) * rows * 3 * frames);
  for (int f = 0; f < frames; ++f)
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < columns; ++x) {
        pixels.push_back(static_cast<std::uint8_t>((x + y + 40 * f) * 3));
        pixels.push_back(static_cast<std::uint8_t>(y * 255 / rows));
        pixels.push_back(static_cast<std::uint8_t>(f % 2 == 0 ? 200 : 30));
      }
  return pixels;
}

inline ImageShape JpegObjectShape(int columns, int rows, int frames) {
  ImageShape shape;
  shape.columns = columns;
  shape.rows = rows;
  shape.frames = frames;
  shape.colour = true;
  shape.photometric = "YBR_FULL";
  shape.planarConfiguration = 0;
  shape.modality = "ES";
  shape.transferSyntax = std::string(JPEG_BASELINE);
  return shape;
}

// The JPEG baseline streams of the banded frames, one per frame.
inline std::vector<std::vector<std::uint8_t>> JpegObjectFrames(int columns, int rows, int frames) {
  return BaselineFrames(JpegObjectShape(columns, rows, frames), BandedFrames(columns, rows, frames));
}

// Writes a JPEG baseline colour object; false when the file was not written.
inline bool WriteJpegObject(const std::string &path, int columns, int rows, int frames, int instanceNumber) {
  const ImageShape shape = JpegObjectShape(columns, rows, frames);
  auto ds = EncapsulatedDataSet(shape, JpegObjectFrames(columns, rows, frames));
  ds->PutText(0x0020, 0x0013, std::to_string(instanceNumber));
  ds->PutText(0x0008, 0x0018, "2.25.739104652811350928774.6." + std::to_string(instanceNumber));
  return ds->Write(path);
}

} // namespace fw::test
