// FrameSource: what an acquisition needs from its capture pipeline. The
// station's pipeline (MySampleGrabber) is wrapped by GrabberFrameSource;
// tests give their own.
//
// Threads: every call comes from the acquisition's thread. The frame count
// may be read while armed; the frames are taken only after StopCapture.
#pragma once

#include "acquisition/CaptureConfig.h"
#include "acquisition/EncodedFrame.h"

#include <cstdint>
#include <vector>

namespace fw {

class FrameSource {
public:
  virtual ~FrameSource() = default;

  // Builds and runs the pipeline; true when frames reach the callback.
  virtual bool BuildGraph(const CaptureConfig &config) = 0;
  virtual void ReleaseGraph() = 0;
  // Device settings, then a rebuild; writes the choice into config and
  // returns the result of the rebuild.
  virtual bool ConfigureDevice(CaptureConfig &config) = 0;
  // Arm the callback / disarm and hand the frame list over.
  virtual void StartCapture() = 0;
  virtual void StopCapture() = 0;
  virtual std::int32_t FrameCount() const = 0;
  // The frames collected since the last take, in capture order; the list is
  // empty afterwards.
  virtual std::vector<EncodedFrame> TakeFrames() = 0;
  virtual void ClearFrames() = 0;
  // The connected format.
  virtual int FrameWidth() const = 0;
  virtual int FrameHeight() const = 0;
  // Frames per second as a fraction; a numerator of 0 when unknown.
  virtual int FrameRateNumerator() const = 0;
  virtual int FrameRateDenominator() const = 0;
};

} // namespace fw
