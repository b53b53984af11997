// PS3.8 9.3.2.3 and 9.3.3.3 User Information Item
// UserInformation: item 0x50, the last item of A-ASSOCIATE-RQ and -AC.
//
//   offset 0 type 0x50, 1 reserved, 2 length, 4 sub-items:
//     0x51 MaxSubLength   written, read
//     0x52 ImpClass       written, read
//     0x53 AsyncOpWindow  read only
//     0x54 SCPSCURole     read only (a later one replaces an earlier one)
//     0x55 ImpVersion     written, read
//
// Written in the order 0x51, 0x52, 0x55, each sub-item flushed on its own.
// The length is worked out by Size while it is 0 (every setter clears it);
// after a read it is the received one.
#pragma once

#include "net/link/PduReader.h"
#include "net/pdu/AsyncOpWindow.h"
#include "net/pdu/MaxSubLength.h"
#include "net/pdu/SCPSCURole.h"
#include "net/pdu/UIDitem.h"

#include <cstdint>
#include <string_view>

namespace fw {

class Buffer;

class UserInformation {
public:
  void SetMaximumLength(std::uint32_t length);
  void SetImpClass(std::string_view uid);
  void SetImpVersion(std::string_view name);

  // Header, flush, then each sub-item with its own flush. False when a flush
  // fails.
  bool Write(Buffer &link);
  bool Read(Buffer &link);
  bool ReadDynamic(Buffer &link);
  // Reads what follows the type byte within what the PDU has left. An
  // unknown or malformed sub-item ends the read: the rest of the item is
  // skipped, the sub-items read so far are kept, the ERROR lines are logged
  // and the result is false. A length beyond the PDU reads nothing more and
  // leaves `in` Overrun.
  bool ReadDynamic(PduReader &in);

  unsigned Size();

  std::uint8_t ItemType = ITEM_USER_INFORMATION;
  std::uint8_t Reserved1 = 0;
  std::uint16_t Length = 0;
  fw::MaxSubLength MaxSubLength;
  // Whether a received item carried the maximum length sub-item at all.
  bool HasMaximumLength = false;
  // False after a read whose sub-item lengths did not add up (a sub-item
  // longer than the item has left, or too short for its own fields).
  bool LengthsAddUp = true;
  fw::ImpClass ImpClass;
  fw::AsyncOpWindow AsyncOpWindow;
  fw::SCPSCURole SCPSCURole;
  fw::ImpVersion ImpVersion;
};

} // namespace fw
