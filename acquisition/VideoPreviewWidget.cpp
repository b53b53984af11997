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

QSize FitKeepingAspect(QSize frame, QSize area) {
  if (frame.isEmpty() || area.isEmpty()) {
    return {};
  }
  return frame.scaled(area, Qt::KeepAspectRatio);
}

VideoPreviewWidget::VideoPreviewWidget(QWidget *parent, LatestFrame &source) : QWidget(parent), source_(source) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  // Clicks fall through to the window, as on a video window of the owner.
  setAttribute(Qt::WA_TransparentForMouseEvents);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (isVisible() && source_.Serial() != shownSerial_) {
      TakeNewestFrame();
      update();
    }
  });
  timer_.start(REFRESH_MS);
}

void VideoPreviewWidget::TakeNewestFrame() {
  GstSample *sample = source_.Take(shownSerial_);
  if (sample == nullptr) {
    shown_ = QImage();
    return;
  }
  GstVideoInfo info;
  GstBuffer *buffer = gst_sample_get_buffer(sample);
  GstMapInfo map;
  if (buffer != nullptr && gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
      gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    const auto stride = static_cast<qsizetype>(GST_VIDEO_INFO_PLANE_STRIDE(&info, 0));
    const int width = GST_VIDEO_INFO_WIDTH(&info);
    const int height = GST_VIDEO_INFO_HEIGHT(&info);
    if (map.size >= static_cast<gsize>(stride) * height) {
      const QImage frame(map.data, width, height, stride, QImage::Format_BGR888);
      const QSize fitted = FitKeepingAspect(frame.size(), size());
      // scaled() copies, so the buffer can go back at once.
      shown_ = fitted.isEmpty()         ? QImage()
               : fitted == frame.size() ? frame.convertToFormat(QImage::Format_RGB32)
                                        : frame.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                              .convertToFormat(QImage::Format_RGB32);
      ++converted_;
    }
    gst_buffer_unmap(buffer, &map);
  }
  gst_sample_unref(sample);
}

void VideoPreviewWidget::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  if (shown_.isNull()) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  // A size change since the conversion is drawn scaled until the next frame.
  const QSize fitted = FitKeepingAspect(shown_.size(), size());
  const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
  const QRegion around = QRegion(rect()).subtracted(target);
  for (const QRect &part : around) {
    painter.fillRect(part, Qt::black);
  }
  if (target.size() == shown_.size()) {
    painter.drawImage(target.topLeft(), shown_);
  } else {
    painter.drawImage(target, shown_);
  }
}

} // namespace fw
