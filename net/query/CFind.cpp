// CFind: the C-FIND-RQ command set, and the request and response exchange.
#include "net/query/CFind.h"

#include "base/Log.h"
#include "dicom/DcmTag.h"
#include "dicom/Tags.h"
#include "net/association/DimseCommand.h"
#include "net/association/PDU_Service.h"
#include "net/association/Response.h"
#include "net/pdu/IdCounter.h"
#include "net/query/ValueBounds.h"

namespace fw {

namespace {

constexpr std::uint16_t NO_DATA_SET = 0x0101;

} // namespace

void CFind::BuildRQ(DcmObj &command, std::string_view sopClassUID, std::uint16_t messageID) {
  dimse::CommandFields fields;
  fields.affectedSopClass = sopClassUID;
  fields.commandField = C_FIND_RQ;
  fields.messageID = messageID;
  fields.priority = dimse::PRIORITY_MEDIUM;
  fields.dataSetType = dimse::DATA_SET_PRESENT;
  dimse::BuildCommand(command, fields);
}

bool CFind::WriteRQ(PDU_Service &service, DcmObj &identifier, std::string_view sopClassUID) {
  DcmObj command;
  service.SetRequestMessageID(IdCounter::MessageID());
  BuildRQ(command, sopClassUID, service.RequestMessageID());
  if (!service.Write(command, true)) {
    return false;
  }
  if (identifier.Count() == 0) {
    return true;
  }
  return service.Write(identifier, false);
}

int CFind::ReadRSP(PDU_Service &service, DcmObj &identifier) {
  bool identifierRead = false;
  return ReadRSP(service, identifier, identifierRead);
}

int CFind::ReadRSP(PDU_Service &service, DcmObj &identifier, bool &identifierRead, std::size_t identifierLimit) {
  identifierRead = false;
  DcmObj command;
  if (!service.Read(command)) {
    return -1;
  }
  if (command.FindUS(tag::CommandField) != C_FIND_RSP) {
    if (AnnouncesDataSet(command)) {
      DropDataSet(service);
    }
    return -1;
  }
  if (!AnswersRequest(service, command, "CFind::ReadRSP")) {
    return -1;
  }
  // Status is mandatory: a response without one must not read as the
  // successful end of the query.
  const DcmTag *status = command.FindElement(tag::Status);
  if (status == nullptr || status->data.size() < 2) {
    WriteLog("ERROR, CFind::ReadRSP, no status");
    return -1;
  }
  if (command.FindUS(tag::CommandDataSetType) == NO_DATA_SET) {
    return status->GetUS();
  }
  if (!service.Read(identifier, identifierLimit)) {
    if (service.MessageTooLong()) {
      WriteLog("ERROR, CFind::ReadRSP, identifier larger than " + std::to_string(identifierLimit) + " bytes, refused");
    }
    return -1;
  }
  BoundValueLengths(identifier, "CFind::ReadRSP");
  identifierRead = true;
  return status->GetUS();
}

} // namespace fw
