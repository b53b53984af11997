#include "app/shell/Latin1Text.h"

#include <QList>

#include <cstdio>

namespace fw {

std::optional<char32_t> FirstNonLatin1(const QString &text) {
  for (const uint c : text.toUcs4()) {
    if (c > 0xFF) {
      return static_cast<char32_t>(c);
    }
  }
  return std::nullopt;
}

std::string NonLatin1Message(const std::string &fieldLabel, char32_t codePoint) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(codePoint));
  return fieldLabel + ": the character " + code + " is not allowed (Latin-1 only)";
}

std::optional<std::string> CheckLatin1Fields(const std::vector<std::pair<std::string, QString>> &fields) {
  for (const auto &[label, text] : fields) {
    if (const auto c = FirstNonLatin1(text)) {
      return NonLatin1Message(label, *c);
    }
  }
  return std::nullopt;
}

} // namespace fw
