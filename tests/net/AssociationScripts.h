// Helpers for the association tests: the peer's side of an association
// (accepts, P-DATA-TF PDUs, release), the size of the station's request, the
// PDUs the station sent split apart, and small messages to send.
#pragma once

#include "dicom/BufData.h"
#include "dicom/DcmCodec.h"
#include "dicom/DcmObj.h"
#include "dicom/DcmTag.h"
#include "tests/net/NetTestHelpers.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fw::test {

inline const std::string kReleaseRQ = Hex("05 00 00 00 00 04 00 00 00 00");
inline const std::string kReleaseRP = Hex("06 00 00 00 00 04 00 00 00 00");
inline const std::string kAbort = Hex("07 00 00 00 00 04 00 00 00 00");

inline std::string AcceptItem(std::uint8_t id, std::uint8_t result, std::string_view transferSyntax) {
  return Item(0x21, std::string{static_cast<char>(id), 0, static_cast<char>(result), 0} + Item(0x40, transferSyntax));
}

// An A-ASSOCIATE-AC with the given accept items and maximum PDU length.
inline std::string AcceptPdu(std::string_view acceptItems, std::uint32_t maximumLength = 16384) {
  return Pdu(0x02, AssociateFixedBody("STORESCP        ", "QUILLBROOK      ") + Item(0x10, "1.2.840.10008.3.1.1.1") +
                       std::string(acceptItems) + Item(0x50, Item(0x51, U32(maximumLength))));
}

inline std::string ImplicitAccept(std::uint32_t maximumLength = 16384) {
  return AcceptPdu(AcceptItem(1, 0, "1.2.840.10008.1.2"), maximumLength);
}

// Bytes of the station's A-ASSOCIATE-RQ with one context proposing these
// transfer syntaxes: fixed part, application context, the context, and the
// user information (maximum length, class UID, version name).
inline std::size_t RequestSize(std::string_view abstractSyntax, const std::vector<std::string> &transferSyntaxes) {
  std::size_t context = 4 + 4 + 4 + abstractSyntax.size();
  for (const std::string &uid : transferSyntaxes) {
    context += 4 + uid.size();
  }
  return 6 + 68 + (4 + 21) + context + (4 + 8 + (4 + 30) + (4 + 11));
}
inline std::size_t VerificationRequestSize() { return RequestSize("1.2.840.10008.1.1", {"1.2.840.10008.1.2"}); }

// One PDV: item length, context ID, control header, fragment.
inline std::string Pdv(std::uint8_t contextID, std::uint8_t control, std::string_view fragment) {
  return U32(static_cast<std::uint32_t>(fragment.size() + 2)) + static_cast<char>(contextID) +
         static_cast<char>(control) + std::string(fragment);
}
inline std::string PDataPdu(std::string_view pdvs) { return Pdu(0x04, pdvs); }

struct ReceivedPdu {
  std::uint8_t type = 0;
  std::string body;
};

// Splits a byte stream into PDUs; a truncated last one is kept as far as it
// goes.
inline std::vector<ReceivedPdu> SplitPdus(std::string_view bytes) {
  std::vector<ReceivedPdu> pdus;
  std::size_t at = 0;
  while (at + 6 <= bytes.size()) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i])); };
    const std::uint32_t length = byte(at + 2) << 24 | byte(at + 3) << 16 | byte(at + 4) << 8 | byte(at + 5);
    pdus.push_back({static_cast<std::uint8_t>(bytes[at]), std::string(bytes.substr(at + 6, length))});
    at += 6 + std::min<std::size_t>(length, bytes.size() - at - 6);
  }
  return pdus;
}

// A command set like a C-ECHO-RQ, implicit VR little endian.
inline std::unique_ptr<DcmObj> EchoCommand(std::uint16_t messageID = 3) {
  auto owned = std::make_unique<DcmObj>();
  DcmObj &command = *owned;
  command.Put(DcmTag::FromUL(0x0000, 0x0000, 56));
  command.PutText(0x0000, 0x0002, "1.2.840.10008.1.1");
  command.Put(DcmTag::FromUS(0x0000, 0x0100, 0x0030));
  command.Put(DcmTag::FromUS(0x0000, 0x0110, messageID));
  command.Put(DcmTag::FromUS(0x0000, 0x0800, 0x0101));
  return owned;
}

// A data set of exactly `size` bytes in implicit VR little endian: one OB
// value after an 8-byte header (size even, at least 8).
inline std::unique_ptr<DcmObj> DataSetOfSize(std::size_t size) {
  auto owned = std::make_unique<DcmObj>();
  DcmObj &data = *owned;
  std::vector<std::uint8_t> value(size - 8);
  for (std::size_t i = 0; i < value.size(); ++i) {
    value[i] = static_cast<std::uint8_t>(i * 7 + 1);
  }
  data.Put(DcmTag::FromBytes(0x0009, 0x1000, static_cast<std::uint32_t>(value.size()), value.data(), "OB"));
  return owned;
}

inline std::string Encoded(DcmObj &message) {
  BufData stream;
  WriteObj(stream, message);
  return std::string(stream.Bytes().begin(), stream.Bytes().end());
}

} // namespace fw::test
