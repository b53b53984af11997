// PS3.8 9.3.3.2 Presentation Context Item (accept)
// PresentationContextAccept: item 0x21 of A-ASSOCIATE-AC, the answer to one
// proposed context.
//
//   offset 0 type 0x21, 1 reserved, 2 length, 4 presentation context ID,
//   5 reserved, 6 result (0 acceptance, anything else a rejection),
//   7 reserved, 8 transfer syntax (UIDitem 0x40)
//
// An item whose length leaves no room for the transfer syntax is kept with an
// empty one (some peers send none with a rejection).
#pragma once

#include "net/link/PduReader.h"
#include "net/pdu/PduTypes.h"
#include "net/pdu/UIDitem.h"

#include <cstdint>

namespace fw {

class Buffer;

class PresentationContextAccept {
public:
  static constexpr std::uint8_t Acceptance = 0;

  PresentationContextAccept() = default;
  // id is provisional: the one read replaces it.
  explicit PresentationContextAccept(std::uint8_t id) : PresentationContextID(id) {}

  bool Read(Buffer &link);
  bool ReadDynamic(Buffer &link);
  // Within what the PDU has left; bytes of the item beyond the transfer
  // syntax are skipped.
  bool ReadDynamic(PduReader &in);

  // 4 + 4 + the transfer syntax item, from what was read.
  unsigned Size() const { return 8u + TrnSyntax.Size(); }
  bool Accepted() const { return Result == Acceptance; }

  std::uint8_t ItemType = ITEM_PRESENTATION_CONTEXT_AC;
  std::uint8_t Reserved1 = 0;
  std::uint16_t Length = 0;
  std::uint8_t PresentationContextID = 0;
  std::uint8_t Reserved2 = 0;
  std::uint8_t Result = 0;
  std::uint8_t Reserved3 = 0;
  UIDitem TrnSyntax{ITEM_TRANSFER_SYNTAX};
};

} // namespace fw
