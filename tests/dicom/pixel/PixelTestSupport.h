// Helpers shared by the pixel data tests: generated multi-frame images and
// data sets holding them.
#pragma once

#include "dicom/DcmObj.h"
#include "dicom/PixelData.h"
#include "tests/dicom/codec/TestImages.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace fw::test {

// An image in the native layout: frames after each other, colour interleaved,
// 16-bit samples little-endian.
struct Image {
  int columns = 0;
  int rows = 0;
  int frames = 1;
  int bitsAllocated = 8;
  int bitsStored = 8;
  bool colour = false;
  std::vector<std::uint8_t> pixels;

  std::size_t FrameBytes() const {
    return static_cast<std::size_t>(columns) * rows * (bitsAllocated / 8) * (colour ? 3 : 1);
  }
  std::vector<std::uint8_t> Frame(int f) const {
    return {pixels.begin() + static_cast<std::ptrdiff_t>(FrameBytes()) * f,
            pixels.begin() + static_cast<std::ptrdiff_t>(FrameBytes()) * (f + 1)};
  }
};

// Every frame differs from the others, so a frame decoded into another
// frame's slot shows.
inline Image MakeImage(int columns, int rows, int frames, int bitsAllocated, int bitsStored, bool colour) {
  Image image{columns, rows, frames, bitsAllocated, bitsStored, colour, {}};
  const int components = colour ? 3 : 1;
  for (int f = 0; f < frames; ++f) {
    std::vector<std::uint8_t> frame = bitsAllocated == 8 ? MakePicture8(columns, rows, components)
                                                         : MakePicture16(columns, rows, components, bitsStored);
    if (bitsAllocated == 8) {
      for (auto &b : frame)
        b = static_cast<std::uint8_t>(b + 41 * f);
    } else {
      const unsigned mask = (1u << bitsStored) - 1;
      for (std::size_t i = 0; i + 1 < frame.size(); i += 2) {
        const unsigned v = ((frame[i] | frame[i + 1] << 8) + 977u * static_cast<unsigned>(f)) & mask;
        frame[i] = static_cast<std::uint8_t>(v);
        frame[i + 1] = static_cast<std::uint8_t>(v >> 8);
      }
    }
    image.pixels.insert(image.pixels.end(), frame.begin(), frame.end());
  }
  return image;
}

// A data set with an element before the pixel data, the pixel data element
// (native, empty) and the trailing padding element after it. Returns the
// pixel data element's index through pixelIndex.
inline void MakePixelDataSet(DcmObj &c, std::size_t &pixelIndex) {
  c.PutText(0x0008, 0x0060, "OT");
  c.Append(DcmTag::FromBytes(0x7FE0, 0x0010, 0, nullptr, "OW"));
  const std::uint8_t padding[] = {0, 0};
  c.Append(DcmTag::FromBytes(0xFFFC, 0xFFFC, 2, padding, "OB"));
  pixelIndex = 1;
}

// EncodePixelData of a copy of the image's pixels (the conversions change
// them) with slope 1, intercept 0, unsigned samples and no modality.
inline bool Encode(DcmObj &c, std::size_t &index, const Image &image, std::string_view target, float *ratio = nullptr) {
  std::vector<std::uint8_t> work = image.pixels;
  float unused = -1;
  return EncodePixelData(c, index,
                         {.pixels = work.data(),
                          .pixelBytes = work.size(),
                          .frames = image.frames,
                          .columns = image.columns,
                          .rows = image.rows,
                          .isColour = image.colour,
                          .bitsAllocated = image.bitsAllocated,
                          .bitsStored = image.bitsStored,
                          .targetTransferSyntax = target},
                         ratio != nullptr ? *ratio : unused);
}

} // namespace fw::test
