// DcmDump: the text lines of a data set.
#include "dicom/DcmDump.h"

#include "dicom/DataDictionary.h"
#include "dicom/Uids.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace fw {

namespace {

constexpr std::uint32_t SHOWN_LENGTH_LIMIT = 255;

std::string FormatLine(const DcmTag &t, std::string_view vr, int depth) {
  std::string line;
  for (int i = 1; i < depth; ++i) {
    line += "...";
  }
  char head[64];
  std::snprintf(head, sizeof(head), "(%04X,%04X), %2d, ", t.group, t.element, static_cast<std::int32_t>(t.length));
  line += head;
  line += vr;
  line += ", ";
  line += LookupName(t);
  line += ": ";
  if (vr == "SQ" || t.length >= SHOWN_LENGTH_LIMIT || t.data.empty()) {
    return line;
  }
  const std::size_t n = std::min<std::size_t>(t.length, t.data.size());
  std::string value;
  if ((vr == "FL" || vr == "FD") && t.length == 4 && n == 4) {
    const std::uint32_t bits = std::uint32_t{t.data[0]} | std::uint32_t{t.data[1]} << 8 |
                               std::uint32_t{t.data[2]} << 16 | std::uint32_t{t.data[3]} << 24;
    float f = 0;
    std::memcpy(&f, &bits, sizeof(f));
    char text[64];
    std::snprintf(text, sizeof(text), "%5.2f", static_cast<double>(f));
    value = text;
  } else if (vr == "SL" || vr == "SS" || vr == "UL" || vr == "US") {
    if (t.length > 4) {
      value = "Vector!!";
    } else {
      std::uint32_t bits = 0;
      for (std::size_t i = 0; i < n; ++i) {
        bits |= std::uint32_t{t.data[i]} << (8 * i);
      }
      value = std::to_string(static_cast<std::int32_t>(bits));
    }
  } else {
    const auto end = std::find(t.data.begin(), t.data.begin() + static_cast<std::ptrdiff_t>(n), std::uint8_t{0});
    value.assign(t.data.begin(), end);
  }
  line += value;
  if (vr == "UI") {
    const std::string name = UIDName(value);
    if (!name.empty()) {
      line += " (" + name + ") ";
    }
  }
  return line;
}

// The VR shown for an element: a command element's comes from the
// dictionary, since none is encoded for it.
std::string_view ShownVR(const DcmTag &t) {
  if (t.group == 0x0000) {
    const DictionaryEntry *row = FindDictionaryEntry(t.group, t.element);
    return row != nullptr ? std::string_view(row->vr, 2) : std::string_view("UN");
  }
  return t.VR();
}

} // namespace

std::string FormatElementLine(const DcmTag &t, int depth) { return FormatLine(t, t.VR(), depth); }

void Dump(const DcmObj &c, std::vector<std::string> &lines, int depth) {
  // Nested containers are walked with an explicit stack, so a deep tree
  // cannot exhaust the call stack.
  struct Level {
    const DcmObj *obj;
    std::size_t next;
    int depth;
  };
  std::vector<Level> stack{{&c, 0, depth}};
  while (!stack.empty()) {
    Level &level = stack.back();
    if (level.next >= level.obj->Count()) {
      stack.pop_back();
      continue;
    }
    const DcmEntry *entry = level.obj->EntryAt(level.next++);
    const int at = level.depth;
    if (entry->IsElement()) {
      const auto &t = static_cast<const DcmTag &>(*entry);
      lines.push_back(FormatLine(t, ShownVR(t), at));
    } else {
      const auto &n = static_cast<const DcmObj &>(*entry);
      lines.push_back(FormatLine(n.header, ShownVR(n.header), at));
      stack.push_back({&n, 0, at + 1});
    }
  }
}

} // namespace fw
