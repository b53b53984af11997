// CStore: the C-STORE-RQ command set and its exchange.
#include "net/dimse/CStore.h"

#include "base/Log.h"
#include "dicom/DcmTag.h"
#include "dicom/Uids.h"
#include "net/association/PDU_Service.h"
#include "net/association/Response.h"
#include "net/pdu/IdCounter.h"

#include <memory>

namespace fw {

namespace {

constexpr std::uint16_t COMMAND_GROUP = 0x0000;
constexpr std::uint16_t PRIORITY_MEDIUM = 0x0000;
constexpr std::uint16_t DATA_SET_PRESENT = 0x0102;

std::uint32_t EncodedSize(const DcmTag &t) { return 8 + t.length; }

} // namespace

void CStore::BuildRQ(DcmObj &command, std::string_view sopClassUID, std::string_view sopInstanceUID,
                     std::uint16_t messageID) {
  auto sopClass = DcmTag::FromText(COMMAND_GROUP, 0x0002, sopClassUID, "UI");
  auto field = DcmTag::FromUS(COMMAND_GROUP, 0x0100, C_STORE_RQ, "US");
  auto id = DcmTag::FromUS(COMMAND_GROUP, 0x0110, messageID, "US");
  auto priority = DcmTag::FromUS(COMMAND_GROUP, 0x0700, PRIORITY_MEDIUM, "US");
  auto dataSetType = DcmTag::FromUS(COMMAND_GROUP, 0x0800, DATA_SET_PRESENT, "US");
  std::unique_ptr<DcmTag> instance;
  std::uint32_t groupLength = EncodedSize(*sopClass) + EncodedSize(*field) + EncodedSize(*id) + EncodedSize(*priority) +
                              EncodedSize(*dataSetType);
  if (!sopInstanceUID.empty()) {
    instance = DcmTag::FromText(COMMAND_GROUP, 0x1000, sopInstanceUID, "UI");
    groupLength += EncodedSize(*instance);
  }
  command.Append(DcmTag::FromUL(COMMAND_GROUP, 0x0000, groupLength, "UL"));
  command.Append(std::move(sopClass));
  command.Append(std::move(field));
  command.Append(std::move(id));
  command.Append(std::move(priority));
  command.Append(std::move(dataSetType));
  if (instance) {
    command.Append(std::move(instance));
  }
}

bool CStore::WriteRQ(PDU_Service &service, DcmObj *dataSet, std::string_view sopClassUID) {
  const std::string instanceUID = dataSet != nullptr ? dataSet->FindText(0x0008, 0x0018) : std::string();
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
  if (response.FindUS(COMMAND_GROUP, 0x0100) != C_STORE_RSP) {
    WriteLog("ERROR, CStore::ReadRSP, not a C-Store RSP");
    return -2;
  }
  if (!AnswersRequest(service, response, "CStore::ReadRSP")) {
    return -2;
  }
  // Status is mandatory: a response without one must not count as stored.
  const DcmTag *status = response.FindElement(COMMAND_GROUP, 0x0900);
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
