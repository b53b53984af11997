// PS3.7 D.3.3.4 SCP/SCU Role Selection sub-item
// SCPSCURole: user information sub-item 0x54, SCP/SCU role selection, read
// only.
//
//   offset 0 type 0x54, 1 reserved, 2 length, 4 UID length (2 bytes),
//   6 SOP class UID (that many characters), then SCU role (1), SCP role (1)
//
// The UID keeps at most 64 characters: a longer one is read whole and cut.
// The station is always the requester; the values are kept, not used.
#pragma once

#include "net/link/PduReader.h"
#include "net/pdu/PduTypes.h"

#include <cstdint>
#include <string>

namespace fw {

class SCPSCURole {
public:
  static constexpr std::size_t MaxValue = 64;

  // Reads what follows the type byte; false when the lengths do not fit.
  bool ReadDynamic(PduReader &in);
  unsigned Size() const { return Length + 4u; }

  std::uint8_t ItemType = ITEM_ROLE_SELECTION;
  std::uint8_t Reserved1 = 0;
  std::uint16_t Length = 0;
  std::uint16_t UIDLength = 0;
  std::string SOPClassUID;
  std::uint8_t SCURole = 0;
  std::uint8_t SCPRole = 0;
};

} // namespace fw
