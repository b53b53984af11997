// The capture pipeline on GStreamer.
#include "acquisition/MySampleGrabber.h"

#include "acquisition/CaptureSettingsDialog.h"
#include "acquisition/TvStandard.h"
#include "acquisition/VideoPreviewWidget.h"
#include "base/Log.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <QWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>

namespace fw {
namespace {

// Publishes the grabber's state to the streaming threads: the window's
// thread releases it before each start, every callback acquires it first.
// GStreamer's own locking orders the two as well, but it is invisible to
// thread checkers, and its streaming threads outlive a pipeline (they are
// pooled), so a grabber allocated later would otherwise look unpublished.
std::atomic<unsigned> publication{0};

bool InitGStreamer() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] { ok = gst_init_check(nullptr, nullptr, nullptr) == TRUE; });
  return ok;
}

// The discrete frame sizes among a device's caps, in the order it lists them.
std::vector<FrameSize> DiscreteSizes(GstCaps *caps) {
  std::vector<FrameSize> sizes;
  if (caps == nullptr) {
    return sizes;
  }
  for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
    const GstStructure *s = gst_caps_get_structure(caps, i);
    int w = 0;
    int h = 0;
    if (gst_structure_get_int(s, "width", &w) && gst_structure_get_int(s, "height", &h) && w > 0 && h > 0) {
      const FrameSize size{w, h};
      if (std::find(sizes.begin(), sizes.end(), size) == sizes.end()) {
        sizes.push_back(size);
      }
    }
  }
  return sizes;
}

// The device node of a V4L2 device, from the properties its provider sets.
std::string DevicePath(GstDevice *device) {
  std::string path;
  GstStructure *props = gst_device_get_properties(device);
  if (props == nullptr) {
    return path;
  }
  for (const char *key : {"api.v4l2.path", "device.path", "object.path"}) {
    const char *value = gst_structure_get_string(props, key);
    if (value != nullptr && value[0] == '/') {
      path = value;
      break;
    }
  }
  gst_structure_free(props);
  return path;
}

// The source element: the FRAMEWELL_VIDEO_SOURCE description, or the first
// video input device with its settings. nullptr when there is none.
GstElement *CreateSource(std::unique_ptr<VideoDeviceControls> &controls) {
  const char *description = std::getenv("FRAMEWELL_VIDEO_SOURCE");
  if (description != nullptr && description[0] != '\0') {
    GError *error = nullptr;
    GstElement *bin = gst_parse_bin_from_description(description, TRUE, &error);
    g_clear_error(&error);
    if (bin != nullptr) {
      gst_object_ref_sink(bin);
      controls = std::make_unique<NoDeviceControls>();
    }
    return bin;
  }
  GstDeviceMonitor *monitor = gst_device_monitor_new();
  gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
  GList *devices = gst_device_monitor_get_devices(monitor);
  GstElement *source = nullptr;
  if (devices != nullptr) {
    auto *first = GST_DEVICE(devices->data);
    source = gst_device_create_element(first, "CaptureFilter");
    if (source != nullptr) {
      gst_object_ref_sink(source);
      GstCaps *caps = gst_device_get_caps(first);
      controls = std::make_unique<V4l2DeviceControls>(DevicePath(first), DiscreteSizes(caps));
      if (caps != nullptr) {
        gst_caps_unref(caps);
      }
    }
  }
  g_list_free_full(devices, gst_object_unref);
  gst_object_unref(monitor);
  return source;
}

} // namespace

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
  return pipeline_ != nullptr ? gst_bin_get_by_name(GST_BIN(pipeline_), name) : nullptr;
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

namespace {

// Caps of the frames the source is asked for, most wanted first: raw video
// at a live rate, JPEG (devices that give their larger sizes only that way),
// then raw video at any rate. askSize adds the configured size to each.
std::vector<GstCaps *> WantedForms(const CaptureConfig &config, bool askSize) {
  auto form = [&](const char *media, bool liveRate) {
    GstCaps *caps = gst_caps_new_empty_simple(media);
    if (askSize) {
      gst_caps_set_simple(caps, "width", G_TYPE_INT, config.width, "height", G_TYPE_INT, config.height, nullptr);
    }
    if (liveRate) {
      gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION_RANGE, 20, 1, G_MAXINT, 1, nullptr);
    }
    return caps;
  };
  return {form("video/x-raw", true), form("image/jpeg", false), form("video/x-raw", false)};
}

