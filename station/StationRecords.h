// The two process-wide records of the station, alive for the whole run:
//
//   StudyContext   the patient and study of the next acquisition; empty at
//                  start, filled by the main window's Acquire, read when an
//                  acquisition opens and when its objects are built.
//   StationConfig  the station's identity and its two peers ("quillbrook.cfg"),
//                  changed only by the setup dialog's OK; every user reads it
//                  at the moment of use, so no copy is cached elsewhere.
//
// Both are plain data without Qt, so command-line tools and tests use them.
#pragma once

#include "net/query/StudyInfo.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace fw {

// The station configuration, fields in the order of the file's lines.
struct setupcfg {
  std::string LocalAET = "QUILLBROOK";
  std::string InstitutionName = "Institution Name";
  std::string PacsAET = "PACS";
  std::string PacsIP = "127.0.0.1";
  std::string PacsPort = "104";
  std::string WlAET = "WORKLIST";
  std::string WlIP = "127.0.0.1";
  std::string WlPort = "104";
  std::string Reserved = "0";
  // Position in MODALITY_LIST; any other value means no modality is chosen.
  std::int32_t ModalityIndex = 0;

  bool operator==(const setupcfg &) const = default;
};

// The modalities the station can acquire as, index 0 to 6.
inline constexpr std::array<std::string_view, 7> MODALITY_LIST = {"US", "CR", "CT", "MR", "DX", "ES", "OT"};

// The modality text of an index, empty outside the list.
std::string ModalityAt(std::int32_t index);

// The process-wide records.
StudyInfo &StudyContext();
setupcfg &StationConfig();

} // namespace fw
