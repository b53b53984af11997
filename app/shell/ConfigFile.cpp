#include "app/shell/ConfigFile.h"

#include "base/Log.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace fw {
namespace {

// One line of the file: at most CONFIG_MAX_LINE_BYTES + 1 of its bytes are
// kept (enough to tell it is too long), its whole length is counted.
struct FileLine {
  std::string text;
  std::uint64_t length = 0;
};

// Reads the first `wanted` lines, split on CR LF, LF or CR (a terminator at
// the very end adds no line). Memory stays bounded however long a line is.
std::vector<FileLine> ReadLines(std::istream &in, std::size_t wanted) {
  std::vector<FileLine> lines;
  FileLine current;
  bool afterCr = false;
  bool inLine = false;
  std::array<char, 65536> chunk;
  while (lines.size() < wanted && in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    for (std::size_t i = 0; i < got && lines.size() < wanted; ++i) {
      const char c = chunk[i];
      if (c == '\n' && afterCr) {
        afterCr = false;
        continue;
      }
      afterCr = c == '\r';
      if (c == '\r' || c == '\n') {
        lines.push_back(std::move(current));
        current = FileLine{};
        inLine = false;
        continue;
      }
      inLine = true;
      if (current.text.size() <= CONFIG_MAX_LINE_BYTES) {
        current.text.push_back(c);
      }
      ++current.length;
    }
  }
  if (inLine && lines.size() < wanted) {
    lines.push_back(std::move(current));
  }
  return lines;
}

// ModalityIndex when a number outside the list is refused: no modality,
// which is what such a number meant before it was refused.
constexpr std::int32_t REFUSED_MODALITY_INDEX = -1;
constexpr std::int32_t LAST_MODALITY_INDEX = static_cast<std::int32_t>(MODALITY_LIST.size()) - 1;

std::string TooLongText(std::uint64_t length) {
  return std::to_string(length) + " bytes long, more than " + std::to_string(CONFIG_MAX_LINE_BYTES);
}

} // namespace

std::optional<std::string> LineLengthProblem(std::string_view text) {
  if (text.size() > CONFIG_MAX_LINE_BYTES) {
    return "is " + TooLongText(text.size());
  }
  return std::nullopt;
}

std::optional<std::string> PortProblem(std::string_view text) {
  if (text.empty()) {
    return std::nullopt;
  }
  const bool digitsOnly = std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  unsigned long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (!digitsOnly || error != std::errc() || end != text.data() + text.size() || value < 1 || value > 65535) {
    return std::string("is not a port number from 1 to 65535");
  }
  return std::nullopt;
}

std::optional<std::string> AETitleProblem(std::string_view text) {
  if (text.size() > AE_TITLE_MAX_CHARS) {
    return "is longer than " + std::to_string(AE_TITLE_MAX_CHARS) + " characters";
  }
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E || c == '\\') {
      return std::string("holds a character an AE title may not have (control characters, backslash and "
                         "characters outside ASCII are not allowed)");
    }
  }
  if (!text.empty() && text.find_first_not_of(' ') == std::string_view::npos) {
    return std::string("is only spaces");
  }
  return std::nullopt;
}

std::optional<std::string> FieldProblem(ConfigFieldKind kind, std::string_view text) {
  switch (kind) {
  case ConfigFieldKind::AETitle:
    return AETitleProblem(text);
  case ConfigFieldKind::Port:
    return PortProblem(text);
  case ConfigFieldKind::Text:
    break;
  }
  return std::nullopt;
}

std::optional<std::string> CheckConfigFields(const std::vector<ConfigField> &fields) {
  for (const ConfigField &field : fields) {
    std::optional<std::string> problem = LineLengthProblem(field.value);
    if (!problem) {
      problem = FieldProblem(field.kind, field.value);
    }
    if (problem) {
      return field.label + ": " + QuotedValue(field.value) + " " + *problem;
    }
  }
  return std::nullopt;
}

std::string QuotedValue(std::string_view text) {
  constexpr std::size_t shown = 64;
  std::string quoted = "\"";
  for (std::size_t i = 0; i < text.size() && i < shown; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || (byte >= 0x7F && byte < 0xA0) || byte == '"') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      quoted += escaped;
    } else {
      quoted += text[i];
    }
  }
  quoted += "\"";
  if (text.size() > shown) {
    quoted += "... (" + std::to_string(text.size()) + " bytes)";
  }
  return quoted;
}

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

