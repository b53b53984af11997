// Feeds arbitrary bytes, as a peer's answer, to the readers of the
// association PDUs and items, through a Buffer read from memory.
//
// The first byte picks the reader; the rest is the stream. Whatever was read
// is then sized and, for the request, written again, so the writers see
// values that came from the wire.
#include "net/link/Buffer.h"
#include "net/link/MemorySocket.h"
#include "net/pdu/AAssociateAC.h"
#include "net/pdu/AAssociateRJ.h"
#include "net/pdu/AAssociateRQ.h"
#include "net/pdu/AReleaseRP.h"
#include "net/pdu/AReleaseRQ.h"
#include "net/pdu/PresentationContext.h"
#include "net/pdu/PresentationContextAccept.h"
#include "net/pdu/UIDitem.h"
#include "net/pdu/UserInformation.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace {

// Reads PDUs the way the association opener and the release do: a type
// byte, then the PDU it names, until the stream ends or a read fails.
void ReadAnswers(fw::Buffer &link) {
  for (int pdus = 0; pdus < 8; ++pdus) {
    std::uint8_t type = 0;
    if (!link.ReadByte(type)) {
      return;
    }
    bool read = false;
    if (type == 0x02) {
      fw::AAssociateAC accept;
      read = accept.ReadDynamic(link);
      accept.UserInfo.Size();
      for (const auto &item : accept.PresContextAccepts) {
        item->Size();
      }
    } else if (type == 0x03) {
      fw::AAssociateRJ rejection;
      read = rejection.ReadDynamic(link);
    } else if (type == 0x01) {
      fw::AAssociateRQ request;
      read = request.ReadDynamic(link);
      if (read) {
        fw::Buffer sink(std::make_unique<fw::MemorySocket>());
        request.UserInfo.Length = 0;
        request.Write(sink);
      }
    } else if (type == 0x05) {
      fw::AReleaseRQ release;
      read = release.ReadDynamic(link);
    } else {
      fw::AReleaseRP response;
      read = response.ReadDynamic(link);
    }
    if (!read) {
      return;
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::string_view stream(reinterpret_cast<const char *>(data) + 1, size - 1);
  fw::Buffer link(std::make_unique<fw::MemorySocket>(stream));
  link.SetReadOrder(fw::Buffer::BigEndian);
  link.SetWriteOrder(fw::Buffer::BigEndian);

  switch (data[0] % 6) {
  case 0:
    ReadAnswers(link);
    break;
  case 1: {
    fw::AAssociateAC accept;
    accept.Read(link);
    break;
  }
  case 2: {
    fw::UserInformation info;
    info.Read(link);
    info.Size();
    break;
  }
  case 3: {
    fw::PresentationContextAccept item;
    item.Read(link);
    item.Size();
    break;
  }
  case 4: {
    fw::PresentationContext context;
    if (context.Read(link)) {
      fw::Buffer sink(std::make_unique<fw::MemorySocket>());
      context.Write(sink);
    }
    break;
  }
  default: {
    fw::UIDitem item;
    item.Read(link);
    break;
  }
  }
  return 0;
}
