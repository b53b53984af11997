// CaptureDevices: finding the video source the capture pipeline reads.
//
// The source is the FRAMEWELL_VIDEO_SOURCE description when that variable is
// set and not empty (tests, support, demos; a source without device
// settings), else the first "Video/Source" device GStreamer's device monitor
// reports, with its V4L2 settings (device node and discrete frame sizes).
//
// Threads: the window's thread (or the tool's main thread) only.
#pragma once

#include "acquisition/GstHandles.h"
#include "acquisition/VideoDeviceControls.h"

#include <memory>

namespace fw {

// Initialises GStreamer once per process; false when it cannot start.
bool InitGStreamer();

struct CaptureSource {
  gst::Element element;                          // empty when there is no source
  std::unique_ptr<VideoDeviceControls> controls; // set with element
};

// The source element (state NULL, owned) and its settings; an empty element
// when no description is set and no video input device is present.
CaptureSource OpenCaptureSource();

} // namespace fw
