// SpecificCharacterSet: reading texts by their (0008,0005) value through
// iconv, and writing the station's UTF-8 texts as Latin-1 or UTF-8.
#include "dicom/SpecificCharacterSet.h"
#include "dicom/Tags.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <memory>
#include <utility>
#include <vector>

namespace fw {

namespace {

using Element = SpecificCharacterSet::Element;
using Whole = SpecificCharacterSet::Whole;

constexpr char ESC = 0x1B;

struct TermEntry {
  std::string_view term; // as peers spell it in (0008,0005)
  Element g0;
  Element g1;
  Whole whole;
};

// Single-byte terms come in both forms; the ISO 2022 form only allows code
// extensions, which are read either way.
constexpr TermEntry TERMS[] = {
    {"ISO_IR 6", Element::Ascii, Element::None, Whole::No},
    {"ISO 2022 IR 6", Element::Ascii, Element::None, Whole::No},
    {"ISO_IR 100", Element::Ascii, Element::Latin1, Whole::No},
    {"ISO 2022 IR 100", Element::Ascii, Element::Latin1, Whole::No},
    {"ISO_IR 101", Element::Ascii, Element::Latin2, Whole::No},
    {"ISO 2022 IR 101", Element::Ascii, Element::Latin2, Whole::No},
    {"ISO_IR 109", Element::Ascii, Element::Latin3, Whole::No},
    {"ISO 2022 IR 109", Element::Ascii, Element::Latin3, Whole::No},
    {"ISO_IR 110", Element::Ascii, Element::Latin4, Whole::No},
    {"ISO 2022 IR 110", Element::Ascii, Element::Latin4, Whole::No},
    {"ISO_IR 144", Element::Ascii, Element::Cyrillic, Whole::No},
    {"ISO 2022 IR 144", Element::Ascii, Element::Cyrillic, Whole::No},
    {"ISO_IR 127", Element::Ascii, Element::Arabic, Whole::No},
    {"ISO 2022 IR 127", Element::Ascii, Element::Arabic, Whole::No},
    {"ISO_IR 126", Element::Ascii, Element::Greek, Whole::No},
    {"ISO 2022 IR 126", Element::Ascii, Element::Greek, Whole::No},
    {"ISO_IR 138", Element::Ascii, Element::Hebrew, Whole::No},
    {"ISO 2022 IR 138", Element::Ascii, Element::Hebrew, Whole::No},
    {"ISO_IR 148", Element::Ascii, Element::Latin5, Whole::No},
    {"ISO 2022 IR 148", Element::Ascii, Element::Latin5, Whole::No},
    {"ISO_IR 203", Element::Ascii, Element::Latin9, Whole::No},
    {"ISO 2022 IR 203", Element::Ascii, Element::Latin9, Whole::No},
    {"ISO_IR 166", Element::Ascii, Element::Thai, Whole::No},
    {"ISO 2022 IR 166", Element::Ascii, Element::Thai, Whole::No},
    {"ISO_IR 13", Element::Ascii, Element::Katakana, Whole::No},
    {"ISO 2022 IR 13", Element::Ascii, Element::Katakana, Whole::No},
    {"ISO 2022 IR 87", Element::JisX0208, Element::None, Whole::No},
    {"ISO 2022 IR 159", Element::JisX0212, Element::None, Whole::No},
    {"ISO 2022 IR 149", Element::Ascii, Element::KsX1001, Whole::No},
    {"ISO 2022 IR 58", Element::Ascii, Element::Gb2312, Whole::No},
    {"ISO_IR 192", Element::Ascii, Element::None, Whole::Utf8},
    {"GB18030", Element::Ascii, Element::None, Whole::Gb18030},
    {"GBK", Element::Ascii, Element::None, Whole::Gbk},
};

// The escape sequences a text may hold and the code elements they select.
struct EscapeEntry {
  std::string_view bytes;
  bool g1;
  Element element;
};

constexpr EscapeEntry ESCAPES[] = {
    {"\x1B(B", false, Element::Ascii},    {"\x1B(J", false, Element::Ascii}, // Romaji, read as ASCII
    {"\x1B$B", false, Element::JisX0208}, {"\x1B$@", false, Element::JisX0208}, {"\x1B$(D", false, Element::JisX0212},
    {"\x1B)I", true, Element::Katakana},  {"\x1B$)C", true, Element::KsX1001},  {"\x1B$)A", true, Element::Gb2312},
    {"\x1B-A", true, Element::Latin1},    {"\x1B-B", true, Element::Latin2},    {"\x1B-C", true, Element::Latin3},
    {"\x1B-D", true, Element::Latin4},    {"\x1B-L", true, Element::Cyrillic},  {"\x1B-G", true, Element::Arabic},
    {"\x1B-F", true, Element::Greek},     {"\x1B-H", true, Element::Hebrew},    {"\x1B-M", true, Element::Latin5},
    {"\x1B-b", true, Element::Latin9},    {"\x1B-T", true, Element::Thai},
};

// The iconv name of a single-byte or EUC upper half.
const char *IconvName(Element e) {
  switch (e) {
  case Element::Latin1:
    return "ISO-8859-1";
  case Element::Latin2:
    return "ISO-8859-2";
  case Element::Latin3:
    return "ISO-8859-3";
  case Element::Latin4:
    return "ISO-8859-4";
  case Element::Cyrillic:
    return "ISO-8859-5";
  case Element::Arabic:
    return "ISO-8859-6";
  case Element::Greek:
    return "ISO-8859-7";
  case Element::Hebrew:
    return "ISO-8859-8";
  case Element::Latin5:
    return "ISO-8859-9";
  case Element::Latin9:
    return "ISO-8859-15";
  case Element::Thai:
    return "TIS-620";
  case Element::KsX1001:
    return "EUC-KR";
  case Element::Gb2312:
    return "EUC-CN";
  case Element::Katakana:
  case Element::JisX0208:
  case Element::JisX0212:
    return "EUC-JP";
  case Element::None:
  case Element::Ascii:
    break;
  }
  return nullptr;
}

std::string NormalisedTerm(std::string_view term) {
  std::string out;
  for (const char c : term) {
    if (c != ' ' && c != '_' && c != '-') {
      out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
  }
  return out;
}

const TermEntry *FindTerm(std::string_view term) {
  const std::string wanted = NormalisedTerm(term);
  for (const TermEntry &entry : TERMS) {
    if (NormalisedTerm(entry.term) == wanted) {
      return &entry;
    }
  }
  return nullptr;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\0')) {
    text.remove_suffix(1);
  }
  return text;
}

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

// The code point of the well-formed sequence at text[i], and its length;
// length 0 when the bytes there are not one.
std::pair<std::uint32_t, int> NextCodePoint(std::string_view text, std::size_t i) {
  const auto lead = static_cast<std::uint8_t>(text[i]);
  const int length = SequenceLength(lead);
  if (length <= 1 || i + static_cast<std::size_t>(length) > text.size()) {
    return {lead, length == 1 ? 1 : 0};
  }
  std::uint32_t code = lead & (0x7F >> length);
  for (int k = 1; k < length; ++k) {
    const auto next = static_cast<std::uint8_t>(text[i + static_cast<std::size_t>(k)]);
    if ((next & 0xC0) != 0x80) {
      return {0, 0};
    }
    code = code << 6 | (next & 0x3F);
  }
  const std::uint32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  if (code < smallest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
    return {0, 0};
  }
  return {code, length};
}

// An iconv descriptor to UTF-8 that closes itself.
class ToUtf8 {
public:
  explicit ToUtf8(const char *from) : cd_(iconv_open("UTF-8", from)) {}
  ~ToUtf8() {
    if (Ok()) {
      iconv_close(cd_);
    }
  }
  ToUtf8(const ToUtf8 &) = delete;
  ToUtf8 &operator=(const ToUtf8 &) = delete;
  bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return cd_; }

private:
  iconv_t cd_;
};

class Decoder {
public:
  Decoder(std::string &out, std::size_t &replaced) : out_(out), replaced_(replaced) {}

