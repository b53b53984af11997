// StationAcquisition: the acquisition window's AcquisitionControl on the
// station's own acquisition: an AcquisitionSession over the capture pipeline
// (the first video device, or the source in FRAMEWELL_VIDEO_SOURCE). All the
// logic (identifiers, the close question, Snap's wait, the send and its
// result box) is the session's; this class hands the window's calls on,
// hosts the live video in the window given at the opening and lets the
// window's event loop run between the files of a send. The session's
// callbacks are the window's events (SetEvents); the capture configuration
// the window places the live video by is the session's (Capture()).
#pragma once

#include "acquisition/AcquisitionControl.h"
#include "acquisition/AcquisitionSession.h"
#include "acquisition/GrabberFrameSource.h"
#include "acquisition/MySampleGrabber.h"

#include <memory>

namespace fw {

class StationAcquisition final : public AcquisitionControl {
public:
  // setup.grabber is replaced by this object's own pipeline; without
  // setup.messages the boxes go through ShowMessage.
  explicit StationAcquisition(AcquisitionSessionSetup setup);
  ~StationAcquisition() override;
  StationAcquisition(const StationAcquisition &) = delete;
  StationAcquisition &operator=(const StationAcquisition &) = delete;

  void Open(QWidget *videoOwner) override;
  // Closes the session when it may (asking about unsent images): the
  // session asks and deletes in one step.
  bool MayClose() override;
  void Close() override;
  void Snap() override;
  void Video() override;
  void Tick() override;
  void Configure(QWidget *owner) override;
  void Send(const std::function<void(int percent)> &progress) override;
  void CancelSend() override { session_->CancelSend(); }
  void CaptureStopped() override;
  void SetEvents(AcquisitionEvents events) override;

  const CaptureConfig &Capture() const override { return session_->Capture(); }

  std::vector<std::string> FileList() const override;
  NewestObject Newest() const override;
  bool PipelineReady() const override { return session_->PipelineReady(); }
  bool Recording() const override { return session_->Recording(); }
  bool Sending() const override { return session_->Sending(); }
  // The pipeline, built or not; its live video area is null without one.
  MySampleGrabber *Grabber() override { return &grabber_; }

  AcquisitionSession &Session() { return *session_; }
  const AcquisitionSession &Session() const { return *session_; }

private:
  MySampleGrabber grabber_;
  GrabberFrameSource source_{grabber_, nullptr};
  std::unique_ptr<AcquisitionSession> session_;
};

} // namespace fw
