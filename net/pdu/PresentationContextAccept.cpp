#include "net/pdu/PresentationContextAccept.h"

#include "net/link/Buffer.h"

namespace fw {

bool PresentationContextAccept::Read(Buffer &link) { return link.ReadByte(ItemType) && ReadDynamic(link); }

bool PresentationContextAccept::ReadDynamic(Buffer &link) {
  PduReader in(link, PduReader::Unbounded);
  return ReadDynamic(in);
}

bool PresentationContextAccept::ReadDynamic(PduReader &in) {
  std::optional<PduReader> body = ReadItemHeader(in, Reserved1, Length);
  if (!body) {
    return false;
  }
  bool read = body->ReadByte(PresentationContextID) && body->ReadByte(Reserved2) && body->ReadByte(Result) &&
              body->ReadByte(Reserved3);
  TrnSyntax.Set("");
  if (read && body->Left() > 0) {
    read = body->ReadByte(TrnSyntax.ItemType) && TrnSyntax.ReadDynamic(*body);
  }
  return body->SkipRest() && read;
}

} // namespace fw
