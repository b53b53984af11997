#include "net/pdu/AAssociateRJ.h"

#include "net/link/Buffer.h"

namespace fw {

bool AAssociateRJ::Read(Buffer &link) { return link.ReadByte(ItemType) && ReadDynamic(link); }

bool AAssociateRJ::ReadDynamic(Buffer &link) {
  return link.ReadByte(Reserved1) && link.ReadUInt32(Length) && link.ReadByte(Reserved2) && link.ReadByte(Result) &&
         link.ReadByte(Source) && link.ReadByte(Reason);
}

} // namespace fw
