// Feeds arbitrary bytes, as what a peer sends during an association, to
// PDU_Service::Read through a Buffer read from memory.
//
// The association is opened for real: the peer's first PDU is an
// A-ASSOCIATE-AC built here that accepts three contexts: 1 implicit VR little
// endian, 3 explicit VR little endian, 5 explicit VR big endian (accepted but
// not selectable). The first byte holds switches: bit 0 lists every message
// read (trace level 2, the data set dump), bit 1 writes every message read
// back to the peer (the encoder on decoded trees, the P-DATA-TF writer with a
// maximum length taken from the next byte). The rest is the stream; messages
// are read until a read fails.
#include "dicom/DcmObj.h"
#include "net/association/PDU_Service.h"
#include "net/link/MemorySocket.h"
#include "net/link/NetTrace.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kVerification = "1.2.840.10008.1.1";
constexpr std::string_view kSyntaxes[] = {"1.2.840.10008.1.2", "1.2.840.10008.1.2.1", "1.2.840.10008.1.2.2"};

void Put16(std::string &out, std::size_t value) {
  out += static_cast<char>(value >> 8 & 0xFF);
  out += static_cast<char>(value & 0xFF);
}

void Put32(std::string &out, std::size_t value) {
  Put16(out, value >> 16 & 0xFFFF);
  Put16(out, value & 0xFFFF);
}

// An item or sub-item: type, reserved, 16-bit length, value.
std::string Item(std::uint8_t type, std::string_view value) {
  std::string item(1, static_cast<char>(type));
  item += '\0';
  Put16(item, value.size());
  item += value;
  return item;
}

// The A-ASSOCIATE-AC accepting contexts 1, 3 and 5 with kSyntaxes, with the
// maximum PDU length given.
std::string Accept(std::uint32_t maximumLength) {
  std::string body;
  Put16(body, 1); // protocol version
  Put16(body, 0);
  body += std::string(16, ' ') + std::string(16, ' ') + std::string(32, '\0');
  body += Item(0x10, "1.2.840.10008.3.1.1.1");
  std::uint8_t id = 1;
  for (std::string_view syntax : kSyntaxes) {
    body += Item(0x21, std::string{static_cast<char>(id), '\0', '\0', '\0'} + Item(0x40, syntax));
    id += 2;
  }
  std::string length;
  Put32(length, maximumLength);
  body += Item(0x50, Item(0x51, length));
  std::string pdu = {0x02, 0x00};
  Put32(pdu, body.size());
  return pdu + body;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2) {
    return 0;
  }
  const std::uint8_t switches = data[0];
  const std::uint8_t maximumLength = data[1];
  const std::string_view stream(reinterpret_cast<const char *>(data + 2), size - 2);

  fw::SetTraceLevel(switches & 1 ? 2 : 0);
  fw::PDU_Service service(std::make_unique<fw::MemorySocket>(Accept(maximumLength * 64u) + std::string(stream)));
  service.SetDumpMessages((switches & 1) != 0);
  std::vector<fw::ProposedContext> proposed;
  for (std::string_view syntax : kSyntaxes) {
    proposed.push_back({std::string(kVerification), {std::string(syntax)}});
  }
  if (!service.OpenAssociation({"127.0.0.1", "104", "QUILLBROOK", "PACS", 1}, proposed)) {
    __builtin_trap();
  }

  for (int messages = 0; messages < 64; ++messages) {
    fw::DcmObj message;
    if (!service.Read(message)) {
      break;
    }
    if (switches & 2) {
      service.Write(message, (messages & 1) == 0);
    }
  }
  service.ReleaseAssociation();
  fw::SetTraceLevel(0);
  return 0;
}
