// The output collector of the JPEG encoders: the library writes into a
// 16384-byte working buffer, each full buffer is appended to the caller's
// byte vector, and at the end the used part of the last one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace fw {

class MemoryDestination {
public:
  static constexpr std::size_t STEP = 16384;

  // Collects into `stream`, which is emptied first.
  explicit MemoryDestination(std::vector<std::uint8_t> &stream);
  MemoryDestination(const MemoryDestination &) = delete;
  MemoryDestination &operator=(const MemoryDestination &) = delete;

  // Allocates the working buffer; the library may fill STEP bytes from here.
  std::uint8_t *Begin();
  // The working buffer is full: appends it and hands it back empty.
  std::uint8_t *Flush();
  // Compression ended with `freeBytes` unused at the end of the working
  // buffer: appends the used part and releases the buffer.
  void Finish(std::size_t freeBytes);

private:
  std::vector<std::uint8_t> &stream_;
  std::unique_ptr<std::uint8_t[]> buffer_;
};

} // namespace fw
