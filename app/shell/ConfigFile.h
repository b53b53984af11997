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
#pragma once

#include "acquisition/StationRecords.h"

#include <string>

namespace fw {

inline constexpr int CONFIG_LINE_COUNT = 10;
inline constexpr const char *CONFIG_FILE_NAME = "quillbrook.cfg";

struct ConfigLoad {
  bool found = false;        // a file exists at the path (and could be read)
  int firstMissingLine = -1; // zero-based number of the first missing line, -1 when all ten are there
};

// False when there is no file at the path (the record is not touched).
// Otherwise fills the record from the file and returns true. A file with
// fewer than ten lines fills the fields of the lines it has and empties the
// rest (ModalityIndex 0); `details` then names the first missing line. A
// tenth line that is not a decimal number gives ModalityIndex 0.
bool LoadConfig(setupcfg &record, const std::string &path, ConfigLoad *details = nullptr);

// Writes the ten lines, replacing any existing file. False when the file
// cannot be written; `reason` then holds the system's reason.
bool SaveConfig(const setupcfg &record, const std::string &path, std::string *reason = nullptr);

// The ten lines of the file as written, CR LF after each.
std::string ConfigFileText(const setupcfg &record);

// The decimal number of a line, or 0 when the line is not one.
std::int32_t ParseModalityIndex(const std::string &line);

} // namespace fw
