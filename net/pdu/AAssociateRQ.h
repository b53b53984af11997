// PS3.8 9.3.2 A-ASSOCIATE-RQ
// AAssociateRQ: the A-ASSOCIATE-RQ PDU (type 0x01) the station sends to open
// an association.
//
//   fixed part (see AssociateFixedPart.h), then the items:
//   AppContext (0x10, "1.2.840.10008.3.1.1.1"), the presentation contexts
//   (0x20) in the order added, UserInfo (0x50)
//
// Write flushes after the fixed part and after each item and sub-item, so
// the PDU reaches the socket as several sends. ReadDynamic exists to read a
// request a peer sent by mistake, before it is thrown away.
#pragma once

#include "net/pdu/PresentationContext.h"
#include "net/pdu/UIDitem.h"
#include "net/pdu/UserInformation.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

class Buffer;

class AAssociateRQ {
public:
  AAssociateRQ();
  virtual ~AAssociateRQ();
  AAssociateRQ(const AAssociateRQ &) = delete;
  AAssociateRQ &operator=(const AAssociateRQ &) = delete;

  // The first 16 characters, padded with spaces to 16.
  void SetCalledApTitle(std::string_view title);
  void SetCallingApTitle(std::string_view title);
  void SetApplicationContext(std::string_view uid) { AppContext.Set(uid); }
  // The request owns the context from here on.
  void AddPresentationContext(std::unique_ptr<PresentationContext> context);

  // False (with its ERROR line) when the fixed part or the application
  // context cannot be sent; what happens to later items shows up as a failed
  // read of the answer.
  bool Write(Buffer &link);
  bool Read(Buffer &link);
  bool ReadDynamic(Buffer &link);

  // Works out the PDU length; returns it + 6.
  unsigned Size();

  std::uint8_t ItemType = 0x01;
  std::uint8_t Reserved1 = 0;
  std::uint32_t Length = 0;
  std::uint16_t ProtocolVersion = 1;
  std::uint16_t Reserved2 = 0;
  std::string CalledApTitle;
  std::string CallingApTitle;
  UIDitem AppContext;
  std::vector<std::unique_ptr<PresentationContext>> PresContexts;
  UserInformation UserInfo;
};

} // namespace fw
