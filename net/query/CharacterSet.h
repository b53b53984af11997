// PS3.5 6.1 Specific Character Set of query identifiers
// CharacterSet: the station's texts are Latin-1 (ISO 8859-1, "ISO_IR 100");
// query identifiers and responses may carry other repertoires. This holds the
// conversions between Latin-1 and UTF-8 and the (0008,0005) Specific
// Character Set rules the query code applies:
//
//   direction  situation                              what happens
//   query      a key value has a byte above 127       (0008,0005) "ISO_IR 100" is
//                                                     put into the identifier
//   response   (0008,0005) names "ISO_IR 192" (UTF-8) text values are turned into
//                                                     Latin-1; a character outside
//                                                     Latin-1 becomes "?"
//   response   anything else                          values are taken as they are
//
// A nested item may declare its own (0008,0005); it holds for that item.
#pragma once

#include "dicom/DcmObj.h"

#include <string>
#include <string_view>

namespace fw {

// The defined term of the station's repertoire.
inline constexpr std::string_view LATIN1_CHARACTER_SET = "ISO_IR 100";
// The defined term of UTF-8.
inline constexpr std::string_view UTF8_CHARACTER_SET = "ISO_IR 192";

// Repertoire of the text values of a data set or item.
enum class TextCharset { Latin1, Utf8 };

// Each UTF-8 character as its Latin-1 byte; a character above U+00FF, and
// each byte that does not belong to a well-formed UTF-8 sequence, as "?".
std::string Utf8ToLatin1(std::string_view text);
// Each Latin-1 byte as its UTF-8 character.
std::string Latin1ToUtf8(std::string_view text);
// A byte above 127 is present.
bool HasNonAscii(std::string_view text);

// The repertoire that (0008,0005) among the top-level elements of c declares;
// `inherited` when c has none (or an empty one).
TextCharset DeclaredCharset(const DcmObj &c, TextCharset inherited = TextCharset::Latin1);

// A text value as the station keeps it: GetText of the element, converted to
// Latin-1 when the charset is UTF-8.
std::string StationText(const DcmTag &t, TextCharset charset);

// Puts (0008,0005) "ISO_IR 100" into the identifier when any of its element
// values, nested ones included, has a byte above 127; otherwise leaves it
// alone, so a plain ASCII query stays as the peer expects it.
void DeclareLatin1IfNeeded(DcmObj &identifier);

} // namespace fw
