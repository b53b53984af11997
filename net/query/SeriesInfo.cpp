// SeriesInfo: series keys and the reading of series responses.
#include "net/query/SeriesInfo.h"

#include "net/query/CharacterSet.h"
#include "net/query/QueryKeys.h"

namespace fw {

namespace {

using Key = QueryKey<SeriesInfo>;

constexpr Key SERIES_KEYS[] = {
    {0x0008, 0x0021, &SeriesInfo::seriesDate},
    {0x0008, 0x0031, &SeriesInfo::seriesTime},
    {LEVEL_GROUP, LEVEL_ELEMENT, nullptr},
    {0x0008, 0x0060, &SeriesInfo::modality},
    {0x0008, 0x103E, &SeriesInfo::seriesDescription},
    {0x0018, 0x0015, &SeriesInfo::bodyPartExamined},
    {0x0018, 0x1030, &SeriesInfo::protocolName},
    {0x0018, 0x5100, &SeriesInfo::patientPosition},
    {0x0020, 0x000D, &SeriesInfo::studyInstanceUID},
    {0x0020, 0x000E, &SeriesInfo::seriesInstanceUID},
    {0x0020, 0x0011, &SeriesInfo::seriesNumber},
};

constexpr Key SERIES_EXTRA_SOURCES[] = {
    {0x0020, 0x0052, &SeriesInfo::frameOfReferenceUID},
};

} // namespace

std::vector<std::string> FieldTexts(const SeriesInfo &s) {
  return {s.seriesInstanceUID, s.seriesNumber,    s.seriesDate,       s.seriesTime,   s.seriesDescription,
          s.modality,          s.patientPosition, s.bodyPartExamined, s.protocolName, s.frameOfReferenceUID,
          s.studyInstanceUID};
}

void BuildSeriesKeys(const SeriesInfo &series, DcmObj &identifier) {
  AppendKeys(identifier, series, SERIES_KEYS, LEVEL_SERIES);
  DeclareCharacterSet(identifier);
}

void ReadSeriesInfo(SeriesInfo &series, const DcmObj &identifier) {
  const TextCharset charset = DeclaredCharset(identifier);
  for (std::size_t i = 0; i < identifier.Count(); ++i) {
    if (const DcmTag *t = identifier.ElementAt(i)) {
      if (!ReadKey(series, *t, SERIES_KEYS, charset)) {
        ReadKey(series, *t, SERIES_EXTRA_SOURCES, charset);
      }
    }
  }
}

} // namespace fw
