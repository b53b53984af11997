#include "net/pdu/AssociateFixedPart.h"

namespace fw {

std::string PaddedApTitle(std::string_view title) {
  std::string padded(title.substr(0, AE_TITLE_LENGTH));
  padded.resize(AE_TITLE_LENGTH, ' ');
  return padded;
}

void WriteAssociateFixedPart(Buffer &link, std::uint8_t type, const AssociateFixedFields &fields) {
  link.WriteByte(type);
  link.WriteByte(0);
  link.WriteUInt32(fields.length);
  link.WriteUInt16(fields.protocolVersion);
  link.WriteUInt16(0);
  const std::string called = PaddedApTitle(fields.calledApTitle);
  const std::string calling = PaddedApTitle(fields.callingApTitle);
  link.WriteBytes(called.data(), AE_TITLE_LENGTH);
  link.WriteBytes(calling.data(), AE_TITLE_LENGTH);
  const std::uint8_t zeros[32] = {};
  link.WriteBytes(zeros, sizeof(zeros));
}

std::optional<PduReader> ReadAssociateFixedPart(Buffer &link, const AssociateFixedFields &fields) {
  if (!link.ReadByte(fields.reserved1) || !link.ReadUInt32(fields.length)) {
    return std::nullopt;
  }
  PduReader pdu(link, fields.length);
  char called[AE_TITLE_LENGTH];
  char calling[AE_TITLE_LENGTH];
  if (!pdu.ReadUInt16(fields.protocolVersion) || !pdu.ReadUInt16(fields.reserved2) ||
      !pdu.ReadBytes(called, sizeof(called)) || !pdu.ReadBytes(calling, sizeof(calling)) || !pdu.Skip(32)) {
    if (!pdu.LinkFailed()) {
      pdu.SkipRest(); // too short for the fixed part: drop the whole PDU
    }
    return std::nullopt;
  }
  const std::string_view calledText(called, sizeof(called));
  const std::string_view callingText(calling, sizeof(calling));
  fields.calledApTitle.assign(calledText.substr(0, calledText.find('\0')));
  fields.callingApTitle.assign(callingText.substr(0, callingText.find('\0')));
  return pdu;
}

} // namespace fw
