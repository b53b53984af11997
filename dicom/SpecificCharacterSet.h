// Text values in the character set a data set names in its (0008,0005).
// SpecificCharacterSet: the texts of SH, LO, ST, LT, PN, UC and UT values
// between the bytes of a data set and UTF-8, the station's form of every
// patient and study text.
//
// Reading: a (0008,0005) value names one or more defined terms; glibc's
// iconv maps the bytes, this file only splits them where ISO 2022 escape
// sequences switch the code element in use.
//
//   defined terms                          code elements (G0 / G1)          iconv
//   none, ISO_IR 6, ISO 2022 IR 6          ASCII / -                        -
//   ISO_IR 100 101 109 110 144 127 126     ASCII / upper half of ISO 8859   ISO-8859-1 .. -9, -15
//   138 148 203 (and ISO 2022 IR ...)      -1 -2 -3 -4 -5 -6 -7 -8 -9 -15
//   ISO_IR 166, ISO 2022 IR 166            ASCII / TIS 620                  TIS-620
//   ISO_IR 13, ISO 2022 IR 13              JIS X 0201 Romaji / Katakana     EUC-JP (0x8E + byte)
//   ISO 2022 IR 87, ESC $ B                JIS X 0208 / -                   EUC-JP (bytes | 0x80)
//   ISO 2022 IR 159, ESC $ ( D             JIS X 0212 / -                   EUC-JP (0x8F + bytes | 0x80)
//   ISO 2022 IR 149, ESC $ ) C             - / KS X 1001                    EUC-KR
//   ISO 2022 IR 58, ESC $ ) A              - / GB 2312                      EUC-CN
//   ISO_IR 192                             whole value                      UTF-8
//   GB18030, GBK                           whole value                      GB18030, GBK
//
// ISO_IR 192, GB18030 and GBK decode the whole value, also when a peer lists
// them beside other terms. Otherwise the first value sets the code elements a
// text starts with; escape sequences in the bytes switch G0 or G1, and every
// line end, tab, form feed, value delimiter "\" and, in a person name, "^"
// and "=" switch back at once. Romaji bytes are read as ASCII: "\" is the
// value delimiter whatever the set. A byte that the set in use cannot decode, an
// unknown escape sequence and any byte above 127 under an unknown term become
// U+FFFD, never another character, and are counted so the caller can log
// them. Terms are matched without regard to case, blanks, "_" and "-"
// ("ISO_IR100" is ISO_IR 100).
//
// Writing (EncodeTextValues): every text value is UTF-8. All ASCII: nothing
// changes and no (0008,0005) is added. All within Latin-1: the values become
// their Latin-1 bytes and (0008,0005) is "ISO_IR 100", byte for byte what the
// station wrote before it knew UTF-8. Otherwise the values stay UTF-8 and
// (0008,0005) is "ISO_IR 192". A value that is not well-formed UTF-8 is taken
// to be Latin-1 already, so an 8-bit text handed in unconverted keeps its
// characters instead of making the object unreadable.
#pragma once

#include "dicom/DcmObj.h"
#include "dicom/DcmTag.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace fw {

// The defined terms the station writes.
inline constexpr std::string_view LATIN1_CHARACTER_SET = "ISO_IR 100";
inline constexpr std::string_view UTF8_CHARACTER_SET = "ISO_IR 192";

// The replacement character U+FFFD in UTF-8.
inline constexpr std::string_view REPLACEMENT_CHARACTER = "\xEF\xBF\xBD";

// One (0008,0005) value, parsed.
class SpecificCharacterSet {
public:
  // The code elements a value starts with and that escape sequences select.
  enum class Element : std::uint8_t {
    None,
    Ascii,
    Latin1,
    Latin2,
    Latin3,
    Latin4,
    Cyrillic,
    Arabic,
    Greek,
    Hebrew,
    Latin5,
    Latin9,
    Thai,
    Katakana,
    JisX0208,
    JisX0212,
    KsX1001,
    Gb2312,
  };
  // Values decoded as a whole, without code extensions.
  enum class Whole : std::uint8_t { No, Utf8, Gb18030, Gbk };

  // The default repertoire (ISO_IR 6).
  SpecificCharacterSet() = default;
  // From the text of (0008,0005): backslash-separated defined terms, the
  // first of which may be empty (the default repertoire).
  static SpecificCharacterSet FromValue(std::string_view value);
  // ISO_IR 100, what the station takes when a peer declares nothing.
  static SpecificCharacterSet Latin1();

  // The value it was made from ("" for the default repertoire).
  const std::string &Value() const { return value_; }
  // The first term that names no repertoire known here; empty when all are
  // known.
  const std::string &UnknownTerm() const { return unknownTerm_; }

  // The bytes as UTF-8 (cut at the first zero byte). `personName` makes "^"
  // and "=" switch back to the first value's code elements. `replaced`, when
  // given, grows by the number of U+FFFD put in for undecodable bytes.
  std::string Decode(std::string_view bytes, bool personName, std::size_t *replaced = nullptr) const;

  // A text value of the element as UTF-8: Decode of its bytes (for PN with
  // its delimiters) with leading and trailing characters of code 0x20 or less
  // removed, as DcmTag::GetText does.
  std::string DecodeText(const DcmTag &t, std::size_t *replaced = nullptr) const;

private:
  std::string value_;
  std::string unknownTerm_;
  Element g0_ = Element::Ascii;
  Element g1_ = Element::None;
  Whole whole_ = Whole::No;
};

// True for the VRs whose values are in the repertoire (0008,0005) names:
// SH LO ST LT PN UC UT. Every other text VR is ASCII only.
bool IsCharacterSetVR(std::string_view vr);

// True when the text is well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF).
bool IsUtf8(std::string_view text);

// The Latin-1 bytes of a UTF-8 text; false when a character lies above U+00FF
// or the text is not well-formed UTF-8.
bool Utf8ToLatin1Exact(std::string_view text, std::string &latin1);

// Each Latin-1 byte as its UTF-8 character.
std::string Latin1ToUtf8(std::string_view text);

// Converts the values of every element with a character set VR, at every
// depth, as the header says, and puts (0008,0005) into the top level when the
// values need one. Returns the defined term put ("" when every value is
// ASCII and nothing was put).
std::string_view EncodeTextValues(DcmObj &dataSet);

} // namespace fw
