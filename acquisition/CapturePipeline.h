// CapturePipeline: one assembled capture pipeline, from its source to the
// sink that hands every frame over, with its bus.
//
//   <source> ! capsfilter caps=form [! jpegdec] ! videoconvert ! appsink caps=video/x-raw,format=BGR
//
// Element names: "CaptureGraph" (the pipeline), "Form", "Decode" (JPEG forms
// only), "Convert", "Grabber" (the sink). The sink neither waits for the
// clock nor queues more than one frame: the frame handler does the work.
//
// Threads: every call runs on the thread that owns the object (the window's
// thread, or a tool's main thread). The frame handler runs on GStreamer's
// streaming thread, once per frame, with the sample borrowed for the call.
// Once SetState(PAUSED or NULL) has returned, no frame handler runs and none
// starts; the destructor stops the pipeline the same way. The bus handler
// given to WatchBus runs on the thread that runs the default main context
// (the window's event loop); DrainBus runs it on the caller's thread.
#pragma once

#include "acquisition/CapsChoice.h"
#include "acquisition/GstHandles.h"

#include <chrono>
#include <functional>
#include <optional>

namespace fw {

class CapturePipeline {
public:
  using FrameHandler = std::function<void(GstSample *sample)>;
  using BusHandler = std::function<void(GstMessage *message)>;
  enum class StartResult { Started, Failed, TimedOut };

  explicit CapturePipeline(FrameHandler onFrame);
  ~CapturePipeline();
  CapturePipeline(const CapturePipeline &) = delete;
  CapturePipeline &operator=(const CapturePipeline &) = delete;

  // Builds the pipeline around source (in READY, it was asked for form);
  // false when an element is missing or the chain does not link. A source
  // left out is set back to NULL.
  bool Assemble(gst::Element source, const GstCaps *form);

  // Runs the pipeline and waits until deadline for its first frame to reach
  // the sink: TimedOut when none came, Failed when the state change or the
  // source failed.
  StartResult Play(std::chrono::steady_clock::time_point deadline);

  // The layout the sink negotiated; empty before Play or when it is not BGR.
  std::optional<BgrLayout> Layout() const;

  void SetState(GstState state);

  // Hands the bus's messages to handler as the default main context
  // dispatches them, until the pipeline goes.
  void WatchBus(BusHandler handler);
  // Hands handler every message waiting on the bus (callers without an
  // event loop).
  void DrainBus(const BusHandler &handler);

  GstElement *Element() const { return pipeline_.get(); }
  // An element by name, searched recursively, with a new reference; nullptr
  // when absent.
  GstElement *FindElement(const char *name) const;

private:
  FrameHandler onFrame_;
  BusHandler onMessage_;
  gst::Element pipeline_;
  GstElement *sink_ = nullptr; // borrowed from pipeline_
  gst::SourceId busWatch_;
};

} // namespace fw
