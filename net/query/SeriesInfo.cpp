// SeriesInfo: series keys and the reading of series responses.
#include "net/query/SeriesInfo.h"

#include "dicom/Tags.h"
#include "net/query/CharacterSet.h"
#include "net/query/QueryKeys.h"

namespace fw {

namespace {

using Key = QueryKey<SeriesInfo>;

constexpr Key SERIES_KEYS[] = {
    {tag::SeriesDate, &SeriesInfo::seriesDate},
    {tag::SeriesTime, &SeriesInfo::seriesTime},
    {tag::QueryRetrieveLevel, nullptr},
    {tag::Modality, &SeriesInfo::modality},
    {tag::SeriesDescription, &SeriesInfo::seriesDescription},
    {tag::BodyPartExamined, &SeriesInfo::bodyPartExamined},
    {tag::ProtocolName, &SeriesInfo::protocolName},
    {tag::PatientPosition, &SeriesInfo::patientPosition},
    {tag::StudyInstanceUID, &SeriesInfo::studyInstanceUID},
    {tag::SeriesInstanceUID, &SeriesInfo::seriesInstanceUID},
    {tag::SeriesNumber, &SeriesInfo::seriesNumber},
};

constexpr Key SERIES_EXTRA_SOURCES[] = {
    {tag::FrameOfReferenceUID, &SeriesInfo::frameOfReferenceUID},
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
