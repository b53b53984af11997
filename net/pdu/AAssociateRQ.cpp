#include "net/pdu/AAssociateRQ.h"

#include "base/Log.h"
#include "net/link/Buffer.h"
#include "net/link/NetTrace.h"
#include "net/pdu/AssociateFixedPart.h"

namespace fw {
namespace {

void Info(const std::string &line) {
  if (TraceLevel() >= 2) {
    WriteLog(line);
  }
}

} // namespace

AAssociateRQ::AAssociateRQ()
    : CalledApTitle(PaddedApTitle("")), CallingApTitle(PaddedApTitle("")),
      AppContext(ITEM_APPLICATION_CONTEXT, APPLICATION_CONTEXT_NAME) {}

AAssociateRQ::~AAssociateRQ() = default;

void AAssociateRQ::SetCalledApTitle(std::string_view title) { CalledApTitle = PaddedApTitle(title); }
void AAssociateRQ::SetCallingApTitle(std::string_view title) { CallingApTitle = PaddedApTitle(title); }

void AAssociateRQ::AddPresentationContext(std::unique_ptr<PresentationContext> context) {
  if (context) {
    PresContexts.push_back(std::move(context));
  }
}

unsigned AAssociateRQ::Size() {
  unsigned length = ASSOCIATE_FIXED_LENGTH + AppContext.Size();
  for (const auto &context : PresContexts) {
    length += context->Size();
  }
  length += UserInfo.Size();
  Length = length;
  return length + 6;
}

bool AAssociateRQ::Write(Buffer &link) {
  Size();
  WriteAssociateFixedPart(link, PDU_ASSOCIATE_RQ,
                          {Reserved1, Length, ProtocolVersion, Reserved2, CalledApTitle, CallingApTitle});
  Info("INFO, AAssociateRQ::Write, CalledApTitle: " + CalledApTitle);
  Info("INFO, AAssociateRQ::Write, CallingApTitle: " + CallingApTitle);
  if (!link.Flush()) {
    WriteLog("ERROR, AAssociateRQ::Write Link.Flush()");
    return false;
  }
  if (!AppContext.Write(link)) {
    WriteLog("ERROR, AAssociateRQ::Write AppContext.Write()");
    return false;
  }
  for (const auto &context : PresContexts) {
    context->Write(link);
  }
  UserInfo.Write(link);
  return true;
}

bool AAssociateRQ::Read(Buffer &link) { return link.ReadByte(ItemType) && ReadDynamic(link); }

bool AAssociateRQ::ReadDynamic(Buffer &link) {
  std::optional<PduReader> pdu =
      ReadAssociateFixedPart(link, {Reserved1, Length, ProtocolVersion, Reserved2, CalledApTitle, CallingApTitle});
  if (!pdu) {
    return false;
  }
  Info("INFO, AAssociateRQ::ReadDynamic, CalledApTitle: " + CalledApTitle);
  Info("INFO, AAssociateRQ::ReadDynamic, CallingApTitle: " + CallingApTitle);

  PresContexts.clear();
  while (pdu->Left() > 0) {
    std::uint8_t type = 0;
    if (!pdu->ReadByte(type)) {
      return false;
    }
    bool read = false;
    if (type == ITEM_APPLICATION_CONTEXT) {
      read = AppContext.ReadDynamic(*pdu);
    } else if (type == ITEM_PRESENTATION_CONTEXT_RQ) {
      if (PresContexts.size() >= MAX_PRESENTATION_CONTEXTS) {
        WriteLog("ERROR, AAssociateRQ::Read Count=-1"); // more contexts than IDs
        return false;
      }
      auto context = std::make_unique<PresentationContext>();
      read = context->ReadDynamic(*pdu);
      if (read) {
        PresContexts.push_back(std::move(context));
      }
    } else if (type == ITEM_USER_INFORMATION) {
      // Trouble inside the user information is its own (logged there); the
      // PDU goes on as long as the item kept to its length.
      read = UserInfo.ReadDynamic(*pdu) || (!pdu->Overrun() && !pdu->LinkFailed());
    } else {
      WriteLog("ERROR, AAssociateRQ::Read Unknown Packet");
    }
    if (pdu->LinkFailed()) {
      return false;
    }
    if (!read) {
      // The request is read only to be discarded: stop here, unskipped.
      WriteLog("ERROR, AAssociateRQ::Read Count=-1");
      return false;
    }
  }
  return true;
}

} // namespace fw
