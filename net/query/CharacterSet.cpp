// CharacterSet: Latin-1 and UTF-8 conversions and the (0008,0005) rules of
// query identifiers and responses.
#include "net/query/CharacterSet.h"

#include <cstdint>
#include <vector>

namespace fw {

namespace {

constexpr std::uint16_t CHARSET_GROUP = 0x0008;
constexpr std::uint16_t CHARSET_ELEMENT = 0x0005;

// Number of bytes of a UTF-8 sequence that starts with `lead`, 0 for a byte
// that cannot start one.
int SequenceLength(std::uint8_t lead) {
  if (lead < 0x80) {
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    return 2;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    return 4;
  }
  return 0;
}

bool ValueHasNonAscii(const DcmTag &t) {
  for (std::uint8_t byte : t.data) {
    if (byte > 0x7F) {
      return true;
    }
  }
  return false;
}

bool AnyNonAscii(const DcmObj &c) {
  // Iterative walk: identifiers come from callers, but nesting costs no stack.
  std::vector<const DcmObj *> pending{&c};
  while (!pending.empty()) {
    const DcmObj *current = pending.back();
    pending.pop_back();
    for (std::size_t i = 0; i < current->Count(); ++i) {
      if (const DcmTag *t = current->ElementAt(i)) {
        if (ValueHasNonAscii(*t)) {
          return true;
        }
      } else if (const DcmObj *nested = current->ContainerAt(i)) {
        pending.push_back(nested);
      }
    }
  }
  return false;
}

} // namespace

std::string Utf8ToLatin1(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    const int length = SequenceLength(lead);
    if (length == 1) {
      out.push_back(static_cast<char>(lead));
      ++i;
      continue;
    }
    if (length == 0 || i + length > text.size()) {
      out.push_back('?');
      ++i;
      continue;
    }
    std::uint32_t code = lead & (0x7F >> length);
    bool wellFormed = true;
    for (int k = 1; k < length; ++k) {
      const auto next = static_cast<std::uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        wellFormed = false;
        break;
      }
      code = code << 6 | (next & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
    const std::uint32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (!wellFormed || code < smallest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
      out.push_back('?');
      ++i;
      continue;
    }
    out.push_back(code <= 0xFF ? static_cast<char>(code) : '?');
    i += length;
  }
  return out;
}

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (char c : text) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (byte < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | byte >> 6));
      out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return out;
}

bool HasNonAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<std::uint8_t>(c) > 0x7F) {
      return true;
    }
  }
  return false;
}

TextCharset DeclaredCharset(const DcmObj &c, TextCharset inherited) {
  const DcmTag *declared = c.FindElement(CHARSET_GROUP, CHARSET_ELEMENT);
  if (declared == nullptr) {
    return inherited;
  }
  const std::string value = declared->GetText();
  if (value.empty()) {
    return inherited;
  }
  // Multi-valued terms (code extensions) list one repertoire per component.
  std::string_view rest = value;
  while (true) {
    const std::size_t cut = rest.find('\\');
    std::string_view term = rest.substr(0, cut);
    while (!term.empty() && term.front() == ' ') {
      term.remove_prefix(1);
    }
    while (!term.empty() && term.back() == ' ') {
      term.remove_suffix(1);
    }
    if (term == UTF8_CHARACTER_SET) {
      return TextCharset::Utf8;
    }
    if (cut == std::string_view::npos) {
      break;
    }
    rest.remove_prefix(cut + 1);
  }
  return TextCharset::Latin1;
}

std::string StationText(const DcmTag &t, TextCharset charset) {
  std::string text = t.GetText();
  return charset == TextCharset::Utf8 ? Utf8ToLatin1(text) : text;
}

void DeclareLatin1IfNeeded(DcmObj &identifier) {
  if (AnyNonAscii(identifier)) {
    identifier.PutText(CHARSET_GROUP, CHARSET_ELEMENT, LATIN1_CHARACTER_SET);
  }
}

} // namespace fw
