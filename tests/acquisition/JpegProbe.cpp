// libjpeg-turbo decoding for the capture tests.
#include "tests/acquisition/JpegProbe.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>

extern "C" {
#include <jpeglib.h>
}

namespace fw::test {
namespace turbo {
using ::j_common_ptr;
using ::JCS_RGB;
using ::jpeg_decompress_struct;
using ::jpeg_destroy_decompress;
using ::jpeg_error_mgr;
using ::jpeg_finish_decompress;
using ::jpeg_mem_src;
using ::jpeg_read_header;
using ::jpeg_read_scanlines;
using ::jpeg_start_decompress;
using ::jpeg_std_error;
using ::JSAMPROW;
} // namespace turbo

namespace {

struct ErrorManager {
  turbo::jpeg_error_mgr base;
  std::jmp_buf jump;
};

void OnError(turbo::j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorManager *>(info->err)->jump, 1); }
void OnMessage(turbo::j_common_ptr, int) {}

} // namespace

DecodedJpeg DecodeJpeg(const std::vector<std::uint8_t> &stream) {
  DecodedJpeg result;
  turbo::jpeg_decompress_struct info{};
  ErrorManager errors{};
  info.err = turbo::jpeg_std_error(&errors.base);
  errors.base.error_exit = OnError;
  errors.base.emit_message = OnMessage;
  if (setjmp(errors.jump) != 0) {
    turbo::jpeg_destroy_decompress(&info);
    return DecodedJpeg{};
  }
  jpeg_create_decompress(&info);
  turbo::jpeg_mem_src(&info, stream.data(), static_cast<unsigned long>(stream.size()));
  turbo::jpeg_read_header(&info, TRUE);
  result.width = static_cast<int>(info.image_width);
  result.height = static_cast<int>(info.image_height);
  result.components = info.num_components;
  for (int i = 0; i < info.num_components; ++i) {
    if (i > 0) {
      result.sampling.push_back(',');
    }
    result.sampling.append(std::to_string(info.comp_info[i].h_samp_factor));
    result.sampling.push_back('x');
    result.sampling.append(std::to_string(info.comp_info[i].v_samp_factor));
  }
  result.baseline = !info.progressive_mode && !info.arith_code && info.data_precision == 8;
  info.out_color_space = turbo::JCS_RGB;
  turbo::jpeg_start_decompress(&info);
  result.rgb.resize(static_cast<std::size_t>(result.width) * result.height * 3);
  while (info.output_scanline < info.output_height) {
    turbo::JSAMPROW row = result.rgb.data() + static_cast<std::size_t>(info.output_scanline) * result.width * 3;
    turbo::jpeg_read_scanlines(&info, &row, 1);
  }
  turbo::jpeg_finish_decompress(&info);
  turbo::jpeg_destroy_decompress(&info);
  result.ok = true;
  return result;
}

} // namespace fw::test
