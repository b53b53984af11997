// The storage classes the station makes, by the station's modality: the one
// table the image builder, Send's proposal and the Conformance Statement
// follow.
//
//   station modality       still                           clip                                         Modality
//   US                     Ultrasound Image                Ultrasound Multi-frame Image                 US
//   ES                     VL Endoscopic Image             Video Endoscopic Image                       ES
//   XC, GM, OT             VL Photographic Image           Video Photographic Image                     XC
//   any other (CR, CT, MR, Secondary Capture Image         Multi-frame True Color Secondary Capture     as set,
//   DX, XA, RF, ...)       (Conversion Type WSD)           Image                                        OT if none
//
// The modality is compared exactly (case and spaces count). The VL
// Photographic classes allow only XC, so GM and OT are written as XC; the
// Secondary Capture classes allow any modality, and keep the station's own
// when it is a valid code.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

// The information object definitions behind the table's rows.
enum class IodFamily {
  Ultrasound,
  VlEndoscopic,
  VlPhotographic,
  SecondaryCapture,
};

struct StationIod {
  IodFamily family;
  std::string_view stillSopClass;
  std::string_view clipSopClass;
};

// The modalities a station may be set to: the table's own rows, then the
// modalities whose video output is usually captured as secondary capture.
inline constexpr std::array<std::string_view, 11> STATION_MODALITIES = {"US", "ES", "XC", "GM", "OT", "CR",
                                                                        "CT", "MR", "DX", "XA", "RF"};

bool IsStationModality(std::string_view modality);

// The row of a station modality; Secondary Capture for any other text.
const StationIod &IodForModality(std::string_view modality);

// The SOP class of a still or of a clip made at that modality.
std::string StillSopClassUid(std::string_view modality);
std::string ClipSopClassUid(std::string_view modality);

// The Modality (0008,0060) an object made at that modality carries.
std::string ObjectModality(std::string_view modality);

// Every SOP class of the table, each once, in table order (stills and clips
// of a row together).
std::vector<std::string> StationSopClasses();

} // namespace fw
