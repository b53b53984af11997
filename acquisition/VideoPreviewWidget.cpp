// Live video area painted from the pipeline's latest frame.
#include "acquisition/VideoPreviewWidget.h"

#include <gst/gst.h>
#include <gst/video/video.h>

#include <QImage>
#include <QMetaObject>
#include <QPainter>

namespace fw {

VideoPreviewWidget::VideoPreviewWidget(QWidget *parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  // Clicks fall through to the window, as on the design's video window.
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

VideoPreviewWidget::~VideoPreviewWidget() {
  const std::lock_guard lock(mutex_);
  if (latest_ != nullptr) {
    gst_sample_unref(latest_);
  }
}

void VideoPreviewWidget::Present(GstSample *sample) {
  GstSample *previous;
  {
    const std::lock_guard lock(mutex_);
    previous = latest_;
    latest_ = gst_sample_ref(sample);
  }
  if (previous != nullptr) {
    gst_sample_unref(previous);
  }
  presented_.fetch_add(1, std::memory_order_relaxed);
  if (!repaintPending_.exchange(true)) {
    // Delivered on the widget's thread; dropped if the widget is gone.
    QMetaObject::invokeMethod(
        this,
        [this] {
          repaintPending_.store(false);
          update();
        },
        Qt::QueuedConnection);
  }
}

void VideoPreviewWidget::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  GstSample *sample;
  {
    const std::lock_guard lock(mutex_);
    sample = latest_ != nullptr ? gst_sample_ref(latest_) : nullptr;
  }
  if (sample == nullptr) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  GstVideoInfo info;
  GstBuffer *buffer = gst_sample_get_buffer(sample);
  GstMapInfo map;
  if (buffer != nullptr && gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
      gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    const auto stride = static_cast<qsizetype>(GST_VIDEO_INFO_PLANE_STRIDE(&info, 0));
    if (map.size >= static_cast<gsize>(stride) * GST_VIDEO_INFO_HEIGHT(&info)) {
      const QImage image(map.data, GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info), stride,
                         QImage::Format_BGR888);
      painter.drawImage(rect(), image);
    }
    gst_buffer_unmap(buffer, &map);
  } else {
    painter.fillRect(rect(), Qt::black);
  }
  gst_sample_unref(sample);
}

} // namespace fw
