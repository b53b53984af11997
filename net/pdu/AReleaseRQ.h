// PS3.8 9.3.6 A-RELEASE-RQ
// AReleaseRQ: the A-RELEASE-RQ PDU (type 0x05), the station's request to end an association, and a peer's, which it
// answers.
//
//   offset 0 type 0x05, 1 reserved, 2 PDU length (4 bytes) = 4,
//   6 reserved (4 bytes); 10 bytes in all
#pragma once

#include <cstdint>

namespace fw {

class Buffer;

class AReleaseRQ {
public:
  virtual ~AReleaseRQ() = default;

  // Writes the 10 bytes and flushes.
  bool Write(Buffer &link);
  bool Read(Buffer &link);
  // Reads the 9 bytes after the type byte, whatever the length says.
  bool ReadDynamic(Buffer &link);
  unsigned Size() const { return 10; }

  std::uint8_t ItemType = 0x05;
  std::uint8_t Reserved1 = 0;
  std::uint32_t Length = 4;
  std::uint32_t Reserved2 = 0;
};

} // namespace fw
