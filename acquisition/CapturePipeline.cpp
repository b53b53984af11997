// The capture pipeline: assembly, start, bus and frame hand-over.
#include "acquisition/CapturePipeline.h"

#include <gst/app/gstappsink.h>

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <utility>

namespace fw {
namespace {

// Orders the owner's thread and the streaming threads both ways: the owner's
// thread releases it before each start and every frame handler acquires it
// first (the owner's state is published); every frame handler releases it
// last and the owner's thread acquires it once the pipeline has stopped (the
// handler's reads are done before the pipeline's memory goes). GStreamer's
// own locking orders them as well, but it is invisible to thread checkers,
// and its streaming threads outlive a pipeline (they are pooled), so an owner
// allocated later would otherwise look unpublished.
std::atomic<unsigned> publication{0};

gst::Element MakeElement(const char *factory, const char *name) {
  return gst::Sink(gst_element_factory_make(factory, name));
}

} // namespace

CapturePipeline::CapturePipeline(FrameHandler onFrame) : onFrame_(std::move(onFrame)) {}

CapturePipeline::~CapturePipeline() {
  busWatch_.Reset();
  if (pipeline_) {
    // Once this returns no frame handler runs and none starts.
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    publication.load(std::memory_order_acquire);
  }
}

bool CapturePipeline::Assemble(gst::Element source, const GstCaps *form) {
  const bool jpeg = IsJpegForm(form);
  gst::Element pipeline = gst::Sink(gst_pipeline_new("CaptureGraph"));
  gst::Element filter = MakeElement("capsfilter", "Form");
  gst::Element decode = jpeg ? MakeElement("jpegdec", "Decode") : gst::Element();
  gst::Element convert = MakeElement("videoconvert", "Convert");
  gst::Element sink = MakeElement("appsink", "Grabber");
  if (!pipeline || !filter || (jpeg && !decode) || !convert || !sink) {
    gst_element_set_state(source.get(), GST_STATE_NULL);
    return false;
  }
  g_object_set(filter.get(), "caps", form, nullptr);
  // The bin takes a reference of its own to each.
  for (const gst::Element *element : {&source, &filter, &convert, &sink, &decode}) {
    if (*element) {
      gst_bin_add(GST_BIN(pipeline.get()), element->get());
    }
  }
  pipeline_ = std::move(pipeline);
  sink_ = sink.get();

  const gst::Caps bgr(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", nullptr));
  g_object_set(sink_, "caps", bgr.get(), "sync", FALSE, "max-buffers", 1u, "emit-signals", FALSE, nullptr);
  GstAppSinkCallbacks callbacks{};
  callbacks.new_sample = [](GstAppSink *appsink, gpointer self) -> GstFlowReturn {
    publication.load(std::memory_order_acquire);
    const gst::Sample sample(gst_app_sink_pull_sample(appsink));
    if (sample) {
      static_cast<CapturePipeline *>(self)->onFrame_(sample.get());
    }
    publication.fetch_add(1, std::memory_order_release);
    return GST_FLOW_OK;
  };
  gst_app_sink_set_callbacks(GST_APP_SINK(sink_), &callbacks, this, nullptr);

  return decode ? gst_element_link_many(source.get(), filter.get(), decode.get(), convert.get(), sink_, nullptr)
                : gst_element_link_many(source.get(), filter.get(), convert.get(), sink_, nullptr);
}

CapturePipeline::StartResult CapturePipeline::Play(std::chrono::steady_clock::time_point deadline) {
  // A live pipeline completes its start when the first frame reaches the
  // sink; a source that cannot deliver the caps reports an error instead.
  publication.fetch_add(1, std::memory_order_release);
  const GstStateChangeReturn change = gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING);
  if (change == GST_STATE_CHANGE_FAILURE) {
    return StartResult::Failed;
  }
  if (change != GST_STATE_CHANGE_ASYNC) {
    return StartResult::Started;
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  const gst::Bus bus(gst_element_get_bus(pipeline_.get()));
  const gst::Message message(gst_bus_timed_pop_filtered(
      bus.get(), static_cast<GstClockTime>(std::max<long long>(0, left.count())) * GST_MSECOND,
      static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE)));
  if (!message) {
    return StartResult::TimedOut;
  }
  return GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ASYNC_DONE ? StartResult::Started : StartResult::Failed;
}

std::optional<BgrLayout> CapturePipeline::Layout() const {
  if (sink_ == nullptr) {
    return std::nullopt;
  }
  const gst::Pad pad(gst_element_get_static_pad(sink_, "sink"));
  const gst::Caps negotiated(pad ? gst_pad_get_current_caps(pad.get()) : nullptr);
  return BgrLayoutOf(negotiated.get());
}

void CapturePipeline::SetState(GstState state) { gst_element_set_state(pipeline_.get(), state); }

void CapturePipeline::WatchBus(BusHandler handler) {
  onMessage_ = std::move(handler);
  const gst::Bus bus(gst_element_get_bus(pipeline_.get()));
  busWatch_ = gst::SourceId(gst_bus_add_watch(
      bus.get(),
      [](GstBus *, GstMessage *message, gpointer self) -> gboolean {
        static_cast<CapturePipeline *>(self)->onMessage_(message);
        return G_SOURCE_CONTINUE;
      },
      this));
}

void CapturePipeline::DrainBus(const BusHandler &handler) {
  const gst::Bus bus(gst_element_get_bus(pipeline_.get()));
  while (const gst::Message message{gst_bus_pop(bus.get())}) {
    handler(message.get());
  }
}

GstElement *CapturePipeline::FindElement(const char *name) const {
  return gst_bin_get_by_name(GST_BIN(pipeline_.get()), name);
}

} // namespace fw
