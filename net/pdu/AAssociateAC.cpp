#include "net/pdu/AAssociateAC.h"

#include "base/Log.h"
#include "net/link/Buffer.h"
#include "net/link/NetTrace.h"
#include "net/pdu/AssociateFixedPart.h"
#include "net/pdu/IdCounter.h"
#include "net/pdu/PduTypes.h"

namespace fw {

AAssociateAC::AAssociateAC() : AppContext(ITEM_APPLICATION_CONTEXT, APPLICATION_CONTEXT_NAME) {}

AAssociateAC::~AAssociateAC() = default;

bool AAssociateAC::Read(Buffer &link) { return link.ReadByte(ItemType) && ReadDynamic(link); }

bool AAssociateAC::ReadDynamic(Buffer &link) {
  ItemsAddUp = true;
  std::optional<PduReader> pdu =
      ReadAssociateFixedPart(link, {Reserved1, Length, ProtocolVersion, Reserved2, CalledApTitle, CallingApTitle});
  if (!pdu) {
    // Too short for its fixed part, unless the link failed.
    const Socket &socket = link.dsocket();
    ItemsAddUp = !socket.Connected() || socket.Interrupted() != Socket::Interrupt::None;
    return false;
  }
  if (TraceLevel() >= 2) {
    WriteLog("INFO, AAssociateAC::ReadDynamic, CalledApTitle: " + CalledApTitle);
    WriteLog("INFO, AAssociateAC::ReadDynamic, CallingApTitle: " + CallingApTitle);
  }

  while (pdu->Left() > 0) {
    std::uint8_t type = 0;
    if (!pdu->ReadByte(type)) {
      return false;
    }
    bool read = false;
    bool known = true;
    if (type == ITEM_APPLICATION_CONTEXT) {
      read = AppContext.ReadDynamic(*pdu);
    } else if (type == ITEM_PRESENTATION_CONTEXT_AC) {
      // More items than there are context IDs: a broken peer; read = false.
      if (PresContextAccepts.size() < MAX_PRESENTATION_CONTEXTS) {
        auto accept = std::make_unique<PresentationContextAccept>(IdCounter::AcceptID());
        read = accept->ReadDynamic(*pdu);
        if (read) {
          PresContextAccepts.push_back(std::move(accept));
        }
      }
    } else if (type == ITEM_USER_INFORMATION) {
      const bool whole = UserInfo.ReadDynamic(*pdu);
      read = (whole || (!pdu->Overrun() && !pdu->LinkFailed())) && UserInfo.LengthsAddUp;
    } else {
      known = false;
    }
    if (pdu->LinkFailed()) {
      return false;
    }
    if (!read) {
      ItemsAddUp = !known && !pdu->Overrun();
      pdu->SkipRest();
      return false;
    }
  }
  return true;
}

} // namespace fw