  void Replace(std::size_t count = 1) {
    for (std::size_t i = 0; i < count; ++i) {
      out_ += REPLACEMENT_CHARACTER;
    }
    replaced_ += count;
  }

  // iconv from `from` to UTF-8; a byte it cannot take becomes U+FFFD and the
  // conversion goes on with the next one.
  void Convert(const char *from, std::string_view bytes) {
    if (bytes.empty()) {
      return;
    }
    ToUtf8 &cd = Converter(from);
    if (!cd.Ok()) {
      Replace(bytes.size());
      return;
    }
    iconv(cd.Get(), nullptr, nullptr, nullptr, nullptr);
    std::vector<char> input(bytes.begin(), bytes.end());
    char *in = input.data();
    std::size_t inLeft = input.size();
    std::vector<char> buffer(inLeft * 4 + 16);
    while (inLeft > 0) {
      char *outPtr = buffer.data();
      std::size_t outLeft = buffer.size();
      const std::size_t result = iconv(cd.Get(), &in, &inLeft, &outPtr, &outLeft);
      out_.append(buffer.data(), static_cast<std::size_t>(outPtr - buffer.data()));
      if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
        // EILSEQ (not a character) or EINVAL (cut short at the end).
        Replace();
        ++in;
        --inLeft;
        iconv(cd.Get(), nullptr, nullptr, nullptr, nullptr);
      }
    }
  }

