// PS3.8 9.3.2 and 9.3.3 fixed fields of A-ASSOCIATE-RQ/AC
// The fixed part that A-ASSOCIATE-RQ and A-ASSOCIATE-AC share, after the
// PDU type byte:
//
//   offset 1 reserved, 2 PDU length (4 bytes) = 68 + sizes of all items,
//   6 protocol version (2 bytes), 8 reserved (2),
//   10 called AE title (16), 26 calling AE title (16), 42 reserved (32),
//   74 the items
#pragma once

#include "net/link/Buffer.h"
#include "net/link/PduReader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fw {

inline constexpr std::size_t AE_TITLE_LENGTH = 16;

// The first 16 characters of the title, padded with spaces to 16.
std::string PaddedApTitle(std::string_view title);

struct AssociateFixedFields {
  std::uint8_t &reserved1;
  std::uint32_t &length;
  std::uint16_t &protocolVersion;
  std::uint16_t &reserved2;
  std::string &calledApTitle;
  std::string &callingApTitle;
};

// Appends the fixed part (type byte included); titles as they are, 16 bytes.
void WriteAssociateFixedPart(Buffer &link, std::uint8_t type, const AssociateFixedFields &fields);

// Reads the fixed part after the type byte and returns a reader over the
// items. Nothing when the link fails, or when the PDU length cannot even hold
// the fixed part (the PDU is then skipped). Received titles end at 16
// characters or at a NUL.
std::optional<PduReader> ReadAssociateFixedPart(Buffer &link, const AssociateFixedFields &fields);

} // namespace fw
