// JlsDecode: a JPEG-LS stream in memory to interleaved samples.
#include "dicom/codec/JlsCodec.h"

#include <charls/charls.h>

#include <memory>
#include <new>
#include <vector>

namespace fw {

namespace {

struct DecoderRelease {
  void operator()(charls_jpegls_decoder *decoder) const { charls_jpegls_decoder_destroy(decoder); }
};
using Decoder = std::unique_ptr<charls_jpegls_decoder, DecoderRelease>;

// True when the stream has an end-of-image marker (FF D9). Inside a scan an
// FF byte is always followed by a byte below 0x80, so the pair marks the end
// (whatever pads the fragment may follow it). CharLS refuses a stream without
// one anyway, but only after its bit reader has spun past the end of a
// damaged scan, which can take seconds: such a stream is refused first.
bool HasEndOfImage(const std::uint8_t *stream, std::size_t length) {
  for (std::size_t i = length; i >= 2; --i)
    if (stream[i - 2] == 0xFF && stream[i - 1] == 0xD9)
      return true;
  return false;
}

} // namespace

bool JlsDecode(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination, std::size_t destinationSize) {
  if (stream == nullptr || length == 0 || destination == nullptr || !HasEndOfImage(stream, length))
    return false;
  Decoder decoder(charls_jpegls_decoder_create());
  if (!decoder ||
      charls_jpegls_decoder_set_source_buffer(decoder.get(), stream, length) != charls::jpegls_errc::success ||
      charls_jpegls_decoder_read_header(decoder.get()) != charls::jpegls_errc::success)
    return false;
  charls_frame_info frame{};
  charls_interleave_mode interleave{};
  if (charls_jpegls_decoder_get_frame_info(decoder.get(), &frame) != charls::jpegls_errc::success ||
      charls_jpegls_decoder_get_interleave_mode(decoder.get(), &interleave) != charls::jpegls_errc::success)
    return false;
  if (frame.width == 0 || frame.height == 0 || frame.component_count < 1 || frame.bits_per_sample < 2 ||
      frame.bits_per_sample > 16)
    return false;
  const std::size_t sampleBytes = frame.bits_per_sample <= 8 ? 1 : 2;
  const std::size_t pixels = std::size_t{frame.width} * frame.height;
  const auto components = static_cast<std::size_t>(frame.component_count);
  // Checked before CharLS writes anything: the stream's image is the slot.
  if (pixels * components * sampleBytes != destinationSize)
    return false;

  if (components == 1 || interleave != charls::interleave_mode::none)
    return charls_jpegls_decoder_decode_to_buffer(decoder.get(), destination, destinationSize, 0) ==
           charls::jpegls_errc::success;

  // Planes one after the other: decoded aside, then interleaved.
  std::vector<std::uint8_t> planes;
  try {
    planes.resize(destinationSize);
  } catch (const std::bad_alloc &) {
    return false;
  }
  if (charls_jpegls_decoder_decode_to_buffer(decoder.get(), planes.data(), planes.size(), 0) !=
      charls::jpegls_errc::success)
    return false;
  const std::size_t planeBytes = pixels * sampleBytes;
  for (std::size_t c = 0; c < components; ++c)
    for (std::size_t p = 0; p < pixels; ++p)
      for (std::size_t b = 0; b < sampleBytes; ++b)
        destination[(p * components + c) * sampleBytes + b] = planes[c * planeBytes + p * sampleBytes + b];
  return true;
}

} // namespace fw
