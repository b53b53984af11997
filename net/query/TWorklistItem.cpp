// TWorklistItem: worklist keys and the reading of worklist responses.
#include "net/query/TWorklistItem.h"

#include "dicom/Tags.h"
#include "net/query/CharacterSet.h"
#include "net/query/QueryKeys.h"

namespace fw {

namespace {

using Key = QueryKey<TWorklistItem>;
using W = TWorklistItem;

// Where every field comes from in a response, at any depth.
constexpr Key WORKLIST_SOURCES[] = {
    {tag::PatientName, &W::patientName},
    {tag::PatientID, &W::patientID},
    {tag::PatientBirthDate, &W::patientBirthDate},
    {tag::PatientSex, &W::patientSex},
    {tag::AccessionNumber, &W::accessionNumber},
    {tag::RequestingPhysician, &W::requestingPhysician},
    {tag::Allergies, &W::allergies},
    {tag::StudyInstanceUID, &W::studyInstanceUID},
    {tag::RequestedProcedureDescription, &W::requestedProcedureDescription},
    {tag::ScheduledProcedureStepStartTime, &W::scheduledStartTime},
    {tag::ScheduledProcedureStepStartDate, &W::scheduledStartDate},
    {tag::Modality, &W::modality},
    {tag::ScheduledStationAETitle, &W::scheduledStationAETitle},
    {tag::ScheduledPerformingPhysicianName, &W::scheduledPerformingPhysicianName},
    {tag::RequestedContrastAgent, &W::requestedContrastAgent},
    {tag::ScheduledProcedureStepID, &W::scheduledProcedureStepID},
    {tag::ScheduledProcedureStepDescription, &W::scheduledProcedureStepDescription},
    {tag::ScheduledStationName, &W::scheduledStationName},
    {tag::ScheduledProcedureStepLocation, &W::scheduledProcedureStepLocation},
    {tag::PreMedication, &W::preMedication},
    {tag::RequestedProcedureID, &W::requestedProcedureID},
    {tag::RequestedProcedurePriority, &W::requestedProcedurePriority},
};

} // namespace

std::vector<std::string> FieldTexts(const TWorklistItem &w) {
  std::vector<std::string> texts;
  texts.reserve(std::size(WORKLIST_SOURCES));
  for (const Key &key : WORKLIST_SOURCES) {
    texts.push_back(w.*key.field);
  }
  return texts;
}

void BuildWorklistKeys(const TWorklistItem &item, DcmObj &identifier) {
  AppendKey(identifier, tag::AccessionNumber, item.accessionNumber);
  AppendKey(identifier, tag::PatientName, item.patientName);
  AppendKey(identifier, tag::PatientID, item.patientID);
  AppendKey(identifier, tag::PatientBirthDate, item.patientBirthDate);
  AppendKey(identifier, tag::PatientSex, item.patientSex);
  AppendKey(identifier, tag::Allergies, "");
  AppendKey(identifier, tag::StudyInstanceUID, item.studyInstanceUID);
  AppendKey(identifier, tag::RequestingPhysician, item.requestingPhysician);
  AppendKey(identifier, tag::RequestedProcedureDescription, item.requestedProcedureDescription);

  DcmObj step;
  step.PutText(tag::Modality, item.modality);
  step.PutBytes(tag::RequestedContrastAgent, 0, nullptr);
  step.PutBytes(tag::ScheduledStationAETitle, 0, nullptr);
  step.PutText(tag::ScheduledProcedureStepStartDate, item.scheduledStartDate);
  step.PutText(tag::ScheduledProcedureStepStartTime, item.scheduledStartTime);
  step.PutText(tag::ScheduledPerformingPhysicianName, item.scheduledPerformingPhysicianName);
  step.PutText(tag::ScheduledProcedureStepDescription, item.scheduledProcedureStepDescription);
  step.PutText(tag::ScheduledProcedureStepID, item.scheduledProcedureStepID);
  step.PutText(tag::ScheduledStationName, item.scheduledStationName);
  step.PutText(tag::ScheduledProcedureStepLocation, item.scheduledProcedureStepLocation);
  step.PutText(tag::PreMedication, item.preMedication);
  DcmObj sequence;
  sequence.InsertSequence(tag::Item, step);
  identifier.InsertSequence(tag::ScheduledProcedureStepSequence, sequence);

  AppendKey(identifier, tag::RequestedProcedureID, "");
  AppendKey(identifier, tag::RequestedProcedurePriority, "");
  DeclareCharacterSet(identifier);
}

void ReadWorklistItem(TWorklistItem &item, const DcmObj &identifier) {
  // Depth-first, in entry order, without recursion: the response comes from
  // the peer. Each container reads with the character set it declares, or
  // with its parent's.
  struct Frame {
    const DcmObj *container;
    std::size_t next;
    TextCharset charset;
  };
  std::vector<Frame> stack{{&identifier, 0, DeclaredCharset(identifier)}};
  while (!stack.empty()) {
    Frame &frame = stack.back();
    if (frame.next >= frame.container->Count()) {
      stack.pop_back();
      continue;
    }
    const std::size_t index = frame.next++;
    if (const DcmTag *t = frame.container->ElementAt(index)) {
      ReadKey(item, *t, WORKLIST_SOURCES, frame.charset);
    } else if (const DcmObj *nested = frame.container->ContainerAt(index)) {
      const TextCharset inherited = frame.charset;
      stack.push_back({nested, 0, DeclaredCharset(*nested, inherited)});
    }
  }
}

} // namespace fw