  void Utf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
      const auto [code, length] = NextCodePoint(bytes, i);
      if (length == 0) {
        Replace();
        ++i;
        continue;
      }
      out_.append(bytes.substr(i, static_cast<std::size_t>(length)));
      i += static_cast<std::size_t>(length);
    }
  }

  // Bytes above 127 in G1.
  void Upper(Element g1, std::string_view run) {
    if (g1 == Element::Katakana) {
      std::string euc;
      for (const char c : run) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte >= 0xA1 && byte <= 0xDF) {
          euc.push_back(static_cast<char>(0x8E));
          euc.push_back(c);
        } else {
          Convert("EUC-JP", euc);
          euc.clear();
          Replace();
        }
      }
      Convert("EUC-JP", euc);
      return;
    }
    const char *name = IconvName(g1);
    if (name == nullptr) {
      Replace(run.size());
      return;
    }
    Convert(name, run);
  }

  // Bytes 0x21-0x7E in a two-byte G0 set.
  void TwoByte(Element g0, std::string_view run) {
    std::string euc;
    const std::size_t pairs = run.size() / 2;
    for (std::size_t p = 0; p < pairs; ++p) {
      if (g0 == Element::JisX0212) {
        euc.push_back(static_cast<char>(0x8F));
      }
      euc.push_back(static_cast<char>(run[2 * p] | 0x80));
      euc.push_back(static_cast<char>(run[2 * p + 1] | 0x80));
    }
    Convert("EUC-JP", euc);
    if (run.size() % 2 != 0) {
      Replace();
    }
  }

private:
  // One descriptor per character set for the whole value: a value that
  // switches sets at every byte opens each only once.
  ToUtf8 &Converter(const char *from) {
    for (auto &[name, cd] : converters_) {
      if (std::strcmp(name, from) == 0) {
        return *cd;
      }
    }
    converters_.emplace_back(from, std::make_unique<ToUtf8>(from));
    return *converters_.back().second;
  }

  std::string &out_;
  std::size_t &replaced_;
  std::vector<std::pair<const char *, std::unique_ptr<ToUtf8>>> converters_;
};

