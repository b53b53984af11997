// Finding the capture source: a description from the environment or the
// first video input device.
#include "acquisition/CaptureDevices.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace fw {

bool InitGStreamer() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] { ok = gst_init_check(nullptr, nullptr, nullptr) == TRUE; });
  return ok;
}

namespace {

// The discrete frame sizes among caps, in the order listed, each once.
std::vector<FrameSize> DiscreteSizes(const GstCaps *caps) {
  std::vector<FrameSize> sizes;
  if (caps == nullptr) {
    return sizes;
  }
  for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
    const GstStructure *s = gst_caps_get_structure(caps, i);
    int w = 0;
    int h = 0;
    if (gst_structure_get_int(s, "width", &w) && gst_structure_get_int(s, "height", &h) && w > 0 && h > 0) {
      const FrameSize size{w, h};
      if (std::find(sizes.begin(), sizes.end(), size) == sizes.end()) {
        sizes.push_back(size);
      }
    }
  }
  return sizes;
}

// The device node of a V4L2 device, from the properties its provider sets;
// empty when none is an absolute path.
std::string DevicePath(GstDevice *device) {
  const gst::Structure props(gst_device_get_properties(device));
  if (!props) {
    return {};
  }
  for (const char *key : {"api.v4l2.path", "device.path", "object.path"}) {
    const char *value = gst_structure_get_string(props.get(), key);
    if (value != nullptr && value[0] == '/') {
      return value;
    }
  }
  return {};
}

CaptureSource SourceFromDescription(const char *description) {
  GError *error = nullptr;
  GstElement *bin = gst_parse_bin_from_description(description, TRUE, &error);
  const gst::Error dropped(error); // a description that does not parse is no source
  CaptureSource source{gst::Sink(bin), nullptr};
  if (source.element) {
    source.controls = std::make_unique<NoDeviceControls>();
  }
  return source;
}

CaptureSource FirstVideoDevice() {
  const gst::DeviceMonitor monitor(gst_device_monitor_new());
  gst_device_monitor_add_filter(monitor.get(), "Video/Source", nullptr);
  const gst::ObjectList devices(gst_device_monitor_get_devices(monitor.get()));
  if (!devices) {
    return {};
  }
  auto *first = GST_DEVICE(devices->data);
  CaptureSource source{gst::Sink(gst_device_create_element(first, "CaptureFilter")), nullptr};
  if (source.element) {
    const gst::Caps caps(gst_device_get_caps(first));
    source.controls = std::make_unique<V4l2DeviceControls>(DevicePath(first), DiscreteSizes(caps.get()));
  }
  return source;
}

} // namespace

CaptureSource OpenCaptureSource() {
  const char *description = std::getenv("FRAMEWELL_VIDEO_SOURCE");
  if (description != nullptr && description[0] != '\0') {
    return SourceFromDescription(description);
  }
  return FirstVideoDevice();
}

} // namespace fw
