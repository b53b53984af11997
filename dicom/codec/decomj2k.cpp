// J2kDecode: a J2K codestream (or JP2 file) in memory to interleaved samples.
#include "dicom/codec/J2kCodec.h"
#include "dicom/codec/OpenJpegHandles.h"

#include <algorithm>
#include <cstring>

namespace fw {

namespace {

struct ReadSource {
  const std::uint8_t *data;
  std::size_t length;
  std::size_t pos = 0;
};

OPJ_SIZE_T Read(void *buffer, OPJ_SIZE_T count, void *user) {
  auto *source = static_cast<ReadSource *>(user);
  if (source->pos >= source->length)
    return static_cast<OPJ_SIZE_T>(-1); // end of stream
  const std::size_t available = source->length - source->pos;
  if (count > available)
    count = available;
  std::memcpy(buffer, source->data + source->pos, count);
  source->pos += count;
  return count;
}

OPJ_OFF_T Skip(OPJ_OFF_T count, void *user) {
  auto *source = static_cast<ReadSource *>(user);
  if (count < 0) {
    if (static_cast<std::size_t>(-count) > source->pos)
      return -1;
  } else if (static_cast<std::size_t>(count) > source->length - source->pos) {
    count = static_cast<OPJ_OFF_T>(source->length - source->pos);
  }
  source->pos = static_cast<std::size_t>(static_cast<OPJ_OFF_T>(source->pos) + count);
  return count;
}

OPJ_BOOL Seek(OPJ_OFF_T pos, void *user) {
  auto *source = static_cast<ReadSource *>(user);
  if (pos < 0 || static_cast<std::size_t>(pos) > source->length)
    return OPJ_FALSE;
  source->pos = static_cast<std::size_t>(pos);
  return OPJ_TRUE;
}

// The signature box that opens a JP2 file; a J2K codestream opens with SOC, SIZ.
constexpr std::uint8_t JP2_SIGNATURE[12] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};

int SampleBytes(OPJ_UINT32 precision) { return precision <= 8 ? 1 : precision <= 16 ? 2 : 4; }

std::uint64_t Big16(const std::uint8_t *p) { return std::uint64_t{p[0]} << 8 | p[1]; }
std::uint64_t Big32(const std::uint8_t *p) { return Big16(p) << 16 | Big16(p + 2); }

// False when a codestream's SIZ segment (right after SOC) announces an image
// larger than the slot. OpenJPEG's header reader sets up every tile the SIZ
// announces, which takes long for huge tile counts; this check comes first.
bool SizFits(const std::uint8_t *stream, std::size_t length, std::size_t destinationSize) {
  // SOC, SIZ marker, Lsiz, Rsiz, Xsiz, Ysiz, XOsiz, YOsiz, XTsiz, YTsiz,
  // XTOsiz, YTOsiz, Csiz, then Ssiz of the first component.
  constexpr std::size_t SSIZ0 = 4 + 2 + 2 + 8 * 4 + 2;
  if (length <= SSIZ0 || stream[0] != 0xFF || stream[1] != 0x4F || stream[2] != 0xFF || stream[3] != 0x51)
    return true; // not a bare codestream: left to OpenJPEG
  const std::uint64_t xsiz = Big32(stream + 8), ysiz = Big32(stream + 12);
  const std::uint64_t xosiz = Big32(stream + 16), yosiz = Big32(stream + 20);
  const std::uint64_t components = Big16(stream + SSIZ0 - 2);
  const auto precision = static_cast<OPJ_UINT32>((stream[SSIZ0] & 0x7F) + 1);
  if (xsiz <= xosiz || ysiz <= yosiz)
    return true; // OpenJPEG refuses it
  const std::uint64_t sampleBytes = components * static_cast<std::uint64_t>(SampleBytes(precision));
  if (sampleBytes == 0)
    return true; // OpenJPEG refuses it
  // width x height x sampleBytes <= destinationSize, without overflow.
  const std::uint64_t limit = destinationSize / sampleBytes;
  const std::uint64_t width = xsiz - xosiz, height = ysiz - yosiz;
  return width <= limit && height <= limit / width;
}

} // namespace

