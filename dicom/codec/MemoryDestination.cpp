// The JPEG encoders' output collector.
#include "dicom/codec/MemoryDestination.h"

namespace fw {

MemoryDestination::MemoryDestination(std::vector<std::uint8_t> &stream) : stream_(stream) { stream_.clear(); }

std::uint8_t *MemoryDestination::Begin() {
  if (!buffer_)
    buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(STEP);
  return buffer_.get();
}

std::uint8_t *MemoryDestination::Flush() {
  stream_.insert(stream_.end(), buffer_.get(), buffer_.get() + STEP);
  return buffer_.get();
}

void MemoryDestination::Finish(std::size_t freeBytes) {
  if (!buffer_)
    return;
  const std::size_t used = freeBytes < STEP ? STEP - freeBytes : 0;
  stream_.insert(stream_.end(), buffer_.get(), buffer_.get() + used);
  buffer_.reset();
}

} // namespace fw
