// UIDs: the station's UID root and implementation identity, the UIDs other
// code uses by value, the base UID of an acquisition (MakeBaseUID), and the
// fixed tables of UID names, image storage SOP classes and the transfer
// syntaxes the pixel conversion accepts. All comparisons are exact,
// case-sensitive comparisons of the whole UID.
#pragma once

#include <string>
#include <string_view>

namespace fw {

inline constexpr std::string_view UID_ROOT = "2.25.739104652811350928774";
inline constexpr std::string_view IMPLEMENTATION_CLASS_UID = "2.25.739104652811350928774.999";
inline constexpr std::string_view IMPLEMENTATION_VERSION_NAME = "Brindlemoor";

// Transfer syntaxes.
inline constexpr std::string_view IMPLICIT_VR_LITTLE_ENDIAN = "1.2.840.10008.1.2";
inline constexpr std::string_view EXPLICIT_VR_LITTLE_ENDIAN = "1.2.840.10008.1.2.1";
inline constexpr std::string_view EXPLICIT_VR_BIG_ENDIAN = "1.2.840.10008.1.2.2";
inline constexpr std::string_view DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN = "1.2.840.10008.1.2.1.99";
inline constexpr std::string_view RLE_LOSSLESS = "1.2.840.10008.1.2.5";
inline constexpr std::string_view JPEG_LS_LOSSLESS = "1.2.840.10008.1.2.4.80";
inline constexpr std::string_view JPEG_LS_NEAR_LOSSLESS = "1.2.840.10008.1.2.4.81";
inline constexpr std::string_view JPEG_BASELINE = "1.2.840.10008.1.2.4.50";
inline constexpr std::string_view JPEG_EXTENDED = "1.2.840.10008.1.2.4.51";
inline constexpr std::string_view JPEG_LOSSLESS = "1.2.840.10008.1.2.4.70";
inline constexpr std::string_view JPEG_2000_LOSSLESS = "1.2.840.10008.1.2.4.90";
inline constexpr std::string_view JPEG_2000 = "1.2.840.10008.1.2.4.91";
inline constexpr std::string_view MPEG2_MAIN_PROFILE = "1.2.840.10008.1.2.4.100";

// SOP classes.
inline constexpr std::string_view VERIFICATION_SOP_CLASS = "1.2.840.10008.1.1";
inline constexpr std::string_view MODALITY_WORKLIST_FIND = "1.2.840.10008.5.1.4.31";
inline constexpr std::string_view STUDY_ROOT_QUERY_RETRIEVE_FIND = "1.2.840.10008.5.1.4.1.2.2.1";
inline constexpr std::string_view STUDY_ROOT_QUERY_RETRIEVE_MOVE = "1.2.840.10008.5.1.4.1.2.2.2";
inline constexpr std::string_view CR_IMAGE_STORAGE = "1.2.840.10008.5.1.4.1.1.1";
inline constexpr std::string_view CT_IMAGE_STORAGE = "1.2.840.10008.5.1.4.1.1.2";
inline constexpr std::string_view MR_IMAGE_STORAGE = "1.2.840.10008.5.1.4.1.1.4";
inline constexpr std::string_view ULTRASOUND_IMAGE_STORAGE = "1.2.840.10008.5.1.4.1.1.6.1";
inline constexpr std::string_view ULTRASOUND_MULTIFRAME_IMAGE_STORAGE = "1.2.840.10008.5.1.4.1.1.3.1";
inline constexpr std::string_view XRAY_ANGIOGRAPHIC_IMAGE_STORAGE = "1.2.840.10008.5.1.4.1.1.12.1";
inline constexpr std::string_view SECONDARY_CAPTURE_IMAGE_STORAGE = "1.2.840.10008.5.1.4.1.1.7";
inline constexpr std::string_view VL_ENDOSCOPIC_IMAGE_STORAGE = "1.2.840.10008.5.1.4.1.1.77.1.1";
inline constexpr std::string_view VIDEO_ENDOSCOPIC_IMAGE_STORAGE = "1.2.840.10008.5.1.4.1.1.77.1.1.1";
inline constexpr std::string_view VL_PHOTOGRAPHIC_IMAGE_STORAGE = "1.2.840.10008.5.1.4.1.1.77.1.4";
inline constexpr std::string_view VIDEO_PHOTOGRAPHIC_IMAGE_STORAGE = "1.2.840.10008.5.1.4.1.1.77.1.4.1";
inline constexpr std::string_view MULTIFRAME_TRUE_COLOR_SC_IMAGE_STORAGE = "1.2.840.10008.5.1.4.1.1.7.4";

// The base UID of an acquisition:
//   UID_ROOT "." prefix machineNumber "." accession patient "." date time "." suffix
// where accession is the last 4 characters of an Accession Number longer than 4
// (else the whole, untrimmed), patient the last 4 of the Patient ID, date the
// characters of studyDate from the 3rd on (at most 8), time the first 4 of
// studyTime, suffix the last 4 of suffix (trimmed parts: characters of code
// 0x20 or less removed at both ends). The text is then cleaned from left to
// right: a character other than a digit or "." becomes the digit of its code
// (0..255) modulo 9, and so does a "." that would leave an empty component
// (after another "." or at the end); a "0" right after "." becomes "1".
// Empty when patientId is empty. No length limit is applied.
std::string MakeBaseUID(std::string_view machineNumber, std::string_view patientId, std::string_view accessionNumber,
                        std::string_view studyDate, std::string_view studyTime, std::string_view suffix,
                        std::string_view prefix);

// The display name of a known UID (trailing spaces included), or "".
std::string UIDName(std::string_view uid);

// True for the image storage SOP classes (pixel data may need conversion).
bool IsImageStorageClass(std::string_view uid);

// True for the transfer syntaxes the pixel conversion reads.
bool IsSupportedTransferSyntax(std::string_view uid);

// True for the supported transfer syntaxes the pixel conversion also writes:
// all but MPEG-2 and JPEG-LS, which are only decoded.
bool IsConversionTarget(std::string_view uid);

} // namespace fw
