// StudyInfo: study keys and the reading of study responses.
#include "net/query/StudyInfo.h"

#include "net/query/CharacterSet.h"
#include "net/query/QueryKeys.h"

#include <algorithm>

namespace fw {

namespace {

using Key = QueryKey<StudyInfo>;

// The keys in the order they are sent (ascending tags); no field = level.
constexpr Key STUDY_KEYS[] = {
    {0x0008, 0x0020, &StudyInfo::studyDate},
    {0x0008, 0x0030, &StudyInfo::studyTime},
    {0x0008, 0x0050, &StudyInfo::accessionNumber},
    {LEVEL_GROUP, LEVEL_ELEMENT, nullptr},
    {0x0008, 0x0061, &StudyInfo::modality},
    {0x0008, 0x0080, &StudyInfo::institutionName},
    {0x0008, 0x0090, &StudyInfo::referringPhysicianName},
    {0x0008, 0x1030, &StudyInfo::studyDescription},
    {0x0010, 0x0010, &StudyInfo::patientName},
    {0x0010, 0x0020, &StudyInfo::patientID},
    {0x0010, 0x0030, &StudyInfo::patientBirthDate},
    {0x0010, 0x0040, &StudyInfo::patientSex},
    {0x0010, 0x1010, &StudyInfo::patientAge},
    {0x0010, 0x1030, &StudyInfo::patientWeight},
    {0x0020, 0x000D, &StudyInfo::studyInstanceUID},
    {0x0020, 0x0010, &StudyInfo::studyID},
};

// What a response may carry besides the keys: the series-level modality.
constexpr Key STUDY_EXTRA_SOURCES[] = {
    {0x0008, 0x0060, &StudyInfo::modality},
};

} // namespace

std::vector<std::string> FieldTexts(const StudyInfo &s) {
  return {s.studyInstanceUID, s.studyDate,       s.studyTime,       s.studyID,
          s.studyDescription, s.accessionNumber, s.institutionName, s.referringPhysicianName,
          s.modality,         s.patientID,       s.patientName,     s.patientBirthDate,
          s.patientSex,       s.patientAge,      s.patientWeight};
}

void BuildStudyKeys(const StudyInfo &study, DcmObj &identifier) {
  AppendKeys(identifier, study, STUDY_KEYS, LEVEL_STUDY);
  DeclareCharacterSet(identifier);
}

void ReadStudyInfo(StudyInfo &study, const DcmObj &identifier) {
  const TextCharset charset = DeclaredCharset(identifier);
  for (std::size_t i = 0; i < identifier.Count(); ++i) {
    const DcmTag *t = identifier.ElementAt(i);
    if (t == nullptr) {
      continue;
    }
    if (ReadKey(study, *t, STUDY_KEYS, charset)) {
      if (t->Is(0x0010, 0x0010)) {
        std::replace(study.patientName.begin(), study.patientName.end(), ',', '^');
      }
    } else {
      ReadKey(study, *t, STUDY_EXTRA_SOURCES, charset);
    }
  }
}

} // namespace fw