bool IsTwoByte(Element e) { return e == Element::JisX0208 || e == Element::JisX0212; }

// Line ends, tab and form feed; the value delimiter; in names "^" and "=".
bool SwitchesBack(char c, bool personName) {
  return c == '\r' || c == '\n' || c == '\t' || c == '\f' || c == '\\' || (personName && (c == '^' || c == '='));
}

void Strip(std::string &text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) {
    text.pop_back();
  }
}

} // namespace

SpecificCharacterSet SpecificCharacterSet::FromValue(std::string_view value) {
  SpecificCharacterSet set;
  set.value_ = std::string(Trimmed(value));
  std::string_view rest = set.value_;
  bool first = true;
  while (true) {
    const std::size_t cut = rest.find('\\');
    const std::string_view term = Trimmed(rest.substr(0, cut));
    const TermEntry *entry = term.empty() ? nullptr : FindTerm(term);
    if (!term.empty() && entry == nullptr && set.unknownTerm_.empty()) {
      set.unknownTerm_ = std::string(term);
    }
    if (first && entry != nullptr) {
      set.g0_ = entry->g0;
      set.g1_ = entry->g1;
    }
    // UTF-8, GB18030 and GBK allow no code extensions; listed anywhere, they
    // say how the whole value is written.
    if (entry != nullptr && entry->whole != Whole::No && set.whole_ == Whole::No) {
      set.whole_ = entry->whole;
    }
    first = false;
    if (cut == std::string_view::npos) {
      break;
    }
    rest.remove_prefix(cut + 1);
  }
  return set;
}

SpecificCharacterSet SpecificCharacterSet::Latin1() { return FromValue(LATIN1_CHARACTER_SET); }

std::string SpecificCharacterSet::Decode(std::string_view bytes, bool personName, std::size_t *replaced) const {
  if (const std::size_t zero = bytes.find('\0'); zero != std::string_view::npos) {
    bytes = bytes.substr(0, zero);
  }
  const bool plain =
      std::none_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<std::uint8_t>(c) >= 0x80 || c == ESC; });
  if (plain && !IsTwoByte(g0_)) {
    return std::string(bytes);
  }
  std::string out;
  out.reserve(bytes.size() * 2);
  std::size_t count = 0;
  Decoder decoder(out, count);
  switch (whole_) {
  case Whole::Utf8:
    decoder.Utf8(bytes);
    break;
  case Whole::Gb18030:
    decoder.Convert("GB18030", bytes);
    break;
  case Whole::Gbk:
    decoder.Convert("GBK", bytes);
    break;
  case Whole::No: {
    Element g0 = g0_;
    Element g1 = g1_;
    std::size_t i = 0;
    while (i < bytes.size()) {
      const char c = bytes[i];
      const auto byte = static_cast<std::uint8_t>(c);
      if (c == ESC) {
        const EscapeEntry *escape = nullptr;
        for (const EscapeEntry &entry : ESCAPES) {
          if (bytes.substr(i, entry.bytes.size()) == entry.bytes) {
            escape = &entry;
            break;
          }
        }
        if (escape == nullptr) {
          decoder.Replace();
          ++i;
          continue;
        }
        (escape->g1 ? g1 : g0) = escape->element;
        i += escape->bytes.size();
        continue;
      }
      if (byte >= 0x80) {
        std::size_t end = i;
        while (end < bytes.size() && static_cast<std::uint8_t>(bytes[end]) >= 0x80) {
          ++end;
        }
        decoder.Upper(g1, bytes.substr(i, end - i));
        i = end;
        continue;
      }
      if (IsTwoByte(g0) && byte >= 0x21 && byte <= 0x7E) {
        std::size_t end = i;
        while (end < bytes.size() && bytes[end] >= 0x21 && bytes[end] <= 0x7E) {
          ++end;
        }
        decoder.TwoByte(g0, bytes.substr(i, end - i));
        i = end;
        continue;
      }
      out.push_back(c);
      if (SwitchesBack(c, personName)) {
        g0 = g0_;
        g1 = g1_;
      }
      ++i;
    }
    break;
  }
  }
  if (replaced != nullptr) {
    *replaced += count;
  }
  return out;
}