namespace {

// The refused lines of one load, in file order, each an ERROR line naming
// the file, the line, the field and the value used instead.
struct Refusals {
  void Add(int line, const char *field, const std::string &what, const std::string &used) {
    lines.push_back("ERROR, LoadConfig, " + path + " line " + std::to_string(line + 1) + " (" + field + ") " + what +
                    "; " + used + " used instead");
  }

  const std::string &path;
  std::vector<std::string> lines;
};

// Takes the text fields from lines: a refused value leaves the field's
// default, a missing line an empty field. Returns the first missing line,
// or -1.
int TakeTextFields(setupcfg &record, const std::vector<FileLine> &lines, Refusals &refused) {
  const setupcfg defaults;
  int missing = -1;
  for (int line = 0; line < CONFIG_LINE_COUNT - 1; ++line) {
    const SetupField &rule = SETUP_FIELDS[static_cast<std::size_t>(line)];
    std::string &field = record.*rule.member;
    if (line >= static_cast<int>(lines.size())) {
      if (missing < 0) {
        missing = line;
      }
      field.clear();
      continue;
    }
    const FileLine &read = lines[static_cast<std::size_t>(line)];
    const std::string &fallback = defaults.*rule.member;
    if (read.length > CONFIG_MAX_LINE_BYTES) {
      refused.Add(line, rule.name, "is " + TooLongText(read.length), QuotedValue(fallback));
      field = fallback;
    } else if (const auto problem = FieldProblem(rule.kind, read.text)) {
      refused.Add(line, rule.name, QuotedValue(read.text) + " " + *problem, QuotedValue(fallback));
      field = fallback;
    } else {
      field = read.text;
    }
  }
  return missing;
}

// The modality index from the last line: text that is no number gives 0,
// a number outside the list REFUSED_MODALITY_INDEX.
std::int32_t ModalityIndexOf(const FileLine &read, Refusals &refused) {
  const int line = CONFIG_LINE_COUNT - 1;
  const std::string used = std::to_string(REFUSED_MODALITY_INDEX);
  if (read.length > CONFIG_MAX_LINE_BYTES) {
    refused.Add(line, "ModalityIndex", "is " + TooLongText(read.length), used);
    return REFUSED_MODALITY_INDEX;
  }
  // A wider type tells a number out of range from text that is none.
  const char *first = read.text.data() + (!read.text.empty() && read.text[0] == '+' ? 1 : 0);
  const char *last = read.text.data() + read.text.size();
  long long number = 0;
  const auto [end, error] = std::from_chars(first, last, number);
  const bool isNumber = first != last && end == last && error != std::errc::invalid_argument;
  if (!isNumber) {
    refused.Add(line, "ModalityIndex", QuotedValue(read.text) + " is not a number", "0");
    return 0;
  }
  if (error == std::errc::result_out_of_range || number < REFUSED_MODALITY_INDEX || number > LAST_MODALITY_INDEX) {
    refused.Add(line, "ModalityIndex",
                QuotedValue(read.text) + " is not a modality index from -1 to " + std::to_string(LAST_MODALITY_INDEX),
                used);
    return REFUSED_MODALITY_INDEX;
  }
  return static_cast<std::int32_t>(number);
}

} // namespace

bool LoadConfig(setupcfg &record, const std::string &path, ConfigLoad *details) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return false;
  }
  const std::vector<FileLine> lines = ReadLines(in, CONFIG_LINE_COUNT);
  Refusals refused{path, {}};
  int missing = TakeTextFields(record, lines, refused);
  record.ModalityIndex = 0;
  if (lines.size() >= static_cast<std::size_t>(CONFIG_LINE_COUNT)) {
    record.ModalityIndex = ModalityIndexOf(lines[CONFIG_LINE_COUNT - 1], refused);
  } else if (missing < 0) {
    missing = CONFIG_LINE_COUNT - 1;
  }

  for (const std::string &line : refused.lines) {
    WriteLog(line);
  }
  if (details != nullptr) {
    details->found = true;
    details->firstMissingLine = missing;
    details->refused = std::move(refused.lines);
  }
  return true;
}

std::string ConfigFileText(const setupcfg &record) {
  std::string text;
  for (const SetupField &rule : SETUP_FIELDS) {
    text += record.*rule.member + "\r\n";
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
