// ValueBytes: owned bytes or a shared view, with copy on write.
#include "dicom/ValueBytes.h"

#include <algorithm>

namespace fw {

ValueBytes ValueBytes::View(std::shared_ptr<const void> image, const std::uint8_t *bytes, std::size_t size) {
  ValueBytes value;
  if (size == 0 || image == nullptr) {
    return value; // nothing to share
  }
  value.image_ = std::move(image);
  value.view_ = bytes;
  value.viewSize_ = size;
  return value;
}

void ValueBytes::Own(std::size_t capacity) {
  if (!image_) {
    return;
  }
  std::vector<std::uint8_t> bytes;
  bytes.reserve(std::max(capacity, viewSize_));
  bytes.assign(view_, view_ + viewSize_);
  DropView();
  own_ = std::move(bytes);
}

std::vector<std::uint8_t> ValueBytes::Release() {
  Own();
  std::vector<std::uint8_t> bytes = std::move(own_);
  own_.clear();
  return bytes;
}

bool operator==(const ValueBytes &a, const ValueBytes &b) { return std::equal(a.begin(), a.end(), b.begin(), b.end()); }

bool operator==(const ValueBytes &a, const std::vector<std::uint8_t> &b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

} // namespace fw
