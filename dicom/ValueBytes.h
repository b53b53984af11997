// ValueBytes: the value bytes of a data element, either owned or a view of an
// immutable image they were read from (a file's bytes).
//
// A view shares ownership of its image, so it can never outlive it: a data
// set read from a file keeps the image alive for as long as any of its large
// values still points into it, and copying an element copies the view, not
// the bytes. Reading never copies. Every mutating operation first turns a
// view into owned bytes (copy on write), so no caller can change an image or
// another element that shares it. That includes the non-const operator[]
// and MutableData(): read through a const reference to avoid the copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

namespace fw {

class ValueBytes {
public:
  using value_type = std::uint8_t;
  using size_type = std::size_t;
  using const_iterator = const std::uint8_t *;
  using iterator = const_iterator; // writing goes through MutableData()

  ValueBytes() = default;
  ValueBytes(std::vector<std::uint8_t> bytes) : own_(std::move(bytes)) {} // NOLINT: a vector is a value
  ValueBytes(std::initializer_list<std::uint8_t> bytes) : own_(bytes) {}
  ValueBytes &operator=(std::vector<std::uint8_t> bytes) {
    DropView();
    own_ = std::move(bytes);
    return *this;
  }

  // size bytes at bytes, inside the image that image owns (the caller checks
  // the bounds); the view holds a share of image.
  static ValueBytes View(std::shared_ptr<const void> image, const std::uint8_t *bytes, std::size_t size);

  bool IsView() const { return image_ != nullptr; }
  // The image a view shares (null for owned bytes).
  const std::shared_ptr<const void> &Image() const { return image_; }

  std::size_t size() const { return image_ ? viewSize_ : own_.size(); }
  bool empty() const { return size() == 0; }
  const std::uint8_t *data() const { return image_ ? view_ : own_.data(); }
  const_iterator begin() const { return data(); }
  const_iterator end() const { return data() + size(); }
  const std::uint8_t &operator[](std::size_t i) const { return data()[i]; }
  const std::uint8_t &front() const { return data()[0]; }
  const std::uint8_t &back() const { return data()[size() - 1]; }

  // Mutable access: owned bytes from here on.
  std::uint8_t *MutableData() {
    Own();
    return own_.data();
  }
  std::uint8_t &operator[](std::size_t i) {
    Own();
    return own_[i];
  }
  void resize(std::size_t n) {
    Own(n);
    own_.resize(n);
  }
  void resize(std::size_t n, std::uint8_t fill) {
    Own(n);
    own_.resize(n, fill);
  }
  void reserve(std::size_t n) {
    Own(n);
    own_.reserve(n);
  }
  void assign(std::size_t n, std::uint8_t fill) {
    DropView();
    own_.assign(n, fill);
  }
  template <class It> void assign(It first, It last) {
    // The source may lie in this very view: take it before letting go.
    std::vector<std::uint8_t> bytes(first, last);
    DropView();
    own_ = std::move(bytes);
  }
  template <class It> void append(It first, It last) {
    Own();
    own_.insert(own_.end(), first, last);
  }
  void push_back(std::uint8_t byte) {
    Own(size() + 1);
    own_.push_back(byte);
  }
  // Empties the value and gives its memory (or its share of an image) back.
  void clear() {
    DropView();
    own_.clear();
  }
  void shrink_to_fit() {
    if (!image_) {
      own_.shrink_to_fit();
    }
  }

  // The bytes as a vector of their own (a copy).
  std::vector<std::uint8_t> ToVector() const { return {begin(), end()}; }
  // The owned vector, moved out (a view is copied); the value is left empty.
  std::vector<std::uint8_t> Release();

  friend bool operator==(const ValueBytes &a, const ValueBytes &b);
  friend bool operator==(const ValueBytes &a, const std::vector<std::uint8_t> &b);

private:
  // Turns a view into owned bytes, with room for at least capacity bytes.
  void Own(std::size_t capacity = 0);
  void DropView() {
    image_.reset();
    view_ = nullptr;
    viewSize_ = 0;
  }

  std::vector<std::uint8_t> own_;
  std::shared_ptr<const void> image_;
  const std::uint8_t *view_ = nullptr;
  std::size_t viewSize_ = 0;
};

} // namespace fw
