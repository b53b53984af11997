// The frame-to-DICOM object builder: stills and clips become DICOM files
// in "temp/" below the program folder, one JPEG baseline fragment per frame.
//
//   object  SOP class                                  frames
//   still   StillSopClassUid(context modality)         the first one taken
//   clip    Ultrasound Multi-frame Image Storage       every frame, in order
//
// Modality of a still (exact, case-sensitive; anything else, "" included,
// gives Ultrasound Image Storage):
//
//   "CR" CR Image Storage          "DX" X-Ray Angiographic Image Storage
//   "CT" CT Image Storage          "ES" CT Image Storage
//   "MR" MR Image Storage          "OT" Video Endoscopic Image Storage
//
// Files are named "temp/" + accession number + instance number + ".dcm".
// An existing file is never overwritten: instance numbers whose file is
// already there are passed over. UIDs: series baseUid + ".20", instance
// baseUid + ".10." + instance number.
#pragma once

#include "acquisition/EncodedFrame.h"
#include "dicom/DcmObj.h"
#include "net/query/StudyInfo.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

// The station's calendar clock, in local time. Tests give their own.
using LocalClock = std::function<std::tm()>;
std::tm SystemLocalTime();
// "yyyymmdd" and "hhnnss" of a local time.
std::string DicomDateText(const std::tm &time);
std::string DicomTimeText(const std::tm &time);

// One object of the acquisition.
struct AcquiredFile {
  std::string path;        // programFolder + name
  std::string name;        // "temp/A1231.dcm"
  std::string sopClassUid; // what it is stored as
  std::int32_t instanceNumber = 0;
  std::int32_t frames = 0;
  bool stored = false; // the PACS confirmed it (status 0x0000)
  std::string problem; // why the last send did not store it; empty when it did
};

// The acquisition record: set up at every opening, updated by each save.
struct AcquisitionState {
  std::vector<AcquiredFile> fileList;
  std::int32_t instanceNumber = 0; // of the last object built
  std::int32_t seriesNumber = 0;
  std::string baseUid;
  std::string seriesInstanceUid;
  std::string currentSopClassUid;  // of the last object built
  std::int32_t numberOfFrames = 0; // of the object being built
};

// What a save takes from the pipeline once the capture has stopped.
struct CapturedFrames {
  std::vector<EncodedFrame> frames;
  int width = 0;
  int height = 0;
  int rateNumerator = 0; // frames per second as a fraction; 0 unknown
  int rateDenominator = 1;
};

std::string StillSopClassUid(std::string_view modality);

// The interval between frames in milliseconds as DS text: 25/1 gives "40.0",
// 30/1 "33.3333"; "40.0" when the rate is unknown.
std::string FrameTimeText(int rateNumerator, int rateDenominator);

// "temp/" + accession number + instance number + ".dcm".
std::string ObjectFileName(std::string_view accessionNumber, std::int32_t instanceNumber);

// Appends every element of the object but the pixel data, in ascending tag
// order; the multi-frame elements only when state.numberOfFrames > 1. Empty
// context fields give zero-length elements. The context's texts are UTF-8; the
// object carries them as EncodeTextValues says (SpecificCharacterSet.h):
// Specific Character Set "ISO_IR 100" first and Latin-1 bytes when every text
// fits Latin-1, "ISO_IR 192" and UTF-8 otherwise, none when all are ASCII. The clock is read once
// for each of the four current values.
void BuildImageDataSet(DcmObj &dataSet, const StudyInfo &context, std::string_view sopClassUid,
                       std::string_view sopInstanceUid, std::int32_t columns, std::int32_t rows,
                       const AcquisitionState &state, const LocalClock &clock, std::string_view frameTime = "40.0");

// Appends Pixel Data of undefined length, an empty offset table item, one
// item per frame (odd lengths padded with 0x00) and the sequence delimiter.
// The frames' bytes are moved into the items.
void AppendEncapsulatedFrames(DcmObj &dataSet, std::vector<EncodedFrame> frames);

// Build, write and list one object. False when the file could not be written
// ("ERROR, SaveStill, couldn't write " + path is logged, no partial file is
// left, nothing is listed); the instance number stays used either way.
bool SaveStill(AcquisitionState &state, const StudyInfo &context, CapturedFrames captured,
               const std::string &programFolder, const LocalClock &clock);
bool SaveClip(AcquisitionState &state, const StudyInfo &context, CapturedFrames captured,
              const std::string &programFolder, const LocalClock &clock);

} // namespace fw