// The first wanted form the source offers (a new reference), or nullptr.
// The source must be in READY so a device reports its real capabilities.
GstCaps *ChooseForm(GstElement *source, const CaptureConfig &config, bool askSize) {
  GstPad *pad = gst_element_get_static_pad(source, "src");
  GstCaps *offered = pad != nullptr ? gst_pad_query_caps(pad, nullptr) : nullptr;
  GstCaps *chosen = nullptr;
  for (GstCaps *wanted : WantedForms(config, askSize)) {
    if (chosen == nullptr && offered != nullptr && gst_caps_can_intersect(offered, wanted)) {
      chosen = gst_caps_ref(wanted);
    }
    gst_caps_unref(wanted);
  }
  if (offered != nullptr) {
    gst_caps_unref(offered);
  }
  if (pad != nullptr) {
    gst_object_unref(pad);
  }
  return chosen;
}

} // namespace

MySampleGrabber::StartResult MySampleGrabber::TryStart(QWidget *owner, const CaptureConfig &config, bool askSize,
                                                       std::chrono::steady_clock::time_point deadline) {
  GstElement *source = CreateSource(deviceControls_);
  if (source == nullptr) {
    return StartResult::Failed;
  }
  // Input and standard are set on the device node before the pipeline opens
  // it; a device without them refuses, which is ignored.
  if (VideoDeviceControls *controls = ActiveControls()) {
    controls->SetInput(config.crossbarInput);
    if (const auto standard = V4l2StandardForTvFormat(config.tvFormat)) {
      controls->SetStandard(*standard);
    }
  }
  GstCaps *form = gst_element_set_state(source, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE
                      ? ChooseForm(source, config, askSize)
                      : nullptr;
  if (form == nullptr) {
    gst_element_set_state(source, GST_STATE_NULL);
    gst_object_unref(source);
    return StartResult::Failed;
  }
  const bool jpeg = gst_structure_has_name(gst_caps_get_structure(form, 0), "image/jpeg");

  GstElement *pipeline = gst_pipeline_new("CaptureGraph");
  GstElement *filter = gst_element_factory_make("capsfilter", "Form");
  GstElement *decode = jpeg ? gst_element_factory_make("jpegdec", "Decode") : nullptr;
  GstElement *convert = gst_element_factory_make("videoconvert", "Convert");
  GstElement *sink = gst_element_factory_make("appsink", "Grabber");
  if (pipeline == nullptr || filter == nullptr || (jpeg && decode == nullptr) || convert == nullptr ||
      sink == nullptr) {
    for (GstElement *e : {pipeline, filter, decode, convert, sink}) {
      if (e != nullptr) {
        gst_object_unref(gst_object_ref_sink(e));
      }
    }
    gst_caps_unref(form);
    gst_element_set_state(source, GST_STATE_NULL);
    gst_object_unref(source);
    return StartResult::Failed;
  }
  g_object_set(filter, "caps", form, nullptr);
  gst_caps_unref(form);
  gst_bin_add_many(GST_BIN(pipeline), source, filter, convert, sink, nullptr);
  if (decode != nullptr) {
    gst_bin_add(GST_BIN(pipeline), decode);
  }
  gst_object_unref(source); // the bin holds it now
  pipeline_ = pipeline;
  sink_ = sink;

  GstCaps *caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", nullptr);
  // The callback does the work on the streaming thread; the sink neither
  // waits for the clock nor queues more than one frame.
  g_object_set(sink, "caps", caps, "sync", FALSE, "max-buffers", 1u, "emit-signals", FALSE, nullptr);
  gst_caps_unref(caps);
  GstAppSinkCallbacks callbacks{};
  callbacks.new_sample = [](GstAppSink *appsink, gpointer self) -> GstFlowReturn {
    OnNewSample(appsink, self);
    return GST_FLOW_OK;
  };
  gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);

  const bool linked = decode != nullptr ? gst_element_link_many(source, filter, decode, convert, sink, nullptr)
                                        : gst_element_link_many(source, filter, convert, sink, nullptr);
  if (!linked) {
    TearDown();
    return StartResult::Failed;
  }

  if (owner != nullptr) {
    auto *preview = new VideoPreviewWidget(owner, latestFrame_);
    preview->setGeometry(0, 0, std::max(0, config.width), std::max(0, config.height));
    preview->lower();
    preview->show();
    preview_ = preview;
  }
  if (pipelineHook_) {
    pipelineHook_(pipeline);
  }

  // A live pipeline completes its start when the first frame reaches the
  // sink; a source that cannot deliver the caps reports an error instead.
  publication.fetch_add(1, std::memory_order_release);
  const GstStateChangeReturn change = gst_element_set_state(pipeline, GST_STATE_PLAYING);
  bool started = change != GST_STATE_CHANGE_FAILURE;
  bool timedOut = false;
  if (started && change == GST_STATE_CHANGE_ASYNC) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *message =
        gst_bus_timed_pop_filtered(bus, static_cast<GstClockTime>(std::max<long long>(0, left.count())) * GST_MSECOND,
                                   static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE));
    started = message != nullptr && GST_MESSAGE_TYPE(message) == GST_MESSAGE_ASYNC_DONE;
    timedOut = message == nullptr;
    if (message != nullptr) {
      gst_message_unref(message);
    }
    gst_object_unref(bus);
  }

  GstVideoInfo info;
  bool haveFormat = false;
  if (started) {
    GstPad *pad = gst_element_get_static_pad(sink, "sink");
    GstCaps *negotiated = pad != nullptr ? gst_pad_get_current_caps(pad) : nullptr;
    haveFormat = negotiated != nullptr && gst_video_info_from_caps(&info, negotiated) &&
                 GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_BGR && GST_VIDEO_INFO_WIDTH(&info) > 0 &&
                 GST_VIDEO_INFO_HEIGHT(&info) > 0;
    if (negotiated != nullptr) {
      gst_caps_unref(negotiated);
    }
    if (pad != nullptr) {
      gst_object_unref(pad);
    }
  }
  if (!haveFormat) {
    TearDown();
    return timedOut ? StartResult::TimedOut : StartResult::Failed;
  }
  frameWidth_ = GST_VIDEO_INFO_WIDTH(&info);
  frameHeight_ = GST_VIDEO_INFO_HEIGHT(&info);
  frameRateN_ = GST_VIDEO_INFO_FPS_N(&info);
  frameRateD_ = GST_VIDEO_INFO_FPS_D(&info) > 0 ? GST_VIDEO_INFO_FPS_D(&info) : 1;
  callback_.SetFormat(frameWidth_, frameHeight_, static_cast<std::size_t>(GST_VIDEO_INFO_PLANE_STRIDE(&info, 0)));
  WatchBus();
  return StartResult::Started;
}