std::string SpecificCharacterSet::DecodeText(const DcmTag &t, std::size_t *replaced) const {
  const std::string_view bytes(reinterpret_cast<const char *>(t.data.data()), t.data.size());
  const std::string text = Decode(bytes, t.HasVR("PN"), replaced);
  const auto isFill = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  const auto first = std::find_if_not(text.begin(), text.end(), isFill);
  const auto last = std::find_if_not(text.rbegin(), text.rend(), isFill).base();
  return first < last ? std::string(first, last) : std::string();
}

bool IsCharacterSetVR(std::string_view vr) {
  return vr == "SH" || vr == "LO" || vr == "ST" || vr == "LT" || vr == "PN" || vr == "UC" || vr == "UT";
}

bool IsUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const int length = NextCodePoint(text, i).second;
    if (length == 0) {
      return false;
    }
    i += static_cast<std::size_t>(length);
  }
  return true;
}

bool Utf8ToLatin1Exact(std::string_view text, std::string &latin1) {
  latin1.clear();
  latin1.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto [code, length] = NextCodePoint(text, i);
    if (length == 0 || code > 0xFF) {
      return false;
    }
    latin1.push_back(static_cast<char>(code));
    i += static_cast<std::size_t>(length);
  }
  return true;
}

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (const char c : text) {
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

std::string_view EncodeTextValues(DcmObj &dataSet) {
  // Every element whose value the repertoire covers, at any depth; the walk
  // is iterative so that deep nesting costs no stack.
  std::vector<DcmTag *> texts;
  std::vector<DcmObj *> pending{&dataSet};
  while (!pending.empty()) {
    DcmObj *current = pending.back();
    pending.pop_back();
    for (std::size_t i = 0; i < current->Count(); ++i) {
      if (DcmTag *t = current->ElementAt(i)) {
        if (t->HasValue() && t->length != UNDEFINED_LENGTH && IsCharacterSetVR(t->VR())) {
          texts.push_back(t);
        }
      } else if (DcmObj *nested = current->ContainerAt(i)) {
        pending.push_back(nested);
      }
    }
  }
  const auto valueOf = [](const DcmTag &t) {
    std::string value(reinterpret_cast<const char *>(t.data.data()), t.data.size());
    Strip(value);
    return value;
  };
  bool anyNonAscii = false;
  bool allLatin1 = true;
  std::string latin1;
  for (const DcmTag *t : texts) {
    const std::string value = valueOf(*t);
    if (std::all_of(value.begin(), value.end(), [](char c) { return static_cast<std::uint8_t>(c) < 0x80; })) {
      continue;
    }
    anyNonAscii = true;
    if (IsUtf8(value) && !Utf8ToLatin1Exact(value, latin1)) {
      allLatin1 = false;
    }
  }
  if (!anyNonAscii) {
    return {};
  }
  for (DcmTag *t : texts) {
    std::string value = valueOf(*t);
    const bool utf8 = IsUtf8(value);
    if (allLatin1 && utf8 && Utf8ToLatin1Exact(value, latin1)) {
      value = latin1;
    } else if (!allLatin1 && !utf8) {
      value = Latin1ToUtf8(value);
    } else if (value.size() == t->data.size()) {
      continue;
    }
    if (value.size() % 2 != 0) {
      value.push_back(' ');
    }
    t->SetValue(value.data(), static_cast<std::uint32_t>(value.size()));
  }
  const std::string_view term = allLatin1 ? LATIN1_CHARACTER_SET : UTF8_CHARACTER_SET;
  dataSet.Put(DcmTag::FromText(tag::SpecificCharacterSet, term, "CS"));
  return term;
}

} // namespace fw
