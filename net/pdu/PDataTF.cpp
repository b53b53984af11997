#include "net/pdu/PDataTF.h"

#include "base/Log.h"
#include "net/link/NetTrace.h"

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

namespace fw {
namespace {

constexpr std::uint8_t kCommandBit = 0x01;
constexpr std::uint8_t kLastFragmentBit = 0x02;
// Item length (4), context ID (1), control header (1).
constexpr std::uint32_t kPdvHeaderSize = 6;
// PDU header (type, reserved, length) and PDV header together.
constexpr std::size_t kPduHeaderBytes = 12;

// The fragment size to write with: DefaultBlockSize for 0, and small enough
// that the PDU length (fragment + 6) stays a 32-bit number even for a
// message of 4 GiB. A size above MaxBlockSize is kept, with a warning.
std::uint32_t UsableBlockSize(std::uint32_t blockSize) {
  if (blockSize == 0) {
    blockSize = PDataTF::DefaultBlockSize;
  }
  if (blockSize > PDataTF::MaxBlockSize) {
    WriteLog("WARNING, BlockSize is too big: " + std::to_string(blockSize));
  }
  return std::min(blockSize, std::numeric_limits<std::uint32_t>::max() - kPdvHeaderSize);
}

// The message control header of a fragment: the command bit, and the last
// fragment bit on the message's last one.
std::uint8_t ControlHeader(std::uint8_t messageControl, bool last) {
  return static_cast<std::uint8_t>(last ? (messageControl | kLastFragmentBit) : (messageControl & kCommandBit));
}

// Writes the PDU and PDV headers of one fragment (kPduHeaderBytes).
inline void PutPduHeader(std::uint8_t *header, std::uint8_t itemType, std::uint32_t fragment, std::uint8_t contextId,
                         std::uint8_t control) {
  const std::uint32_t pduLength = fragment + kPdvHeaderSize;
  const std::uint32_t pdvLength = fragment + 2;
  header[0] = itemType;
  header[1] = 0;
  for (int i = 0; i < 4; ++i) {
    header[2 + i] = static_cast<std::uint8_t>(pduLength >> (24 - 8 * i));
    header[6 + i] = static_cast<std::uint8_t>(pdvLength >> (24 - 8 * i));
  }
  header[10] = contextId;
  header[11] = control;
}

// Walks a message held in parts, handing out its bytes as slices; a
// fragment may span parts, and empty parts give no slice.
class PartCursor {
public:
  explicit PartCursor(const Socket::Slice *parts) : parts_(parts) {}

