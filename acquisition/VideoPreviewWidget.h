// The live video area: a child widget of the window that owns the pipeline,
// painted from the latest frame the pipeline delivered. Frames arrive on the
// streaming thread; the widget keeps a reference to the newest one and asks
// for a repaint through a queued call, at most one pending at a time.
#pragma once

#include <QWidget>

#include <atomic>
#include <mutex>

typedef struct _GstSample GstSample;

namespace fw {

class VideoPreviewWidget : public QWidget {
public:
  explicit VideoPreviewWidget(QWidget *parent);
  ~VideoPreviewWidget() override;

  // Streaming thread: keeps a reference to sample (BGR frames) for painting.
  void Present(GstSample *sample);

  // Frames presented so far (tests).
  long long PresentedCount() const { return presented_.load(std::memory_order_relaxed); }

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  std::mutex mutex_;
  GstSample *latest_ = nullptr; // guarded by mutex_
  std::atomic<bool> repaintPending_{false};
  std::atomic<long long> presented_{0};
};

} // namespace fw