void MySampleGrabber::WatchBus() {
  GstBus *bus = gst_element_get_bus(pipeline_);
  // Dispatched by the default main context, which the window's event loop
  // runs: the handler runs on the window's thread.
  busWatch_ = gst_bus_add_watch(
      bus,
      [](GstBus *, GstMessage *message, gpointer self) -> gboolean {
        static_cast<MySampleGrabber *>(self)->OnBusMessage(message);
        return G_SOURCE_CONTINUE;
      },
      this);
  gst_object_unref(bus);
}

void MySampleGrabber::OnBusMessage(GstMessage *message) {
  if (stopped_ || pipeline_ == nullptr) {
    return;
  }
  std::string reason;
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
    GError *error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    reason = error != nullptr && error->message != nullptr ? error->message : "unknown error";
    g_clear_error(&error);
  } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
    reason = "end of stream";
  } else {
    return;
  }
  stopped_ = true;
  callback_.SetArmed(false);
  // Stopped on this thread, never from a callback: once this returns the
  // frame list is stable, so a clip in progress can still be saved.
  gst_element_set_state(pipeline_, GST_STATE_NULL);
  WriteLog("ERROR, capture device stopped, " + reason);
  if (onStopped_) {
    onStopped_();
  }
}

void MySampleGrabber::SetStoppedHandler(std::function<void()> handler) { onStopped_ = std::move(handler); }

void MySampleGrabber::OnNewSample(void *appsink, void *self) {
  publication.load(std::memory_order_acquire);
  auto *grabber = static_cast<MySampleGrabber *>(self);
  GstSample *sample = gst_app_sink_pull_sample(GST_APP_SINK(appsink));
  if (sample == nullptr) {
    return;
  }
  if (GstBuffer *buffer = gst_sample_get_buffer(sample)) {
    if (grabber->callback_.Armed()) {
      GstMapInfo map;
      if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        const double seconds = GST_BUFFER_PTS_IS_VALID(buffer)
                                   ? static_cast<double>(GST_BUFFER_PTS(buffer)) / static_cast<double>(GST_SECOND)
                                   : 0.0;
        grabber->callback_.BufferCB(seconds, map.data, map.size);
        gst_buffer_unmap(buffer, &map);
      }
    }
    grabber->latestFrame_.Present(sample);
  }
  gst_sample_unref(sample);
}

void MySampleGrabber::TearDown() {
  if (busWatch_ != 0) {
    g_source_remove(busWatch_);
    busWatch_ = 0;
  }
  stopped_ = false;
  if (pipeline_ != nullptr) {
    // Once this returns no callback runs and none starts.
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_object_unref(pipeline_);
    pipeline_ = nullptr;
    sink_ = nullptr;
  }
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
  gst_element_set_state(pipeline_, GST_STATE_PAUSED);
  std::this_thread::sleep_for(std::chrono::milliseconds(STOP_PAUSE_MS));
  gst_element_set_state(pipeline_, GST_STATE_PLAYING);
  // Without an event loop (tools) nobody dispatches the bus watch: take
  // what the stop and restart posted so it does not pile up, and let an
  // error among it stop the pipeline as the watch would.
  GstBus *bus = gst_element_get_bus(pipeline_);
  while (GstMessage *message = gst_bus_pop(bus)) {
    OnBusMessage(message);
    gst_message_unref(message);
  }
  gst_object_unref(bus);
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
