// PS3.4 C.6.2.1 series level keys
// SeriesInfo: the series-level record of a query (level "SERIES"), with its
// key builder and response reader. Eleven UTF-8 texts, empty when created.
//
//   #  field                 key           #  field                 key
//   0  seriesInstanceUID     (0020,000E)   6  patientPosition       (0018,5100)
//   1  seriesNumber          (0020,0011)   7  bodyPartExamined      (0018,0015)
//   2  seriesDate            (0008,0021)   8  protocolName          (0018,1030)
//   3  seriesTime            (0008,0031)   9  frameOfReferenceUID   read only, (0020,0052)
//   4  seriesDescription     (0008,103E)  10  studyInstanceUID      (0020,000D)
//   5  modality              (0008,0060)
#pragma once

#include "dicom/DcmObj.h"

#include <string>
#include <vector>

namespace fw {

struct SeriesInfo {
  std::string seriesInstanceUID;
  std::string seriesNumber;
  std::string seriesDate;
  std::string seriesTime;
  std::string seriesDescription;
  std::string modality;
  std::string patientPosition;
  std::string bodyPartExamined;
  std::string protocolName;
  std::string frameOfReferenceUID;
  std::string studyInstanceUID;

  bool operator==(const SeriesInfo &) const = default;
};

// The eleven fields in record order.
std::vector<std::string> FieldTexts(const SeriesInfo &series);

// Fills an empty identifier with the eleven series keys in tag order, the
// level key (0008,0052) "SERIES" among them; (0008,0005) and the values'
// encoding as CharacterSet.h says.
void BuildSeriesKeys(const SeriesInfo &series, DcmObj &identifier);

// Fills the record from a response identifier, as ReadStudyInfo does.
void ReadSeriesInfo(SeriesInfo &series, const DcmObj &identifier);

} // namespace fw
