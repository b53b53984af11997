#include "net/pdu/UserInformation.h"

#include "base/Log.h"
#include "net/link/Buffer.h"
#include "net/link/NetTrace.h"

#include <string>

namespace fw {
namespace {

void Info(const std::string &line) {
  if (TraceLevel() >= 2) {
    WriteLog(line);
  }
}

std::string Quoted(const std::string &text) { return "\"" + text + "\""; }

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
    bool read = false;
    unsigned claimed = 0;
    std::string line;
    switch (type) {
    case ITEM_MAXIMUM_LENGTH:
      read = MaxSubLength.ReadDynamic(*body);
      HasMaximumLength = HasMaximumLength || read;
      claimed = MaxSubLength.Size();
      line = "INFO, MaxSubLength::ReadDynamic, Count=%, MaxSubLength.MaximumLength=" +
             std::to_string(MaxSubLength.MaximumLength);
      break;
    case ITEM_IMPLEMENTATION_CLASS:
      read = ImpClass.ReadDynamic(*body);
      claimed = ImpClass.Size();
      line = "INFO, ImpClass::ReadDynamic, Count=%, " + Quoted(ImpClass.UID);
      break;
    case ITEM_ASYNC_OPERATIONS_WINDOW:
      read = AsyncOpWindow.ReadDynamic(*body);
      claimed = AsyncOpWindow.Size();
      line = "INFO, AsyncOpWindow::ReadDynamic, Count=%";
      break;
    case ITEM_ROLE_SELECTION:
      read = SCPSCURole.ReadDynamic(*body);
      claimed = SCPSCURole.Size();
      line = "INFO, SCPSCURole::ReadDynamic, Count=%";
      break;
    case ITEM_IMPLEMENTATION_VERSION:
      read = ImpVersion.ReadDynamic(*body);
      claimed = ImpVersion.Size();
      line = "INFO, ImpVersion::ReadDynamic, Count=%, " + Quoted(ImpVersion.UID);
      break;
    default:
      WriteLog("ERROR, UserInformation::Read Unknown Packet");
      if (!body->SkipRest()) {
        return false;
      }
      remaining = -1;
      break;
    }
    if (remaining < 0) {
      break;
    }
    if (body->LinkFailed()) {
      return false;
    }
    if (!read) {
      // A sub-item longer than what the item has left, or too short for its
      // own fields: the lengths do not add up, the rest is given up.
      LengthsAddUp = false;
      remaining = body->Overrun() ? static_cast<long long>(body->Left()) + 4 - claimed : -1;
      if (remaining >= 0) {
        remaining = -1;
      }
      if (!body->SkipRest()) {
        return false;
      }
      break;
    }
    remaining = static_cast<long long>(body->Left());
    line.replace(line.find('%'), 1, std::to_string(remaining));
    Info(line);
  }
  if (remaining != 0) {
    WriteLog("ERROR, UserInformation::Read Count=" + std::to_string(remaining));
    return false;
  }
  return true;
}

} // namespace fw
