// CStore: the C-STORE-RQ command set and its exchange.
#include "net/dimse/CStore.h"

#include "base/Log.h"
#include "dicom/DcmTag.h"
#include "dicom/Tags.h"
#include "dicom/Uids.h"
#include "net/association/DimseCommand.h"
#include "net/association/PDU_Service.h"
#include "net/association/Response.h"
#include "net/pdu/IdCounter.h"

#include <memory>

namespace fw {

void CStore::BuildRQ(DcmObj &command, std::string_view sopClassUID, std::string_view sopInstanceUID,
                     std::uint16_t messageID) {
  dimse::CommandFields fields;
  fields.affectedSopClass = sopClassUID;
  fields.commandField = C_STORE_RQ;
  fields.messageID = messageID;
  fields.priority = dimse::PRIORITY_MEDIUM;
  fields.dataSetType = dimse::DATA_SET_PRESENT;
  fields.affectedSopInstance = sopInstanceUID;
  dimse::BuildCommand(command, fields);
}

bool CStore::WriteRQ(PDU_Service &service, DcmObj *dataSet, std::string_view sopClassUID) {
  const std::string instanceUID = dataSet != nullptr ? dataSet->FindText(tag::SOPInstanceUID) : std::string();
  DcmObj command;
  service.SetRequestMessageID(IdCounter::MessageID());
  BuildRQ(command, sopClassUID, instanceUID, service.RequestMessageID());
  if (!service.Write(command, true)) {
    WriteLog("ERROR, CStore::WriteRQ, PDU->Write DCO failed");
    return false;
  }
  if (dataSet == nullptr) {
    return true;
  }
  return service.Write(*dataSet, false);
}

int CStore::ReadRSP(PDU_Service &service) {
  DcmObj response;
  if (!service.Read(response)) {
    WriteLog("ERROR, CStore::ReadRSP, PDU->Read DCO failed");
    return -1;
  }
  if (AnnouncesDataSet(response) && !DropDataSet(service)) {
    WriteLog("ERROR, CStore::ReadRSP, PDU->Read DCO failed");
    return -1;
  }
  if (response.FindUS(tag::CommandField) != C_STORE_RSP) {
    WriteLog("ERROR, CStore::ReadRSP, not a C-Store RSP");
    return -2;
  }
  if (!AnswersRequest(service, response, "CStore::ReadRSP")) {
    return -2;
  }
  // Status is mandatory: a response without one must not count as stored.
  const DcmTag *status = response.FindElement(tag::Status);
  if (status == nullptr || status->data.size() < 2) {
    WriteLog("ERROR, CStore::ReadRSP, no status");
    return -2;
  }
  const int value = status->GetUS();
  if (value != 0) {
    WriteLog("ERROR, CStore::ReadRSP, status == " + std::to_string(value));
  }
  return value;
}

} // namespace fw
