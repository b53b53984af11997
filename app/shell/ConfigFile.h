// "quillbrook.cfg": the station configuration as ten text lines, Latin-1,
// no byte-order mark, each line ended by CR LF when written; on reading CR
// LF, LF or CR end a line.
//
//   line  field            line  field
//    1    LocalAET           6   WlAET
//    2    InstitutionName    7   WlIP
//    3    PacsAET            8   WlPort
//    4    PacsIP             9   Reserved
//    5    PacsPort          10   ModalityIndex, decimal, "-" when negative
//
// The file is read as untrusted input (anyone may have edited it). A line
// that breaks its field's rule is refused: the field takes its built-in
// default, one "ERROR, LoadConfig, ..." line names the line, the field and
// the value, and the rest of the file is used as read, so the station
// always starts. An OK in the setup dialog then writes the default.
//
//   field                 refused when                                      default used
//   any line              longer than CONFIG_MAX_LINE_BYTES                 the field's built-in one
//   LocalAET, PacsAET,    not an AE title: over 16 characters, a byte       "QUILLBROOK", "PACS",
//   WlAET                 outside 0x20-0x7E, a backslash, or only spaces    "WORKLIST"
//   PacsPort, WlPort      not a decimal number from 1 to 65535 (no sign,   "104"
//                         spaces or other characters around it)
//   ModalityIndex         a number outside -1..6                            -1 (no modality)
//
// An empty line is not refused: an empty field stays empty. A tenth line
// that is not a number gives ModalityIndex 0 (with an ERROR line).
#pragma once

#include "station/StationRecords.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

inline constexpr int CONFIG_LINE_COUNT = 10;
inline constexpr const char *CONFIG_FILE_NAME = "quillbrook.cfg";
// Longest line taken, in bytes without its line end; far above any real
// value, far below what could slow the station down.
inline constexpr std::size_t CONFIG_MAX_LINE_BYTES = 4096;
// An AE title (VR AE) holds at most this many characters.
inline constexpr std::size_t AE_TITLE_MAX_CHARS = 16;

// The rule a text field follows (see the table above); every field is also
// bounded by CONFIG_MAX_LINE_BYTES.
enum class ConfigFieldKind { Text, AETitle, Port };

// A text field of the record: its line of the file and its place in the
// setup dialog, which loads, reads, checks and saves its fields by this table.
struct SetupField {
  std::string setupcfg::*member;
  const char *name; // the record's, as log lines name it
  ConfigFieldKind kind;
  // The dialog's line edit (object name), its tab, the label beside it and
  // the label a refusal box gives it; the Reserved line has none (nullptr).
  const char *widget;
  int page; // 0 "Local", 1 "PACS", 2 "WL Server"
  const char *formLabel;
  const char *label;
};

// The record's text fields in the order of the file's first nine lines.
inline constexpr std::array<SetupField, CONFIG_LINE_COUNT - 1> SETUP_FIELDS = {{
    {&setupcfg::LocalAET, "LocalAET", ConfigFieldKind::AETitle, "Edit1", 0, "Local AET", "Local AET"},
    {&setupcfg::InstitutionName, "InstitutionName", ConfigFieldKind::Text, "Edit2", 0, "Inst. Name:", "Inst. Name"},
    {&setupcfg::PacsAET, "PacsAET", ConfigFieldKind::AETitle, "Edit3", 1, "AET", "PACS AET"},
    {&setupcfg::PacsIP, "PacsIP", ConfigFieldKind::Text, "Edit4", 1, "IP Address", "PACS IP Address"},
    {&setupcfg::PacsPort, "PacsPort", ConfigFieldKind::Port, "Edit5", 1, "Port", "PACS Port"},
    {&setupcfg::WlAET, "WlAET", ConfigFieldKind::AETitle, "Edit6", 2, "AET", "WL Server AET"},
    {&setupcfg::WlIP, "WlIP", ConfigFieldKind::Text, "Edit7", 2, "IP Address", "WL Server IP Address"},
    {&setupcfg::WlPort, "WlPort", ConfigFieldKind::Port, "Edit8", 2, "Port", "WL Server Port"},
    {&setupcfg::Reserved, "Reserved", ConfigFieldKind::Text, nullptr, -1, nullptr, nullptr},
}};

struct ConfigLoad {
  bool found = false;        // a file exists at the path (and could be read)
  int firstMissingLine = -1; // zero-based number of the first missing line, -1 when all ten are there
  // The log lines of the refused lines, in line order (each also written
  // to the log).
  std::vector<std::string> refused;
};

// False when there is no file at the path (the record is not touched).
// Otherwise fills the record from the file and returns true. A file with
// fewer than ten lines fills the fields of the lines it has and empties the
// rest (ModalityIndex 0); `details` then names the first missing line.
// Refused lines are handled as the table above says.
bool LoadConfig(setupcfg &record, const std::string &path, ConfigLoad *details = nullptr);

// Writes the ten lines, replacing any existing file. False when the file
// cannot be written; `reason` then holds the system's reason.
bool SaveConfig(const setupcfg &record, const std::string &path, std::string *reason = nullptr);

// The ten lines of the file as written, CR LF after each.
std::string ConfigFileText(const setupcfg &record);

// The decimal number of a line, or 0 when the line is not one.
std::int32_t ParseModalityIndex(const std::string &line);

// The rules of the table, shared with the setup dialog: why the text cannot
// be used for the field, as a phrase that follows the quoted value (for
// example "is not a port number from 1 to 65535"), or nullopt when it can.
std::optional<std::string> PortProblem(std::string_view text);
std::optional<std::string> AETitleProblem(std::string_view text);
std::optional<std::string> LineLengthProblem(std::string_view text);
// The rule of the kind, the line length aside.
std::optional<std::string> FieldProblem(ConfigFieldKind kind, std::string_view text);

// A field of the setup dialog and the rule it follows.
struct ConfigField {
  std::string label; // as the dialog names it, e.g. "PACS Port"
  ConfigFieldKind kind;
  std::string value; // Latin-1
};

// The box text for the first field its rule refuses, e.g.
// "PACS Port: \"105844\" is not a port number from 1 to 65535"; nullopt
// when every field may be used. Text fields are bounded by their length only.
std::optional<std::string> CheckConfigFields(const std::vector<ConfigField> &fields);

// A value for a log line or a box: quoted, control and other unprintable
// bytes as \xNN, cut after 64 bytes with "..." (the full length is named).
std::string QuotedValue(std::string_view text);

} // namespace fw
