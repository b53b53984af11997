// "videocap.cfg": reading and writing the 16-byte capture configuration.
#include "acquisition/CaptureConfig.h"

#include "base/Log.h"
#include "base/ProgramFolder.h"

#include <array>
#include <fstream>

namespace fw {

namespace {

std::int32_t ReadLe32(const unsigned char *p) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                   static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

void WriteLe32(unsigned char *p, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) {
    p[i] = static_cast<unsigned char>(v >> (8 * i));
  }
}

} // namespace

bool CaptureSizeAllowed(std::int32_t width, std::int32_t height) {
  return width <= MAX_CAPTURE_WIDTH && height <= MAX_CAPTURE_HEIGHT;
}

std::string CaptureConfigPath() { return programFolder + "videocap.cfg"; }

bool ReadCaptureConfig(const std::string &path, CaptureConfig &config) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    config = CaptureConfig{};
    return false;
  }
  std::array<unsigned char, CAPTURE_CONFIG_FILE_SIZE> bytes{};
  in.read(reinterpret_cast<char *>(bytes.data()), bytes.size());
  const auto got = static_cast<std::size_t>(in.gcount());
  std::int32_t *fields[] = {&config.tvFormat, &config.width, &config.height, &config.crossbarInput};
  // Only whole fields are taken: a partial one keeps its previous value too.
  for (std::size_t i = 0; i < 4 && (i + 1) * 4 <= got; ++i) {
    *fields[i] = ReadLe32(bytes.data() + i * 4);
  }
  if (!CaptureSizeAllowed(config.width, config.height)) {
    const CaptureConfig defaults;
    WriteLog("ERROR, ReadCaptureConfig, " + path + " frame size " + std::to_string(config.width) + "x" +
             std::to_string(config.height) + " is larger than " + std::to_string(MAX_CAPTURE_WIDTH) + "x" +
             std::to_string(MAX_CAPTURE_HEIGHT) + "; " + std::to_string(defaults.width) + "x" +
             std::to_string(defaults.height) + " used instead");
    config.width = defaults.width;
    config.height = defaults.height;
  }
  return true;
}

bool WriteCaptureConfig(const std::string &path, const CaptureConfig &config) {
  std::array<unsigned char, CAPTURE_CONFIG_FILE_SIZE> bytes{};
  WriteLe32(bytes.data(), config.tvFormat);
  WriteLe32(bytes.data() + 4, config.width);
  WriteLe32(bytes.data() + 8, config.height);
  WriteLe32(bytes.data() + 12, config.crossbarInput);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    return false;
  }
  out.write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
  return static_cast<bool>(out.flush());
}

} // namespace fw
