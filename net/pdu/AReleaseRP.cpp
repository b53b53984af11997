#include "net/pdu/AReleaseRP.h"

#include "net/link/Buffer.h"

namespace fw {

bool AReleaseRP::Write(Buffer &link) {
  Length = 4;
  link.WriteByte(0x06);
  link.WriteByte(0);
  link.WriteUInt32(Length);
  link.WriteUInt32(0);
  return link.Flush();
}

bool AReleaseRP::Read(Buffer &link) { return link.ReadByte(ItemType) && ReadDynamic(link); }

bool AReleaseRP::ReadDynamic(Buffer &link) {
  return link.ReadByte(Reserved1) && link.ReadUInt32(Length) && link.ReadUInt32(Reserved2);
}

} // namespace fw
