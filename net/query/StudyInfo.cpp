// StudyInfo: study keys and the reading of study responses.
#include "net/query/StudyInfo.h"

#include "dicom/Tags.h"
#include "net/query/CharacterSet.h"
#include "net/query/QueryKeys.h"

#include <algorithm>

namespace fw {

namespace {

using Key = QueryKey<StudyInfo>;

// The keys in the order they are sent (ascending tags); no field = level.
constexpr Key STUDY_KEYS[] = {
    {tag::StudyDate, &StudyInfo::studyDate},
    {tag::StudyTime, &StudyInfo::studyTime},
    {tag::AccessionNumber, &StudyInfo::accessionNumber},
    {tag::QueryRetrieveLevel, nullptr},
    {tag::ModalitiesInStudy, &StudyInfo::modality},
    {tag::InstitutionName, &StudyInfo::institutionName},
    {tag::ReferringPhysicianName, &StudyInfo::referringPhysicianName},
    {tag::StudyDescription, &StudyInfo::studyDescription},
    {tag::PatientName, &StudyInfo::patientName},
    {tag::PatientID, &StudyInfo::patientID},
    {tag::PatientBirthDate, &StudyInfo::patientBirthDate},
    {tag::PatientSex, &StudyInfo::patientSex},
    {tag::PatientAge, &StudyInfo::patientAge},
    {tag::PatientWeight, &StudyInfo::patientWeight},
    {tag::StudyInstanceUID, &StudyInfo::studyInstanceUID},
    {tag::StudyID, &StudyInfo::studyID},
};

// What a response may carry besides the keys: the series-level modality.
constexpr Key STUDY_EXTRA_SOURCES[] = {
    {tag::Modality, &StudyInfo::modality},
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
      if (t->Is(tag::PatientName)) {
        std::replace(study.patientName.begin(), study.patientName.end(), ',', '^');
      }
    } else {
      ReadKey(study, *t, STUDY_EXTRA_SOURCES, charset);
    }
  }
}

} // namespace fw
