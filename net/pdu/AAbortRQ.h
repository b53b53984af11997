// PS3.8 9.3.8 A-ABORT
// AAbortRQ: the A-ABORT PDU (type 0x07) the station sends to give up an
// association. Write only.
//
//   offset 0 type 0x07, 1 reserved, 2 PDU length (4 bytes) = 4,
//   6 reserved, 7 reserved, 8 source, 9 reason
//
// Source 0 (service user) with reason 0 (not significant for that source):
// the station sends exactly 07 00 00 00 00 04 00 00 00 00.
#pragma once

#include <cstdint>
#include <string>

namespace fw {

class Buffer;

class AAbortRQ {
public:
  virtual ~AAbortRQ() = default;

  // Writes the 10 bytes and flushes.
  bool Write(Buffer &link);
  // The same 10 bytes, for a link that sends them on its own.
  std::string Bytes() const;
  unsigned Size() const { return 10; }

  std::uint8_t ItemType = 0x07;
  std::uint8_t Reserved1 = 0;
  std::uint32_t Length = 4;
  std::uint8_t Reserved2 = 0;
  std::uint8_t Reserved3 = 0;
  std::uint8_t Source = 0;
  std::uint8_t Reason = 0;
};

} // namespace fw
