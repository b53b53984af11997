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

} // namespace

bool PDataTF::Write(Buffer &link) {
  const std::size_t total = Staging.Outgoing();
  if (BlockSize == 0) {
    BlockSize = DefaultBlockSize;
  }
  if (BlockSize > MaxBlockSize) {
    WriteLog("WARNING, BlockSize is too big: " + std::to_string(BlockSize));
  }
  // The PDU length (fragment + 6) must stay a 32-bit number even for a
  // message of 4 GiB.
  BlockSize = std::min(BlockSize, std::numeric_limits<std::uint32_t>::max() - kPdvHeaderSize);
  const std::uint32_t savedPduLength = PduLength;

  std::size_t sent = 0;
  while (sent < total) {
    if (total - sent < BlockSize) {
      BlockSize = static_cast<std::uint32_t>(total - sent);
    }
    PdvControlHeader = sent + BlockSize == total ? (MessageControl | kLastFragmentBit) : (MessageControl & kCommandBit);
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
  if (BlockSize == 0) {
    BlockSize = DefaultBlockSize;
  }
  if (BlockSize > MaxBlockSize) {
    WriteLog("WARNING, BlockSize is too big: " + std::to_string(BlockSize));
  }
  BlockSize = std::min(BlockSize, std::numeric_limits<std::uint32_t>::max() - kPdvHeaderSize);

  // PDUs go to the socket in batches of about this many bytes: few system
  // calls, and headers that stay small.
  constexpr std::size_t kBatchBytes = std::size_t{1} << 20;
  const std::size_t pdusPerBatch = std::max<std::size_t>(1, kBatchBytes / BlockSize);
  std::vector<std::uint8_t> headers(pdusPerBatch * 12);
  std::vector<Socket::Slice> slices;

  std::size_t part = 0;       // the part the next fragment starts in
  std::size_t partOffset = 0; // and where in it
  std::size_t sent = 0;
  while (sent < size) {
    slices.clear();
    for (std::size_t pdu = 0; pdu < pdusPerBatch && sent < size; ++pdu) {
      const auto fragment = static_cast<std::uint32_t>(std::min<std::size_t>(BlockSize, size - sent));
      const bool last = sent + fragment == size;
      const std::uint32_t pduLength = fragment + kPdvHeaderSize;
      const std::uint32_t pdvLength = fragment + 2;
      std::uint8_t *h = headers.data() + pdu * 12;
      h[0] = ItemType;
      h[1] = 0;
      for (int i = 0; i < 4; ++i) {
        h[2 + i] = static_cast<std::uint8_t>(pduLength >> (24 - 8 * i));
        h[6 + i] = static_cast<std::uint8_t>(pdvLength >> (24 - 8 * i));
      }
      h[10] = PresentationContextID;
      h[11] = last ? (MessageControl | kLastFragmentBit) : (MessageControl & kCommandBit);
      slices.push_back({h, 12});
      std::size_t left = fragment;
      while (left > 0) {
        const std::size_t take = std::min(left, parts[part].size - partOffset);
        if (take > 0) {
          slices.push_back({parts[part].data + partOffset, take});
        }
        partOffset += take;
        left -= take;
        if (partOffset == parts[part].size) {
          ++part;
          partOffset = 0;
        }
      }
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
