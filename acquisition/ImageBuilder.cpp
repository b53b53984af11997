// The frame-to-DICOM object builder.
#include "acquisition/ImageBuilder.h"

#include "base/Log.h"
#include "dicom/SpecificCharacterSet.h"
#include "dicom/Tags.h"
#include "dicom/Uids.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace fw {
namespace {

// Anatomic Region of a VL clip, which the class requires and the station
// cannot know: SNOMED CT "Unknown".
constexpr std::string_view UNKNOWN_CODE_VALUE = "261665006";
constexpr std::string_view UNKNOWN_CODING_SCHEME = "SCT";
constexpr std::string_view UNKNOWN_CODE_MEANING = "Unknown";

// Study ID is a Short String.
constexpr std::size_t STUDY_ID_LENGTH = 16;

// Instance numbers tried past existing files before a save gives up; far
// more than a working folder ever holds.
constexpr std::int32_t MAX_SKIPPED_NUMBERS = 100000;

void AppendText(DcmObj &dataSet, Tag tag, std::string_view vr, std::string_view text) {
  dataSet.Append(DcmTag::FromText(tag, text, vr));
}

void AppendUS(DcmObj &dataSet, Tag tag, std::uint16_t value) {
  const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)};
  dataSet.Append(DcmTag::FromBytes(tag, 2, bytes, "US"));
}

// A sequence of the given items (none: an empty sequence), after the
// elements appended so far.
void AppendSequence(DcmObj &dataSet, Tag tag, const std::vector<const DcmObj *> &items) {
  DcmObj sequence;
  for (const DcmObj *item : items) {
    sequence.InsertSequence(tag::Item, *item);
  }
  dataSet.InsertSequence(tag, sequence);
}

// Uncompressed bytes over compressed bytes, as DS text ("12.34").
std::string CompressionRatioText(std::uint64_t uncompressed, std::uint64_t compressed) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f", static_cast<double>(uncompressed) / static_cast<double>(compressed));
  std::string value = text;
  return value.size() <= 16 ? value : value.substr(0, value.find('.'));
}

std::string TwoDigits(int value, const char *format) {
  char text[32];
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

// What is saved and the name its log lines go under.
struct ObjectKind {
  const char *operation;
  bool clip;
};
constexpr ObjectKind STILL_OBJECT{"SaveStill", false};
constexpr ObjectKind CLIP_OBJECT{"SaveClip", true};

// Takes the next free file name, counting the instance number up; false
// (with the last name tried) when none could be taken.
bool ReserveObjectName(AcquisitionState &state, const StudyInfo &context, const std::string &programFolder,
                       std::string &name) {
  // Files left by an earlier run keep their names: their numbers are passed
  // over. The name is taken by creating it exclusively, so another process
  // saving into the same folder at the same moment cannot take it too (a
  // check for existence followed by the write would let both write one file).
  for (std::int32_t tries = 0; tries < MAX_SKIPPED_NUMBERS; ++tries) {
    ++state.instanceNumber;
    name = ObjectFileName(context.accessionNumber, state.instanceNumber);
    const int fd = ::open((programFolder + name).c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::close(fd);
      return true;
    }
    if (errno != EEXIST) {
      return false;
    }
  }
  return false;
}

bool SaveObject(ObjectKind kind, AcquisitionState &state, const StudyInfo &context, CapturedFrames captured,
                const std::string &programFolder, const LocalClock &clock) {
  const char *operation = kind.operation;
  const bool clip = kind.clip;
  std::string name;
  const bool reserved = ReserveObjectName(state, context, programFolder, name);
  const std::string path = programFolder + name;
  if (!reserved) {
    WriteLog(std::string("ERROR, ") + operation + ", couldn't write " + path);
    return false;
  }

  if (!clip && captured.frames.size() > 1) {
    captured.frames.resize(1);
  }
  state.numberOfFrames = clip ? static_cast<std::int32_t>(captured.frames.size()) : 1;
  state.currentSopClassUid = clip ? ClipSopClassUid(context.modality) : StillSopClassUid(context.modality);
  const std::string sopInstanceUid = state.baseUid + ".10." + std::to_string(state.instanceNumber);

  ObjectDescription object;
  object.sopClassUid = state.currentSopClassUid;
  object.sopInstanceUid = sopInstanceUid;
  object.columns = captured.width;
  object.rows = captured.height;
  object.clip = clip;
  object.frameTime = FrameTimeText(captured.rateNumerator, captured.rateDenominator);
  object.cineRate = CineRateText(captured.rateNumerator, captured.rateDenominator);
  for (const EncodedFrame &frame : captured.frames) {
    object.compressedBytes += frame.data.size();
  }
  DcmObj dataSet;
  BuildImageDataSet(dataSet, context, object, state, clock);
  dataSet.transferSyntax = std::string(JPEG_BASELINE);
  dataSet.explicitVR = true;
  AppendEncapsulatedFrames(dataSet, std::move(captured.frames));

  // The name was reserved above, so a partial file is this save's own.
  if (!dataSet.Write(path)) {
    std::error_code error;
    std::filesystem::remove(path, error);
    WriteLog(std::string("ERROR, ") + operation + ", couldn't write " + path);
    return false;
  }
  state.fileList.push_back(
      {path, name, state.currentSopClassUid, state.instanceNumber, state.numberOfFrames, false, {}});
  return true;
}

} // namespace

