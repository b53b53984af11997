// DcmTag construction, padding and accessors.
#include "dicom/DcmTag.h"

#include "dicom/DataDictionary.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <locale.h>

namespace fw {

namespace {

constexpr std::string_view TEXT_VRS[] = {"AE", "AS", "CS", "DA", "DS", "DT", "IS", "LO",
                                         "LT", "PN", "SH", "ST", "TM", "UC", "UR", "UT"};

// Largest even length below UNDEFINED_LENGTH.
constexpr std::uint32_t MAX_DEFINED_LENGTH = 0xFFFFFFFE;

// Steps 1 to 5 of construction: tag, VR (given or from the dictionary), and
// the value padded to even length.
std::unique_ptr<DcmTag> Make(std::uint16_t group, std::uint16_t element, std::uint32_t length, const void *bytes,
                             std::string_view vr) {
  auto tag = std::make_unique<DcmTag>();
  tag->group = group;
  tag->element = element;
  tag->length = length;
  if (!vr.empty()) {
    tag->SetVR(vr);
  } else {
    LookupVR(*tag);
    if (tag->HasVR("UN") && length == UNDEFINED_LENGTH) {
      tag->SetVR("SQ");
    }
  }
  if (length == 0 || length == UNDEFINED_LENGTH) {
    return tag;
  }
  const bool padded = length % 2 != 0;
  if (padded) {
    tag->length = length + 1; // an odd length is at most 0xFFFFFFFD here
  }
  std::vector<std::uint8_t> value;
  value.reserve(tag->length);
  if (bytes != nullptr) {
    const auto *first = static_cast<const std::uint8_t *>(bytes);
    value.assign(first, first + length);
  } else {
    value.assign(length, 0);
  }
  if (padded) {
    value.push_back(IsTextVR(tag->VR()) ? 0x20 : 0x00);
  }
  tag->data = std::move(value);
  return tag;
}

// The C library's decimal conversion in the "C" locale, so a comma locale set
// by the application does not change how DICOM decimal strings read.
double ParseDecimal(const std::string &text) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  if (cLocale == static_cast<locale_t>(nullptr)) {
    return std::strtod(text.c_str(), nullptr);
  }
  return strtod_l(text.c_str(), nullptr, cLocale);
}

// The value as text up to the first zero byte.
std::string ValueText(const ValueBytes &data) {
  const auto end = std::find(data.begin(), data.end(), std::uint8_t{0});
  return std::string(data.begin(), end);
}

} // namespace

bool IsTextVR(std::string_view vr) {
  return std::find(std::begin(TEXT_VRS), std::end(TEXT_VRS), vr) != std::end(TEXT_VRS);
}

std::unique_ptr<DcmTag> DcmTag::FromBytes(std::uint16_t group, std::uint16_t element, std::uint32_t length,
                                          const void *bytes, std::string_view vr) {
  return Make(group, element, length, bytes, vr);
}

std::unique_ptr<DcmTag> DcmTag::FromUS(std::uint16_t group, std::uint16_t element, std::uint16_t value,
                                       std::string_view vr) {
  const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
  return Make(group, element, sizeof(bytes), bytes, vr);
}

std::unique_ptr<DcmTag> DcmTag::FromUL(std::uint16_t group, std::uint16_t element, std::uint32_t value,
                                       std::string_view vr) {
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  return Make(group, element, sizeof(bytes), bytes, vr);
}

std::unique_ptr<DcmTag> DcmTag::FromText(std::uint16_t group, std::uint16_t element, std::string_view text,
                                         std::string_view vr) {
  const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), MAX_DEFINED_LENGTH));
  return Make(group, element, length, text.data(), vr);
}

std::uint16_t DcmTag::GetUS() const {
  if (data.empty()) {
    return 0;
  }
  const std::uint16_t high = data.size() > 1 ? data[1] : 0;
  return static_cast<std::uint16_t>(high << 8 | data[0]);
}

float DcmTag::GetFloat() const { return static_cast<float>(ParseDecimal(std::string(data.begin(), data.end()))); }

double DcmTag::GetNumber(int index) const {
  if (index < 0) {
    return 0;
  }
  return ParseDecimal(NthField(ValueText(data), "\\", index + 1));
}

std::string DcmTag::GetText() const {
  const std::string text = ValueText(data);
  const auto isFill = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  const auto first = std::find_if_not(text.begin(), text.end(), isFill);
  const auto last = std::find_if_not(text.rbegin(), text.rend(), isFill).base();
  return first < last ? std::string(first, last) : std::string();
}

std::string_view DcmTag::VR() const {
  if (vr[0] == 0) {
    return {};
  }
  return std::string_view(vr.data(), vr[1] == 0 ? 1 : 2);
}

void DcmTag::SetVR(std::string_view letters) {
  vr = {};
  if (letters.size() >= 2) {
    vr[0] = letters[0];
    vr[1] = letters[1];
  }
}

void DcmTag::SetValue(const void *bytes, std::uint32_t count) {
  data.clear();
  length = count;
  if (count == 0 || count == UNDEFINED_LENGTH) {
    return;
  }
  if (bytes != nullptr) {
    const auto *first = static_cast<const std::uint8_t *>(bytes);
    data.assign(first, first + count);
  } else {
    data.assign(count, 0);
  }
}

void DcmTag::ReleaseValue() {
  data.clear();
  data.shrink_to_fit();
}

std::string NthField(std::string_view text, std::string_view separator, int n) {
  if (separator.empty()) {
    return {}; // an empty separator is found at once on every pass
  }
  std::string_view field;
  std::string_view rest = text;
  for (int pass = 1; pass <= n; ++pass) {
    const std::size_t at = rest.find(separator);
    if (at == std::string_view::npos) {
      field = pass == n ? rest : std::string_view();
      break;
    }
    field = rest.substr(0, at);
    rest = rest.substr(at + separator.size());
  }
  return std::string(field);
}

} // namespace fw
