#include "net/pdu/MaxSubLength.h"

#include "net/link/Buffer.h"

namespace fw {

bool MaxSubLength::Write(Buffer &link) const {
  link.WriteByte(ITEM_MAXIMUM_LENGTH);
  link.WriteByte(0);
  link.WriteUInt16(4);
  link.WriteUInt32(MaximumLength);
  return link.Flush();
}

bool MaxSubLength::ReadDynamic(PduReader &in) {
  std::optional<PduReader> body = ReadItemHeader(in, Reserved1, Length);
  if (!body) {
    return false;
  }
  const bool read = body->ReadUInt32(MaximumLength);
  return body->SkipRest() && read;
}

} // namespace fw
