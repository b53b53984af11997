// What the acquisition window asks of the acquisition behind it. The window
// only turns events into these calls and shows the state they leave; the
// acquisition itself (identifiers, capture, objects, send, deletion) lives
// behind this interface and is tested without a display.
#pragma once

#include "acquisition/CaptureConfig.h"
#include "acquisition/EncodedFrame.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace fw {

class MySampleGrabber;

// What the acquisition reports as it happens, on the thread that called it
// (the window's). Empty members report nothing.
struct AcquisitionEvents {
  std::function<void()> filesChanged;            // an object was added, or the closing emptied the list
  std::function<void(bool recording)> recording; // a clip started or ended
  std::function<void(bool sending)> sending;     // a send started or ended
};

// The object saved last and the first frame it was made from, for its
// thumbnail.
struct NewestObject {
  std::string path; // empty when none was saved since the opening
  std::int32_t instanceNumber = 0;
  std::int32_t frames = 0;
  // As captured; owned by the acquisition and valid until its next call.
  const EncodedFrame *firstFrame = nullptr;
};

class AcquisitionControl {
public:
  virtual ~AcquisitionControl() = default;

  // The opening: identifiers minted and logged, capture configuration read,
  // pipeline built with its live video inside videoOwner. A missing device
  // leaves PipelineReady() false without a message.
  virtual void Open(QWidget *videoOwner) = 0;
  // True when the acquisition may close now; may ask the operator first
  // (images never stored on the PACS).
  virtual bool MayClose() = 0;
  // The closing: pipeline released, the acquisition's files deleted.
  virtual void Close() = 0;

  // A still; nothing while recording, sending or without a pipeline.
  virtual void Snap() = 0;
  // Starts a clip; nothing while recording, sending or without a pipeline.
  virtual void Video() = 0;
  // The window's timer, every second: ends a clip on its fifth tick.
  virtual void Tick() = 0;
  // The device's settings, then the configuration file written.
  virtual void Configure(QWidget *owner) = 0;
  // Stores the acquisition on the PACS and shows the result box; progress
  // gets 0..100 as files are stored. Pending events run between files.
  virtual void Send(const std::function<void(int percent)> &progress) = 0;
  // Called from the pending events of a running Send: the send stops within
  // moments and keeps every file not sent. Nothing when no send runs.
  virtual void CancelSend() {}
  // The capture device failed while running: no more capture; a clip in
  // progress is saved with the frames it has.
  virtual void CaptureStopped() = 0;

  // Replaces the receivers of the events (AcquisitionEvents{} to stop them).
  virtual void SetEvents(AcquisitionEvents events) = 0;

  // The capture configuration of this opening: read at the opening, changed
  // by Configure.
  virtual const CaptureConfig &Capture() const = 0;
  // Files written since the opening, in order.
  virtual std::vector<std::string> FileList() const = 0;
  virtual NewestObject Newest() const = 0;
  virtual bool PipelineReady() const = 0;
  virtual bool Recording() const = 0;
  virtual bool Sending() const = 0;
  // The pipeline of this opening, or nullptr (before the opening, no device).
  virtual MySampleGrabber *Grabber() = 0;
};

} // namespace fw
