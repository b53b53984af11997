// Feeds arbitrary bytes, as what a peer sends during an association, to
// PDU_Service::Read through a Buffer read from memory.
//
// The association has three accepted contexts: 1 implicit VR little endian,
// 3 explicit VR little endian, 5 explicit VR big endian (accepted but not
// selectable). The first byte holds switches: bit 0 lists every message read
// (trace level 2, the data set dump), bit 1 writes every message read back
// to the peer (the encoder on decoded trees, the P-DATA-TF writer with a
// maximum length taken from the next byte). The rest is the stream; messages
// are read until a read fails.
#include "dicom/DcmObj.h"
#include "net/association/PDU_Service.h"
#include "net/link/MemorySocket.h"
#include "net/link/NetTrace.h"
#include "net/pdu/PresentationContext.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace {

// Proposes context `id` and accepts it with the transfer syntax.
void Accept(fw::PDU_Service &service, std::uint8_t id, std::string_view transferSyntax) {
  auto proposed = std::make_unique<fw::PresentationContext>(id);
  proposed->SetAbstractSyntax("1.2.840.10008.1.1");
  proposed->AddTransferSyntax(transferSyntax);
  service.assocRQ.AddPresentationContext(std::move(proposed));
  auto accept = std::make_unique<fw::PresentationContextAccept>(id);
  accept->TrnSyntax.Set(transferSyntax);
  service.assocAC.PresContextAccepts.push_back(std::move(accept));
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
  fw::PDU_Service service(std::make_unique<fw::MemorySocket>(stream));
  service.DumpMessages = (switches & 1) != 0;
  Accept(service, 1, "1.2.840.10008.1.2");
  Accept(service, 3, "1.2.840.10008.1.2.1");
  Accept(service, 5, "1.2.840.10008.1.2.2");
  service.assocAC.UserInfo.MaxSubLength.MaximumLength = maximumLength * 64u;
  service.assocAC.UserInfo.HasMaximumLength = true;
  if (!service.TakePeerMaximumLength() || !service.SelectPresentationContext()) {
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
