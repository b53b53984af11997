// CEcho: the C-ECHO-RQ command set, its exchange, and EchoNode.
#include "net/dimse/CEcho.h"

#include "base/Log.h"
#include "dicom/DcmTag.h"
#include "dicom/Uids.h"
#include "net/association/PDU_Service.h"
#include "net/association/Response.h"
#include "net/link/NetTrace.h"
#include "net/pdu/IdCounter.h"

namespace fw {

namespace {

constexpr std::uint16_t COMMAND_GROUP = 0x0000;
constexpr std::uint16_t NO_DATA_SET = 0x0101;

std::uint32_t EncodedSize(const DcmTag &t) { return 8 + t.length; }

} // namespace

void CEcho::BuildRQ(DcmObj &command, std::string_view sopClassUID, std::uint16_t messageID) {
  auto sopClass = DcmTag::FromText(COMMAND_GROUP, 0x0002, sopClassUID, "UI");
  auto field = DcmTag::FromUS(COMMAND_GROUP, 0x0100, C_ECHO_RQ, "US");
  auto id = DcmTag::FromUS(COMMAND_GROUP, 0x0110, messageID, "US");
  auto dataSetType = DcmTag::FromUS(COMMAND_GROUP, 0x0800, NO_DATA_SET, "US");
  const std::uint32_t groupLength =
      EncodedSize(*sopClass) + EncodedSize(*field) + EncodedSize(*id) + EncodedSize(*dataSetType);
  command.Append(DcmTag::FromUL(COMMAND_GROUP, 0x0000, groupLength, "UL"));
  command.Append(std::move(sopClass));
  command.Append(std::move(field));
  command.Append(std::move(id));
  command.Append(std::move(dataSetType));
}

bool CEcho::WriteRQ(PDU_Service &service, std::string_view sopClassUID) {
  DcmObj command;
  service.SetRequestMessageID(IdCounter::MessageID());
  BuildRQ(command, sopClassUID, service.RequestMessageID());
  return service.Write(command, true);
}

bool CEcho::ReadRSP(PDU_Service &service) {
  DcmObj response;
  if (!service.Read(response)) {
    return false;
  }
  if (AnnouncesDataSet(response) && !DropDataSet(service)) {
    return false;
  }
  if (response.FindUS(COMMAND_GROUP, 0x0100) != C_ECHO_RSP) {
    WriteLog("ERROR, CEcho::ReadRSP, not a C-Echo RSP");
    return false;
  }
  if (!AnswersRequest(service, response, "CEcho::ReadRSP")) {
    return false;
  }
  // Status is mandatory: without one the verification did not succeed.
  const DcmTag *status = response.FindElement(COMMAND_GROUP, 0x0900);
  if (status == nullptr || status->data.size() < 2) {
    WriteLog("ERROR, CEcho::ReadRSP, no status");
    return false;
  }
  if (status->GetUS() != 0) {
    WriteLog("ERROR, CEcho::ReadRSP, status == " + std::to_string(status->GetUS()));
    return false;
  }
  return true;
}

EchoOutcome EchoPeer(const PeerAddress &peer) {
  PDU_Service service;
  service.SetDumpMessages(TraceLevel() > 1);
  EchoOutcome outcome = EchoOutcome::NoAssociation;
  if (service.OpenAssociation(peer, {ProposeContext(VERIFICATION_SOP_CLASS)})) {
    const bool answered = CEcho::WriteRQ(service, VERIFICATION_SOP_CLASS) && CEcho::ReadRSP(service);
    outcome = answered ? EchoOutcome::Answered : EchoOutcome::Failed;
  } else if (service.Rejected()) {
    outcome = EchoOutcome::Rejected;
  }
  service.ReleaseAssociation();
  return outcome;
}

bool EchoNode(std::string_view host, std::string_view port, std::string_view callingApTitle,
              std::string_view calledApTitle, int timeoutSeconds) {
  const PeerAddress peer{std::string(host), std::string(port), std::string(callingApTitle), std::string(calledApTitle),
                         timeoutSeconds};
  return EchoPeer(peer) == EchoOutcome::Answered;
}

} // namespace fw
