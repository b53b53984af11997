// TImages: a display image prepared from a data set (PrepareDisplayImage) for
// drawing (RenderImage): geometry, colour model, a few identifying texts and
// the frames' pixels.
//
// pixels holds the frames one after another: colour as R, G, B bytes per
// pixel, greyscale as the stored samples (1 byte, or 2 bytes little-endian).
// It may be shorter than frameCount frames when the data set's pixel data
// was; a frame that is not wholly present is not drawn.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fw {

struct TImages {
  // Identifying texts, for report pages.
  std::string patientName;      // (0010,0010)
  std::string patientId;        // (0010,0020)
  std::string patientBirthDate; // (0010,0030)
  std::string patientSex;       // (0010,0040)
  std::string studyDescription; // (0008,1030)
  std::string institutionName;  // (0008,0080)
  std::string modality;         // (0008,0060)

  std::int32_t imageInstanceNumber = 0; // (0020,0013)
  std::int32_t frameCount = 1;          // (0028,0008)
  std::uint16_t rows = 0;               // (0028,0010)
  std::uint16_t columns = 0;            // (0028,0011)
  std::uint16_t bitsAllocated = 0;      // (0028,0100)
  std::string photometric;              // (0028,0004), trimmed
  // photometric is exactly "RGB" or "YBR_FULL422".
  bool isColor = false;
  // photometric is exactly "MONOCHROME1": low values are drawn bright.
  bool isMonochrome1 = false;
  std::uint16_t planarConfiguration = 0; // (0028,0006) as found in the data set

  std::vector<std::uint8_t> pixels;
};

} // namespace fw
