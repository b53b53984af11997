// Live video area painted from the pipeline's latest frame.
#include "acquisition/VideoPreviewWidget.h"

#include <gst/gst.h>
#include <gst/video/video.h>

#include <QImage>
#include <QPainter>

#include <utility>

namespace fw {

LatestFrame::~LatestFrame() { Clear(); }

void LatestFrame::Present(GstSample *sample) {
  gst::Sample previous;
  {
    const std::lock_guard lock(mutex_);
    previous = std::exchange(sample_, gst::Sample(gst_sample_ref(sample)));
    ++serial_;
  }
  // previous goes here, outside the lock.
}

gst::Sample LatestFrame::Take(long long &serial) {
  const std::lock_guard lock(mutex_);
  serial = serial_;
  return gst::Sample(sample_ ? gst_sample_ref(sample_.get()) : nullptr);
}

long long LatestFrame::Serial() {
  const std::lock_guard lock(mutex_);
  return serial_;
}

void LatestFrame::Clear() {
  gst::Sample previous;
  {
    const std::lock_guard lock(mutex_);
    previous = std::move(sample_);
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
  const gst::Sample sample = source_.Take(shownSerial_);
  if (!sample) {
    shown_ = QImage();
    return;
  }
  GstVideoInfo info;
  if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get()))) {
    return;
  }
  const gst::BufferMap map(gst_sample_get_buffer(sample.get()));
  const auto stride = static_cast<qsizetype>(GST_VIDEO_INFO_PLANE_STRIDE(&info, 0));
  const int width = GST_VIDEO_INFO_WIDTH(&info);
  const int height = GST_VIDEO_INFO_HEIGHT(&info);
  if (!map || map.Size() < static_cast<gsize>(stride) * height) {
    return;
  }
  const QImage frame(map.Data(), width, height, stride, QImage::Format_BGR888);
  const QSize fitted = FitKeepingAspect(frame.size(), size());
  // scaled() copies, so the buffer can go back at once.
  shown_ =
      fitted.isEmpty() ? QImage()
      : fitted == frame.size()
          ? frame.convertToFormat(QImage::Format_RGB32)
          : frame.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB32);
  ++converted_;
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
