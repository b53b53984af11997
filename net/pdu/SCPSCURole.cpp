#include "net/pdu/SCPSCURole.h"

#include <algorithm>
#include <string_view>

namespace fw {

bool SCPSCURole::ReadDynamic(PduReader &in) {
  std::optional<PduReader> body = ReadItemHeader(in, Reserved1, Length);
  if (!body) {
    return false;
  }
  char value[MaxValue];
  std::size_t kept = 0;
  bool read = body->ReadUInt16(UIDLength);
  if (read) {
    kept = std::min<std::size_t>(UIDLength, MaxValue);
    read = body->ReadBytes(value, kept) && body->Skip(UIDLength - kept);
  }
  if (read) {
    const std::string_view uid(value, kept);
    SOPClassUID.assign(uid.substr(0, uid.find('\0')));
    read = body->ReadByte(SCURole) && body->ReadByte(SCPRole);
  }
  return body->SkipRest() && read;
}

} // namespace fw
