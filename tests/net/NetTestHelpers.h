// Helpers shared by the network tests: building PDU bytes from their parts,
// and recording the blocks a Socket reports to the trace hook.
#pragma once

#include "net/link/NetTrace.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fw::test {

inline std::string U16(unsigned value) {
  return {static_cast<char>((value >> 8) & 0xFF), static_cast<char>(value & 0xFF)};
}
inline std::string U32(std::uint32_t value) { return U16(value >> 16) + U16(value & 0xFFFF); }

// "07 00 0a" -> the three bytes.
inline std::string Hex(std::string_view text) {
  std::string bytes;
  int high = -1;
  for (char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    }
    if (digit < 0) {
      continue;
    }
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<char>(high << 4 | digit));
      high = -1;
    }
  }
  return bytes;
}

// An item or sub-item: type, reserved, 16-bit length of the body, body.
inline std::string Item(std::uint8_t type, std::string_view body) {
  return std::string(1, static_cast<char>(type)) + '\0' + U16(static_cast<unsigned>(body.size())) + std::string(body);
}

// A PDU: type, reserved, 32-bit length of the body, body.
inline std::string Pdu(std::uint8_t type, std::string_view body) {
  return std::string(1, static_cast<char>(type)) + '\0' + U32(static_cast<std::uint32_t>(body.size())) +
         std::string(body);
}

// Protocol version 1, reserved, the two titles as given (16 bytes each),
// 32 reserved bytes: what precedes the items of A-ASSOCIATE-RQ/AC.
inline std::string AssociateFixedBody(std::string_view called, std::string_view calling) {
  return U16(1) + U16(0) + std::string(called) + std::string(calling) + std::string(32, '\0');
}

// Records the blocks reported at trace level 3 while it lives.
class BlockRecorder {
public:
  BlockRecorder() {
    Blocks().clear();
    previousLevel_ = TraceLevel();
    SetTraceLevel(3);
    SetBlockTraceHook(&Record);
  }
  ~BlockRecorder() {
    SetBlockTraceHook(nullptr);
    SetTraceLevel(previousLevel_);
  }
  BlockRecorder(const BlockRecorder &) = delete;
  BlockRecorder &operator=(const BlockRecorder &) = delete;

  struct Block {
    int count;
    bool outgoing;
    std::string bytes;
  };
  static std::vector<Block> &Blocks() {
    static std::vector<Block> blocks;
    return blocks;
  }
  std::vector<int> Counts(bool outgoing) const {
    std::vector<int> counts;
    for (const Block &block : Blocks()) {
      if (block.outgoing == outgoing) {
        counts.push_back(block.count);
      }
    }
    return counts;
  }

private:
  static void Record(const std::uint8_t *bytes, int count, bool outgoing) {
    Blocks().push_back(
        {count, outgoing, count > 0 ? std::string(reinterpret_cast<const char *>(bytes), count) : std::string()});
  }
  int previousLevel_ = 0;
};

} // namespace fw::test
