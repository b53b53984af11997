#include "net/pdu/UIDitem.h"

#include "net/link/Buffer.h"

#include <algorithm>

namespace fw {

UIDitem::UIDitem(std::uint8_t type, std::string_view value) : ItemType(type) { Set(value); }

void UIDitem::Set(std::string_view value) {
  UID.assign(value.substr(0, MaxValue));
  Length = static_cast<std::uint16_t>(UID.size());
}

bool UIDitem::Write(Buffer &link) const {
  link.WriteByte(ItemType);
  link.WriteByte(0);
  link.WriteUInt16(static_cast<std::uint16_t>(UID.size()));
  link.WriteBytes(UID.data(), UID.size());
  return link.Flush();
}

bool UIDitem::Read(Buffer &link) { return link.ReadByte(ItemType) && ReadDynamic(link); }

bool UIDitem::ReadDynamic(Buffer &link) {
  PduReader in(link, PduReader::Unbounded);
  return ReadDynamic(in);
}

bool UIDitem::ReadDynamic(PduReader &in) {
  std::optional<PduReader> body = ReadItemHeader(in, Reserved1, Length);
  if (!body) {
    return false;
  }
  char value[MaxValue];
  const std::size_t kept = std::min<std::size_t>(Length, MaxValue);
  if (!body->ReadBytes(value, kept) || !body->SkipRest()) {
    return false; // only the link can fail here: the body holds Length bytes
  }
  const std::string_view read(value, kept);
  UID.assign(read.substr(0, read.find('\0')));
  return true;
}

} // namespace fw
