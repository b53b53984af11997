// Owners of OpenJPEG's codec, stream and image objects, so every way out of
// an entry point releases them. Private to the codec library.
#pragma once

#include <openjpeg.h>

#include <memory>

namespace fw::openjpeg {

struct CodecDeleter {
  void operator()(opj_codec_t *codec) const { opj_destroy_codec(codec); }
};
struct StreamDeleter {
  void operator()(opj_stream_t *stream) const { opj_stream_destroy(stream); }
};
struct ImageDeleter {
  void operator()(opj_image_t *image) const { opj_image_destroy(image); }
};

using Codec = std::unique_ptr<opj_codec_t, CodecDeleter>;
using Stream = std::unique_ptr<opj_stream_t, StreamDeleter>;
using Image = std::unique_ptr<opj_image_t, ImageDeleter>;

// OpenJPEG reports through these; the entry points turn failures into
// results and log nothing, so the messages are dropped.
inline void Quiet(const char *, void *) {}

inline void SilenceMessages(opj_codec_t *codec) {
  opj_set_info_handler(codec, Quiet, nullptr);
  opj_set_warning_handler(codec, Quiet, nullptr);
  opj_set_error_handler(codec, Quiet, nullptr);
}

} // namespace fw::openjpeg
