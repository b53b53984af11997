// MemorySocket: a Socket played from memory, for feeding a Buffer without a
// network (fuzzing, unit tests of the PDU readers).
//
// It is connected from construction. ReadBinary hands out the given bytes in
// receives of at most the asked capacity, then behaves like a peer that
// closed the connection. SendBinary keeps every block sent.
#pragma once

#include "net/link/Socket.h"

#include <string>
#include <string_view>
#include <vector>

namespace fw {

class MemorySocket : public Socket {
public:
  explicit MemorySocket(std::string_view incoming = {});

  bool SendBinary(const std::uint8_t *data, std::size_t length) override;
  int ReadBinary(std::uint8_t *buffer, std::size_t capacity) override;
  // No network: a connect only restarts playing the same bytes.
  bool Connect(std::string_view host, std::string_view port) override;

  // Everything sent, and the size of each block as it was sent.
  const std::string &Sent() const { return sent_; }
  const std::vector<std::size_t> &SentBlocks() const { return sentBlocks_; }
  // Sizes of the receives handed out so far.
  const std::vector<std::size_t> &Receives() const { return receives_; }

private:
  std::string incoming_;
  std::size_t position_ = 0;
  std::string sent_;
  std::vector<std::size_t> sentBlocks_;
  std::vector<std::size_t> receives_;
};

} // namespace fw