std::tm SystemLocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

std::string DicomDateText(const std::tm &time) {
  return TwoDigits(time.tm_year + 1900, "%04d") + TwoDigits(time.tm_mon + 1, "%02d") + TwoDigits(time.tm_mday, "%02d");
}

std::string DicomTimeText(const std::tm &time) {
  return TwoDigits(time.tm_hour, "%02d") + TwoDigits(time.tm_min, "%02d") + TwoDigits(time.tm_sec, "%02d");
}

std::string FrameTimeText(int rateNumerator, int rateDenominator) {
  if (rateNumerator <= 0 || rateDenominator <= 0) {
    return "40.0";
  }
  char text[32];
  std::snprintf(text, sizeof(text), "%.4f", 1000.0 * rateDenominator / rateNumerator);
  std::string value = text;
  // At most 16 characters and at least one decimal: "40.0", "33.3333".
  while (value.size() > 2 && value.back() == '0' && value[value.size() - 2] != '.') {
    value.pop_back();
  }
  if (value.size() > 16) {
    value.resize(16);
  }
  return value;
}

std::string CineRateText(int rateNumerator, int rateDenominator) {
  if (rateNumerator <= 0 || rateDenominator <= 0) {
    return "25";
  }
  const long long rounded = (2LL * rateNumerator + rateDenominator) / (2LL * rateDenominator);
  return std::to_string(rounded > 0 ? rounded : 1);
}

std::string SafeFileNamePart(std::string_view text) {
  std::string safe;
  for (const char c : text.substr(0, MAX_FILE_NAME_PART)) {
    const bool letterOrDigit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    // A dot inside is harmless; a leading one would hide the file.
    const bool allowed = letterOrDigit || c == '-' || c == '_' || (c == '.' && !safe.empty());
    safe.push_back(allowed ? c : '_');
  }
  return safe;
}

std::string ObjectFileName(std::string_view accessionNumber, std::int32_t instanceNumber) {
  return "temp/" + SafeFileNamePart(accessionNumber) + std::to_string(instanceNumber) + ".dcm";
}

