// TerminalText: texts between the terminal's encoding (the locale's
// LC_CTYPE codeset, e.g. UTF-8) and the station's Latin-1 (ISO 8859-1) of
// the log and the configuration.
//
//   terminal codeset        FromTerminal (argument -> Latin-1)   ToTerminal (Latin-1 -> output)
//   UTF-8, or any other     each character as its Latin-1 byte;  each byte as the terminal's
//   that iconv knows        one outside Latin-1, or a byte that  character; one the terminal
//                           is not a character, becomes "?"      cannot show becomes "?"
//   ISO-8859-1              unchanged                            unchanged
//   ASCII ("C" locale)      unchanged: the encoding of the bytes is unknown, so they pass as they are
//
// Patient and study texts (the query records, the study context) are UTF-8
// and take their own pair:
//
//   terminal codeset        TextFromTerminal (argument -> UTF-8)  TextToTerminal (UTF-8 -> output)
//   UTF-8, or any other     each character; a byte that is not    each character; one the terminal
//   that iconv knows        a character refuses the whole text    cannot show becomes "?"
//   ASCII ("C" locale)      UTF-8 as it is; bytes that are not    unchanged
//                           UTF-8 are taken as Latin-1
//
// The locale is taken from the environment (setlocale(LC_CTYPE, "")) on
// first use.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fw::tool {

std::string FromTerminal(std::string_view text);
std::string ToTerminal(std::string_view latin1);

std::optional<std::string> TextFromTerminal(std::string_view text);
std::string TextToTerminal(std::string_view utf8);

} // namespace fw::tool
