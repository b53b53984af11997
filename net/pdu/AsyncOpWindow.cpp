#include "net/pdu/AsyncOpWindow.h"

namespace fw {

bool AsyncOpWindow::ReadDynamic(PduReader &in) {
  std::optional<PduReader> body = ReadItemHeader(in, Reserved1, Length);
  if (!body) {
    return false;
  }
  const bool read = body->ReadUInt16(MaxOperationsInvoked) && body->ReadUInt16(MaxOperationsPerformed);
  return body->SkipRest() && read;
}

} // namespace fw
