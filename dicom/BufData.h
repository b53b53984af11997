// BufData: an in-memory byte stream with a current position and a byte-order
// switch. It is the one way containers become bytes and bytes become
// containers (DcmCodec.h), for DICOM files and for network messages alike.
//
// ReadUS/ReadUL/WriteUS/WriteUL convert 16- and 32-bit numbers between the
// stream's byte order and the machine's; everything else is a raw copy. Reads
// never pass the end: they return what is left, and bytes missing at the end
// read as zero in ReadUS and ReadUL. Writing at the end extends the stream;
// writing before the end overwrites.
#pragma once

#include "base/IoSlices.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fw {

class BufData {
public:
  // 16- and 32-bit numbers are read and written most significant byte first.
  bool bigEndian = false;

  explicit BufData(bool bigEndianOrder = false) : bigEndian(bigEndianOrder) {}
  // A stream holding `bytes`, positioned at 0.
  BufData(std::vector<std::uint8_t> bytes, bool bigEndianOrder) : bigEndian(bigEndianOrder), bytes_(std::move(bytes)) {}

  std::uint16_t ReadUS();
  std::uint32_t ReadUL();
  void WriteUS(std::uint16_t value);
  void WriteUL(std::uint32_t value);

  // Copies up to n bytes to buffer; returns the count copied.
  std::size_t ReadBytes(void *buffer, std::size_t n);
  // Replaces out by up to n bytes; returns the count read.
  std::size_t ReadBytes(std::vector<std::uint8_t> &out, std::size_t n);
  void WriteBytes(const void *buffer, std::size_t n);
  // WriteBytes with the byte order of every `unit`-byte number reversed (a
  // trailing part shorter than a unit is copied as it is).
  void WriteBytesSwapped(const void *buffer, std::size_t n, std::size_t unit);

  std::size_t Position() const { return position_; }
  std::size_t Size() const { return bytes_.size(); }
  std::size_t Remaining() const { return bytes_.size() - position_; }
  // Absolute position, limited to the size.
  void Seek(std::size_t position);
  // Empties the stream.
  void Clear();

  // Replaces the content by the file's bytes and seeks to 0; false when the
  // file cannot be read (the content is then empty).
  bool LoadFromFile(const std::string &path);
  // Writes the whole content to the file, created or replaced; false when it
  // cannot be written. The bytes go to a temporary file in the same folder
  // that is then renamed over path, so a failed write leaves what was at path
  // untouched (and no temporary file behind). A replaced file keeps its
  // permissions; a new one gets 0666 less the umask.
  bool SaveToFile(const std::string &path) const;

  // The whole content, for callers that hand it on without copying.
  const std::vector<std::uint8_t> &Bytes() const { return bytes_; }
  // Takes the content out; the stream is left empty.
  std::vector<std::uint8_t> Release();
  // Reserves room for n more bytes at the end.
  void Reserve(std::size_t n) { bytes_.reserve(bytes_.size() + n); }

private:
  // Room for n bytes at the position; returns where they go.
  std::uint8_t *Place(std::size_t n);

  std::vector<std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

// Replaces the file at path with the slices one after another, as
// BufData::SaveToFile does with one block: written beside it and renamed
// over it, so a failure leaves the old file whole; permissions kept.
bool SaveSlicesToFile(const std::string &path, const ByteSlice *slices, std::size_t count);

// Appends slices to a file being written; false when a write failed.
using SliceWriter = std::function<bool(const ByteSlice *slices, std::size_t count)>;
// The same for content handed over in turns: fill gives its bytes, in order,
// to the writer as often as it likes. When fill returns false or a write
// fails, the old file stays and false is returned.
bool SaveStreamToFile(const std::string &path, const std::function<bool(const SliceWriter &)> &fill);

} // namespace fw
