#include "net/pdu/UserInformation.h"

#include "base/Log.h"
#include "net/link/Buffer.h"
#include "net/link/NetTrace.h"

#include <optional>
#include <string>

namespace fw {
namespace {

void Info(const std::string &line) {
  if (TraceLevel() >= 2) {
    WriteLog(line);
  }
}

std::string Quoted(const std::string &text) { return "\"" + text + "\""; }

// One sub-item read after its type byte: whether it was read whole, the
// length it claims, and its INFO line with % where the count left goes.
struct SubItemRead {
  bool read = false;
  unsigned claimed = 0;
  std::string line;
};

// Reads the sub-item of the given type into info; empty for an unknown type,
// of which nothing is read.
std::optional<SubItemRead> ReadSubItem(UserInformation &info, std::uint8_t type, PduReader &body) {
  SubItemRead item;
  switch (type) {
  case ITEM_MAXIMUM_LENGTH:
    item.read = info.MaxSubLength.ReadDynamic(body);
    info.HasMaximumLength = info.HasMaximumLength || item.read;
    item.claimed = info.MaxSubLength.Size();
    item.line = "INFO, MaxSubLength::ReadDynamic, Count=%, MaxSubLength.MaximumLength=" +
                std::to_string(info.MaxSubLength.MaximumLength);
    return item;
  case ITEM_IMPLEMENTATION_CLASS:
    item.read = info.ImpClass.ReadDynamic(body);
    item.claimed = info.ImpClass.Size();
    item.line = "INFO, ImpClass::ReadDynamic, Count=%, " + Quoted(info.ImpClass.UID);
    return item;
  case ITEM_ASYNC_OPERATIONS_WINDOW:
    item.read = info.AsyncOpWindow.ReadDynamic(body);
    item.claimed = info.AsyncOpWindow.Size();
    item.line = "INFO, AsyncOpWindow::ReadDynamic, Count=%";
    return item;
  case ITEM_ROLE_SELECTION:
    item.read = info.SCPSCURole.ReadDynamic(body);
    item.claimed = info.SCPSCURole.Size();
    item.line = "INFO, SCPSCURole::ReadDynamic, Count=%";
    return item;
  case ITEM_IMPLEMENTATION_VERSION:
    item.read = info.ImpVersion.ReadDynamic(body);
    item.claimed = info.ImpVersion.Size();
    item.line = "INFO, ImpVersion::ReadDynamic, Count=%, " + Quoted(info.ImpVersion.UID);
    return item;
  default:
    return std::nullopt;
  }
}

// The count logged after a sub-item that was not read whole: one longer
// than what the item has left, or too short for its own fields. The
// lengths do not add up and the rest is given up, so the count is negative
// either way: by how much the claim overran, or -1.
long long CountAfterBadSubItem(const PduReader &body, unsigned claimed) {
  const long long overrun = body.Overrun() ? static_cast<long long>(body.Left()) + 4 - claimed : -1;
  return overrun >= 0 ? -1 : overrun;
}

} // namespace

void UserInformation::SetMaximumLength(std::uint32_t length) {
  MaxSubLength.MaximumLength = length;
  Length = 0;
}

void UserInformation::SetImpClass(std::string_view uid) {
  ImpClass.Set(uid);
  Length = 0;
}

void UserInformation::SetImpVersion(std::string_view name) {
  ImpVersion.Set(name);
  Length = 0;
}

unsigned UserInformation::Size() {
  if (Length == 0) {
    Info("INFO, MaxSubLength::Size, Length=8, MaxSubLength.MaximumLength=" +
         std::to_string(MaxSubLength.MaximumLength));
    Info("INFO, ImpClass::Size, Length=" + std::to_string(ImpClass.Size()) + ", " + Quoted(ImpClass.UID));
    Info("INFO, ImpVersion::Size, Length=" + std::to_string(ImpVersion.Size()) + ", " + Quoted(ImpVersion.UID));
    Length = static_cast<std::uint16_t>(MaxSubLength.Size() + ImpClass.Size() + ImpVersion.Size());
  }
  Info("INFO, UserInformation::Size, Length=" + std::to_string(Length));
  return Length + 4u;
}

bool UserInformation::Write(Buffer &link) {
  Size();
  link.WriteByte(ITEM_USER_INFORMATION);
  link.WriteByte(0);
  link.WriteUInt16(Length);
  if (!link.Flush()) {
    return false;
  }
  const bool maxLength = MaxSubLength.Write(link);
  const bool impClass = ImpClass.Write(link);
  const bool impVersion = ImpVersion.Write(link);
  return maxLength && impClass && impVersion;
}

bool UserInformation::Read(Buffer &link) { return link.ReadByte(ItemType) && ReadDynamic(link); }

bool UserInformation::ReadDynamic(Buffer &link) {
  PduReader in(link, PduReader::Unbounded);
  return ReadDynamic(in);
}

bool UserInformation::ReadDynamic(PduReader &in) {
  LengthsAddUp = true;
  std::optional<PduReader> body = ReadItemHeader(in, Reserved1, Length);
  if (!body) {
    return false;
  }
  Info("INFO, UserInformation::ReadDynamic, Count=" + std::to_string(Length));

  long long remaining = Length;
  while (body->Left() > 0) {
    std::uint8_t type = 0;
    if (!body->ReadByte(type)) {
      return false;
    }
    std::optional<SubItemRead> item = ReadSubItem(*this, type, *body);
    if (!item) {
      WriteLog("ERROR, UserInformation::Read Unknown Packet");
      if (!body->SkipRest()) {
        return false;
      }
      remaining = -1;
      break;
    }
    if (body->LinkFailed()) {
      return false;
    }
    if (!item->read) {
      LengthsAddUp = false;
      remaining = CountAfterBadSubItem(*body, item->claimed);
      if (!body->SkipRest()) {
        return false;
      }
      break;
    }
    remaining = static_cast<long long>(body->Left());
    item->line.replace(item->line.find('%'), 1, std::to_string(remaining));
    Info(item->line);
  }
  if (remaining != 0) {
    WriteLog("ERROR, UserInformation::Read Count=" + std::to_string(remaining));
    return false;
  }
  return true;
}

} // namespace fw