bool J2kDecode(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination, std::size_t destinationSize,
               int pixelRepresentation) {
  if (stream == nullptr || length == 0 || destination == nullptr)
    return false;
  if (!SizFits(stream, length, destinationSize))
    return false;
  const bool jp2 = length >= sizeof JP2_SIGNATURE && std::memcmp(stream, JP2_SIGNATURE, sizeof JP2_SIGNATURE) == 0;

  openjpeg::Codec codec(opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
  if (!codec)
    return false;
  openjpeg::SilenceMessages(codec.get());
  opj_dparameters_t settings;
  opj_set_default_decoder_parameters(&settings);
  if (!opj_setup_decoder(codec.get(), &settings))
    return false;
  // A cut codestream is a failed frame, not a blurred picture.
  if (!opj_decoder_set_strict_mode(codec.get(), OPJ_TRUE))
    return false;

  ReadSource source{stream, length};
  // The stream's read buffer need not be larger than the fragment.
  const std::size_t chunk = std::clamp<std::size_t>(length, 4096, OPJ_J2K_STREAM_CHUNK_SIZE);
  openjpeg::Stream input(opj_stream_create(chunk, OPJ_TRUE));
  if (!input)
    return false;
  opj_stream_set_read_function(input.get(), Read);
  opj_stream_set_skip_function(input.get(), Skip);
  opj_stream_set_seek_function(input.get(), Seek);
  opj_stream_set_user_data(input.get(), &source, nullptr);
  opj_stream_set_user_data_length(input.get(), length);

  opj_image_t *header = nullptr;
  const bool headerRead = opj_read_header(input.get(), codec.get(), &header);
  openjpeg::Image image(header);
  if (!headerRead || !image || image->numcomps == 0 || image->x1 <= image->x0 || image->y1 <= image->y0)
    return false;

  // The interleaved layout needs every component at full size with one
  // sample width; check that and the slot before anything is decoded.
  const std::size_t width = image->x1 - image->x0;
  const std::size_t height = image->y1 - image->y0;
  const std::size_t components = image->numcomps;
  const int sampleBytes = SampleBytes(image->comps[0].prec);
  for (std::size_t c = 0; c < components; ++c) {
    const opj_image_comp_t &comp = image->comps[c];
    if (comp.dx != 1 || comp.dy != 1 || SampleBytes(comp.prec) != sampleBytes || comp.prec == 0 || comp.prec > 32)
      return false;
  }
  if (width * height > destinationSize / components / static_cast<std::size_t>(sampleBytes))
    return false;

  if (!opj_decode(codec.get(), input.get(), image.get()) || !opj_end_decompress(codec.get(), input.get()))
    return false;

  for (std::size_t c = 0; c < components; ++c) {
    const opj_image_comp_t &comp = image->comps[c];
    if (comp.data == nullptr || comp.w != width || comp.h != height)
      return false;
  }
  const std::size_t step = components * static_cast<std::size_t>(sampleBytes);
  const std::size_t pixels = width * height;
  for (std::size_t c = 0; c < components; ++c) {
    const opj_image_comp_t &comp = image->comps[c];
    const OPJ_INT32 *data = comp.data;
    // Reinterpreting the stored bits when the data set's signedness rules.
    const bool toUnsigned = pixelRepresentation == 0 && comp.sgnd != 0;
    const bool toSigned = pixelRepresentation == 1 && comp.sgnd == 0 && comp.prec < 32;
    const std::uint32_t mask = comp.prec >= 32 ? 0xFFFFFFFFu : (std::uint32_t{1} << comp.prec) - 1;
    const std::uint32_t signBit = comp.prec >= 32 ? 0 : std::uint32_t{1} << (comp.prec - 1);
    std::uint8_t *out = destination + c * static_cast<std::size_t>(sampleBytes);
    for (std::size_t i = 0; i < pixels; ++i, out += step) {
      auto value = static_cast<std::uint32_t>(data[i]);
      if (toUnsigned)
        value &= mask;
      else if (toSigned && (value & signBit) != 0)
        value |= ~mask;
      out[0] = static_cast<std::uint8_t>(value);
      if (sampleBytes >= 2)
        out[1] = static_cast<std::uint8_t>(value >> 8);
      if (sampleBytes == 4) {
        out[2] = static_cast<std::uint8_t>(value >> 16);
        out[3] = static_cast<std::uint8_t>(value >> 24);
      }
    }
  }
  return true;
}

} // namespace fw
