// CharacterSet: the (0008,0005) rules of query identifiers and responses.
#include "net/query/CharacterSet.h"

#include "base/Log.h"

#include <cstdio>

namespace fw {

namespace {

constexpr std::uint16_t CHARSET_GROUP = 0x0008;
constexpr std::uint16_t CHARSET_ELEMENT = 0x0005;

std::string TagText(const DcmTag &t) {
  char text[16];
  std::snprintf(text, sizeof text, "(%04X,%04X)", static_cast<unsigned>(t.group), static_cast<unsigned>(t.element));
  return text;
}

} // namespace

TextCharset DeclaredCharset(const DcmObj &c, const TextCharset &inherited) {
  const DcmTag *declared = c.FindElement(CHARSET_GROUP, CHARSET_ELEMENT);
  if (declared == nullptr) {
    return inherited;
  }
  const std::string value = declared->GetText();
  if (value.empty()) {
    return inherited;
  }
  TextCharset charset = TextCharset::FromValue(value);
  if (!charset.UnknownTerm().empty()) {
    WriteLog("WARNING, C-FIND response, unknown Specific Character Set \"" + charset.UnknownTerm() +
             "\": its characters are shown as U+FFFD");
  }
  return charset;
}

std::string StationText(const DcmTag &t, const TextCharset &charset) {
  std::size_t replaced = 0;
  std::string text = charset.DecodeText(t, &replaced);
  if (replaced > 0) {
    const std::string declared = charset.Value().empty() ? "ISO_IR 6" : charset.Value();
    WriteLog("WARNING, C-FIND response, " + TagText(t) + ": " + std::to_string(replaced) + " bytes not in " + declared +
             ", shown as U+FFFD");
  }
  return text;
}

void DeclareCharacterSet(DcmObj &identifier) { EncodeTextValues(identifier); }

} // namespace fw
