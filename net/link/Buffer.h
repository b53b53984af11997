// PS3.8 9.3.1 PDU encoding (big-endian fields)
// Buffer: the byte pipe between the PDU coders and a Socket.
//
// Outgoing bytes queue in chunks of ChunkSize (32600) bytes and reach the
// socket only on Flush, one send per chunk. Incoming bytes are received on
// demand in blocks of at most 1024 bytes, each kept as its own chunk, and
// consumed in any portion; bytes beyond what a reader took stay queued for
// the next read. Multi-byte integers use the byte order chosen per direction
// (1 little-endian, 2 big-endian; 1 after construction).
#pragma once

#include "net/link/Socket.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace fw {

class Buffer {
public:
  static constexpr int LittleEndian = 1;
  static constexpr int BigEndian = 2;
  static constexpr std::uint32_t ChunkSize = 32600;
  static constexpr std::uint32_t ReceiveSize = 1024;

  Buffer();
  // A buffer on another kind of socket (see MemorySocket).
  explicit Buffer(std::unique_ptr<Socket> socket);
  virtual ~Buffer();
  Buffer(const Buffer &) = delete;
  Buffer &operator=(const Buffer &) = delete;

  Socket &dsocket() { return *dsocket_; }
  const Socket &dsocket() const { return *dsocket_; }

  void SetReadOrder(int order) { readOrder_ = order; }
  void SetWriteOrder(int order) { writeOrder_ = order; }
  int ReadOrder() const { return readOrder_; }
  int WriteOrder() const { return writeOrder_; }

  // Unread bytes in the incoming queue; unflushed bytes in the outgoing one.
  std::size_t Incoming() const { return incoming_; }
  std::size_t Outgoing() const { return outgoing_; }

  void WriteBytes(const void *bytes, std::size_t n);
  void WriteByte(std::uint8_t value);
  void WriteUInt16(std::uint16_t value);
  void WriteUInt32(std::uint32_t value);

  // Sends the outgoing queue chunk by chunk. On a failed send that chunk and
  // the ones after it stay queued (and counted in Outgoing).
  bool Flush();

  // Receives one block into the incoming queue; false when the link fails.
  bool Fill();

  // Take n bytes, receiving as needed. False when the link fails before
  // enough bytes arrived; nothing is consumed then.
  bool ReadBytes(void *dest, std::size_t n);
  bool ReadByte(std::uint8_t &value);
  bool ReadUInt16(std::uint16_t &value);
  bool ReadUInt32(std::uint32_t &value);

  // Copies the next n incoming bytes without taking them, receiving as
  // needed. False when the link fails before enough bytes arrived.
  bool Peek(void *dest, std::size_t n);

  // Reads n bytes and drops them, holding at most one received block at a
  // time, so a large count costs no memory. False when the link fails first
  // (what was dropped by then stays dropped).
  bool Skip(std::size_t n);

  // Moves n bytes from the source's incoming side to the end of this
  // buffer's incoming side, receiving on the source as needed; received
  // blocks move whole where they can. False when the source's link fails.
  bool TakeIncoming(Buffer &source, std::size_t n);

  // Moves n bytes from the head of this buffer's outgoing queue to the end of
  // the target's. False (nothing moved) when fewer than n are queued.
  bool PassOutgoing(Buffer &target, std::size_t n);

  // Drops everything queued on either side, without sending or receiving.
  void DiscardOutgoing();
  void DiscardIncoming();

private:
  struct IncomingChunk {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
    std::size_t position = 0;
  };

  void AppendOutgoingChunk();
  // Drops up to n bytes from the front of the incoming queue.
  void DropIncoming(std::size_t n, std::uint8_t *copyTo);

  std::unique_ptr<Socket> dsocket_;
  int readOrder_ = LittleEndian;
  int writeOrder_ = LittleEndian;
  std::deque<IncomingChunk> incomingQueue_;
  // Each chunk's capacity is ChunkSize, reserved up front, so filling it
  // never moves queued bytes.
  std::deque<std::vector<std::uint8_t>> outgoingQueue_;
  std::size_t incoming_ = 0;
  std::size_t outgoing_ = 0;
};

} // namespace fw
