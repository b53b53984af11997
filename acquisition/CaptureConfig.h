// The capture configuration and its file "videocap.cfg": four 32-bit
// little-endian signed integers (tvFormat, width, height, crossbarInput), 16
// bytes, no header. Read once per opening of the acquisition window and written
// after Configuration.
#pragma once

#include <cstdint>
#include <string>

namespace fw {

struct CaptureConfig {
  std::int32_t tvFormat = 1;      // analog video standard, DirectShow code (AnalogVideo_NTSC_M)
  std::int32_t width = 640;       // requested frame width; also the live video area's width
  std::int32_t height = 480;      // requested frame height; also the live video area's height
  std::int32_t crossbarInput = 0; // video input connector routed to the decoder

  bool operator==(const CaptureConfig &) const = default;
};

// The process-wide configuration the acquisition window reads and writes.
extern CaptureConfig captureConfig;

inline constexpr std::size_t CAPTURE_CONFIG_FILE_SIZE = 16;

// programFolder + "videocap.cfg".
std::string CaptureConfigPath();

// Reads the file into config. When it cannot be opened, config becomes the
// defaults (1, 640, 480, 0). A shorter file fills only the fields it holds
// completely; the others keep the values config had. Returns whether the file
// was opened.
bool ReadCaptureConfig(const std::string &path, CaptureConfig &config);

// Creates or truncates the file and writes the 16 bytes; false when it cannot
// be written.
bool WriteCaptureConfig(const std::string &path, const CaptureConfig &config);

} // namespace fw
