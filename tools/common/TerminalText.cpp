// TerminalText: conversions through iconv by way of UCS-4, so that one
// character that does not fit becomes one "?" whatever the codeset.
#include "tools/common/TerminalText.h"

#include "dicom/SpecificCharacterSet.h"

#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <vector>

namespace fw::tool {

namespace {

enum class Passage { Unchanged, Convert };

struct Terminal {
  std::string codeset;
  Passage passage = Passage::Unchanged;     // for Latin-1 texts
  Passage textPassage = Passage::Unchanged; // for UTF-8 texts
  bool utf8 = false;
};

const Terminal &TerminalCodeset() {
  static const Terminal terminal = [] {
    std::setlocale(LC_CTYPE, "");
    Terminal t;
    const char *name = nl_langinfo(CODESET);
    t.codeset = name != nullptr ? name : "";
    const bool asIs = t.codeset.empty() || t.codeset == "ANSI_X3.4-1968" || t.codeset == "ISO-8859-1" ||
                      t.codeset == "ISO8859-1" || t.codeset == "ASCII";
    t.passage = asIs ? Passage::Unchanged : Passage::Convert;
    t.utf8 = t.codeset == "UTF-8" || t.codeset == "utf8";
    const bool unknown = t.codeset.empty() || t.codeset == "ANSI_X3.4-1968" || t.codeset == "ASCII";
    t.textPassage = unknown ? Passage::Unchanged : Passage::Convert;
    return t;
  }();
  return terminal;
}

// An iconv descriptor that closes itself.
class Converter {
public:
  Converter(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (Ok()) {
      iconv_close(cd_);
    }
  }
  Converter(const Converter &) = delete;
  Converter &operator=(const Converter &) = delete;
  bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return cd_; }

private:
  iconv_t cd_;
};

// Hands each character of text, as decoded by toUcs4, to each as its code
// point; a byte that is no character of the codeset (or a character cut
// short) is handed on as NOT_A_CHARACTER, one per byte.
constexpr std::uint32_t NOT_A_CHARACTER = 0xFFFFFFFF;

template <class Each> void ForEachCharacter(const Converter &toUcs4, std::string_view text, Each each) {
  std::vector<char> input(text.begin(), text.end());
  char *in = input.data();
  std::size_t inLeft = input.size();
  while (inLeft > 0) {
    std::uint8_t unit[4];
    char *outPtr = reinterpret_cast<char *>(unit);
    std::size_t outLeft = sizeof unit;
    const std::size_t result = iconv(toUcs4.Get(), &in, &inLeft, &outPtr, &outLeft);
    if (outLeft == 0) {
      each(unit[0] | unit[1] << 8 | unit[2] << 16 | static_cast<std::uint32_t>(unit[3]) << 24);
      continue;
    }
    if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
      each(NOT_A_CHARACTER);
      ++in;
      --inLeft;
      iconv(toUcs4.Get(), nullptr, nullptr, nullptr, nullptr);
    }
  }
}

// Appends the code point as fromUcs4's codeset writes it, or "?" when that
// codeset has no such character.
void AppendEncoded(const Converter &fromUcs4, std::uint32_t code, std::string &out) {
  char unit[4] = {static_cast<char>(code & 0xFF), static_cast<char>((code >> 8) & 0xFF),
                  static_cast<char>((code >> 16) & 0xFF), static_cast<char>(code >> 24)};
  char *in = unit;
  std::size_t inLeft = sizeof unit;
  char encoded[16];
  char *outPtr = encoded;
  std::size_t outLeft = sizeof encoded;
  if (iconv(fromUcs4.Get(), &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
    out.push_back('?');
    iconv(fromUcs4.Get(), nullptr, nullptr, nullptr, nullptr);
    return;
  }
  out.append(encoded, static_cast<std::size_t>(outPtr - encoded));
}

} // namespace

std::string FromTerminal(std::string_view text) {
  const Terminal &terminal = TerminalCodeset();
  if (terminal.passage == Passage::Unchanged) {
    return std::string(text);
  }
  Converter toUcs4("UCS-4LE", terminal.codeset.c_str());
  if (!toUcs4.Ok()) {
    return std::string(text);
  }
  std::string out;
  // A character beyond Latin-1, or a byte that is no character: "?".
  ForEachCharacter(toUcs4, text,
                   [&](std::uint32_t code) { out.push_back(code <= 0xFF ? static_cast<char>(code) : '?'); });
  return out;
}

std::string ToTerminal(std::string_view latin1) {
  const Terminal &terminal = TerminalCodeset();
  if (terminal.passage == Passage::Unchanged) {
    return std::string(latin1);
  }
  Converter fromUcs4(terminal.codeset.c_str(), "UCS-4LE");
  if (!fromUcs4.Ok()) {
    return std::string(latin1);
  }
  std::string out;
  out.reserve(latin1.size());
  for (char c : latin1) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (byte < 0x80) {
      out.push_back(c);
      continue;
    }
    AppendEncoded(fromUcs4, byte, out);
  }
  return out;
}

std::optional<std::string> TextFromTerminal(std::string_view text) {
  const Terminal &terminal = TerminalCodeset();
  if (terminal.textPassage == Passage::Unchanged) {
    return IsUtf8(text) ? std::string(text) : Latin1ToUtf8(text);
  }
  if (terminal.utf8) {
    return IsUtf8(text) ? std::optional<std::string>(std::string(text)) : std::nullopt;
  }
  Converter toUtf8("UTF-8", terminal.codeset.c_str());
  if (!toUtf8.Ok()) {
    return std::nullopt;
  }
  std::vector<char> input(text.begin(), text.end());
  char *in = input.data();
  std::size_t inLeft = input.size();
  std::vector<char> output(input.size() * 4 + 16);
  char *out = output.data();
  std::size_t outLeft = output.size();
  if (iconv(toUtf8.Get(), &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) ||
      iconv(toUtf8.Get(), nullptr, nullptr, &out, &outLeft) == static_cast<std::size_t>(-1)) {
    return std::nullopt;
  }
  return std::string(output.data(), static_cast<std::size_t>(out - output.data()));
}

std::string TextToTerminal(std::string_view utf8) {
  const Terminal &terminal = TerminalCodeset();
  if (terminal.textPassage == Passage::Unchanged || terminal.utf8) {
    return std::string(utf8);
  }
  Converter toUcs4("UCS-4LE", "UTF-8");
  Converter fromUcs4(terminal.codeset.c_str(), "UCS-4LE");
  if (!toUcs4.Ok() || !fromUcs4.Ok()) {
    return std::string(utf8);
  }
  std::string out;
  ForEachCharacter(toUcs4, utf8, [&](std::uint32_t code) {
    if (code == NOT_A_CHARACTER) {
      out.push_back('?');
    } else {
      AppendEncoded(fromUcs4, code, out);
    }
  });
  return out;
}

} // namespace fw::tool
