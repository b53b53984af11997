// The capture facade: device settings, the live video area and what a device
// failure does, over the capture pipeline.
#include "acquisition/MySampleGrabber.h"

#include "acquisition/CapsChoice.h"
#include "acquisition/CaptureDevices.h"
#include "acquisition/CapturePipeline.h"
#include "acquisition/CaptureSettingsDialog.h"
#include "acquisition/GstHandles.h"
#include "acquisition/TvStandard.h"
#include "acquisition/VideoPreviewWidget.h"
#include "base/Log.h"

#include <QWidget>

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

namespace fw {

MySampleGrabber::MySampleGrabber() : runDialog_([](CaptureSettingsDialog &dialog) { return dialog.exec(); }) {}

MySampleGrabber::~MySampleGrabber() { ReleaseGraph(); }

void MySampleGrabber::SetDeviceControls(std::unique_ptr<VideoDeviceControls> controls) {
  overrideControls_ = std::move(controls);
}

void MySampleGrabber::SetSettingsDialogRunner(std::function<int(CaptureSettingsDialog &)> runner) {
  runDialog_ = std::move(runner);
}

void MySampleGrabber::SetPipelineHook(std::function<void(GstElement *)> hook) { pipelineHook_ = std::move(hook); }

VideoDeviceControls *MySampleGrabber::ActiveControls() const {
  return overrideControls_ ? overrideControls_.get() : deviceControls_.get();
}

GstElement *MySampleGrabber::FindElement(const char *name) const {
  return pipeline_ != nullptr ? pipeline_->FindElement(name) : nullptr;
}

bool MySampleGrabber::BuildGraph(QWidget *owner, const CaptureConfig &config) {
  ReleaseGraph();
  if (!InitGStreamer()) {
    return false;
  }
  // Both attempts together wait at most START_TIMEOUT_MS for a first frame,
  // so opening never hangs on a device that does not deliver.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(START_TIMEOUT_MS);
  StartResult result = StartResult::Failed;
  // A size beyond the largest frame is never asked for, whoever set it.
  if (config.width > 0 && config.height > 0 && CaptureSizeAllowed(config.width, config.height)) {
    result = TryStart(owner, config, true, deadline);
  }
  // A device that cannot deliver the configured size runs at its own.
  if (result != StartResult::Started && std::chrono::steady_clock::now() < deadline) {
    result = TryStart(owner, config, false, deadline);
  }
  if (result == StartResult::TimedOut) {
    WriteLog("ERROR, MySampleGrabber::BuildGraph, no frame from the capture device within " +
             std::to_string(START_TIMEOUT_MS / 1000) + " s");
  }
  return result == StartResult::Started;
}

void MySampleGrabber::ApplyDeviceSettings(const CaptureConfig &config) {
  // Input and standard are set on the device node before the pipeline opens
  // it; a device without them refuses, which is ignored.
  if (VideoDeviceControls *controls = ActiveControls()) {
    controls->SetInput(config.crossbarInput);
    if (const auto standard = V4l2StandardForTvFormat(config.tvFormat)) {
      controls->SetStandard(*standard);
    }
  }
}

void MySampleGrabber::ShowPreview(QWidget *owner, const CaptureConfig &config) {
  if (owner == nullptr) {
    return;
  }
  // Owned by the window as well; TearDown deletes it first when the pipeline
  // goes, since it paints from latestFrame_.
  auto *preview = new VideoPreviewWidget(owner, latestFrame_);
  preview->setGeometry(0, 0, std::max(0, config.width), std::max(0, config.height));
  preview->lower();
  preview->show();
  preview_ = preview;
}

MySampleGrabber::StartResult MySampleGrabber::TryStart(QWidget *owner, const CaptureConfig &config, bool askSize,
                                                       std::chrono::steady_clock::time_point deadline) {
  CaptureSource source = OpenCaptureSource();
  if (!source.element) {
    return StartResult::Failed;
  }
  deviceControls_ = std::move(source.controls);
  ApplyDeviceSettings(config);
  const gst::Caps form = gst_element_set_state(source.element.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE
                             ? ChooseForm(source.element.get(), config, askSize)
                             : gst::Caps();
  if (!form) {
    gst_element_set_state(source.element.get(), GST_STATE_NULL);
    return StartResult::Failed;
  }
  auto pipeline = std::make_unique<CapturePipeline>([this](GstSample *sample) { OnFrame(sample); });
  if (!pipeline->Assemble(std::move(source.element), form.get())) {
    return StartResult::Failed;
  }
  pipeline_ = std::move(pipeline);
  ShowPreview(owner, config);
  if (pipelineHook_) {
    pipelineHook_(pipeline_->Element());
  }

  const CapturePipeline::StartResult started = pipeline_->Play(deadline);
  const std::optional<BgrLayout> layout =
      started == CapturePipeline::StartResult::Started ? pipeline_->Layout() : std::nullopt;
  if (!layout) {
    TearDown();
    return started == CapturePipeline::StartResult::TimedOut ? StartResult::TimedOut : StartResult::Failed;
  }
  frameWidth_ = layout->width;
  frameHeight_ = layout->height;
  frameRateN_ = layout->rateNumerator;
  frameRateD_ = layout->rateDenominator;
  callback_.SetFormat(frameWidth_, frameHeight_, layout->stride);
  // Dispatched by the default main context, which the window's event loop
  // runs: the handler runs on the window's thread.
  pipeline_->WatchBus([this](GstMessage *message) { OnBusMessage(message); });
  return StartResult::Started;
}

void MySampleGrabber::OnBusMessage(GstMessage *message) {
  if (stopped_ || pipeline_ == nullptr) {
    return;
  }
  std::string reason;
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
    GError *parsed = nullptr;
    gst_message_parse_error(message, &parsed, nullptr);
    const gst::Error error(parsed);
    reason = error && error->message != nullptr ? error->message : "unknown error";
  } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
    reason = "end of stream";
  } else {
    return;
  }
  stopped_ = true;
  callback_.SetArmed(false);
  // Stopped on this thread, never from a frame handler: once this returns
  // the frame list is stable, so a clip in progress can still be saved.
  pipeline_->SetState(GST_STATE_NULL);
  WriteLog("ERROR, capture device stopped, " + reason);
  if (onStopped_) {
    onStopped_();
  }
}

