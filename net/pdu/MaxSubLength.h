// PS3.8 D.1 Maximum Length sub-item
// MaxSubLength: user information sub-item 0x51, the largest P-DATA-TF PDU
// the sender of the association PDU accepts (0: no limit).
//
//   offset 0 type 0x51, 1 reserved, 2 length = 4, 4 MaximumLength (4 bytes)
#pragma once

#include "net/link/PduReader.h"
#include "net/pdu/PduTypes.h"

#include <cstdint>

namespace fw {

class Buffer;

class MaxSubLength {
public:
  // Appends the sub-item and flushes.
  bool Write(Buffer &link) const;
  // Reads what follows the type byte, within what the user information has
  // left; false when the sub-item is too short for its value.
  bool ReadDynamic(PduReader &in);
  unsigned Size() const { return Length + 4u; }

  std::uint8_t ItemType = ITEM_MAXIMUM_LENGTH;
  std::uint8_t Reserved1 = 0;
  std::uint16_t Length = 4;
  std::uint32_t MaximumLength = 0;
};

} // namespace fw
