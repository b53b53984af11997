// The frame-to-DICOM object builder: stills and clips become DICOM files
// in "temp/" below the program folder, one JPEG baseline fragment per frame.
//
//   object  SOP class (StationIods.h)        frames
//   still   the modality's still class       the first one taken
//   clip    the modality's clip class        every frame, in order
//
// Every object is a valid instance of its class: Image Type two values
// (ORIGINAL\PRIMARY, DERIVED\SECONDARY for secondary capture), Patient
// Orientation and Laterality empty (unknown), Series Number 1, Content Date
// and Time, YBR_FULL_422 colour (the frames' 4:2:2 chroma) and the lossy
// compression attributes; clips add Number of Frames, Frame Increment
// Pointer, Frame Time and Cine Rate. The VL classes add an empty Acquisition
// Context Sequence, and their clips an Anatomic Region Sequence of "Unknown";
// secondary capture adds Conversion Type WSD and Burned In Annotation YES
// (the captured screen may show the patient's name).
//
// Files are named "temp/" + accession number + instance number + ".dcm".
// An existing file is never overwritten: instance numbers whose file is
// already there are passed over. UIDs: series baseUid + ".20", instance
// baseUid + ".10." + instance number.
#pragma once

#include "acquisition/EncodedFrame.h"
#include "acquisition/StationIods.h"
#include "dicom/DcmObj.h"
#include "net/query/StudyInfo.h"

#include <cstddef>
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
  std::int32_t seriesNumber = 1;
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

// The interval between frames in milliseconds as DS text: 25/1 gives "40.0",
// 30/1 "33.3333"; "40.0" when the rate is unknown.
std::string FrameTimeText(int rateNumerator, int rateDenominator);

// Frames per second rounded to a whole number as IS text: 30000/1001 gives
// "30"; "25" when the rate is unknown.
std::string CineRateText(int rateNumerator, int rateDenominator);

// What a save knows of the object beyond the context and the state.
struct ObjectDescription {
  std::string sopClassUid;
  std::string sopInstanceUid;
  std::int32_t columns = 0;
  std::int32_t rows = 0;
  // A clip: the multi-frame and cine attributes are written, whatever the
  // number of frames.
  bool clip = false;
  std::string frameTime = "40.0";
  std::string cineRate = "25";
  // Bytes of all the JPEG streams; 0 leaves the compression ratio out.
  std::uint64_t compressedBytes = 0;
};

// A patient or worklist value (any bytes) as part of a file name: letters,
// digits, "-", "_" and "." (not first) are kept, every other byte becomes
// "_", and only the first MAX_FILE_NAME_PART bytes are used. So "2024/123"
// is "2024_123" and "../x" is "_._x": never a folder, never hidden.
inline constexpr std::size_t MAX_FILE_NAME_PART = 64;
std::string SafeFileNamePart(std::string_view text);

// "temp/" + the accession number made safe + instance number + ".dcm".
// Names that coincide after the mapping stay apart because a save never
// takes a name that exists (it moves on to the next instance number).
std::string ObjectFileName(std::string_view accessionNumber, std::int32_t instanceNumber);

// Appends every element of the object but the pixel data, in ascending tag
// order, for the class in object.sopClassUid and the modality of the
// context (ObjectModality). Empty context fields give zero-length elements.
// The context's texts are UTF-8; the object carries them as EncodeTextValues
// says (SpecificCharacterSet.h): Specific Character Set "ISO_IR 100" first and
// Latin-1 bytes when every text fits Latin-1, "ISO_IR 192" and UTF-8
// otherwise, none when all are ASCII. Number of Frames is state.numberOfFrames. The clock is
// read once: Instance Creation, Content and Acquisition dates and times are
// all that one reading (Study Date and Time come from the context).
void BuildImageDataSet(DcmObj &dataSet, const StudyInfo &context, const ObjectDescription &object,
                       const AcquisitionState &state, const LocalClock &clock);

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
