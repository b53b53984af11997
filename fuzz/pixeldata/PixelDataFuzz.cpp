// Fuzz target for DecodePixelData: a data set with encapsulated pixel data
// whose transfer syntax, frame count, sample size, offset table and fragments
// come from the input, decoded into fixed-size 16 x 16 frame slots. The
// slots are followed by guard bytes that must survive, and every item after
// the pixel data element must be consumed.
//
// Input: byte 0 picks the transfer syntax, byte 1 the frames (bits 0-1, 1 to
// 3), 16-bit samples (bit 2) and colour (bit 3); then records of a 16-bit
// little-endian length and that many bytes: the offset table, then up to
// seven fragments.
#include "dicom/PixelData.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

constexpr int SIDE = 16;
constexpr std::size_t GUARD_BYTES = 256;
constexpr std::uint8_t GUARD = 0xA5;
constexpr std::string_view SYNTAXES[] = {"1.2.840.10008.1.2.4.70", "1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2.4.51",
                                         "1.2.840.10008.1.2.4.90", "1.2.840.10008.1.2.4.91", "1.2.840.10008.1.2.4.100",
                                         "1.2.840.10008.1.2.5",    "1.2.840.10008.1.2.4.80", "1.2.840.10008.1.2.4.81"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2)
    return 0;
  const std::string_view syntax = SYNTAXES[data[0] % std::size(SYNTAXES)];
  const int frames = 1 + (data[1] & 3) % 3;
  const int bitsAllocated = (data[1] & 4) != 0 ? 16 : 8;
  const int components = (data[1] & 8) != 0 ? 3 : 1;

  fw::DcmObj c;
  c.transferSyntax = std::string(syntax);
  c.Append(fw::DcmTag::FromBytes(0x7FE0, 0x0010, fw::UNDEFINED_LENGTH, nullptr, "OB"));
  std::size_t at = 2;
  for (int record = 0; record < 8 && at + 2 <= size; ++record) {
    std::size_t length = data[at] | data[at + 1] << 8;
    at += 2;
    if (length > size - at)
      length = size - at;
    c.Append(fw::DcmTag::FromBytes(0xFFFE, 0xE000, static_cast<std::uint32_t>(length), data + at, "DL"));
    at += length;
  }
  c.Append(fw::DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
  c.Append(fw::DcmTag::FromBytes(0xFFFC, 0xFFFC, 0, nullptr, "OB"));

  const std::size_t total = static_cast<std::size_t>(frames) * SIDE * SIDE * components * (bitsAllocated / 8);
  std::vector<std::uint8_t> destination(total + GUARD_BYTES, GUARD);
  std::vector<int> failed;
  const bool decoded = fw::DecodePixelData(c, 0,
                                           {.destination = destination.data(),
                                            .totalBytes = total,
                                            .frames = frames,
                                            .bitsAllocated = bitsAllocated,
                                            .failedFrames = &failed});

  for (std::size_t i = total; i < destination.size(); ++i)
    if (destination[i] != GUARD)
      std::abort(); // a frame was written past the destination
  if (decoded != failed.empty())
    std::abort();
  if (syntax != SYNTAXES[5] && c.Count() != 2)
    std::abort(); // fragments left behind
  return 0;
}
