// Bare calls of the IJG 16-bit build for the codec benchmark, with the
// smallest memory destination and source that build needs.
#include "bench/codec/BareLibraries.h"

#include <cstddef>
#include <cstdio>

namespace ijg16 {
extern "C" {
#include <gdcm-3.0/gdcmjpeg/16/jpeglib.h>
}
} // namespace ijg16

namespace bare {

using namespace ijg16;

namespace {

void NoInit(j_compress_ptr) {}
boolean NoEmpty(j_compress_ptr) { return FALSE; } // the buffer is large enough
void NoTerm(j_compress_ptr) {}
void NoInitSource(j_decompress_ptr) {}
boolean NoFill(j_decompress_ptr) { return FALSE; }
void Skip(j_decompress_ptr cinfo, long count) {
  cinfo->src->next_input_byte += count;
  cinfo->src->bytes_in_buffer -= static_cast<std::size_t>(count);
}
void NoTermSource(j_decompress_ptr) {}

} // namespace

std::size_t Ijg16Encode(int width, int height, const std::uint8_t *samples, std::vector<std::uint8_t> &output) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  output.resize(static_cast<std::size_t>(width) * height * 3 + 4096);
  jpeg_destination_mgr dest{output.data(), output.size(), NoInit, NoEmpty, NoTerm};
  cinfo.dest = &dest;
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 1;
  cinfo.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  jpeg_simple_lossless(&cinfo, 1, 0);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    // 16-bit words as they lie in memory (little-endian machine).
    auto row = reinterpret_cast<JSAMPROW>(const_cast<std::uint8_t *>(samples) +
                                          static_cast<std::size_t>(width) * 2 * cinfo.next_scanline);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  const std::size_t size = output.size() - dest.free_in_buffer;
  jpeg_destroy_compress(&cinfo);
  output.resize(size);
  return size;
}

bool Ijg16Decode(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_source_mgr src{stream, length, NoInitSource, NoFill, Skip, jpeg_resync_to_restart, NoTermSource};
  cinfo.src = &src;
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  const std::size_t stride = static_cast<std::size_t>(cinfo.output_width) * cinfo.output_components * 2;
  while (cinfo.output_scanline < cinfo.output_height) {
    auto row = reinterpret_cast<JSAMPROW>(destination + stride * cinfo.output_scanline);
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

} // namespace bare
