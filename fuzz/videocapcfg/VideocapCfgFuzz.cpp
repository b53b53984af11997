// Fuzz target: "videocap.cfg" as found on disk, of any length. A file shorter
// than 16 bytes fills only the whole fields it holds; longer files are read
// for their first 16 bytes. A frame size beyond the largest allowed is read as
// the default size. Whatever was read must be written and read back unchanged.
#include "acquisition/CaptureConfig.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string ScratchPath(const char *tag) { return "/tmp/fuzz_videocapcfg." + std::to_string(::getpid()) + "." + tag; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const std::string input = ScratchPath("in");
  static const std::string output = ScratchPath("out");
  {
    std::ofstream file(input, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
  }
  const fw::CaptureConfig before{7, 8, 9, 10};
  fw::CaptureConfig config = before;
  if (!fw::ReadCaptureConfig(input, config))
    std::abort();

  // Field i comes from bytes 4i..4i+3 when the file holds them, else it keeps its value;
  // a frame size beyond the largest allowed becomes the default size.
  const std::int32_t *kept[] = {&before.tvFormat, &before.width, &before.height, &before.crossbarInput};
  const std::int32_t *read[] = {&config.tvFormat, &config.width, &config.height, &config.crossbarInput};
  std::int32_t expected[4];
  for (std::size_t i = 0; i < 4; ++i) {
    expected[i] = *kept[i];
    if (size >= 4 * (i + 1)) {
      const std::uint32_t raw = std::uint32_t(data[4 * i]) | std::uint32_t(data[4 * i + 1]) << 8 |
                                std::uint32_t(data[4 * i + 2]) << 16 | std::uint32_t(data[4 * i + 3]) << 24;
      std::memcpy(&expected[i], &raw, sizeof expected[i]);
    }
  }
  if (!fw::CaptureSizeAllowed(expected[1], expected[2])) {
    const fw::CaptureConfig defaults;
    expected[1] = defaults.width;
    expected[2] = defaults.height;
  }
  for (std::size_t i = 0; i < 4; ++i) {
    if (*read[i] != expected[i])
      std::abort();
  }

  if (!fw::WriteCaptureConfig(output, config))
    return 0;
  fw::CaptureConfig again;
  if (!fw::ReadCaptureConfig(output, again) || !(again == config))
    std::abort();
  return 0;
}
