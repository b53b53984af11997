// PS3.7 D.3.3.3 Asynchronous Operations Window sub-item
// AsyncOpWindow: user information sub-item 0x53, read only.
//
//   offset 0 type 0x53, 1 reserved, 2 length = 4,
//   4 maximum operations invoked (2 bytes), 6 maximum operations performed (2)
//
// The station works synchronously; the values are kept, not used.
#pragma once

#include "net/link/PduReader.h"
#include "net/pdu/PduTypes.h"

#include <cstdint>

namespace fw {

class AsyncOpWindow {
public:
  // Reads what follows the type byte; false when the sub-item is too short.
  bool ReadDynamic(PduReader &in);
  unsigned Size() const { return Length + 4u; }

  std::uint8_t ItemType = ITEM_ASYNC_OPERATIONS_WINDOW;
  std::uint8_t Reserved1 = 0;
  std::uint16_t Length = 0;
  std::uint16_t MaxOperationsInvoked = 0;
  std::uint16_t MaxOperationsPerformed = 0;
};

} // namespace fw
