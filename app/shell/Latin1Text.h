// Texts between Qt's strings and the station's 8-bit (Latin-1) records.
//
// A character outside Latin-1 has no byte in the records; rather than let it
// silently become "?", the windows refuse it with a box naming the field.
#pragma once

#include <QString>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fw {

// The first character of the text that Latin-1 cannot hold, as a code point.
std::optional<char32_t> FirstNonLatin1(const QString &text);

// The box text for such a character, e.g.
// "Patient Name: the character U+20AC is not allowed (Latin-1 only)".
std::string NonLatin1Message(const std::string &fieldLabel, char32_t codePoint);

// The first field (label, text) holding a character outside Latin-1, and
// the box text for it; nullopt when every field fits.
std::optional<std::string> CheckLatin1Fields(const std::vector<std::pair<std::string, QString>> &fields);

inline std::string ToLatin1(const QString &text) { return text.toLatin1().toStdString(); }
inline QString FromLatin1(const std::string &text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace fw
