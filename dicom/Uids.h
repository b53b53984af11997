// UIDs: the station's UID root and implementation identity, the UIDs other
// code uses by value, the unique base UID of an acquisition (MakeBaseUID), and the
// fixed tables of UID names, image storage SOP classes and the transfer
// syntaxes the pixel conversion accepts. All comparisons are exact,
// case-sensitive comparisons of the whole UID.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
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

// The base UID of an acquisition, unique across patients, openings,
// restarts, processes and machines: "2.25." followed by a UUID as one
// unsigned 128-bit decimal number, at most 44 characters, so the
// series (".20") and instance (".10." + n) UIDs below it stay within 64
// characters for any 32-bit n. The UUID is a random one (version 4) from the
// kernel's random source; when that source gives nothing, a time-based one
// (version 1: 100 ns clock, process, hardware address) is used instead.
std::string MakeBaseUID();

// A UUID as its 16 bytes, most significant first.
using Uuid = std::array<std::uint8_t, 16>;

// Fills every byte of `bytes` and returns true, or returns false when no
// random bytes can be had.
using RandomBytes = std::function<bool(std::span<std::uint8_t> bytes)>;

// The kernel's random source: getrandom(2), else /dev/urandom.
bool KernelRandomBytes(std::span<std::uint8_t> bytes);

// A version 4 UUID from `random`, or a version 1 UUID when it fails.
Uuid NewUuid(const RandomBytes &random);

// MakeBaseUID with the given source of random bytes.
std::string MakeBaseUID(const RandomBytes &random);

// The UUID as an unsigned decimal number without leading zeros ("0" for
// the nil UUID).
std::string UuidDecimal(const Uuid &uuid);

// True for a UID of 1 to 64 characters made of components of digits
// separated by single dots, none empty and none with a leading zero (a
// component "0" is allowed).
bool IsValidUID(std::string_view uid);

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
