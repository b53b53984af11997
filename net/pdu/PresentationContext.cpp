#include "net/pdu/PresentationContext.h"

#include "base/Log.h"
#include "net/link/Buffer.h"

#include <string>

namespace fw {
namespace {
constexpr unsigned kMaxItemLength = 0xFFFF;
// A request being discarded need not keep more than this many.
constexpr std::size_t kMaxTransferSyntaxes = 256;
} // namespace

bool PresentationContext::AddTransferSyntax(std::string_view uid) {
  UIDitem item(ITEM_TRANSFER_SYNTAX, uid);
  if (Size() - 4 + item.Size() > kMaxItemLength) {
    return false;
  }
  TrnSyntax.push_back(std::move(item));
  return true;
}

unsigned PresentationContext::Size() {
  unsigned length = 4 + AbsSyntax.Size();
  for (const UIDitem &item : TrnSyntax) {
    length += item.Size();
  }
  Length = static_cast<std::uint16_t>(length);
  return length + 4;
}

bool PresentationContext::Write(Buffer &link) {
  Size();
  link.WriteByte(ITEM_PRESENTATION_CONTEXT_RQ);
  link.WriteByte(0);
  link.WriteUInt16(Length);
  link.WriteByte(PresentationContextID);
  link.WriteByte(0);
  link.WriteByte(0);
  link.WriteByte(0);
  bool written = link.Flush();
  written = AbsSyntax.Write(link) && written;
  if (TrnSyntax.empty()) {
    WriteLog("ERROR, PresentationContext::Write");
    return false;
  }
  for (const UIDitem &item : TrnSyntax) {
    written = item.Write(link) && written;
  }
  return written;
}

bool PresentationContext::Read(Buffer &link) { return link.ReadByte(ItemType) && ReadDynamic(link); }

bool PresentationContext::ReadDynamic(Buffer &link) {
  PduReader in(link, PduReader::Unbounded);
  return ReadDynamic(in);
}

bool PresentationContext::ReadDynamic(PduReader &in) {
  std::optional<PduReader> body = ReadItemHeader(in, Reserved1, Length);
  if (!body) {
    return false;
  }
  TrnSyntax.clear();
  std::uint8_t type = 0;
  bool read = body->ReadByte(PresentationContextID) && body->ReadByte(Reserved2) && body->ReadByte(Reserved3) &&
              body->ReadByte(Reserved4) && body->ReadByte(type);
  AbsSyntax.ItemType = type;
  // What the item has left after a sub-item that does not fit in it.
  long long remaining = -1;
  if (read) {
    read = AbsSyntax.ReadDynamic(*body);
    remaining = static_cast<long long>(body->Left()) - AbsSyntax.Length;
  }
  while (read && body->Left() > 0) {
    UIDitem item;
    read = body->ReadByte(item.ItemType) && item.ReadDynamic(*body);
    remaining = static_cast<long long>(body->Left()) - item.Length;
    if (read && TrnSyntax.size() < kMaxTransferSyntaxes) {
      TrnSyntax.push_back(std::move(item));
    }
  }
  if (body->LinkFailed()) {
    return false;
  }
  if (!read) {
    WriteLog("ERROR, PresentationContext::Read Count=" + std::to_string(remaining));
    body->SkipRest();
    return false;
  }
  return true;
}

} // namespace fw
