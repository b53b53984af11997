// DcmTag: one DICOM data element (tag, VR, value length, value bytes),
// its constructors with the VR and padding rules, and its typed accessors.
//
// Value bytes stay exactly as they stand in an encoded stream: texts keep their
// fill byte, numbers keep the byte order they came in. Nothing here swaps them.
//
// Invariant kept by the constructors and SetValue: `data` holds exactly
// `length` bytes, and is empty when `length` is 0 or UNDEFINED_LENGTH.
// Code that sets the fields directly (the stream reader) must keep it too.
//
// Padding at construction: an odd value gets one fill byte, 0x20 for the text
// VRs (AE AS CS DA DS DT IS LO LT PN SH ST TM UC UR UT) and 0x00 for every other
// VR (UI, the binary VRs, "UN", "DL" items carrying compressed fragments).
#pragma once

#include "dicom/DcmEntry.h"
#include "dicom/Tag.h"
#include "dicom/ValueBytes.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

// Length of a sequence, item or encapsulated pixel data element whose content
// follows as separate entries.
inline constexpr std::uint32_t UNDEFINED_LENGTH = 0xFFFFFFFF;

class DcmTag final : public DcmEntry {
public:
  std::uint16_t group = 0;
  std::uint16_t element = 0;
  // Two upper-case letters and two zero bytes; all zero when no VR is known.
  std::array<char, 4> vr{};
  // Number of value bytes, or UNDEFINED_LENGTH.
  std::uint32_t length = 0;
  // The value: `length` bytes, empty when there is none. Owned, or a view of
  // the file image it was read from (ValueBytes.h); copying the element
  // shares a view.
  ValueBytes data;

  // Group 0, element 0, no VR, no value.
  DcmTag() : DcmEntry(true) {}
  DcmTag(const DcmTag &) = default;
  DcmTag &operator=(const DcmTag &) = default;

  // Each constructor takes the VR as two letters, or the empty text to take it
  // from the dictionary ("UN" with UNDEFINED_LENGTH then becomes "SQ"). An odd
  // length is made even with one fill byte.

  // Copies `length` bytes from `bytes` (nothing when length is 0 or
  // UNDEFINED_LENGTH; zero bytes when `bytes` is null).
  static std::unique_ptr<DcmTag> FromBytes(std::uint16_t group, std::uint16_t element, std::uint32_t length,
                                           const void *bytes, std::string_view vr = {});
  static std::unique_ptr<DcmTag> FromBytes(fw::Tag tag, std::uint32_t length, const void *bytes,
                                           std::string_view vr = {}) {
    return FromBytes(tag.group, tag.element, length, bytes, vr);
  }
  // One 16-bit value, little-endian.
  static std::unique_ptr<DcmTag> FromUS(std::uint16_t group, std::uint16_t element, std::uint16_t value,
                                        std::string_view vr = {});
  static std::unique_ptr<DcmTag> FromUS(fw::Tag tag, std::uint16_t value, std::string_view vr = {}) {
    return FromUS(tag.group, tag.element, value, vr);
  }
  // One 32-bit value, little-endian.
  static std::unique_ptr<DcmTag> FromUL(std::uint16_t group, std::uint16_t element, std::uint32_t value,
                                        std::string_view vr = {});
  static std::unique_ptr<DcmTag> FromUL(fw::Tag tag, std::uint32_t value, std::string_view vr = {}) {
    return FromUL(tag.group, tag.element, value, vr);
  }
  // The text's bytes, no terminator. Texts longer than a 32-bit length can hold
  // are cut at the largest even length.
  static std::unique_ptr<DcmTag> FromText(std::uint16_t group, std::uint16_t element, std::string_view text,
                                          std::string_view vr = {});
  static std::unique_ptr<DcmTag> FromText(fw::Tag tag, std::string_view text, std::string_view vr = {}) {
    return FromText(tag.group, tag.element, text, vr);
  }

  // The first two value bytes as a little-endian number; 0 without a value.
  std::uint16_t GetUS() const;
  // The value as a decimal number (leading white space skipped, parsing stops
  // at the first character that cannot continue a number, 0 when nothing
  // parses), narrowed to single precision. Independent of the process locale.
  float GetFloat() const;
  // Component `index` (from 0) of a backslash-separated multi-valued text,
  // parsed as GetFloat does, in double precision; 0 when there is no such
  // component.
  double GetNumber(int index) const;
  // The value up to the first zero byte, without leading and trailing
  // characters of code 0x20 or less.
  std::string GetText() const;

  // The VR letters ("" when none is known).
  std::string_view VR() const;
  bool HasVR(std::string_view letters) const { return VR() == letters; }
  // Takes the first two letters; fewer than two letters clear the VR.
  void SetVR(std::string_view letters);

  bool Is(std::uint16_t g, std::uint16_t e) const { return group == g && element == e; }
  bool Is(fw::Tag tag) const { return group == tag.group && element == tag.element; }
  // Group and element as one number that orders tags as DICOM does.
  std::uint32_t Key() const { return std::uint32_t{group} << 16 | element; }
  bool HasValue() const { return !data.empty(); }
  // Replaces the value: `count` bytes copied, `length` = count (no padding).
  void SetValue(const void *bytes, std::uint32_t count);
  // Drops the value bytes; `length` is left alone (the encoder keeps the
  // encoded size of a nested header this way).
  void ReleaseValue();

  DcmTag &Tag() override { return *this; }
  const DcmTag &Tag() const override { return *this; }
};

// True for the VRs whose values are texts padded with spaces.
bool IsTextVR(std::string_view vr);

// Field n (counted from 1) of `text` split at `separator`: for "1\2\3" with
// separator "\", n = 1, 2, 3 give "1", "2", "3" and n = 4 gives "".
std::string NthField(std::string_view text, std::string_view separator, int n);

} // namespace fw
