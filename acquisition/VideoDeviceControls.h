// The settings a video input device offers: its input connectors, its analog
// video standards and its frame sizes. The settings dialog and the pipeline
// talk to a device only through this interface; V4l2DeviceControls is the
// real one, tests use their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fw {

struct VideoInput {
  std::int32_t index = 0; // the value stored as crossbarInput
  std::string name;
};

struct VideoStandard {
  std::uint64_t v4l2Ids = 0; // V4L2 standard bits this entry stands for
  std::string name;
};

struct FrameSize {
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool operator==(const FrameSize &) const = default;
};

class VideoDeviceControls {
public:
  virtual ~VideoDeviceControls() = default;
  // Empty lists mean the device has no such setting.
  virtual std::vector<VideoInput> Inputs() = 0;
  virtual std::vector<VideoStandard> Standards() = 0;
  virtual std::vector<FrameSize> Sizes() = 0;
  virtual bool SetInput(std::int32_t index) = 0;
  virtual bool SetStandard(std::uint64_t v4l2Ids) = 0;
};

// A device with no settings at all (a GStreamer source given by description).
class NoDeviceControls : public VideoDeviceControls {
public:
  std::vector<VideoInput> Inputs() override { return {}; }
  std::vector<VideoStandard> Standards() override { return {}; }
  std::vector<FrameSize> Sizes() override { return sizes_; }
  bool SetInput(std::int32_t) override { return false; }
  bool SetStandard(std::uint64_t) override { return false; }

  explicit NoDeviceControls(std::vector<FrameSize> sizes = {}) : sizes_(std::move(sizes)) {}

private:
  std::vector<FrameSize> sizes_;
};

// A V4L2 device node: inputs through VIDIOC_ENUMINPUT / VIDIOC_S_INPUT,
// standards through VIDIOC_ENUMSTD / VIDIOC_S_STD. The node is opened for each
// call and closed again, so it is never held while the pipeline streams. The
// sizes come from the device's capabilities as GStreamer reports them.
class V4l2DeviceControls : public VideoDeviceControls {
public:
  V4l2DeviceControls(std::string devicePath, std::vector<FrameSize> sizes);
  std::vector<VideoInput> Inputs() override;
  std::vector<VideoStandard> Standards() override;
  std::vector<FrameSize> Sizes() override { return sizes_; }
  bool SetInput(std::int32_t index) override;
  bool SetStandard(std::uint64_t v4l2Ids) override;

private:
  std::string path_;
  std::vector<FrameSize> sizes_;
};

} // namespace fw
