// PS3.4 C.6.2.1 Study Root study level keys
// StudyInfo: the study-level record of a study query (Study Root, level
// "STUDY"), and the patient and study context of an acquisition. Fifteen
// UTF-8 texts, all empty when created. With it: the key builder of the
// query identifier and the reader of a response identifier.
//
//   #  field                   query key sent                  filled from
//   0  studyInstanceUID        (0020,000D) UI                  (0020,000D)
//   1  studyDate               (0008,0020) DA                  (0008,0020)
//   2  studyTime               (0008,0030) TM                  (0008,0030)
//   3  studyID                 (0020,0010) SH                  (0020,0010)
//   4  studyDescription        (0008,1030) LO                  (0008,1030)
//   5  accessionNumber         (0008,0050) SH                  (0008,0050)
//   6  institutionName         (0008,0080) LO                  (0008,0080)
//   7  referringPhysicianName  (0008,0090) PN                  (0008,0090)
//   8  modality                (0008,0061) CS Modalities in    (0008,0060) and (0008,0061),
//                              Study                           whichever comes later
//   9  patientID               (0010,0020) LO                  (0010,0020)
//  10  patientName             (0010,0010) PN                  (0010,0010), "," made "^"
//  11  patientBirthDate        (0010,0030) DA                  (0010,0030)
//  12  patientSex              (0010,0040) CS                  (0010,0040)
//  13  patientAge              (0010,1010) AS                  (0010,1010)
//  14  patientWeight           (0010,1030) DS                  (0010,1030)
#pragma once

#include "dicom/DcmObj.h"

#include <string>
#include <vector>

namespace fw {

struct StudyInfo {
  std::string studyInstanceUID;
  std::string studyDate;
  std::string studyTime;
  std::string studyID;
  std::string studyDescription;
  std::string accessionNumber;
  std::string institutionName;
  std::string referringPhysicianName;
  std::string modality;
  std::string patientID;
  std::string patientName;
  std::string patientBirthDate;
  std::string patientSex;
  std::string patientAge;
  std::string patientWeight;

  bool operator==(const StudyInfo &) const = default;
};

// The fifteen fields in record order.
std::vector<std::string> FieldTexts(const StudyInfo &study);

// Fills an empty identifier with the sixteen study keys in tag order, the
// level key (0008,0052) "STUDY" among them; (0008,0005) and the values'
// encoding as CharacterSet.h says.
void BuildStudyKeys(const StudyInfo &study, DcmObj &identifier);

// Fills the record from a response identifier: every element entry in order,
// the elements of a flat sequence included, nested containers passed over.
void ReadStudyInfo(StudyInfo &study, const DcmObj &identifier);

} // namespace fw
