// The modality-to-storage-class table of the station.
#include "acquisition/StationIods.h"

#include "dicom/Uids.h"

#include <algorithm>

namespace fw {
namespace {

struct Row {
  std::string_view modality;
  StationIod iod;
};

constexpr StationIod ULTRASOUND = {IodFamily::Ultrasound, ULTRASOUND_IMAGE_STORAGE,
                                   ULTRASOUND_MULTIFRAME_IMAGE_STORAGE};
constexpr StationIod VL_ENDOSCOPIC = {IodFamily::VlEndoscopic, VL_ENDOSCOPIC_IMAGE_STORAGE,
                                      VIDEO_ENDOSCOPIC_IMAGE_STORAGE};
constexpr StationIod VL_PHOTOGRAPHIC = {IodFamily::VlPhotographic, VL_PHOTOGRAPHIC_IMAGE_STORAGE,
                                        VIDEO_PHOTOGRAPHIC_IMAGE_STORAGE};
constexpr StationIod SECONDARY_CAPTURE = {IodFamily::SecondaryCapture, SECONDARY_CAPTURE_IMAGE_STORAGE,
                                          MULTIFRAME_TRUE_COLOR_SC_IMAGE_STORAGE};

constexpr std::array<Row, 5> ROWS = {{
    {"US", ULTRASOUND},
    {"ES", VL_ENDOSCOPIC},
    {"XC", VL_PHOTOGRAPHIC},
    {"GM", VL_PHOTOGRAPHIC},
    {"OT", VL_PHOTOGRAPHIC},
}};

// A Code String value that can stand as a modality: 1 to 16 upper-case
// letters, digits, spaces and underscores, not only spaces.
bool IsModalityCode(std::string_view text) {
  return !text.empty() && text.size() <= 16 && text.find_first_not_of(' ') != std::string_view::npos &&
         std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' || c == '_'; });
}

} // namespace

bool IsStationModality(std::string_view modality) {
  return std::find(STATION_MODALITIES.begin(), STATION_MODALITIES.end(), modality) != STATION_MODALITIES.end();
}

const StationIod &IodForModality(std::string_view modality) {
  for (const Row &row : ROWS) {
    if (row.modality == modality) {
      return row.iod;
    }
  }
  return SECONDARY_CAPTURE;
}

std::string StillSopClassUid(std::string_view modality) { return std::string(IodForModality(modality).stillSopClass); }

std::string ClipSopClassUid(std::string_view modality) { return std::string(IodForModality(modality).clipSopClass); }

std::string ObjectModality(std::string_view modality) {
  switch (IodForModality(modality).family) {
  case IodFamily::Ultrasound:
    return "US";
  case IodFamily::VlEndoscopic:
    return "ES";
  case IodFamily::VlPhotographic:
    return "XC";
  case IodFamily::SecondaryCapture:
    break;
  }
  // Modality is Type 1: a missing or malformed code becomes "other".
  return IsModalityCode(modality) ? std::string(modality) : "OT";
}

std::vector<std::string> StationSopClasses() {
  std::vector<std::string> classes;
  const auto add = [&](std::string_view uid) {
    if (std::find(classes.begin(), classes.end(), uid) == classes.end()) {
      classes.emplace_back(uid);
    }
  };
  for (const Row &row : ROWS) {
    add(row.iod.stillSopClass);
    add(row.iod.clipSopClass);
  }
  add(SECONDARY_CAPTURE.stillSopClass);
  add(SECONDARY_CAPTURE.clipSopClass);
  return classes;
}

} // namespace fw
