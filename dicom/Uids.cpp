// UID tables and the base UID of an acquisition.
#include "dicom/Uids.h"

#include <algorithm>

namespace fw {

namespace {

struct UidRow {
  std::string_view uid;
  std::string_view name; // shown exactly as written, trailing space included
  bool imageStorage;
};

// clang-format off
constexpr UidRow UID_TABLE[] = {
    {"1.2.840.10008.1.2", "Little Endian Implicit VR", false},
    {"1.2.840.10008.1.2.1", "Little Endian Explicit VR", false},
    {"1.2.840.10008.1.2.2", "Big Endian Explicit VR", false},
    {"1.2.840.10008.1.2.5", "RLE LossLess", false},
    {"1.2.840.10008.1.2.4.70", "JPEG LossLess", false},
    {"1.2.840.10008.1.2.4.50", "JPEG BaseLine Lossy ", false},
    {"1.2.840.10008.1.2.4.51", "JPEG Extended Lossy", false},
    {"1.2.840.10008.1.2.4.90", "JPEG 2000 LossLess", false},
    {"1.2.840.10008.1.2.4.91", "JPEG 2000 Lossy", false},
    {"1.2.840.10008.1.1", "Verification", false},
    {"1.2.840.10008.5.1.4.31", "Worklist", false},
    {"1.2.840.10008.5.1.4.1.2.2.1", "C-FIND", false},
    {"1.2.840.10008.5.1.4.1.2.2.2", "C-MOVE", false},
    {"1.2.840.10008.5.1.1.1", "Basic Film Session SOP Class", false},
    {"1.2.840.10008.5.1.1.2", "Basic Film Box SOP Class", false},
    {"1.2.840.10008.5.1.1.4", "Basic Grayscale Image Box SOP Class", false},
    {"1.2.840.10008.5.1.1.4.1", "Basic Color Image Box SOP Class", false},
    {"1.2.840.10008.5.1.1.9", "Basic Grayscale Print Management Meta SOP Class", false},
    {"1.2.840.10008.5.1.1.14", "Print Job SOP Class", false},
    {"1.2.840.10008.5.1.1.15", "Basic Annotation Box SOP Class", false},
    {"1.2.840.10008.5.1.1.16", "Printer SOP Class", false},
    {"1.2.840.10008.5.1.1.17", "Printer SOP Instance", false},
    {"1.2.840.10008.5.1.1.18", "Basic Color Print Management Meta SOP Class", false},
    {"1.2.840.10008.5.1.1.23", "Presentation LUT SOP Class", false},
    {"1.2.840.10008.5.1.4.1.1.9.1.3", "Ambulatory ECG Waveform Storage", false},
    {"1.2.840.10008.5.1.4.1.1.88.11", "Basic Text SR", false},
    {"1.2.840.10008.5.1.4.1.1.9.4.1", "Basic Voice Audio Waveform Storage", false},
    {"1.2.840.10008.5.1.4.1.1.11.4", "Blending Softcopy Presentation State Storage", false},
    {"1.2.840.10008.5.1.4.1.1.9.3.1", "Cardiac Electrophysiology Waveform Storage", false},
    {"1.2.840.10008.5.1.4.1.1.88.65", "Chest CAD SR", false},
    {"1.2.840.10008.5.1.4.1.1.11.2", "Color Softcopy Presentation State Storage", false},
    {"1.2.840.10008.5.1.4.1.1.88.33", "Comprehensive SR", false},
    {"1.2.840.10008.5.1.4.1.1.104.1", "Encapsulated PDF Storage", false},
    {"1.2.840.10008.5.1.4.1.1.88.22", "Enhanced SR", false},
    {"1.2.840.10008.5.1.4.1.1.9.1.2", "General ECG Waveform Storage", false},
    {"1.2.840.10008.5.1.4.1.1.11.1", "Grayscale Softcopy Presentation State Storage", false},
    {"1.2.840.10008.5.1.4.1.1.9.2.1", "Hemodynamic Waveform Storage", false},
    {"1.2.840.10008.5.1.4.1.1.88.59", "Key Object Selection Document", false},
    {"1.2.840.10008.5.1.4.1.1.88.50", "Mammography CAD SR", false},
    {"1.2.840.10008.5.1.4.1.1.4.2", "MR Spectroscopy Storage", false},
    {"1.2.840.10008.5.1.4.1.1.129", "PET Curve Storage", false},
    {"1.2.840.10008.5.1.4.1.1.88.40", "Procedure Log Storage", false},
    {"1.2.840.10008.5.1.4.1.1.11.3", "Pseudo Color Softcopy Presentation StateStorage", false},
    {"1.2.840.10008.5.1.4.1.1.66", "Raw Data Storage", false},
    {"1.2.840.10008.5.1.4.1.1.67", "Real World Value Mapping Storage", false},
    {"1.2.840.10008.5.1.4.1.1.481.4", "RT Beams Treatment Record Storage", false},
    {"1.2.840.10008.5.1.4.1.1.481.6", "RT Brachy Treatment Record Storage", false},
    {"1.2.840.10008.5.1.4.1.1.481.2", "RT Dose Storage", false},
    {"1.2.840.10008.5.1.4.1.1.481.5", "RT Plan Storage", false},
    {"1.2.840.10008.5.1.4.1.1.481.3", "RT Structure Set Storage", false},
    {"1.2.840.10008.5.1.4.1.1.481.7", "RT Treatment Summary Record Storage", false},
    {"1.2.840.10008.5.1.4.1.1.66.2", "Spatial Fiducials Storage", false},
    {"1.2.840.10008.5.1.4.1.1.66.1", "Spatial Registration Storage", false},
    {"1.2.840.10008.5.1.4.1.1.9", "Standalone Curve Storage", false},
    {"1.2.840.10008.5.1.4.1.1.10", "Standalone Modality LUT Storage", false},
    {"1.2.840.10008.5.1.4.1.1.8", "Standalone Overlay Storage", false},
    {"1.2.840.10008.5.1.4.1.1.11", "Standalone VOI LUT Storage", false},
    {"1.2.840.10008.5.1.4.1.1.77.1.5.3", "Stereometric Relationship Storage", false},
    {"1.2.840.10008.5.1.1.27", "Stored Print Storage", false},
    {"1.2.840.10008.5.1.4.1.1.9.1.1", "Twelve Lead ECG Waveform Storage", false},
    {"1.2.840.10008.5.1.4.1.1.88.67", "XRay Radiation Dose SR", false},
    {"1.2.840.10008.5.1.4.1.1.1", "CR Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.2", "CT Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.1.2", "Digital Mammography X-ray Image Storage - For Presentation", true},
    {"1.2.840.10008.5.1.4.1.1.1.2.1", "Digital Mammography X-ray Image Storage - For Processing", true},
    {"1.2.840.10008.5.1.4.1.1.1.3", "Digital IntraOral X-ray Image Storage - For Presentation", true},
    {"1.2.840.10008.5.1.4.1.1.1.3.1", "Digital IntraOral X-ray Image Storage - For Processing", true},
    {"1.2.840.10008.5.1.4.1.1.1.1", "Digital X-ray Image Storage - For Presentation", true},
    {"1.2.840.10008.5.1.4.1.1.1.1.1", "Digital X-ray Image Storage - For Processing", true},
    {"1.2.840.10008.5.1.4.1.1.2.1", "Enhanced CT Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.4.1", "Enhanced MR Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.12.1.1", "Enhanced XA Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.12.2.1", "XRF Image Storage", true},
    {"1.2.840.10008.5.1.1.30", "Hardcopy Color Image StorageSOP Class (Retired)", true},
    {"1.2.840.10008.5.1.1.29", "Hardcopy Grayscale Image Storage SOP Class (Retired)", true},
    {"1.2.840.10008.5.1.4.1.1.4", "MR Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.7.2", "Multi-frame Grayscale Byte Secondary Capture Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.7.3", "Multi-frame Grayscale Word Secondary Capture Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.7.1", "Multi-frame Single Bit Secondary Capture Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.7.4", "Multi-frame True Color Byte Secondary Capture Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.20", "Nuclear Medicine Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.77.1.5.1", "Ophthalmic Photography 8 bit Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.77.1.5.2", "Ophthalmic Photography 16 bit Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.128", "Positron Emission Tomography (PET) Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.5", "Nuclear Medicine Image Storage (Retired)", true},
    {"1.2.840.10008.5.1.4.1.1.6", "Ultrasound Image Storage (Retired)", true},
    {"1.2.840.10008.5.1.4.1.1.3", "Ultrasound Multi-frame Image Storage (Retired)", true},
    {"1.2.840.10008.5.1.4.1.1.77.1", "VL Image Storage (Retired)", true},
    {"1.2.840.10008.5.1.4.1.1.77.2", "VL Multi-frame Image Storage (Retired)", true},
    {"1.2.840.10008.5.1.4.1.1.12.3", "X Ray Angiographic BiPlane Image Storage (Retired)", true},
    {"1.2.840.10008.5.1.4.1.1.481.1", "RT Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.7", "Secondary Capture Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.6.1", "Ultrasound Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.3.1", "Ultrasound Multi-frame Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.77.1.1.1", "Video Endoscopic Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.77.1.2.1", "Video Microscopic Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.77.1.4.1", "Video Photographic Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.77.1.1", "VL Video Endoscopic Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.77.1.2", "VL Video Microscopic Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.77.1.4", "VL Video Photographic Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.12.1", "X-Ray Angiographic Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.12.2", "X-Ray Radiofluoroscopic Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.13.1.2", "", true},
};
// clang-format on

constexpr std::string_view SUPPORTED_TRANSFER_SYNTAXES[] = {
    IMPLICIT_VR_LITTLE_ENDIAN,
    EXPLICIT_VR_LITTLE_ENDIAN,
    EXPLICIT_VR_BIG_ENDIAN,
    DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN,
    RLE_LOSSLESS,
    JPEG_LOSSLESS,
    JPEG_BASELINE,
    JPEG_EXTENDED,
    JPEG_2000_LOSSLESS,
    JPEG_2000,
    JPEG_LS_LOSSLESS,
    JPEG_LS_NEAR_LOSSLESS,
    MPEG2_MAIN_PROFILE,
};

const UidRow *FindUid(std::string_view uid) {
  const auto row =
      std::find_if(std::begin(UID_TABLE), std::end(UID_TABLE), [&](const UidRow &r) { return r.uid == uid; });
  return row != std::end(UID_TABLE) ? row : nullptr;
}

bool IsFill(char c) { return static_cast<unsigned char>(c) <= 0x20; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsFill(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsFill(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

// The last n bytes of text (all of it when shorter).
std::string_view Last(std::string_view text, std::size_t n) {
  return text.size() > n ? text.substr(text.size() - n) : text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

std::string MakeBaseUID(std::string_view machineNumber, std::string_view patientId, std::string_view accessionNumber,
                        std::string_view studyDate, std::string_view studyTime, std::string_view suffix,
                        std::string_view prefix) {
  if (patientId.empty()) {
    return {};
  }
  std::string u(UID_ROOT);
  u += '.';
  u += prefix;
  u += Trim(machineNumber);
  u += '.';
  u += accessionNumber.size() > 4 ? Trim(Last(accessionNumber, 4)) : accessionNumber;
  u += Trim(Last(patientId, 4));
  u += '.';
  if (studyDate.size() > 2) {
    u += studyDate.substr(2, 8);
  }
  u += Trim(studyTime.substr(0, 4));
  u += '.';
  u += Trim(suffix.size() > 4 ? Last(suffix, 4) : suffix);

  for (std::size_t i = 0; i < u.size(); ++i) {
    const char c = u[i];
    const bool emptyComponent = c == '.' && (i + 1 == u.size() || (i > 0 && u[i - 1] == '.'));
    if ((!IsDigit(c) && c != '.') || emptyComponent) {
      u[i] = static_cast<char>('0' + static_cast<unsigned char>(c) % 9);
    }
    if (i > 0 && u[i - 1] == '.' && u[i] == '0') {
      u[i] = '1';
    }
  }
  return u;
}

std::string UIDName(std::string_view uid) {
  const UidRow *row = FindUid(uid);
  return row != nullptr ? std::string(row->name) : std::string();
}

bool IsImageStorageClass(std::string_view uid) {
  const UidRow *row = FindUid(uid);
  return row != nullptr && row->imageStorage;
}

bool IsSupportedTransferSyntax(std::string_view uid) {
  return std::find(std::begin(SUPPORTED_TRANSFER_SYNTAXES), std::end(SUPPORTED_TRANSFER_SYNTAXES), uid) !=
         std::end(SUPPORTED_TRANSFER_SYNTAXES);
}

bool IsConversionTarget(std::string_view uid) {
  return IsSupportedTransferSyntax(uid) && uid != MPEG2_MAIN_PROFILE && uid != JPEG_LS_LOSSLESS &&
         uid != JPEG_LS_NEAR_LOSSLESS;
}

} // namespace fw
