// FindQuery and FindNext: the request and the responses of a query-level
// search, with the records of the level.
#include "net/query/FindQuery.h"

#include "base/Log.h"
#include "net/query/CFind.h"
#include "net/query/QueryKeys.h"

#include <string>

namespace fw {

bool BuildLevelKeys(const FindRecord &record, std::string_view level, DcmObj &identifier) {
  if (level == LEVEL_STUDY && std::holds_alternative<StudyInfo>(record)) {
    BuildStudyKeys(std::get<StudyInfo>(record), identifier);
  } else if (level == LEVEL_SERIES && std::holds_alternative<SeriesInfo>(record)) {
    BuildSeriesKeys(std::get<SeriesInfo>(record), identifier);
  } else if (level == LEVEL_IMAGE && std::holds_alternative<ImageInfo>(record)) {
    BuildImageKeys(std::get<ImageInfo>(record), identifier);
  } else {
    return false;
  }
  return true;
}

bool AppendFindRecord(FindList &list, std::string_view level, const DcmObj &identifier) {
  if (level == LEVEL_STUDY) {
    StudyInfo study;
    ReadStudyInfo(study, identifier);
    list.emplace_back(std::move(study));
  } else if (level == LEVEL_SERIES) {
    SeriesInfo series;
    ReadSeriesInfo(series, identifier);
    list.emplace_back(std::move(series));
  } else if (level == LEVEL_IMAGE) {
    ImageInfo image;
    ReadImageInfo(image, identifier);
    list.emplace_back(std::move(image));
  } else {
    return false;
  }
  return true;
}

bool FindQuery(PDU_Service &service, FindList &list, std::string_view sopClassUID, std::string_view level) {
  if (list.empty()) {
    WriteLog("ERROR, FindQuery, no query record");
    return false;
  }
  DcmObj identifier;
  if (!BuildLevelKeys(list.front(), level, identifier)) {
    WriteLog("ERROR, FindQuery, the query record does not fit the level " + std::string(level));
    return false;
  }
  list.erase(list.begin());
  return CFind::WriteRQ(service, identifier, sopClassUID);
}

int FindNext(PDU_Service &service, FindList &list, std::string_view level) {
  if (level != LEVEL_STUDY && level != LEVEL_SERIES && level != LEVEL_IMAGE) {
    WriteLog("ERROR, FindNext, unknown level " + std::string(level));
    return -1;
  }
  DcmObj identifier;
  const int result = CFind::ReadRSP(service, identifier);
  if (result != -1 && result != FIND_SUCCESS) {
    AppendFindRecord(list, level, identifier);
  }
  return result;
}

} // namespace fw
