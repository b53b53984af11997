// The frame-to-DICOM object builder.
#include "acquisition/ImageBuilder.h"

#include "app/base/Log.h"
#include "dicom/SpecificCharacterSet.h"
#include "dicom/Uids.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <utility>

namespace fw {
namespace {

struct StillClass {
  std::string_view modality;
  std::string_view sopClass;
};

constexpr std::array<StillClass, 6> STILL_CLASSES = {{
    {"CR", CR_IMAGE_STORAGE},
    {"CT", CT_IMAGE_STORAGE},
    {"MR", MR_IMAGE_STORAGE},
    {"DX", XRAY_ANGIOGRAPHIC_IMAGE_STORAGE},
    {"ES", CT_IMAGE_STORAGE},
    {"OT", VIDEO_ENDOSCOPIC_IMAGE_STORAGE},
}};

// Instance numbers tried past existing files before a save gives up; far
// more than a working folder ever holds.
constexpr std::int32_t MAX_SKIPPED_NUMBERS = 100000;

void AppendText(DcmObj &dataSet, std::uint16_t group, std::uint16_t element, std::string_view vr,
                std::string_view text) {
  dataSet.Append(DcmTag::FromText(group, element, text, vr));
}

void AppendUS(DcmObj &dataSet, std::uint16_t group, std::uint16_t element, std::uint16_t value) {
  const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)};
  dataSet.Append(DcmTag::FromBytes(group, element, 2, bytes, "US"));
}

