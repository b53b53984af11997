// Live video area painted from the pipeline's latest frame.
#include "acquisition/VideoPreviewWidget.h"

#include <gst/gst.h>
#include <gst/video/video.h>

#include <QImage>
#include <QPainter>

namespace fw {

LatestFrame::~LatestFrame() { Clear(); }

void LatestFrame::Present(GstSample *sample) {
  GstSample *previous;
  {
    const std::lock_guard lock(mutex_);
    previous = sample_;
    sample_ = gst_sample_ref(sample);
    ++serial_;
  }
  if (previous != nullptr) {
    gst_sample_unref(previous);
  }
}

GstSample *LatestFrame::Take(long long &serial) {
  const std::lock_guard lock(mutex_);
  serial = serial_;
  return sample_ != nullptr ? gst_sample_ref(sample_) : nullptr;
}

long long LatestFrame::Serial() {
  const std::lock_guard lock(mutex_);
  return serial_;
}

void LatestFrame::Clear() {
  GstSample *previous;
  {
    const std::lock_guard lock(mutex_);
    previous = sample_;
    sample_ = nullptr;
  }
  if (previous != nullptr) {
    gst_sample_unref(previous);
  }
}

VideoPreviewWidget::VideoPreviewWidget(QWidget *parent, LatestFrame &source) : QWidget(parent), source_(source) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  // Clicks fall through to the window, as on a video window of the owner.
  setAttribute(Qt::WA_TransparentForMouseEvents);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (isVisible() && source_.Serial() != shownSerial_) {
      update();
    }
  });
  timer_.start(REFRESH_MS);
}

void VideoPreviewWidget::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  GstSample *sample = source_.Take(shownSerial_);
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
