// CapsChoice: which frames the capture pipeline asks its source for, and the
// frame layout it got.
//
//   order  media         size              rate
//   1      video/x-raw   configured (a)    20 fps or more (a live rate)
//   2      image/jpeg    configured (a)    any (devices that give their larger
//                                          sizes only as JPEG)
//   3      video/x-raw   configured (a)    any
//   (a) only when askSize; otherwise the device's own size.
//
// The first form the source offers is chosen. The source must be in READY so
// a device reports its real capabilities.
//
// Threads: the window's thread (or the tool's main thread) only.
#pragma once

#include "acquisition/CaptureConfig.h"
#include "acquisition/GstHandles.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace fw {

// The forms of the table above, most wanted first.
std::vector<gst::Caps> WantedForms(const CaptureConfig &config, bool askSize);

// The first wanted form the source's "src" pad offers, or empty.
gst::Caps ChooseForm(GstElement *source, const CaptureConfig &config, bool askSize);

// Whether a chosen form is JPEG (decoded before the conversion).
bool IsJpegForm(const GstCaps *form);

// The layout of the top-down BGR frames the pipeline delivers.
struct BgrLayout {
  int width = 0;
  int height = 0;
  std::size_t stride = 0;
  // Frames per second as a fraction; 0/1 for a variable rate.
  int rateNumerator = 0;
  int rateDenominator = 1;
};

// The layout of negotiated caps; empty unless they are BGR video of a
// positive size.
std::optional<BgrLayout> BgrLayoutOf(const GstCaps *caps);

} // namespace fw
