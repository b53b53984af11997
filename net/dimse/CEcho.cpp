// CEcho: the C-ECHO-RQ command set, its exchange, and EchoNode.
#include "net/dimse/CEcho.h"

#include "base/Log.h"
#include "dicom/DcmTag.h"
#include "dicom/Tags.h"
#include "dicom/Uids.h"
#include "net/association/DimseCommand.h"
#include "net/association/PDU_Service.h"
#include "net/association/Response.h"
#include "net/link/NetTrace.h"
#include "net/pdu/IdCounter.h"

namespace fw {

void CEcho::BuildRQ(DcmObj &command, std::string_view sopClassUID, std::uint16_t messageID) {
  dimse::CommandFields fields;
  fields.affectedSopClass = sopClassUID;
  fields.commandField = C_ECHO_RQ;
  fields.messageID = messageID;
  fields.dataSetType = dimse::NO_DATA_SET;
  dimse::BuildCommand(command, fields);
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
  if (response.FindUS(tag::CommandField) != C_ECHO_RSP) {
    WriteLog("ERROR, CEcho::ReadRSP, not a C-Echo RSP");
    return false;
  }
  if (!AnswersRequest(service, response, "CEcho::ReadRSP")) {
    return false;
  }
  // Status is mandatory: without one the verification did not succeed.
  const DcmTag *status = response.FindElement(tag::Status);
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
