// Gathered writes: runs of bytes held by others, handed to writev/sendmsg many
// at a time, stepping over partial writes.
//
//   WriteSlices(slices, count, write, onSliceDone)
//     write(const iovec *vectors, int n) -> ssize_t: one system call's result;
//       it retries what it can itself (EINTR, a full socket buffer) and
//       returns > 0 bytes taken, or <= 0 to give up.
//     onSliceDone(const ByteSlice &) (optional): called for every slice
//       written whole, in order; empty slices that a batch ends on are passed
//       over without a call.
//   Returns true once every byte went out, false as soon as write gave up.
//   Only empty slices (or none) make no call of write at all.
//
// At most MAX_SLICES_PER_CALL vectors go into one call (the system allows
// IOV_MAX, 1024 on Linux): the vectors live on the stack.
#pragma once

#include <sys/types.h>
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>

namespace fw {

// A run of bytes held by someone else.
struct ByteSlice {
  const std::uint8_t *data = nullptr;
  std::size_t size = 0;
};

inline constexpr std::size_t MAX_SLICES_PER_CALL = 256;

struct IgnoreSliceDone {
  void operator()(const ByteSlice &) const {}
};

template <typename Write, typename SliceDone = IgnoreSliceDone>
bool WriteSlices(const ByteSlice *slices, std::size_t count, Write &&write, SliceDone &&onSliceDone = {}) {
  iovec vectors[MAX_SLICES_PER_CALL];
  std::size_t next = 0;       // first slice not wholly written
  std::size_t nextOffset = 0; // bytes of it already written
  while (next < count) {
    std::size_t used = 0;
    for (std::size_t i = next; i < count && used < MAX_SLICES_PER_CALL; ++i) {
      const std::size_t skip = i == next ? nextOffset : 0;
      if (slices[i].size > skip) {
        vectors[used].iov_base = const_cast<std::uint8_t *>(slices[i].data + skip);
        vectors[used].iov_len = slices[i].size - skip;
        ++used;
      }
    }
    if (used == 0) {
      return true; // only empty slices left
    }
    const ssize_t written = write(static_cast<const iovec *>(vectors), static_cast<int>(used));
    if (written <= 0) {
      return false;
    }
    auto left = static_cast<std::size_t>(written);
    while (left > 0 && next < count) {
      const std::size_t rest = slices[next].size - nextOffset;
      if (left >= rest) {
        onSliceDone(slices[next]);
        left -= rest;
        ++next;
        nextOffset = 0;
      } else {
        nextOffset += left;
        left = 0;
      }
    }
    while (next < count && slices[next].size == 0) {
      ++next;
    }
  }
  return true;
}

} // namespace fw
