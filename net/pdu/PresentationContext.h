// PS3.8 9.3.2.2 Presentation Context Item (request)
// PresentationContext: item 0x20 of A-ASSOCIATE-RQ, one proposed context.
//
//   offset 0 type 0x20, 1 reserved, 2 length, 4 presentation context ID (odd),
//   5 reserved (3 bytes), 8 abstract syntax (UIDitem 0x30),
//   then one or more transfer syntaxes (UIDitem 0x40) in the order added
//
// The length is 4 + the abstract syntax item + all transfer syntax items.
#pragma once

#include "net/link/PduReader.h"
#include "net/pdu/PduTypes.h"
#include "net/pdu/UIDitem.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace fw {

class Buffer;

class PresentationContext {
public:
  explicit PresentationContext(std::uint8_t id = 1) : PresentationContextID(id) {}

  void SetAbstractSyntax(std::string_view uid) { AbsSyntax.Set(uid); }
  // False (nothing added) when the item would outgrow its 16-bit length.
  bool AddTransferSyntax(std::string_view uid);

  // Header and flush, the abstract syntax, then each transfer syntax, each
  // flushed. A context without transfer syntaxes logs
  // "ERROR, PresentationContext::Write" after its abstract syntax and is
  // false. False too when a flush fails.
  bool Write(Buffer &link);
  bool Read(Buffer &link);
  bool ReadDynamic(Buffer &link);
  // Within what the PDU has left. Sub-items whose lengths do not add up to
  // the item's log "ERROR, PresentationContext::Read Count=" and give false.
  bool ReadDynamic(PduReader &in);

  // Works out the length; returns it + 4.
  unsigned Size();

  std::uint8_t ItemType = ITEM_PRESENTATION_CONTEXT_RQ;
  std::uint8_t Reserved1 = 0;
  std::uint16_t Length = 0;
  std::uint8_t PresentationContextID = 1;
  std::uint8_t Reserved2 = 0;
  std::uint8_t Reserved3 = 0;
  std::uint8_t Reserved4 = 0;
  UIDitem AbsSyntax{ITEM_ABSTRACT_SYNTAX};
  std::vector<UIDitem> TrnSyntax;
};

} // namespace fw
