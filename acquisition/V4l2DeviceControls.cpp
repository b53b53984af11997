// V4L2 implementation of the device settings.
#include "acquisition/VideoDeviceControls.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fw {
namespace {

// An open device node, closed on scope exit.
class DeviceNode {
public:
  explicit DeviceNode(const std::string &path) : fd_(path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NONBLOCK)) {}
  ~DeviceNode() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  DeviceNode(const DeviceNode &) = delete;
  DeviceNode &operator=(const DeviceNode &) = delete;

  bool ok() const { return fd_ >= 0; }

  template <typename T> bool Ioctl(unsigned long request, T *arg) const {
    int rc;
    do {
      rc = ::ioctl(fd_, request, arg);
    } while (rc < 0 && errno == EINTR);
    return rc == 0;
  }

private:
  int fd_;
};

// Driver strings are fixed arrays that need not be terminated.
template <std::size_t N> std::string FixedText(const __u8 (&text)[N]) {
  const auto *begin = reinterpret_cast<const char *>(text);
  return std::string(begin, ::strnlen(begin, N));
}

// Enumerations end at the first index the driver refuses; the bound only
// guards against a driver that never does.
constexpr std::uint32_t kMaxEntries = 256;

} // namespace

V4l2DeviceControls::V4l2DeviceControls(std::string devicePath, std::vector<FrameSize> sizes)
    : path_(std::move(devicePath)), sizes_(std::move(sizes)) {}

std::vector<VideoInput> V4l2DeviceControls::Inputs() {
  std::vector<VideoInput> inputs;
  DeviceNode node(path_);
  if (!node.ok()) {
    return inputs;
  }
  for (std::uint32_t i = 0; i < kMaxEntries; ++i) {
    v4l2_input input{};
    input.index = i;
    if (!node.Ioctl(VIDIOC_ENUMINPUT, &input)) {
      break;
    }
    inputs.push_back({static_cast<std::int32_t>(input.index), FixedText(input.name)});
  }
  return inputs;
}

std::vector<VideoStandard> V4l2DeviceControls::Standards() {
  std::vector<VideoStandard> standards;
  DeviceNode node(path_);
  if (!node.ok()) {
    return standards;
  }
  for (std::uint32_t i = 0; i < kMaxEntries; ++i) {
    v4l2_standard standard{};
    standard.index = i;
    if (!node.Ioctl(VIDIOC_ENUMSTD, &standard)) {
      break;
    }
    standards.push_back({standard.id, FixedText(standard.name)});
  }
  return standards;
}

bool V4l2DeviceControls::SetInput(std::int32_t index) {
  DeviceNode node(path_);
  int value = index;
  return node.ok() && node.Ioctl(VIDIOC_S_INPUT, &value);
}

bool V4l2DeviceControls::SetStandard(std::uint64_t v4l2Ids) {
  DeviceNode node(path_);
  v4l2_std_id id = v4l2Ids;
  return node.ok() && node.Ioctl(VIDIOC_S_STD, &id);
}

} // namespace fw
