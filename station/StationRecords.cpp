#include "station/StationRecords.h"

namespace fw {

std::string ModalityAt(std::int32_t index) {
  if (index < 0 || index >= static_cast<std::int32_t>(MODALITY_LIST.size()))
    return {};
  return std::string(MODALITY_LIST[static_cast<std::size_t>(index)]);
}

StudyInfo &StudyContext() {
  static StudyInfo context;
  return context;
}

setupcfg &StationConfig() {
  static setupcfg config;
  return config;
}

} // namespace fw
