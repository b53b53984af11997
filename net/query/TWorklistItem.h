// PS3.4 K.6.1 Modality Worklist information model keys
// TWorklistItem: the record of a Modality Worklist query, with its key
// builder and response reader. Twenty-two UTF-8 texts, empty when created.
//
//   #  field                              query key                 filled from
//   0  patientName                        (0010,0010)               (0010,0010)
//   1  patientID                          (0010,0020)               (0010,0020)
//   2  patientBirthDate                   (0010,0030)               (0010,0030)
//   3  patientSex                         (0010,0040)               (0010,0040)
//   4  accessionNumber                    (0008,0050)               (0008,0050)
//   5  requestingPhysician                (0032,1032)               (0032,1032)
//   6  allergies                          sent empty                (0010,2110)
//   7  studyInstanceUID                   (0020,000D)               (0020,000D)
//   8  requestedProcedureDescription      (0032,1060)               (0032,1060)
//   9  scheduledStartTime                 (0040,0003) in the step   (0040,0003)
//  10  scheduledStartDate                 (0040,0002) in the step   (0040,0002)
//  11  modality                           (0008,0060) in the step   (0008,0060)
//  12  scheduledStationAETitle            sent empty, in the step   (0040,0001)
//  13  scheduledPerformingPhysicianName   (0040,0006) in the step   (0040,0006)
//  14  requestedContrastAgent             sent empty, in the step   (0032,1070)
//  15  scheduledProcedureStepID           (0040,0009) in the step   (0040,0009)
//  16  scheduledProcedureStepDescription  (0040,0007) in the step   (0040,0007)
//  17  scheduledStationName               (0040,0010) in the step   (0040,0010)
//  18  scheduledProcedureStepLocation     (0040,0011) in the step   (0040,0011)
//  19  preMedication                      (0040,0012) in the step   (0040,0012)
//  20  requestedProcedureID               sent empty                (0040,1001)
//  21  requestedProcedurePriority         sent empty                (0040,1003)
//
// "In the step" means in the one item of (0040,0100) Scheduled Procedure Step
// Sequence.
#pragma once

#include "dicom/DcmObj.h"

#include <string>
#include <vector>

namespace fw {

struct TWorklistItem {
  std::string patientName;
  std::string patientID;
  std::string patientBirthDate;
  std::string patientSex;
  std::string accessionNumber;
  std::string requestingPhysician;
  std::string allergies;
  std::string studyInstanceUID;
  std::string requestedProcedureDescription;
  std::string scheduledStartTime;
  std::string scheduledStartDate;
  std::string modality;
  std::string scheduledStationAETitle;
  std::string scheduledPerformingPhysicianName;
  std::string requestedContrastAgent;
  std::string scheduledProcedureStepID;
  std::string scheduledProcedureStepDescription;
  std::string scheduledStationName;
  std::string scheduledProcedureStepLocation;
  std::string preMedication;
  std::string requestedProcedureID;
  std::string requestedProcedurePriority;

  bool operator==(const TWorklistItem &) const = default;
};

// The twenty-two fields in record order.
std::vector<std::string> FieldTexts(const TWorklistItem &item);

// Fills an empty identifier: (0008,0050), (0010,0010), (0010,0020),
// (0010,0030), (0010,0040), (0010,2110) empty, (0020,000D), (0032,1032),
// (0032,1060); then (0040,0100) holding one item with the step keys, built
// as a container of its own and inserted with InsertSequence; then (0040,1001)
// and (0040,1003) empty. (0008,0005) and the values' encoding as
// CharacterSet.h says.
void BuildWorklistKeys(const TWorklistItem &item, DcmObj &identifier);

// Fills the record from a response identifier: every element entry, in
// order, descending into every nested container (sequences and items at any
// depth), so the step item's attributes land next to the top-level ones.
void ReadWorklistItem(TWorklistItem &item, const DcmObj &identifier);

} // namespace fw
