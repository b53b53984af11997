// Fuzz target: the station opens an association and exchanges one message
// while the peer's side is arbitrary bytes. The first byte picks what is
// proposed (bit 0: JPEG baseline and explicit VR besides implicit VR, bit 1:
// verification or CT image storage); the rest is everything the peer sends:
// the answer to A-ASSOCIATE-RQ, then the answer to a C-ECHO-RQ, then the
// answer to the release. Every step may fail; none may crash or read past
// what was received.
#include "net/association/PDU_Service.h"
#include "net/dimse/CEcho.h"
#include "net/link/MemorySocket.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  const std::uint8_t switches = data[0];
  const std::string_view answers(reinterpret_cast<const char *>(data + 1), size - 1);
  const std::string_view abstractSyntax = switches & 2 ? "1.2.840.10008.5.1.4.1.1.2" : "1.2.840.10008.1.1";

  fw::PDU_Service service(std::make_unique<fw::MemorySocket>(answers));
  const bool opened = switches & 1
                          ? service.OpenAssociation("127.0.0.1", "104", "QUILLBROOK", "PACS", abstractSyntax,
                                                    "1.2.840.10008.1.2.1", "1.2.840.10008.1.2.4.50", 1)
                          : service.OpenAssociation("127.0.0.1", "104", "QUILLBROOK", "PACS", abstractSyntax, 1);
  if (!opened) {
    return 0;
  }
  if (service.Rejected()) {
    std::abort(); // a rejection never opens the association
  }
  if (service.ChosenContext() == 0) {
    std::abort(); // an association without a context to write on is not open
  }
  const std::uint32_t maximum = service.PeerMaximumLength();
  if (maximum <= 6) {
    std::abort(); // a PDU must have room for a PDV header and data
  }
  if (fw::CEcho::WriteRQ(service, abstractSyntax)) {
    fw::CEcho::ReadRSP(service);
  }
  service.ReleaseAssociation();
  return 0;
}
