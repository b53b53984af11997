// The live video area: a child widget of the window that owns the pipeline,
// painted from the latest frame the pipeline delivered.
//
// Frames arrive on the streaming thread and are only parked in a LatestFrame
// (a reference to the newest sample under a mutex). The widget's own timer
// looks for a newer frame; nothing is posted across threads, so the widget can
// be destroyed once the pipeline has stopped.
//
// Each frame that is shown is converted and scaled once, to the largest size
// with the frame's aspect ratio that fits the widget (centred, black around
// it); repaints reuse that picture. Frames that arrive faster than the window
// takes them are never converted: only the newest is taken at each look.
#pragma once

#include "acquisition/GstHandles.h"

#include <QImage>
#include <QSize>
#include <QTimer>
#include <QWidget>

#include <mutex>

namespace fw {

class LatestFrame {
public:
  LatestFrame() = default;
  ~LatestFrame();
  LatestFrame(const LatestFrame &) = delete;
  LatestFrame &operator=(const LatestFrame &) = delete;

  // Streaming thread: keeps a reference to sample (BGR frames).
  void Present(GstSample *sample);
  // A new reference to the newest sample, or empty; serial counts every
  // frame presented so far.
  gst::Sample Take(long long &serial);
  long long Serial();
  // Drops the frame held.
  void Clear();

private:
  std::mutex mutex_;
  gst::Sample sample_;
  long long serial_ = 0;
};

// The largest size with frame's aspect ratio that fits area; empty when
// either is empty.
QSize FitKeepingAspect(QSize frame, QSize area);

class VideoPreviewWidget : public QWidget {
public:
  // How often the widget looks for a newer frame.
  static constexpr int REFRESH_MS = 20;

  VideoPreviewWidget(QWidget *parent, LatestFrame &source);

  // Frames converted for showing so far (tests, diagnostics).
  long long ConvertedFrames() const { return converted_; }

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  // Converts and scales the newest frame when it is newer than the shown one.
  void TakeNewestFrame();

  LatestFrame &source_;
  QTimer timer_;
  long long shownSerial_ = 0;
  long long converted_ = 0;
  QImage shown_;
};

} // namespace fw
