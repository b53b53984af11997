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

std::string AAbortRQ::Bytes() const {
  return std::string{static_cast<char>(0x07),  0, 0, 0, 0, 4, 0, 0, static_cast<char>(Source),
                     static_cast<char>(Reason)};
}

} // namespace fw
