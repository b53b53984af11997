#include "net/pdu/AAbortRQ.h"

#include "net/link/Buffer.h"

namespace fw {

bool AAbortRQ::Write(Buffer &link) {
  Length = 4;
  link.WriteByte(0x07);
  link.WriteByte(0);
  link.WriteUInt32(Length);
  link.WriteByte(0);
  link.WriteByte(0);
  link.WriteByte(Source);
  link.WriteByte(Reason);
  return link.Flush();
}

} // namespace fw
