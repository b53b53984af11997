#include "app/shell/ConfigFile.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace fw {
namespace {

// Splits on CR LF, LF or CR; a terminator at the very end adds no line.
std::vector<std::string> SplitLines(const std::string &text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const char c = text[at];
    if (c == '\r' || c == '\n') {
      lines.push_back(text.substr(start, at - start));
      at += (c == '\r' && at + 1 < text.size() && text[at + 1] == '\n') ? 2 : 1;
      start = at;
    } else {
      ++at;
    }
  }
  if (start < text.size()) {
    lines.push_back(text.substr(start));
  }
  return lines;
}

// The record's fields in the order of the file's first nine lines.
std::string *TextField(setupcfg &record, int line) {
  std::string *fields[] = {&record.LocalAET, &record.InstitutionName, &record.PacsAET,
                           &record.PacsIP,   &record.PacsPort,        &record.WlAET,
                           &record.WlIP,     &record.WlPort,          &record.Reserved};
  return fields[line];
}

} // namespace

std::int32_t ParseModalityIndex(const std::string &line) {
  std::int32_t value = 0;
  const char *first = line.data();
  const char *last = line.data() + line.size();
  if (first != last && *first == '+') {
    ++first;
  }
  const auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last || first == last) {
    return 0;
  }
  return value;
}

bool LoadConfig(setupcfg &record, const std::string &path, ConfigLoad *details) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return false;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::vector<std::string> lines = SplitLines(text);

  int missing = -1;
  for (int line = 0; line < CONFIG_LINE_COUNT - 1; ++line) {
    if (line < static_cast<int>(lines.size())) {
      *TextField(record, line) = lines[static_cast<std::size_t>(line)];
    } else {
      if (missing < 0) {
        missing = line;
      }
      TextField(record, line)->clear();
    }
  }
  if (lines.size() >= static_cast<std::size_t>(CONFIG_LINE_COUNT)) {
    record.ModalityIndex = ParseModalityIndex(lines[CONFIG_LINE_COUNT - 1]);
  } else {
    record.ModalityIndex = 0;
    if (missing < 0) {
      missing = CONFIG_LINE_COUNT - 1;
    }
  }
  if (details != nullptr) {
    details->found = true;
    details->firstMissingLine = missing;
  }
  return true;
}

std::string ConfigFileText(const setupcfg &record) {
  std::string text;
  setupcfg copy = record;
  for (int line = 0; line < CONFIG_LINE_COUNT - 1; ++line) {
    text += *TextField(copy, line) + "\r\n";
  }
  text += std::to_string(record.ModalityIndex) + "\r\n";
  return text;
}

bool SaveConfig(const setupcfg &record, const std::string &path, std::string *reason) {
  const std::string text = ConfigFileText(record);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    if (reason != nullptr) {
      *reason = std::strerror(errno);
    }
    return false;
  }
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) {
    if (reason != nullptr) {
      *reason = std::strerror(errno != 0 ? errno : EIO);
    }
    return false;
  }
  return true;
}

} // namespace fw
