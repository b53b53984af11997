// Patient and study texts between Qt's strings and the station's records,
// which hold them in UTF-8 so that names keep their own script.
//
// A text a DICOM object cannot carry is refused by the windows with a box
// naming the field: a control character (the text VRs allow none, and ESC
// would start an ISO 2022 escape sequence), and half of a surrogate pair,
// which is no character at all. Every other character is carried, in Latin-1
// when all of an object's texts fit it, else in UTF-8.
#pragma once

#include <QString>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fw {

inline std::string ToRecordText(const QString &text) { return text.toUtf8().toStdString(); }
inline QString FromRecordText(const std::string &text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The first code unit or character of the text that an object cannot carry.
std::optional<char32_t> FirstUncarried(const QString &text);

// The box text for it, e.g. "Patient Name: the character U+0009 cannot be stored".
std::string UncarriedMessage(const std::string &fieldLabel, char32_t codePoint);

// The first field (label, text) holding such a character, and the box text
// for it; nullopt when every field can be stored.
std::optional<std::string> CheckRecordFields(const std::vector<std::pair<std::string, QString>> &fields);

} // namespace fw
