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

inline constexpr std::size_t CAPTURE_CONFIG_FILE_SIZE = 16;

// The largest frame the station asks a device for (8K UHD). A larger size
// is never handed to GStreamer: a test source told to make 30000 x 30000
// frames allocates gigabytes per frame and crashes the station.
inline constexpr std::int32_t MAX_CAPTURE_WIDTH = 7680;
inline constexpr std::int32_t MAX_CAPTURE_HEIGHT = 4320;

// Whether a device may be asked for this size: within the largest frame.
// Sizes of 0 or below are not asked for at all (the device's own is used)
// and pass.
bool CaptureSizeAllowed(std::int32_t width, std::int32_t height);

// programFolder + "videocap.cfg".
std::string CaptureConfigPath();

// Reads the file into config. When it cannot be opened, config becomes the
// defaults (1, 640, 480, 0). A shorter file fills only the fields it holds
// completely; the others keep the values config had. A size beyond
// MAX_CAPTURE_WIDTH x MAX_CAPTURE_HEIGHT is refused: width and height become
// the defaults (640 x 480) and an ERROR line names the file and the size.
// Returns whether the file was opened.
bool ReadCaptureConfig(const std::string &path, CaptureConfig &config);

// Creates or truncates the file and writes the 16 bytes; false when it cannot
// be written.
bool WriteCaptureConfig(const std::string &path, const CaptureConfig &config);

} // namespace fw
