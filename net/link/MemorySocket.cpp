#include "net/link/MemorySocket.h"

#include <algorithm>
#include <cstring>

namespace fw {

MemorySocket::MemorySocket(std::string_view incoming) : incoming_(incoming) { SetConnected(true); }

bool MemorySocket::SendBinary(const std::uint8_t *data, std::size_t length) {
  if (!Connected()) {
    return false;
  }
  sent_.append(reinterpret_cast<const char *>(data), length);
  sentBlocks_.push_back(length);
  return true;
}

int MemorySocket::ReadBinary(std::uint8_t *buffer, std::size_t capacity) {
  if (!Connected()) {
    return -1;
  }
  const std::size_t count = std::min({capacity, incoming_.size() - position_, std::size_t{1} << 30});
  if (count == 0) {
    Close(); // all played: the peer has closed
    return -1;
  }
  std::memcpy(buffer, incoming_.data() + position_, count);
  position_ += count;
  receives_.push_back(count);
  return static_cast<int>(count);
}

bool MemorySocket::Connect(std::string_view, std::string_view) {
  position_ = 0;
  SetConnected(true);
  return true;
}

} // namespace fw
