// PS3.8 9.3.3 A-ASSOCIATE-AC
// AAssociateAC: the A-ASSOCIATE-AC PDU (type 0x02), the peer's acceptance.
//
//   fixed part (see AssociateFixedPart.h), then the items:
//   AppContext (0x10), one accept item (0x21) per proposed context, in the
//   peer's order, kept in PresContextAccepts; UserInfo (0x50), whose
//   MaxSubLength.MaximumLength is the peer's largest P-DATA-TF PDU
//
// Read only. Reading never goes past the PDU: an item longer than what the
// PDU has left, a malformed or unknown item ends the read as a failure, the
// rest of the PDU is skipped and the items read so far stay. Trouble inside
// the user information is logged there and does not fail the PDU, unless its
// lengths do not add up. ItemsAddUp is false after a read that failed because
// the lengths do not add up (rather than at an unknown item or on the link).
#pragma once

#include "net/pdu/PresentationContextAccept.h"
#include "net/pdu/UIDitem.h"
#include "net/pdu/UserInformation.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fw {

class Buffer;

class AAssociateAC {
public:
  AAssociateAC();
  virtual ~AAssociateAC();
  AAssociateAC(const AAssociateAC &) = delete;
  AAssociateAC &operator=(const AAssociateAC &) = delete;

  bool Read(Buffer &link);
  bool ReadDynamic(Buffer &link);

  // The received PDU length + 6.
  unsigned Size() const { return Length + 6u; }

  std::uint8_t ItemType = 0x02;
  std::uint8_t Reserved1 = 0;
  std::uint32_t Length = 0;
  std::uint16_t ProtocolVersion = 0;
  std::uint16_t Reserved2 = 0;
  std::string CalledApTitle;
  std::string CallingApTitle;
  UIDitem AppContext;
  // Owned; the elements stay where they are, so others may point at them.
  std::vector<std::unique_ptr<PresentationContextAccept>> PresContextAccepts;
  UserInformation UserInfo;
  bool ItemsAddUp = true;
};

} // namespace fw
