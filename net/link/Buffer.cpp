#include "net/link/Buffer.h"

#include <algorithm>
#include <cstring>

namespace fw {

Buffer::Buffer() : Buffer(std::make_unique<Socket>()) {}

Buffer::Buffer(std::unique_ptr<Socket> socket) : dsocket_(std::move(socket)) {}

Buffer::~Buffer() = default;

void Buffer::AppendOutgoingChunk() {
  outgoingQueue_.emplace_back();
  outgoingQueue_.back().reserve(ChunkSize);
}

void Buffer::WriteBytes(const void *bytes, std::size_t n) {
  const auto *from = static_cast<const std::uint8_t *>(bytes);
  if (outgoingQueue_.empty()) {
    AppendOutgoingChunk();
  }
  while (n > 0) {
    if (outgoingQueue_.back().size() >= ChunkSize) {
      AppendOutgoingChunk();
    }
    std::vector<std::uint8_t> &chunk = outgoingQueue_.back();
    const std::size_t count = std::min<std::size_t>(n, ChunkSize - chunk.size());
    chunk.insert(chunk.end(), from, from + count);
    from += count;
    n -= count;
    outgoing_ += count;
  }
}

void Buffer::WriteByte(std::uint8_t value) { WriteBytes(&value, 1); }

void Buffer::WriteUInt16(std::uint16_t value) {
  const std::uint8_t high = static_cast<std::uint8_t>(value >> 8);
  const std::uint8_t low = static_cast<std::uint8_t>(value & 0xFF);
  const std::uint8_t bytes[2] = {writeOrder_ == BigEndian ? high : low, writeOrder_ == BigEndian ? low : high};
  WriteBytes(bytes, 2);
}

void Buffer::WriteUInt32(std::uint32_t value) {
  const auto high = static_cast<std::uint16_t>(value >> 16);
  const auto low = static_cast<std::uint16_t>(value & 0xFFFF);
  WriteUInt16(writeOrder_ == BigEndian ? high : low);
  WriteUInt16(writeOrder_ == BigEndian ? low : high);
}

bool Buffer::Flush() {
  while (!outgoingQueue_.empty()) {
    std::vector<std::uint8_t> &chunk = outgoingQueue_.front();
    if (!chunk.empty()) {
      if (!dsocket_->SendBinary(chunk.data(), chunk.size())) {
        return false;
      }
      outgoing_ -= chunk.size();
    }
    outgoingQueue_.pop_front();
  }
  outgoing_ = 0;
  return true;
}

bool Buffer::Fill() {
  std::uint8_t block[std::min(ChunkSize, ReceiveSize)];
  int count = 0;
  do {
    count = dsocket_->ReadBinary(block, sizeof(block));
  } while (count == 0);
  if (count < 0) {
    return false;
  }
  IncomingChunk chunk;
  chunk.size = static_cast<std::size_t>(count);
  chunk.bytes = std::make_unique<std::uint8_t[]>(chunk.size);
  std::memcpy(chunk.bytes.get(), block, chunk.size);
  incomingQueue_.push_back(std::move(chunk));
  incoming_ += static_cast<std::size_t>(count);
  return true;
}

void Buffer::DropIncoming(std::size_t n, std::uint8_t *copyTo) {
  while (n > 0 && !incomingQueue_.empty()) {
    IncomingChunk &chunk = incomingQueue_.front();
    const std::size_t count = std::min(n, chunk.size - chunk.position);
    if (copyTo != nullptr) {
      std::memcpy(copyTo, chunk.bytes.get() + chunk.position, count);
      copyTo += count;
    }
    chunk.position += count;
    n -= count;
    incoming_ -= count;
    if (chunk.position == chunk.size) {
      incomingQueue_.pop_front();
    }
  }
}

bool Buffer::ReadBytes(void *dest, std::size_t n) {
  while (incoming_ < n) {
    if (!Fill()) {
      return false;
    }
  }
  DropIncoming(n, static_cast<std::uint8_t *>(dest));
  return true;
}

bool Buffer::Peek(void *dest, std::size_t n) {
  while (incoming_ < n) {
    if (!Fill()) {
      return false;
    }
  }
  auto *to = static_cast<std::uint8_t *>(dest);
  for (auto chunk = incomingQueue_.begin(); n > 0; ++chunk) {
    const std::size_t count = std::min(n, chunk->size - chunk->position);
    std::memcpy(to, chunk->bytes.get() + chunk->position, count);
    to += count;
    n -= count;
  }
  return true;
}

bool Buffer::ReadByte(std::uint8_t &value) { return ReadBytes(&value, 1); }

bool Buffer::ReadUInt16(std::uint16_t &value) {
  std::uint8_t bytes[2];
  if (!ReadBytes(bytes, 2)) {
    return false;
  }
  value = readOrder_ == BigEndian ? static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1])
                                  : static_cast<std::uint16_t>(bytes[1] << 8 | bytes[0]);
  return true;
}

bool Buffer::ReadUInt32(std::uint32_t &value) {
  std::uint16_t first = 0;
  std::uint16_t second = 0;
  if (!ReadUInt16(first) || !ReadUInt16(second)) {
    return false;
  }
  value = readOrder_ == BigEndian ? (std::uint32_t{first} << 16 | second) : (std::uint32_t{second} << 16 | first);
  return true;
}

bool Buffer::Skip(std::size_t n) {
  while (n > 0) {
    if (incoming_ == 0 && !Fill()) {
      return false;
    }
    const std::size_t count = std::min(n, incoming_);
    DropIncoming(count, nullptr);
    n -= count;
  }
  return true;
}

bool Buffer::TakeIncoming(Buffer &source, std::size_t n) {
  while (source.incoming_ < n) {
    if (!source.Fill()) {
      return false;
    }
  }
  while (n > 0) {
    IncomingChunk &front = source.incomingQueue_.front();
    const std::size_t available = front.size - front.position;
    if (front.position == 0 && available <= n) {
      incomingQueue_.push_back(std::move(front));
      source.incomingQueue_.pop_front();
      source.incoming_ -= available;
      incoming_ += available;
      n -= available;
      continue;
    }
    IncomingChunk part;
    part.size = std::min(n, available);
    part.bytes = std::make_unique<std::uint8_t[]>(part.size);
    source.DropIncoming(part.size, part.bytes.get());
    incoming_ += part.size;
    n -= part.size;
    incomingQueue_.push_back(std::move(part));
  }
  return true;
}

bool Buffer::PassOutgoing(Buffer &target, std::size_t n) {
  if (outgoing_ < n || &target == this) {
    return false;
  }
  outgoing_ -= n;
  while (n > 0) {
    std::vector<std::uint8_t> &chunk = outgoingQueue_.front();
    if (chunk.size() > n) {
      target.WriteBytes(chunk.data(), n);
      chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
      n = 0;
    } else {
      target.WriteBytes(chunk.data(), chunk.size());
      n -= chunk.size();
      outgoingQueue_.pop_front();
    }
  }
  return true;
}

void Buffer::DiscardOutgoing() {
  outgoingQueue_.clear();
  outgoing_ = 0;
}

void Buffer::DiscardIncoming() {
  incomingQueue_.clear();
  incoming_ = 0;
}

} // namespace fw
