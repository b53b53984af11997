// PS3.8 9.3.5 P-DATA-TF, Annex E message control header
// PDataTF: the P-DATA-TF PDU (type 0x04) coder, which cuts an encoded DIMSE
// message into fragments on the way out and gathers them on the way in.
//
//   PDU:  offset 0 type 0x04, 1 reserved, 2 PDU length (4 bytes),
//         6 presentation data value (PDV) items, one after another
//   PDV:  offset 0 item length (4 bytes) = 2 + fragment bytes,
//         4 presentation context ID,
//         5 message control header: bit 0 command (clear: data set),
//                                   bit 1 last fragment of the message
//         6 fragment bytes
//
// Writing sends one PDV per PDU. Reading takes PDUs with any number of PDVs;
// a message that ends inside a PDU leaves PduLength at what is left of it,
// and the next read goes on there without a new header. The staging buffer
// holds one message: its outgoing side while it is sent, its incoming side
// while it is gathered (received blocks move into it without copying).
#pragma once

#include "net/link/Buffer.h"
#include "net/pdu/PduTypes.h"

#include <cstddef>
#include <cstdint>

namespace fw {

class PDataTF {
public:
  // Fragment size used when the block size works out as 0.
  static constexpr std::uint32_t DefaultBlockSize = 4096;
  // Largest fragment that fits a 16384-byte PDU.
  static constexpr std::uint32_t MaxBlockSize = 16378;
  // A gathered message larger than this is refused: the station receives
  // command sets and query identifiers, and a peer must not be able to fill
  // memory.
  static constexpr std::size_t MaxMessageSize = std::size_t{64} << 20;
  // The limit of the message being read (TooLong past it); at most
  // MaxMessageSize.
  std::size_t MessageLimit = MaxMessageSize;

  enum class ReadResult {
    Read,      // the PDU's PDVs were read (MessageComplete says whether a message ended)
    LinkLost,  // the link failed in the middle
    Malformed, // a PDV that does not fit its PDU
    TooLong,   // the message would grow past MessageLimit
  };

  // Sends the staging buffer's outgoing bytes as PDUs of BlockSize-byte
  // fragments on PresentationContextID, with MessageControl. False when a
  // flush fails (the unsent rest is dropped).
  bool Write(Buffer &link);

  // The same for a message held by the caller: the PDUs are sent as their
  // headers and slices of message, many PDUs per system call, without
  // staging or copying the message. Anything the link still queues goes
  // first. False when a send fails.
  bool WriteMessage(Buffer &link, const std::uint8_t *message, std::size_t size);
  // The same for a message held in parts, sent one after another as one
  // message; a fragment may span parts.
  bool WriteMessage(Buffer &link, const Socket::Slice *parts, std::size_t count);

  // Reads the PDVs of the current P-DATA-TF PDU, after its type byte; the
  // header too when PduLength is 0. Stops after a last fragment. Nothing is
  // taken beyond what the PDU declared.
  ReadResult ReadDynamic(Buffer &link);

  // Size the message would have reached when ReadDynamic said TooLong.
  std::size_t RefusedSize() const { return refusedSize_; }

  std::uint8_t ItemType = PDU_DATA_TF;
  std::uint8_t Reserved1 = 0;
  std::uint32_t PduLength = 0;
  std::uint32_t BlockSize = 0;
  Buffer Staging;
  bool MessageComplete = false;
  std::uint32_t PdvLength = 0;
  std::uint8_t PdvContextID = 0;
  std::uint8_t PdvControlHeader = 0;
  // The context messages are written on; reading never changes it.
  std::uint8_t PresentationContextID = 0;
  // The context of the last fragment read: the message read came on it.
  std::uint8_t ReceivedContextID = 0;
  std::uint8_t MessageControl = 0;

private:
  std::size_t refusedSize_ = 0;
};

} // namespace fw
