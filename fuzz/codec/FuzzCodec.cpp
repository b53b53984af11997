// Fuzz target for the decoders: arbitrary bytes as a JPEG fragment (each of
// the three JPEG decoders), a JPEG 2000, a JPEG-LS and an RLE fragment,
// decoded into a fixed-size frame slot. The library builds are not instrumented, so the
// slot is followed by guard bytes that must survive every call.
#include "dicom/codec/J2kCodec.h"
#include "dicom/codec/JlsCodec.h"
#include "dicom/codec/JpegCodec.h"
#include "dicom/codec/RleCodec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::size_t SLOT_BYTES = 128 * 1024;
constexpr std::size_t GUARD_BYTES = 256;
constexpr std::uint8_t GUARD = 0xA5;

void CheckGuard(const std::vector<std::uint8_t> &slot) {
  for (std::size_t i = SLOT_BYTES; i < slot.size(); ++i)
    if (slot[i] != GUARD)
      std::abort(); // a decoder wrote past its destination
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static std::vector<std::uint8_t> slot(SLOT_BYTES + GUARD_BYTES, GUARD);
  const auto colour = static_cast<fw::JpegColour>(size % 3);
  for (int result : {fw::JpegDecode8Colour(data, size, slot.data(), SLOT_BYTES, colour),
                     fw::JpegDecode12Colour(data, size, slot.data(), SLOT_BYTES, colour),
                     fw::JpegDecode16(data, size, slot.data(), SLOT_BYTES)}) {
    if (result != 0 && result != -1)
      std::abort();
  }
  CheckGuard(slot);
  fw::J2kDecode(data, size, slot.data(), SLOT_BYTES, static_cast<int>(size % 3) - 1);
  CheckGuard(slot);
  fw::JlsDecode(data, size, slot.data(), SLOT_BYTES);
  CheckGuard(slot);
  // RLE: the slot size fixes the pixel count, so try a few frame sizes.
  for (const std::size_t bytes : {std::size_t{64 * 64}, std::size_t{48 * 32 * 3}, SLOT_BYTES})
    for (const int sampleBytes : {1, 2, 4}) {
      fw::RleDecode(data, size, slot.data(), bytes, sampleBytes);
      CheckGuard(slot);
    }
  (void)fw::ReadJpegFrameHeader(data, size);
  return 0;
}
