// ValueBounds: cutting query response values to their VR's maximum length.
#include "net/query/ValueBounds.h"

#include "base/Log.h"
#include "dicom/DcmTag.h"
#include "dicom/Tags.h"

#include <array>
#include <cstdio>
#include <string>

namespace fw {
namespace {

enum class Repertoire { SingleByte, Utf8, MultiByte };

struct Bound {
  std::string_view vr;
  std::size_t maximum;
  bool wholeValue; // one value: "\" is a character like any other
};

constexpr std::array<Bound, 14> BOUNDS = {{
    {"AE", 16, false},
    {"AS", 4, false},
    {"CS", 16, false},
    {"DA", 18, false},
    {"DS", 16, false},
    {"DT", 54, false},
    {"IS", 12, false},
    {"LO", 64, false},
    {"LT", 10240, true},
    {"PN", 64, false},
    {"SH", 16, false},
    {"ST", 1024, true},
    {"TM", 28, false},
    {"UI", 64, false},
}};

const Bound *FindBound(std::string_view vr) {
  for (const Bound &bound : BOUNDS) {
    if (bound.vr == vr) {
      return &bound;
    }
  }
  return nullptr;
}

Repertoire DeclaredRepertoire(const DcmObj &c, Repertoire inherited) {
  const DcmTag *declared = c.FindElement(tag::SpecificCharacterSet);
  if (declared == nullptr || !declared->HasValue()) {
    return inherited;
  }
  const std::string terms = declared->GetText();
  if (terms.find("192") != std::string::npos) {
    return Repertoire::Utf8;
  }
  for (const char *multiByte : {"IR 87", "IR 159", "IR 149", "IR 58", "GB18030", "GBK"}) {
    if (terms.find(multiByte) != std::string::npos) {
      return Repertoire::MultiByte;
    }
  }
  return Repertoire::SingleByte;
}

bool IsPadding(char c) { return c == ' ' || c == '\0'; }

// Where the piece must be cut to hold `maximum` characters, or npos when it
// holds no more than that (trailing padding not counted).
std::size_t CutPosition(std::string_view piece, std::size_t maximum, Repertoire repertoire) {
  while (!piece.empty() && IsPadding(piece.back())) {
    piece.remove_suffix(1);
  }
  switch (repertoire) {
  case Repertoire::SingleByte:
    return piece.size() > maximum ? maximum : std::string_view::npos;
  case Repertoire::MultiByte:
    return piece.size() > maximum * 4 ? maximum * 4 : std::string_view::npos;
  case Repertoire::Utf8: {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < piece.size(); ++i) {
      const auto byte = static_cast<unsigned char>(piece[i]);
      if ((byte & 0xC0) != 0x80 && characters++ == maximum) {
        return i; // the first byte of the character past the maximum
      }
    }
    return std::string_view::npos;
  }
  }
  return std::string_view::npos;
}

// Cuts each piece between separators; true when any was cut.
bool CutPieces(std::string &text, char separator, std::size_t maximum, Repertoire repertoire) {
  bool cut = false;
  std::string result;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    std::string_view piece(text.data() + start, (end == std::string::npos ? text.size() : end) - start);
    const std::size_t at = CutPosition(piece, maximum, repertoire);
    if (at != std::string_view::npos) {
      piece = piece.substr(0, at);
      cut = true;
    }
    result.append(piece);
    if (end == std::string::npos) {
      break;
    }
    result.push_back(separator);
    start = end + 1;
  }
  if (cut) {
    text = std::move(result);
  }
  return cut;
}

void BoundElement(DcmTag &element, Repertoire repertoire, std::string_view where) {
  const Bound *bound = FindBound(element.VR());
  if (bound == nullptr || !element.HasValue()) {
    return;
  }
  const std::size_t before = element.data.size();
  std::string text(reinterpret_cast<const char *>(element.data.data()), before);
  bool cut = false;
  if (bound->wholeValue) {
    const std::size_t at = CutPosition(text, bound->maximum, repertoire);
    cut = at != std::string_view::npos;
    if (cut) {
      text.resize(at);
    }
  } else if (element.HasVR("PN")) {
    // Each value's component groups, each held to the maximum.
    std::string values;
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = text.find('\\', start);
      std::string value = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
      cut = CutPieces(value, '=', bound->maximum, repertoire) || cut;
      values += value;
      if (end == std::string::npos) {
        break;
      }
      values.push_back('\\');
      start = end + 1;
    }
    text = std::move(values);
  } else {
    cut = CutPieces(text, '\\', bound->maximum, repertoire);
  }
  if (!cut) {
    return;
  }
  if (text.size() % 2 != 0) {
    text.push_back(element.HasVR("UI") ? '\0' : ' ');
  }
  element.SetValue(text.data(), static_cast<std::uint32_t>(text.size()));
  char tag[16];
  std::snprintf(tag, sizeof(tag), "(%04X,%04X)", element.group, element.element);
  WriteLog("WARNING, " + std::string(where) + ", " + tag + " " + std::string(element.VR()) + " value of " +
           std::to_string(before) + " bytes cut to " + std::to_string(bound->maximum) + " characters");
}

void BoundContainer(DcmObj &c, Repertoire inherited, std::string_view where) {
  const Repertoire repertoire = DeclaredRepertoire(c, inherited);
  for (std::size_t i = 0; i < c.Count(); ++i) {
    if (DcmTag *element = c.ElementAt(i)) {
      BoundElement(*element, repertoire, where);
    } else if (DcmObj *nested = c.ContainerAt(i)) {
      BoundContainer(*nested, repertoire, where);
    }
  }
}

} // namespace

std::size_t MaximumValueLength(std::string_view vr) {
  const Bound *bound = FindBound(vr);
  return bound != nullptr ? bound->maximum : 0;
}

void BoundValueLengths(DcmObj &dataSet, std::string_view where) {
  BoundContainer(dataSet, Repertoire::SingleByte, where);
}

} // namespace fw
