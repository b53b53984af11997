// PS3.8 9.3.4 A-ASSOCIATE-RJ (Table 9-21)
// AAssociateRJ: the A-ASSOCIATE-RJ PDU (type 0x03), the peer's rejection.
// Read only; RejectText puts the three values into words.
//
//   offset 0 type 0x03, 1 reserved, 2 PDU length (4 bytes) = 4,
//   6 reserved, 7 result, 8 source, 9 reason
#pragma once

#include <cstdint>
#include <string>

namespace fw {

class Buffer;

class AAssociateRJ {
public:
  bool Read(Buffer &link);
  // Reads the 9 bytes after the type byte.
  bool ReadDynamic(Buffer &link);
  unsigned Size() const { return 10; }

  std::uint8_t ItemType = 0x03;
  std::uint8_t Reserved1 = 0;
  std::uint32_t Length = 0;
  std::uint8_t Reserved2 = 0;
  std::uint8_t Result = 0;
  std::uint8_t Source = 0;
  std::uint8_t Reason = 0;
};

// "result: rejected-permanent (1), source: DICOM UL service-user (1),
// reason: called-AE-title-not-recognized (7)": each value in the words of
// the upper layer protocol's reject table, with its number; a value the
// table does not define reads "unknown" (reserved reasons "reserved").
std::string RejectText(std::uint8_t result, std::uint8_t source, std::uint8_t reason);

} // namespace fw
