// PS3.4 C.6.2.1 instance level keys
// ImageInfo: the image-level record of a query (level "IMAGE"), with its key
// builder and response reader. UTF-8 texts, and four unsigned 16-bit
// numbers; all empty or 0 when created.
//
//   #  field                      key / source    #  field                      key / source
//   0  sopInstanceUID             (0008,0018)    11  photometricInterpretation  read only, (0028,0004)
//   1  sopClassUID                (0008,0016)    12  rows (US)                  read only, (0028,0010)
//   2  instanceNumber             (0020,0013)    13  columns (US)               read only, (0028,0011)
//   3  contentDate                (0008,0023)    14  bitsStored (US)            read only, (0028,0101)
//   4  contentTime                (0008,0033)    15  imageType                  (0008,0008)
//   5  numberOfFrames             (0028,0008)    16  imageOrientation           (0020,0037)
//   6  acquisitionDate            (0008,0022)    17  imagePosition              (0020,0032)
//   7  acquisitionTime            (0008,0032)    18  seriesInstanceUID          (0020,000E)
//   8  acquisitionNumber          (0020,0012)    19  studyInstanceUID           (0020,000D)
//   9  sliceLocation              (0020,1041)    20  convolutionKernel          read only, (0018,1210)
//  10  samplesPerPixel (US)       read only, (0028,0002)
#pragma once

#include "dicom/DcmObj.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fw {

struct ImageInfo {
  std::string sopInstanceUID;
  std::string sopClassUID;
  std::string instanceNumber;
  std::string contentDate;
  std::string contentTime;
  std::string numberOfFrames;
  std::string acquisitionDate;
  std::string acquisitionTime;
  std::string acquisitionNumber;
  std::string sliceLocation;
  std::uint16_t samplesPerPixel = 0;
  std::string photometricInterpretation;
  std::uint16_t rows = 0;
  std::uint16_t columns = 0;
  std::uint16_t bitsStored = 0;
  std::string imageType;
  std::string imageOrientation;
  std::string imagePosition;
  std::string seriesInstanceUID;
  std::string studyInstanceUID;
  std::string convolutionKernel;

  bool operator==(const ImageInfo &) const = default;
};

// The twenty-one fields in record order, numbers in decimal.
std::vector<std::string> FieldTexts(const ImageInfo &image);

// Fills an empty identifier with the sixteen image keys in tag order, the
// level key (0008,0052) "IMAGE" among them; (0008,0005) and the values'
// encoding as CharacterSet.h says.
void BuildImageKeys(const ImageInfo &image, DcmObj &identifier);

// Fills the record from a response identifier. Everything from an "SQ"
// element of undefined length to its closing (FFFE,E0DD), and nested
// containers, are passed over. Elements of VR "US" give their first 16-bit
// value to the four numeric fields.
void ReadImageInfo(ImageInfo &image, const DcmObj &identifier);

} // namespace fw