void BuildImageDataSet(DcmObj &dataSet, const StudyInfo &context, const ObjectDescription &object,
                       const AcquisitionState &state, const LocalClock &clock) {
  const IodFamily family = IodForModality(context.modality).family;
  const bool secondaryCapture = family == IodFamily::SecondaryCapture;
  const bool visibleLight = family == IodFamily::VlEndoscopic || family == IodFamily::VlPhotographic;
  // A modality's own picture, or a capture of another device's screen.
  AppendText(dataSet, tag::ImageType, "CS", secondaryCapture ? "DERIVED\\SECONDARY" : "ORIGINAL\\PRIMARY");
  // One reading for every date and time of the object, so that none of them
  // falls on another day than the others when the save crosses midnight.
  const std::tm now = clock();
  const std::string date = DicomDateText(now);
  const std::string time = DicomTimeText(now);
  AppendText(dataSet, tag::InstanceCreationDate, "DA", date);
  AppendText(dataSet, tag::InstanceCreationTime, "TM", time);
  AppendText(dataSet, tag::SOPClassUID, "UI", object.sopClassUid);
  AppendText(dataSet, tag::SOPInstanceUID, "UI", object.sopInstanceUid);
  AppendText(dataSet, tag::StudyDate, "DA", context.studyDate);
  AppendText(dataSet, tag::ContentDate, "DA", date);
  AppendText(dataSet, tag::StudyTime, "TM", context.studyTime);
  AppendText(dataSet, tag::AcquisitionTime, "TM", time);
  AppendText(dataSet, tag::ContentTime, "TM", time);
  AppendText(dataSet, tag::AccessionNumber, "SH", context.accessionNumber);
  AppendText(dataSet, tag::Modality, "CS", ObjectModality(context.modality));
  if (secondaryCapture) {
    // Only secondary capture has the SC Equipment module.
    AppendText(dataSet, tag::ConversionType, "CS", "WSD");
  }
  AppendText(dataSet, tag::Manufacturer, "LO", "Framewell");
  AppendText(dataSet, tag::InstitutionName, "LO", context.institutionName);
  AppendText(dataSet, tag::ReferringPhysicianName, "PN", context.referringPhysicianName);
  AppendText(dataSet, tag::StudyDescription, "LO", context.studyDescription);
  // The procedure (typed, or the worklist's) names the series too.
  if (!context.studyDescription.empty()) {
    AppendText(dataSet, tag::SeriesDescription, "LO", context.studyDescription);
  }
  if (visibleLight && object.clip) {
    DcmObj unknown;
    AppendText(unknown, tag::CodeValue, "SH", UNKNOWN_CODE_VALUE);
    AppendText(unknown, tag::CodingSchemeDesignator, "SH", UNKNOWN_CODING_SCHEME);
    AppendText(unknown, tag::CodeMeaning, "LO", UNKNOWN_CODE_MEANING);
    AppendSequence(dataSet, tag::AnatomicRegionSequence, {&unknown});
  }
  AppendText(dataSet, tag::PatientName, "PN", context.patientName);
  AppendText(dataSet, tag::PatientID, "LO", context.patientID);
  AppendText(dataSet, tag::PatientBirthDate, "DA", context.patientBirthDate);
  AppendText(dataSet, tag::PatientSex, "CS", context.patientSex);
  if (object.clip) {
    AppendText(dataSet, tag::CineRate, "IS", object.cineRate);
    AppendText(dataSet, tag::FrameTime, "DS", object.frameTime);
  }
  AppendText(dataSet, tag::StudyInstanceUID, "UI", context.studyInstanceUID);
  AppendText(dataSet, tag::SeriesInstanceUID, "UI", state.seriesInstanceUid);
  // No study identifier of its own: the accession number identifies the
  // study as well.
  AppendText(dataSet, tag::StudyID, "SH",
             context.studyID.empty() ? context.accessionNumber.substr(0, STUDY_ID_LENGTH) : context.studyID);
  AppendText(dataSet, tag::SeriesNumber, "IS", std::to_string(state.seriesNumber));
  AppendText(dataSet, tag::InstanceNumber, "IS", std::to_string(state.instanceNumber));
  // The station knows neither the patient's orientation nor the body side:
  // both present and empty.
  AppendText(dataSet, tag::PatientOrientation, "CS", "");
  AppendText(dataSet, tag::Laterality, "CS", "");
  AppendUS(dataSet, tag::SamplesPerPixel, 3);
  // The frames' chroma is sampled 2x1 (CAPTURE_CHROMA), the only colour
  // JPEG baseline form every class here accepts.
  AppendText(dataSet, tag::PhotometricInterpretation, "CS", "YBR_FULL_422");
  AppendUS(dataSet, tag::PlanarConfiguration, 0);
  if (object.clip) {
    AppendText(dataSet, tag::NumberOfFrames, "IS", std::to_string(state.numberOfFrames));
    // The frames follow one another at Frame Time: its tag, group then
    // element, each little endian.
    const std::uint8_t frameTimeTag[4] = {static_cast<std::uint8_t>(tag::FrameTime.group & 0xFF),
                                          static_cast<std::uint8_t>(tag::FrameTime.group >> 8),
                                          static_cast<std::uint8_t>(tag::FrameTime.element & 0xFF),
                                          static_cast<std::uint8_t>(tag::FrameTime.element >> 8)};
    dataSet.Append(DcmTag::FromBytes(tag::FrameIncrementPointer, 4, frameTimeTag, "AT"));
  }
  AppendUS(dataSet, tag::Rows, static_cast<std::uint16_t>(object.rows));
  AppendUS(dataSet, tag::Columns, static_cast<std::uint16_t>(object.columns));
  AppendUS(dataSet, tag::BitsAllocated, 8);
  AppendUS(dataSet, tag::BitsStored, 8);
  AppendUS(dataSet, tag::HighBit, 7);
  AppendUS(dataSet, tag::PixelRepresentation, 0);
  if (secondaryCapture) {
    // A captured screen may show the patient's name: say so, so that
    // de-identification does not pass it as clean.
    AppendText(dataSet, tag::BurnedInAnnotation, "CS", "YES");
  }
  // The frames are baseline JPEG at quality 90: lossy.
  AppendText(dataSet, tag::LossyImageCompression, "CS", "01");
  if (object.compressedBytes > 0) {
    const std::uint64_t uncompressed = static_cast<std::uint64_t>(std::max(object.rows, 0)) *
                                       static_cast<std::uint64_t>(std::max(object.columns, 0)) * 3 *
                                       static_cast<std::uint64_t>(std::max(state.numberOfFrames, 1));
    AppendText(dataSet, tag::LossyImageCompressionRatio, "DS",
               CompressionRatioText(uncompressed, object.compressedBytes));
  }
  AppendText(dataSet, tag::LossyImageCompressionMethod, "CS", "ISO_10918_1");
  if (visibleLight) {
    AppendSequence(dataSet, tag::AcquisitionContextSequence, {});
  }
  // The context's texts are UTF-8: Latin-1 bytes when they all fit, else
  // UTF-8, with the matching Specific Character Set first.
  EncodeTextValues(dataSet);
}

