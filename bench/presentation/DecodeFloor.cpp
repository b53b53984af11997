// decode_floor: the least a conversion of a JPEG clip to native pixels can
// cost on this machine. Reads the file as fwconvert does, then decodes every
// fragment with libjpeg-turbo alone (library defaults, RGB out for colour)
// on the given number of threads, each into one reused frame buffer, and
// writes nothing. convert_vs_dcmdjpeg.sh times it beside fwconvert.
//
//   decode_floor FILE [THREADS]
//
// Prints the frames decoded; exit status 1 when the file cannot be read or a
// frame does not decode.
#include "dicom/DcmObj.h"

#include <cstddef>
#include <cstdio>

extern "C" {
#include <jpeglib.h>
}

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

// One frame decoded into frame (grown to fit); false on a library error.
bool DecodeFrame(const fw::ValueBytes &stream, std::vector<std::uint8_t> &frame) {
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  // A damaged bench input ends the run; no recovery is needed here.
  errors.error_exit = [](j_common_ptr) { std::exit(1); };
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, stream.data(), static_cast<unsigned long>(stream.size()));
  jpeg_read_header(&info, TRUE);
  jpeg_start_decompress(&info);
  const std::size_t row = std::size_t{info.output_width} * info.output_components;
  frame.resize(row * info.output_height);
  while (info.output_scanline < info.output_height) {
    JSAMPROW line = frame.data() + row * info.output_scanline;
    jpeg_read_scanlines(&info, &line, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::cerr << "usage: decode_floor FILE [THREADS]\n";
    return 2;
  }
  const unsigned threads =
      argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : std::max(1u, std::thread::hardware_concurrency());
  fw::DcmObj ds;
  if (!ds.Read(argv[1]))
    return 1;
  // The fragments after the offset table item.
  std::vector<const fw::ValueBytes *> fragments;
  bool inPixels = false;
  bool offsetTable = true;
  for (std::size_t i = 0; i < ds.Count(); ++i) {
    const fw::DcmTag *t = ds.ElementAt(i);
    if (t == nullptr)
      continue;
    if (t->Is(0x7FE0, 0x0010) && t->length == fw::UNDEFINED_LENGTH) {
      inPixels = true;
    } else if (inPixels && t->Is(0xFFFE, 0xE000)) {
      if (!offsetTable)
        fragments.push_back(&t->data);
      offsetTable = false;
    }
  }
  if (fragments.empty())
    return 1;
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    std::vector<std::uint8_t> frame;
    for (std::size_t f = next++; f < fragments.size(); f = next++)
      DecodeFrame(*fragments[f], frame);
  };
  {
    std::vector<std::jthread> workers;
    for (unsigned t = 1; t < threads; ++t)
      workers.emplace_back(work);
    work();
  }
  std::cout << fragments.size() << " frames on " << threads << " threads\n";
  return 0;
}