  // Appends the slices of the next length bytes.
  void Take(std::size_t length, std::vector<Socket::Slice> &slices) {
    while (length > 0) {
      const Socket::Slice &part = parts_[part_];
      const std::size_t take = std::min(length, part.size - offset_);
      if (take > 0) {
        slices.push_back({part.data + offset_, take});
      }
      offset_ += take;
      length -= take;
      if (offset_ == part.size) {
        ++part_;
        offset_ = 0;
      }
    }
  }

private:
  const Socket::Slice *parts_;
  std::size_t part_ = 0;   // the part the next byte is in
  std::size_t offset_ = 0; // and where in it
};

} // namespace

bool PDataTF::Write(Buffer &link) {
  const std::size_t total = Staging.Outgoing();
  BlockSize = UsableBlockSize(BlockSize);
  const std::uint32_t savedPduLength = PduLength;

  std::size_t sent = 0;
  while (sent < total) {
    if (total - sent < BlockSize) {
      BlockSize = static_cast<std::uint32_t>(total - sent);
    }
    PdvControlHeader = ControlHeader(MessageControl, sent + BlockSize == total);
    PdvLength = BlockSize + 2;
    PduLength = BlockSize + kPdvHeaderSize;
    PdvContextID = PresentationContextID;
    link.WriteByte(ItemType);
    link.WriteByte(0);
    link.WriteUInt32(PduLength);
    link.WriteUInt32(PdvLength);
    link.WriteByte(PdvContextID);
    link.WriteByte(PdvControlHeader);
    if (BlockSize > 0) {
      Staging.PassOutgoing(link, BlockSize);
    }
    if (!link.Flush()) {
      // Nothing of this message may go out with a later one.
      link.DiscardOutgoing();
      Staging.DiscardOutgoing();
      PduLength = savedPduLength;
      return false;
    }
    sent += BlockSize;
  }
  PduLength = savedPduLength;
  return true;
}

bool PDataTF::WriteMessage(Buffer &link, const std::uint8_t *message, std::size_t size) {
  const Socket::Slice whole{message, size};
  return WriteMessage(link, &whole, 1);
}

bool PDataTF::WriteMessage(Buffer &link, const Socket::Slice *parts, std::size_t count) {
  std::size_t size = 0;
  for (std::size_t i = 0; i < count; ++i) {
    size += parts[i].size;
  }
  if (TraceLevel() >= 3) {
    // Traced links keep one trace record per PDU: go through the staging
    // buffer.
    for (std::size_t i = 0; i < count; ++i) {
      Staging.WriteBytes(parts[i].data, parts[i].size);
    }
    return Write(link);
  }
  if (link.Outgoing() > 0 && !link.Flush()) {
    link.DiscardOutgoing();
    return false;
  }
  BlockSize = UsableBlockSize(BlockSize);

  // PDUs go to the socket in batches of about this many bytes: few system
  // calls, and headers that stay small.
  constexpr std::size_t kBatchBytes = std::size_t{1} << 20;
  const std::size_t pdusPerBatch = std::max<std::size_t>(1, kBatchBytes / BlockSize);
  std::vector<std::uint8_t> headers(pdusPerBatch * kPduHeaderBytes);
  std::vector<Socket::Slice> slices;

  PartCursor cursor(parts);
  std::size_t sent = 0;
  while (sent < size) {
    slices.clear();
    for (std::size_t pdu = 0; pdu < pdusPerBatch && sent < size; ++pdu) {
      const auto fragment = static_cast<std::uint32_t>(std::min<std::size_t>(BlockSize, size - sent));
      std::uint8_t *header = headers.data() + pdu * kPduHeaderBytes;
      PutPduHeader(header, ItemType, fragment, PresentationContextID,
                   ControlHeader(MessageControl, sent + fragment == size));
      slices.push_back({header, kPduHeaderBytes});
      cursor.Take(fragment, slices);
      sent += fragment;
    }
    if (!link.dsocket().SendSlices(slices.data(), slices.size())) {
      return false;
    }
  }
  return true;
}

PDataTF::ReadResult PDataTF::ReadDynamic(Buffer &link) {
  if (PduLength == 0) {
    if (!link.ReadByte(Reserved1) || !link.ReadUInt32(PduLength)) {
      PduLength = 0;
      return ReadResult::LinkLost;
    }
    if (PduLength == 0) {
      return ReadResult::Malformed; // a P-DATA-TF carries at least one PDV
    }
  }
  MessageComplete = false;
  while (PduLength > 0) {
    if (PduLength < kPdvHeaderSize) {
      return ReadResult::Malformed;
    }
    if (!link.ReadUInt32(PdvLength) || !link.ReadByte(PdvContextID) || !link.ReadByte(PdvControlHeader)) {
      return ReadResult::LinkLost;
    }
    // The item length counts the context ID and control header: at least 2,
    // and no more than the PDU has left after the length field.
    if (PdvLength < 2 || PdvLength > PduLength - 4) {
      return ReadResult::Malformed;
    }
    const std::size_t fragment = PdvLength - 2;
    const std::size_t limit = std::min(MessageLimit, MaxMessageSize);
    if (Staging.Incoming() > limit || fragment > limit - Staging.Incoming()) {
      refusedSize_ = Staging.Incoming() + fragment;
      return ReadResult::TooLong;
    }
    if (!Staging.TakeIncoming(link, fragment)) {
      return ReadResult::LinkLost;
    }
    PduLength -= PdvLength + 4;
    ReceivedContextID = PdvContextID;
    if (PdvControlHeader & kLastFragmentBit) {
      MessageComplete = true;
      return ReadResult::Read;
    }
  }
  return ReadResult::Read;
}

} // namespace fw