void AppendEncapsulatedFrames(DcmObj &dataSet, std::vector<EncodedFrame> frames) {
  dataSet.Append(DcmTag::FromBytes(tag::PixelData, UNDEFINED_LENGTH, nullptr, "OB"));
  dataSet.Append(DcmTag::FromBytes(tag::Item, 0, nullptr, "DL"));
  for (EncodedFrame &frame : frames) {
    auto item = std::make_unique<DcmTag>();
    item->group = tag::Item.group;
    item->element = tag::Item.element;
    item->SetVR("DL");
    item->data = std::move(frame.data);
    if (item->data.size() % 2 != 0) {
      item->data.push_back(0x00);
    }
    item->length = static_cast<std::uint32_t>(item->data.size());
    dataSet.Append(std::move(item));
  }
  dataSet.Append(DcmTag::FromBytes(tag::SequenceDelimitationItem, 0, nullptr, "DL"));
}

bool SaveStill(AcquisitionState &state, const StudyInfo &context, CapturedFrames captured,
               const std::string &programFolder, const LocalClock &clock) {
  return SaveObject(STILL_OBJECT, state, context, std::move(captured), programFolder, clock);
}

bool SaveClip(AcquisitionState &state, const StudyInfo &context, CapturedFrames captured,
              const std::string &programFolder, const LocalClock &clock) {
  return SaveObject(CLIP_OBJECT, state, context, std::move(captured), programFolder, clock);
}

} // namespace fw
