// Owners of GStreamer and GLib objects, so every way out of a function
// releases what it took. Each handle takes over one reference (or one
// allocation) and gives it back in its destructor.
//
// Floating references: elements, pipelines and bins are created floating.
// Sink() turns such a reference into one the handle owns; gst_bin_add then
// takes a reference of its own, so the handle may be dropped once the element
// is in its bin. Functions documented "transfer full" (gst_bin_get_by_name,
// gst_element_get_static_pad, gst_element_get_bus, gst_pad_query_caps, ...)
// return a reference the handle takes as it is.
#pragma once

#include <gst/gst.h>

#include <memory>
#include <utility>

namespace fw::gst {

struct ObjectUnref {
  void operator()(gpointer object) const { gst_object_unref(object); }
};
struct CapsUnref {
  void operator()(GstCaps *caps) const { gst_caps_unref(caps); }
};
struct BufferUnref {
  void operator()(GstBuffer *buffer) const { gst_buffer_unref(buffer); }
};
struct SampleUnref {
  void operator()(GstSample *sample) const { gst_sample_unref(sample); }
};
struct MessageUnref {
  void operator()(GstMessage *message) const { gst_message_unref(message); }
};
struct StructureFree {
  void operator()(GstStructure *structure) const { gst_structure_free(structure); }
};
struct ErrorFree {
  void operator()(GError *error) const { g_error_free(error); }
};
struct ObjectListFree {
  void operator()(GList *list) const { g_list_free_full(list, gst_object_unref); }
};

template <typename T> using Object = std::unique_ptr<T, ObjectUnref>;
using Element = Object<GstElement>;
using Pad = Object<GstPad>;
using Bus = Object<GstBus>;
using DeviceMonitor = Object<GstDeviceMonitor>;
using Caps = std::unique_ptr<GstCaps, CapsUnref>;
using Buffer = std::unique_ptr<GstBuffer, BufferUnref>;
using Sample = std::unique_ptr<GstSample, SampleUnref>;
using Message = std::unique_ptr<GstMessage, MessageUnref>;
using Structure = std::unique_ptr<GstStructure, StructureFree>;
using Error = std::unique_ptr<GError, ErrorFree>;
// A list of GstObjects that holds one reference to each (a device list).
using ObjectList = std::unique_ptr<GList, ObjectListFree>;

// Owns a newly created, floating object (nullptr stays empty).
template <typename T> Object<T> Sink(T *floating) {
  return Object<T>(floating != nullptr ? static_cast<T *>(gst_object_ref_sink(floating)) : nullptr);
}

// A readable mapping of a buffer's memory, unmapped on scope exit.
class BufferMap {
public:
  explicit BufferMap(GstBuffer *buffer) : buffer_(buffer) {
    mapped_ = buffer_ != nullptr && gst_buffer_map(buffer_, &info_, GST_MAP_READ);
  }
  ~BufferMap() {
    if (mapped_) {
      gst_buffer_unmap(buffer_, &info_);
    }
  }
  BufferMap(const BufferMap &) = delete;
  BufferMap &operator=(const BufferMap &) = delete;

  explicit operator bool() const { return mapped_; }
  const guint8 *Data() const { return info_.data; }
  gsize Size() const { return info_.size; }

private:
  GstBuffer *buffer_;
  GstMapInfo info_{};
  bool mapped_ = false;
};

// A watch on the default main context (a bus watch, a timeout), removed when
// the owner goes.
class SourceId {
public:
  SourceId() = default;
  explicit SourceId(guint id) : id_(id) {}
  ~SourceId() { Reset(); }
  SourceId(SourceId &&other) noexcept : id_(std::exchange(other.id_, 0)) {}
  SourceId &operator=(SourceId &&other) noexcept {
    if (this != &other) {
      Reset();
      id_ = std::exchange(other.id_, 0);
    }
    return *this;
  }
  void Reset() {
    if (id_ != 0) {
      g_source_remove(std::exchange(id_, 0));
    }
  }

private:
  guint id_ = 0;
};

} // namespace fw::gst
