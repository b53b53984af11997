// The live video area: a child widget of the window that owns the pipeline,
// painted from the latest frame the pipeline delivered.
//
// Frames arrive on the streaming thread and are only parked in a LatestFrame
// (a reference to the newest sample under a mutex). The widget's own timer
// looks for a newer frame and repaints; nothing is posted across threads, so
// the widget can be destroyed once the pipeline has stopped.
#pragma once

#include <QTimer>
#include <QWidget>

#include <mutex>

typedef struct _GstSample GstSample;

namespace fw {

class LatestFrame {
public:
  LatestFrame() = default;
  ~LatestFrame();
  LatestFrame(const LatestFrame &) = delete;
  LatestFrame &operator=(const LatestFrame &) = delete;

  // Streaming thread: keeps a reference to sample (BGR frames).
  void Present(GstSample *sample);
  // A new reference to the newest sample, or nullptr; serial counts every
  // frame presented so far.
  GstSample *Take(long long &serial);
  long long Serial();
  // Drops the frame held.
  void Clear();

private:
  std::mutex mutex_;
  GstSample *sample_ = nullptr;
  long long serial_ = 0;
};

class VideoPreviewWidget : public QWidget {
public:
  // Repaint period while frames arrive.
  static constexpr int REFRESH_MS = 20;

  VideoPreviewWidget(QWidget *parent, LatestFrame &source);

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  LatestFrame &source_;
  QTimer timer_;
  long long shownSerial_ = 0;
};

} // namespace fw
