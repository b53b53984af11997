// The capture facade the acquisition uses: live video from the first video
// input device, with every frame passed to the frame callback (SGCallback).
//
//   <device source> ! capsfilter [! jpegdec] ! videoconvert ! appsink caps=video/x-raw,format=BGR
//
// The parts: CaptureDevices.h finds the source (the first "Video/Source"
// device GStreamer's device monitor reports, or the source description in
// FRAMEWELL_VIDEO_SOURCE for tests, support and demos), CapsChoice.h decides
// which frames to ask for, CapturePipeline.h assembles, runs and stops the
// pipeline and watches its bus; this class applies the device settings,
// keeps the live video area and decides what a device failure does.
//
// The configured frame size is asked for first; a device that cannot deliver
// it (or a configured width or height of 0) runs at its own size. Raw video
// at a live rate is preferred; a device that offers the size only as JPEG
// (common for 1080p on USB) is decoded before the conversion. The connected
// size and row stride come from the negotiated caps. The live video is
// painted into a child widget of the owner window, placed at the configured
// size (the window may fit it elsewhere).
//
// Starting waits at most START_TIMEOUT_MS for the first frame. A device that
// fails once running (unplugged, driver error, end of stream) is noticed on
// the pipeline's bus by the window's event loop: the pipeline is stopped, one
// line "ERROR, capture device stopped, " + reason is logged and the stopped
// handler is called; Running() stays true (the frames collected so far can
// still be read) but DeviceStopped() is true and StopCapture does nothing.
//
// Threads: everything here runs on the window's thread except the frame
// handler, which runs on the streaming thread and calls SGCallback::BufferCB.
// Once the pipeline's state change to PAUSED or NULL has returned, no frame
// handler runs: StopCapture relies on that to hand the frame list over.
#pragma once

#include "acquisition/CaptureConfig.h"
#include "acquisition/SGCallback.h"
#include "acquisition/VideoDeviceControls.h"
#include "acquisition/VideoPreviewWidget.h"

#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;
typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;
typedef struct _GstSample GstSample;

namespace fw {

class CapturePipeline;
class CaptureSettingsDialog;

class MySampleGrabber {
public:
  MySampleGrabber();
  ~MySampleGrabber();
  MySampleGrabber(const MySampleGrabber &) = delete;
  MySampleGrabber &operator=(const MySampleGrabber &) = delete;

  // Builds, configures and runs the pipeline; true when frames reach the
  // callback. Any failure (no device among them) gives false and logs nothing.
  // owner may be null (no live video area).
  bool BuildGraph(QWidget *owner, const CaptureConfig &config);

  // Stops the pipeline and releases it, its device and the live video area.
  void ReleaseGraph();

  // Shows the device's settings, writes the choice into config and rebuilds
  // the pipeline; returns the result of the rebuild. An exception is logged
  // as "ERROR, Setting Video Configuration" and gives false.
  bool ConfigureDevice(QWidget *owner, CaptureConfig &config);

  // Arms the callback: from now on every frame is compressed and collected.
  void StartCapture();

  // Disarms, stops the pipeline (no callback runs once that returns), waits
  // 100 ms and runs it again. Afterwards the frame list is stable.
  void StopCapture();

  void ClearFrames() { callback_.ClearFrames(); }
  std::int32_t FrameCount() const { return callback_.FrameCount(); }
  // Only after StopCapture (or ReleaseGraph).
  const std::vector<EncodedFrame> &Frames() const { return callback_.Frames(); }
  std::vector<EncodedFrame> TakeFrames() { return callback_.TakeFrames(); }
  int FrameWidth() const { return frameWidth_; }
  int FrameHeight() const { return frameHeight_; }
  // The negotiated frame rate as a fraction; 0/1 when the source does not
  // say (a variable rate).
  int FrameRateNumerator() const { return frameRateN_; }
  int FrameRateDenominator() const { return frameRateD_; }
  bool Running() const { return pipeline_ != nullptr; }
  // The running device failed or ended since the pipeline was built.
  bool DeviceStopped() const { return stopped_; }
  // Called on the window's thread when the running device fails.
  void SetStoppedHandler(std::function<void()> handler);

  SGCallback &Callback() { return callback_; }
  VideoPreviewWidget *Preview() const { return preview_; }
  // Frames the pipeline has delivered since the grabber was created, armed
  // or not (tests, diagnostics).
  long long DeliveredFrames() { return latestFrame_.Serial(); }

  // Device settings used instead of the device's own (tests).
  void SetDeviceControls(std::unique_ptr<VideoDeviceControls> controls);
  // Runs the settings dialog; the default shows it modally (tests answer it).
  void SetSettingsDialogRunner(std::function<int(CaptureSettingsDialog &)> runner);
  // Called with the pipeline after it is assembled and before it starts
  // (tests feeding an appsrc, diagnostics).
  void SetPipelineHook(std::function<void(GstElement *pipeline)> hook);

  // An element of the running pipeline by name (searched recursively), with
  // a new reference; nullptr when absent.
  GstElement *FindElement(const char *name) const;

  // How long BuildGraph waits for the first frame of a starting source.
  static constexpr int START_TIMEOUT_MS = 3000;
  // The pause StopCapture makes between stopping and running again.
  static constexpr int STOP_PAUSE_MS = 100;

private:
  enum class StartResult { Started, Failed, TimedOut };
  StartResult TryStart(QWidget *owner, const CaptureConfig &config, bool askSize,
                       std::chrono::steady_clock::time_point deadline);
  void ApplyDeviceSettings(const CaptureConfig &config);
  void ShowPreview(QWidget *owner, const CaptureConfig &config);
  void OnBusMessage(GstMessage *message);
  // Streaming thread: one frame, borrowed for the call.
  void OnFrame(GstSample *sample);
  void TearDown();
  VideoDeviceControls *ActiveControls() const;

  std::unique_ptr<CapturePipeline> pipeline_;
  QPointer<VideoPreviewWidget> preview_;
  // The newest frame, for the live video area.
  LatestFrame latestFrame_;
  std::unique_ptr<VideoDeviceControls> deviceControls_;   // of the current device
  std::unique_ptr<VideoDeviceControls> overrideControls_; // SetDeviceControls
  std::function<int(CaptureSettingsDialog &)> runDialog_;
  std::function<void(GstElement *)> pipelineHook_;
  std::function<void()> onStopped_;
  bool stopped_ = false;
  int frameWidth_ = 0;
  int frameHeight_ = 0;
  int frameRateN_ = 0;
  int frameRateD_ = 1;
  SGCallback callback_;
};

} // namespace fw