void MySampleGrabber::SetStoppedHandler(std::function<void()> handler) { onStopped_ = std::move(handler); }

void MySampleGrabber::OnFrame(GstSample *sample) {
  GstBuffer *buffer = gst_sample_get_buffer(sample);
  if (buffer == nullptr) {
    return;
  }
  if (callback_.Armed()) {
    const gst::BufferMap map(buffer);
    if (map) {
      const double seconds = GST_BUFFER_PTS_IS_VALID(buffer)
                                 ? static_cast<double>(GST_BUFFER_PTS(buffer)) / static_cast<double>(GST_SECOND)
                                 : 0.0;
      callback_.BufferCB(seconds, map.Data(), map.Size());
    }
  }
  latestFrame_.Present(sample);
}

void MySampleGrabber::TearDown() {
  stopped_ = false;
  // Once the pipeline is gone no frame handler runs and none starts.
  pipeline_.reset();
  delete preview_.data();
  preview_ = nullptr;
  latestFrame_.Clear();
}

void MySampleGrabber::ReleaseGraph() {
  callback_.SetArmed(false);
  TearDown();
  deviceControls_.reset();
}

void MySampleGrabber::StartCapture() { callback_.SetArmed(true); }

void MySampleGrabber::StopCapture() {
  callback_.SetArmed(false);
  if (pipeline_ == nullptr || stopped_) {
    return;
  }
  pipeline_->SetState(GST_STATE_PAUSED);
  std::this_thread::sleep_for(std::chrono::milliseconds(STOP_PAUSE_MS));
  pipeline_->SetState(GST_STATE_PLAYING);
  // Without an event loop (tools) nobody dispatches the bus watch: take
  // what the stop and restart posted so it does not pile up, and let an
  // error among it stop the pipeline as the watch would.
  pipeline_->DrainBus([this](GstMessage *message) { OnBusMessage(message); });
}

bool MySampleGrabber::ConfigureDevice(QWidget *owner, CaptureConfig &config) {
  try {
    // Stopping releases the device node, which refuses input and standard
    // changes while it streams.
    callback_.SetArmed(false);
    TearDown();
    if (VideoDeviceControls *controls = ActiveControls()) {
      CaptureSettingsDialog dialog(owner, *controls, config);
      if (dialog.PageCount() > 0 && runDialog_(dialog) == QDialog::Accepted) {
        dialog.ApplyTo(config);
      }
    }
    ReleaseGraph();
    return BuildGraph(owner, config);
  } catch (const std::exception &) {
    WriteLog("ERROR, Setting Video Configuration");
  } catch (...) {
    WriteLog("ERROR, Setting Video Configuration");
  }
  ReleaseGraph();
  return false;
}

} // namespace fw
