// PS3.8 9.3.2.1 and 9.3.2.2.1-2 UID items; PS3.7 D.3.3.2 implementation items
// UIDitem: an item whose value is one UID or name, and its named kinds.
//
//   offset 0 type, 1 reserved, 2 length (2 bytes) = number of characters,
//   4 the characters, not padded and not terminated.
//
// Used for the application context (0x10), abstract syntax (0x30), transfer
// syntax (0x40), implementation class UID (0x52, ImpClass) and
// implementation version name (0x55, ImpVersion). The value holds at most 64
// characters: a longer received value is read whole and kept cut to 64, and
// a received value ends at its first NUL (peers pad UIDs with one).
#pragma once

#include "net/link/PduReader.h"
#include "net/pdu/PduTypes.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace fw {

class Buffer;

class UIDitem {
public:
  static constexpr std::size_t MaxValue = 64;

  UIDitem() = default;
  explicit UIDitem(std::uint8_t type, std::string_view value = {});

  // Sets the value (cut to 64 characters) and the length written.
  void Set(std::string_view value);

  // Appends the item and flushes.
  bool Write(Buffer &link) const;
  // Reads the type byte, then the rest.
  bool Read(Buffer &link);
  // Reads what follows the type byte.
  bool ReadDynamic(Buffer &link);
  // The same within what the enclosing PDU or item has left.
  bool ReadDynamic(PduReader &in);

  // Length + 4: after a read, from the received length.
  unsigned Size() const { return Length + 4u; }

  std::uint8_t ItemType = 0;
  std::uint8_t Reserved1 = 0;
  std::uint16_t Length = 0;
  std::string UID;
};

class ImpClass : public UIDitem {
public:
  ImpClass() : UIDitem(ITEM_IMPLEMENTATION_CLASS) {}
};

class ImpVersion : public UIDitem {
public:
  ImpVersion() : UIDitem(ITEM_IMPLEMENTATION_VERSION) {}
};

} // namespace fw
