// J2kEncode: interleaved samples to a raw J2K codestream in memory.
#include "dicom/codec/J2kCodec.h"
#include "dicom/codec/OpenJpegHandles.h"

#include <algorithm>
#include <cstring>

namespace fw {

namespace {

// The codestream grows in the caller's vector; OpenJPEG may seek back to
// patch lengths it wrote earlier.
struct WriteTarget {
  std::vector<std::uint8_t> &bytes;
  std::size_t pos = 0;
};

OPJ_SIZE_T Write(void *buffer, OPJ_SIZE_T count, void *user) {
  auto *target = static_cast<WriteTarget *>(user);
  if (target->bytes.size() < target->pos + count)
    target->bytes.resize(target->pos + count);
  std::memcpy(target->bytes.data() + target->pos, buffer, count);
  target->pos += count;
  return count;
}

OPJ_OFF_T Skip(OPJ_OFF_T count, void *user) {
  auto *target = static_cast<WriteTarget *>(user);
  if (count < 0 && static_cast<std::size_t>(-count) > target->pos)
    return -1;
  target->pos = static_cast<std::size_t>(static_cast<OPJ_OFF_T>(target->pos) + count);
  return count;
}

OPJ_BOOL Seek(OPJ_OFF_T pos, void *user) {
  if (pos < 0)
    return OPJ_FALSE;
  static_cast<WriteTarget *>(user)->pos = static_cast<std::size_t>(pos);
  return OPJ_TRUE;
}

// OpenJPEG's default of 6 resolutions needs 32 pixels in each direction;
// smaller images get as many as they can hold.
int Resolutions(int width, int height) {
  const int smaller = std::min(width, height);
  int resolutions = 1;
  while (resolutions < 6 && (1 << resolutions) <= smaller)
    ++resolutions;
  return resolutions;
}

int SampleBytes(int bits) { return bits <= 8 ? 1 : bits <= 16 ? 2 : 4; }

} // namespace

std::string J2kComment() { return std::string("Created by OpenJPEG version ") + opj_version(); }

bool J2kEncode(const std::uint8_t *samples, const ImageShape &shape, int bits, int rate,
               std::vector<std::uint8_t> &output) {
  const auto [width, height, components] = shape;
  if (components != 1 && components != 3)
    return false;
  if (samples == nullptr || width <= 0 || height <= 0 || bits < 1 || bits > J2K_MAX_BITS || rate < 0)
    return false;

  opj_image_cmptparm_t parameters[3] = {};
  for (int c = 0; c < components; ++c) {
    parameters[c].dx = 1;
    parameters[c].dy = 1;
    parameters[c].w = static_cast<OPJ_UINT32>(width);
    parameters[c].h = static_cast<OPJ_UINT32>(height);
    parameters[c].prec = static_cast<OPJ_UINT32>(bits);
    parameters[c].sgnd = 0;
  }
  openjpeg::Image image(opj_image_create(static_cast<OPJ_UINT32>(components), parameters,
                                         components == 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY));
  if (!image)
    return false;
  image->x0 = 0;
  image->y0 = 0;
  image->x1 = static_cast<OPJ_UINT32>(width);
  image->y1 = static_cast<OPJ_UINT32>(height);

  // Samples above the precision would not survive the codestream: keep
  // the bits the image declares.
  const std::uint64_t mask = (std::uint64_t{1} << bits) - 1;
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  const int sampleBytes = SampleBytes(bits);
  for (int c = 0; c < components; ++c) {
    OPJ_INT32 *data = image->comps[c].data;
    const std::uint8_t *in = samples + static_cast<std::size_t>(c) * sampleBytes;
    const std::size_t step = static_cast<std::size_t>(components) * sampleBytes;
    for (std::size_t i = 0; i < pixels; ++i, in += step) {
      std::uint32_t value = in[0];
      if (sampleBytes >= 2)
        value |= static_cast<std::uint32_t>(in[1]) << 8;
      if (sampleBytes == 4)
        value |= static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
      data[i] = static_cast<OPJ_INT32>(value & mask);
    }
  }

  opj_cparameters_t settings;
  opj_set_default_encoder_parameters(&settings);
  settings.tcp_numlayers = 1;
  settings.tcp_rates[0] = static_cast<float>(rate);
  settings.cp_disto_alloc = 1;
  settings.numresolution = Resolutions(width, height);
  settings.tcp_mct = 0; // colour stays RGB, as the data set says
  std::string comment = J2kComment();
  settings.cp_comment = comment.data();

  openjpeg::Codec codec(opj_create_compress(OPJ_CODEC_J2K));
  if (!codec)
    return false;
  openjpeg::SilenceMessages(codec.get());
  if (!opj_setup_encoder(codec.get(), &settings, image.get()))
    return false;

  output.clear();
  WriteTarget target{output};
  openjpeg::Stream stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE));
  if (!stream)
    return false;
  opj_stream_set_write_function(stream.get(), Write);
  opj_stream_set_skip_function(stream.get(), Skip);
  opj_stream_set_seek_function(stream.get(), Seek);
  opj_stream_set_user_data(stream.get(), &target, nullptr);

  if (!opj_start_compress(codec.get(), image.get(), stream.get()) || !opj_encode(codec.get(), stream.get()) ||
      !opj_end_compress(codec.get(), stream.get()))
    return false;
  // The stream writes out its buffer at the end-of-codestream marker; the
  // vector's size is the furthest byte written.
  if (output.empty())
    return false;
  if (output.size() % 2 != 0)
    output.push_back(0x00);
  return true;
}

} // namespace fw
