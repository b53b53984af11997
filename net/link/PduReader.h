// PS3.8 9.3.1 PDU and item lengths
// PduReader: reads from a link within the number of bytes the peer declared
// for a PDU, an item or a sub-item.
//
// Every read first checks that it fits in what is left; one that does not
// reads nothing and marks the reader Overrun. A cursor for a nested item is
// carved out with Take, which counts the item's bytes as used here at once.
// Link failures are shared by a reader and all the readers carved from it.
#pragma once

#include "net/link/Buffer.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace fw {

class PduReader {
public:
  static constexpr std::uint64_t Unbounded = UINT64_MAX;

  PduReader(Buffer &link, std::uint64_t budget);

  bool ReadByte(std::uint8_t &value);
  bool ReadUInt16(std::uint16_t &value);
  bool ReadUInt32(std::uint32_t &value);
  bool ReadBytes(void *dest, std::size_t n);
  bool Skip(std::uint64_t n);
  bool SkipRest() { return Skip(left_); }

  // A reader over the next n bytes, or nothing (and Overrun) when fewer are
  // left. The n bytes count as used here; the caller skips what the nested
  // reader leaves unread.
  std::optional<PduReader> Take(std::uint64_t n);

  std::uint64_t Left() const { return left_; }
  bool Overrun() const { return overrun_; }
  bool LinkFailed() const { return *linkFailed_; }

private:
  PduReader(Buffer &link, std::uint64_t budget, std::shared_ptr<bool> linkFailed);
  bool Fits(std::uint64_t n);
  bool Check(bool linkOk);

  Buffer &link_;
  std::uint64_t left_;
  bool overrun_ = false;
  std::shared_ptr<bool> linkFailed_;
};

// Reads the rest of an item header (reserved byte, 16-bit length) and returns
// a reader over the item's body; nothing when the header cannot be read or
// the length claims more than `in` has left (then `in` is Overrun).
std::optional<PduReader> ReadItemHeader(PduReader &in, std::uint8_t &reserved, std::uint16_t &length);

} // namespace fw
