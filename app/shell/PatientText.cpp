#include "app/shell/PatientText.h"

#include <cstdio>

namespace fw {

std::optional<char32_t> FirstUncarried(const QString &text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
      ++i;
      continue;
    }
    const char32_t unit = c.unicode();
    if (c.isSurrogate() || unit < 0x20 || (unit >= 0x7F && unit <= 0x9F)) {
      return unit;
    }
  }
  return std::nullopt;
}

std::string UncarriedMessage(const std::string &fieldLabel, char32_t codePoint) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(codePoint));
  return fieldLabel + ": the character " + code + " cannot be stored";
}

std::optional<std::string> CheckRecordFields(const std::vector<std::pair<std::string, QString>> &fields) {
  for (const auto &[label, text] : fields) {
    if (const auto c = FirstUncarried(text)) {
      return UncarriedMessage(label, *c);
    }
  }
  return std::nullopt;
}

} // namespace fw
