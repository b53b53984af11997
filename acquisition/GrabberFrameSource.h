// GrabberFrameSource: the station's capture pipeline (MySampleGrabber) as the
// FrameSource of an acquisition, with the window that hosts its live video.
#pragma once

#include "acquisition/FrameSource.h"
#include "acquisition/MySampleGrabber.h"

class QWidget;

namespace fw {

class GrabberFrameSource final : public FrameSource {
public:
  // owner may be null (no live video area, as in fwacquire).
  GrabberFrameSource(MySampleGrabber &grabber, QWidget *owner) : grabber_(grabber), owner_(owner) {}

  bool BuildGraph(const CaptureConfig &config) override { return grabber_.BuildGraph(owner_, config); }
  void ReleaseGraph() override { grabber_.ReleaseGraph(); }
  bool ConfigureDevice(CaptureConfig &config) override { return grabber_.ConfigureDevice(owner_, config); }
  void StartCapture() override { grabber_.StartCapture(); }
  void StopCapture() override { grabber_.StopCapture(); }
  std::int32_t FrameCount() const override { return grabber_.FrameCount(); }
  std::vector<EncodedFrame> TakeFrames() override { return grabber_.TakeFrames(); }
  void ClearFrames() override { grabber_.ClearFrames(); }
  int FrameWidth() const override { return grabber_.FrameWidth(); }
  int FrameHeight() const override { return grabber_.FrameHeight(); }
  int FrameRateNumerator() const override { return grabber_.FrameRateNumerator(); }
  int FrameRateDenominator() const override { return grabber_.FrameRateDenominator(); }

private:
  MySampleGrabber &grabber_;
  QWidget *owner_;
};

} // namespace fw
