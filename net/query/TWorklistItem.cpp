// TWorklistItem: worklist keys and the reading of worklist responses.
#include "net/query/TWorklistItem.h"

#include "net/query/CharacterSet.h"
#include "net/query/QueryKeys.h"

namespace fw {

namespace {

using Key = QueryKey<TWorklistItem>;
using W = TWorklistItem;

// Where every field comes from in a response, at any depth.
constexpr Key WORKLIST_SOURCES[] = {
    {0x0010, 0x0010, &W::patientName},
    {0x0010, 0x0020, &W::patientID},
    {0x0010, 0x0030, &W::patientBirthDate},
    {0x0010, 0x0040, &W::patientSex},
    {0x0008, 0x0050, &W::accessionNumber},
    {0x0032, 0x1032, &W::requestingPhysician},
    {0x0010, 0x2110, &W::allergies},
    {0x0020, 0x000D, &W::studyInstanceUID},
    {0x0032, 0x1060, &W::requestedProcedureDescription},
    {0x0040, 0x0003, &W::scheduledStartTime},
    {0x0040, 0x0002, &W::scheduledStartDate},
    {0x0008, 0x0060, &W::modality},
    {0x0040, 0x0001, &W::scheduledStationAETitle},
    {0x0040, 0x0006, &W::scheduledPerformingPhysicianName},
    {0x0032, 0x1070, &W::requestedContrastAgent},
    {0x0040, 0x0009, &W::scheduledProcedureStepID},
    {0x0040, 0x0007, &W::scheduledProcedureStepDescription},
    {0x0040, 0x0010, &W::scheduledStationName},
    {0x0040, 0x0011, &W::scheduledProcedureStepLocation},
    {0x0040, 0x0012, &W::preMedication},
    {0x0040, 0x1001, &W::requestedProcedureID},
    {0x0040, 0x1003, &W::requestedProcedurePriority},
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
  AppendKey(identifier, 0x0008, 0x0050, item.accessionNumber);
  AppendKey(identifier, 0x0010, 0x0010, item.patientName);
  AppendKey(identifier, 0x0010, 0x0020, item.patientID);
  AppendKey(identifier, 0x0010, 0x0030, item.patientBirthDate);
  AppendKey(identifier, 0x0010, 0x0040, item.patientSex);
  AppendKey(identifier, 0x0010, 0x2110, "");
  AppendKey(identifier, 0x0020, 0x000D, item.studyInstanceUID);
  AppendKey(identifier, 0x0032, 0x1032, item.requestingPhysician);
  AppendKey(identifier, 0x0032, 0x1060, item.requestedProcedureDescription);

  DcmObj step;
  step.PutText(0x0008, 0x0060, item.modality);
  step.PutBytes(0x0032, 0x1070, 0, nullptr);
  step.PutBytes(0x0040, 0x0001, 0, nullptr);
  step.PutText(0x0040, 0x0002, item.scheduledStartDate);
  step.PutText(0x0040, 0x0003, item.scheduledStartTime);
  step.PutText(0x0040, 0x0006, item.scheduledPerformingPhysicianName);
  step.PutText(0x0040, 0x0007, item.scheduledProcedureStepDescription);
  step.PutText(0x0040, 0x0009, item.scheduledProcedureStepID);
  step.PutText(0x0040, 0x0010, item.scheduledStationName);
  step.PutText(0x0040, 0x0011, item.scheduledProcedureStepLocation);
  step.PutText(0x0040, 0x0012, item.preMedication);
  DcmObj sequence;
  sequence.InsertSequence(0xFFFE, 0xE000, step);
  identifier.InsertSequence(0x0040, 0x0100, sequence);

  AppendKey(identifier, 0x0040, 0x1001, "");
  AppendKey(identifier, 0x0040, 0x1003, "");
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
