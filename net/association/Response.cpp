// Response: message ID and announced data set checks of DIMSE responses.
#include "net/association/Response.h"

#include "base/Log.h"
#include "dicom/Tags.h"
#include "net/association/PDU_Service.h"

#include <string>

namespace fw {
namespace {

constexpr std::uint16_t NO_DATA_SET = 0x0101;

} // namespace

bool AnnouncesDataSet(const DcmObj &command) {
  const DcmTag *type = command.FindElement(tag::CommandDataSetType);
  return type != nullptr && type->data.size() >= 2 && type->GetUS() != NO_DATA_SET;
}

bool AnswersRequest(PDU_Service &service, const DcmObj &command, std::string_view who) {
  const DcmTag *answered = command.FindElement(tag::MessageIDBeingRespondedTo);
  if (answered != nullptr && answered->data.size() >= 2 && answered->GetUS() == service.RequestMessageID()) {
    return true;
  }
  const std::string got =
      answered != nullptr && answered->data.size() >= 2 ? std::to_string(answered->GetUS()) : "none";
  WriteLog("ERROR, " + std::string(who) + ", response to message " + got + " instead of " +
           std::to_string(service.RequestMessageID()));
  service.AbortAssociation();
  return false;
}

bool DropDataSet(PDU_Service &service) {
  DcmObj dropped;
  return service.Read(dropped);
}

} // namespace fw
