// Helpers of the C-FIND tests: implicit VR little endian bytes written out
// by hand (independent of the encoder under test), decoding bytes into a
// container as a received identifier, and C-FIND responses as a peer sends
// them.
#pragma once

#include "dicom/BufData.h"
#include "dicom/DcmCodec.h"
#include "dicom/DcmObj.h"
#include "net/query/CFind.h"
#include "tests/net/AssociationScripts.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace fw::test {

inline std::string Le16(unsigned v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }
inline std::string Le32(std::uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

// One implicit VR little endian element: tag, 32-bit length, value.
inline std::string Elem(unsigned group, unsigned element, std::string_view value) {
  return Le16(group) + Le16(element) + Le32(static_cast<std::uint32_t>(value.size())) + std::string(value);
}
// An element header with the given length and no value (undefined-length
// openers and delimiters).
inline std::string Header(unsigned group, unsigned element, std::uint32_t length) {
  return Le16(group) + Le16(element) + Le32(length);
}
inline std::string ItemOf(std::string_view content) { return Elem(0xFFFE, 0xE000, content); }
inline std::string FlatItem(std::string_view content) {
  return Header(0xFFFE, 0xE000, 0xFFFFFFFF) + std::string(content) + Header(0xFFFE, 0xE00D, 0);
}
inline std::string FlatSequence(unsigned group, unsigned element, std::string_view items) {
  return Header(group, element, 0xFFFFFFFF) + std::string(items) + Header(0xFFFE, 0xE0DD, 0);
}

inline std::string EncodeImplicit(DcmObj &c) {
  BufData stream(false);
  WriteObj(stream, c);
  return std::string(stream.Bytes().begin(), stream.Bytes().end());
}

// The container a peer's implicit VR little endian identifier decodes into.
inline bool DecodeImplicit(std::string_view bytes, DcmObj &c) {
  BufData stream(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), false);
  return ReadOjb(stream, c);
}

inline constexpr std::uint16_t kNoDataSet = 0x0101;
inline constexpr std::uint16_t kDataSet = 0x0102;

// A C-FIND-RSP command set (or another command with the given field) that
// answers message `answers` (3: the first request after a one-context
// accept); a negative status leaves Status out.
inline std::string ResponseCommand(int status, std::uint16_t dataSetType, std::uint16_t field = 0x8020,
                                   std::uint16_t answers = 3) {
  std::string uid(STUDY_ROOT_FIND_UID);
  uid.push_back('\0');
  std::string body = Elem(0, 0x0002, uid) + Elem(0, 0x0100, Le16(field)) + Elem(0, 0x0120, Le16(answers)) +
                     Elem(0, 0x0800, Le16(dataSetType));
  if (status >= 0) {
    body += Elem(0, 0x0900, Le16(static_cast<unsigned>(status)));
  }
  return Elem(0, 0x0000, Le32(static_cast<std::uint32_t>(body.size()))) + body;
}

// One response as the peer sends it: the command PDU, and the identifier PDU
// when there is one.
inline std::string Response(int status, std::string_view identifier = {}) {
  std::string pdus = PDataPdu(Pdv(1, 0x03, ResponseCommand(status, identifier.empty() ? kNoDataSet : kDataSet)));
  if (!identifier.empty()) {
    pdus += PDataPdu(Pdv(1, 0x02, identifier));
  }
  return pdus;
}

} // namespace fw::test