std::string TwoDigits(int value, const char *format) {
  char text[32];
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

bool SaveObject(const char *operation, bool clip, AcquisitionState &state, const StudyInfo &context,
                CapturedFrames captured, const std::string &programFolder, const LocalClock &clock) {
  // Files left by an earlier run keep their names: their numbers are passed
  // over.
  std::string name;
  for (std::int32_t tries = 0; tries < MAX_SKIPPED_NUMBERS; ++tries) {
    ++state.instanceNumber;
    name = ObjectFileName(context.accessionNumber, state.instanceNumber);
    std::error_code error;
    if (!std::filesystem::exists(programFolder + name, error)) {
      break;
    }
  }
  const std::string path = programFolder + name;

  if (!clip && captured.frames.size() > 1) {
    captured.frames.resize(1);
  }
  state.numberOfFrames = clip ? static_cast<std::int32_t>(captured.frames.size()) : 1;
  state.currentSopClassUid =
      clip ? std::string(ULTRASOUND_MULTIFRAME_IMAGE_STORAGE) : StillSopClassUid(context.modality);
  const std::string sopInstanceUid = state.baseUid + ".10." + std::to_string(state.instanceNumber);

  DcmObj dataSet;
  BuildImageDataSet(dataSet, context, state.currentSopClassUid, sopInstanceUid, captured.width, captured.height, state,
                    clock, FrameTimeText(captured.rateNumerator, captured.rateDenominator));
  dataSet.transferSyntax = std::string(JPEG_BASELINE);
  dataSet.explicitVR = true;
  AppendEncapsulatedFrames(dataSet, std::move(captured.frames));

  // The name was free a moment ago, so a partial file is this save's own.
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

std::string StillSopClassUid(std::string_view modality) {
  for (const StillClass &entry : STILL_CLASSES) {
    if (entry.modality == modality) {
      return std::string(entry.sopClass);
    }
  }
  return std::string(ULTRASOUND_IMAGE_STORAGE);
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

std::string ObjectFileName(std::string_view accessionNumber, std::int32_t instanceNumber) {
  return "temp/" + std::string(accessionNumber) + std::to_string(instanceNumber) + ".dcm";
}

void BuildImageDataSet(DcmObj &dataSet, const StudyInfo &context, std::string_view sopClassUid,
                       std::string_view sopInstanceUid, std::int32_t columns, std::int32_t rows,
                       const AcquisitionState &state, const LocalClock &clock, std::string_view frameTime) {
  const bool multiFrame = state.numberOfFrames > 1;
  AppendText(dataSet, 0x0008, 0x0008, "CS", "DERIVED");
  AppendText(dataSet, 0x0008, 0x0012, "DA", DicomDateText(clock()));
  AppendText(dataSet, 0x0008, 0x0013, "TM", DicomTimeText(clock()));
  AppendText(dataSet, 0x0008, 0x0016, "UI", sopClassUid);
  AppendText(dataSet, 0x0008, 0x0018, "UI", sopInstanceUid);
  AppendText(dataSet, 0x0008, 0x0020, "DA", context.studyDate);
  AppendText(dataSet, 0x0008, 0x0030, "TM", context.studyTime);
  AppendText(dataSet, 0x0008, 0x0032, "TM", DicomTimeText(clock()));
  AppendText(dataSet, 0x0008, 0x0033, "TM", DicomTimeText(clock()));
  AppendText(dataSet, 0x0008, 0x0050, "SH", context.accessionNumber);
  AppendText(dataSet, 0x0008, 0x0060, "CS", context.modality);
  AppendText(dataSet, 0x0008, 0x0064, "CS", "WSD");
  AppendText(dataSet, 0x0008, 0x0070, "LO", "Framewell");
  AppendText(dataSet, 0x0008, 0x0080, "LO", context.institutionName);
  AppendText(dataSet, 0x0008, 0x0090, "PN", context.referringPhysicianName);
  AppendText(dataSet, 0x0008, 0x1030, "LO", context.studyDescription);
  AppendText(dataSet, 0x0010, 0x0010, "PN", context.patientName);
  AppendText(dataSet, 0x0010, 0x0020, "LO", context.patientID);
  AppendText(dataSet, 0x0010, 0x0030, "DA", context.patientBirthDate);
  AppendText(dataSet, 0x0010, 0x0040, "CS", context.patientSex);
  if (multiFrame) {
    AppendText(dataSet, 0x0018, 0x1063, "DS", frameTime);
  }
  AppendText(dataSet, 0x0020, 0x000D, "UI", context.studyInstanceUID);
  AppendText(dataSet, 0x0020, 0x000E, "UI", state.seriesInstanceUid);
  AppendText(dataSet, 0x0020, 0x0010, "SH", context.studyID);
  AppendText(dataSet, 0x0020, 0x0011, "IS", std::to_string(state.seriesNumber));
  AppendText(dataSet, 0x0020, 0x0013, "IS", std::to_string(state.instanceNumber));
  AppendUS(dataSet, 0x0028, 0x0002, 3);
  // Every component of the frames is sampled 1x1: full-resolution chroma.
  AppendText(dataSet, 0x0028, 0x0004, "CS", "YBR_FULL");
  AppendUS(dataSet, 0x0028, 0x0006, 0);
  if (multiFrame) {
    AppendText(dataSet, 0x0028, 0x0008, "IS", std::to_string(state.numberOfFrames));
    const std::uint8_t frameTimeTag[4] = {0x18, 0x00, 0x63, 0x10};
    dataSet.Append(DcmTag::FromBytes(0x0028, 0x0009, 4, frameTimeTag, "AT"));
  }
  AppendUS(dataSet, 0x0028, 0x0010, static_cast<std::uint16_t>(rows));
  AppendUS(dataSet, 0x0028, 0x0011, static_cast<std::uint16_t>(columns));
  AppendUS(dataSet, 0x0028, 0x0100, 8);
  AppendUS(dataSet, 0x0028, 0x0101, 8);
  AppendUS(dataSet, 0x0028, 0x0102, 7);
  AppendUS(dataSet, 0x0028, 0x0103, 0);
  // The frames are baseline JPEG at quality 90: lossy.
  AppendText(dataSet, 0x0028, 0x2110, "CS", "01");
  AppendText(dataSet, 0x0028, 0x2114, "CS", "ISO_10918_1");
  // The context's texts are UTF-8: Latin-1 bytes when they all fit, else
  // UTF-8, with the matching Specific Character Set first.
  EncodeTextValues(dataSet);
}

void AppendEncapsulatedFrames(DcmObj &dataSet, std::vector<EncodedFrame> frames) {
  dataSet.Append(DcmTag::FromBytes(0x7FE0, 0x0010, UNDEFINED_LENGTH, nullptr, "OB"));
  dataSet.Append(DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr, "DL"));
  for (EncodedFrame &frame : frames) {
    auto item = std::make_unique<DcmTag>();
    item->group = 0xFFFE;
    item->element = 0xE000;
    item->SetVR("DL");
    item->data = std::move(frame.data);
    if (item->data.size() % 2 != 0) {
      item->data.push_back(0x00);
    }
    item->length = static_cast<std::uint32_t>(item->data.size());
    dataSet.Append(std::move(item));
  }
  dataSet.Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
}

bool SaveStill(AcquisitionState &state, const StudyInfo &context, CapturedFrames captured,
               const std::string &programFolder, const LocalClock &clock) {
  return SaveObject("SaveStill", false, state, context, std::move(captured), programFolder, clock);
}

bool SaveClip(AcquisitionState &state, const StudyInfo &context, CapturedFrames captured,
              const std::string &programFolder, const LocalClock &clock) {
  return SaveObject("SaveClip", true, state, context, std::move(captured), programFolder, clock);
}

} // namespace fw
