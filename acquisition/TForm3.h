// The acquisition window: live video, Snap, Video, Configuration, Send and
// Close, the recording indicator and the thumbnail strip. A thin window over
// an AcquisitionControl; the main window shows it with ShowModal() once per
// acquisition, the object itself lives for the whole run.
//
// Layout (client area 784 x 612, not scaled; left, top, width x height):
//   live video      0, 0     configured size, fitted into 672 x 488 keeping
//                            its aspect ratio when larger
//   ProgressBar1    676, 8   100 x 17
//   Button6 Cancel  701, 30  75 x 25    shown only while a send runs
//   Button4 Video   701, 91  75 x 25    Button3 Snap      701, 122
//   Button5 Config. 701, 153            Button2 Send      701, 184
//   Button1 Close   701, 215
//   Shape1          717, 272 32 x 32, green (0,128,0) idle, red while recording
//   ScrollBox1      0, 492   784 x 120, holds Image1 (the strip) at 5, 5
// Tab order: Close, the strip, Send, Snap, Video, Configuration.
//
// The strip, the buttons and the indicator are redrawn when the acquisition
// reports (AcquisitionEvents): an object added, a clip started or ended, a
// send started or ended.
//
// Keys: Space and F9 take a still, F10 starts a clip, whatever has the focus.
// While a clip is recorded only the timer acts (Close and Configuration
// too are disabled); while a send runs every button is disabled but Cancel,
// which stops the send (the files not sent stay), and Escape and the title
// bar's close are refused like Close.
#pragma once

#include "acquisition/ThumbnailStrip.h"

#include <QDialog>
#include <QImage>
#include <QTimer>

#include <string>
#include <vector>

class QProgressBar;
class QPushButton;
class QScrollArea;

namespace fw {

class AcquisitionControl;

// The filled circle that shows whether a clip is being recorded.
class RecordingIndicator : public QWidget {
public:
  explicit RecordingIndicator(QWidget *parent) : QWidget(parent) {}
  void SetColour(QColor colour);
  QColor Colour() const { return colour_; }

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  QColor colour_{0, 128, 0};
};

// Image1: the strip picture; reports mouse presses with their x position.
class StripImage : public QWidget {
public:
  explicit StripImage(QWidget *parent) : QWidget(parent) {}
  void SetPicture(QImage picture);
  const QImage &Picture() const { return picture_; }
  std::function<void(Qt::MouseButton, int x)> onPress;

protected:
  void paintEvent(QPaintEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;

private:
  QImage picture_;
};

class TForm3 : public QDialog {
public:
  static constexpr int CLIENT_WIDTH = 784;
  static constexpr int CLIENT_HEIGHT = 612;
  // The area the live video may take: left of the progress bar and the
  // buttons, above the strip.
  static constexpr QRect VIDEO_AREA{0, 0, 672, 488};

  explicit TForm3(AcquisitionControl &session, QWidget *parent = nullptr);
  ~TForm3() override;

  // Shows the window modally for one acquisition; returns when it closed.
  int ShowModal() { return exec(); }

  // The opening has run for the current showing.
  bool Opened() const { return opened_; }

  // Event handlers, named after their components.
  void FormActivate();
  void Button3Click(); // Snap
  void Button4Click(); // Video
  void Button5Click(); // Configuration
  void Button2Click(); // Send
  void Button1Click(); // Close
  void Button6Click(); // Cancel (the running send)
  void Timer1Timer();
  void Image1MouseDown(Qt::MouseButton button, int x);
  void RefreshThumbnails();

  QProgressBar *ProgressBar1 = nullptr;
  QPushButton *Button4 = nullptr;
  QPushButton *Button3 = nullptr;
  QPushButton *Button5 = nullptr;
  QPushButton *Button2 = nullptr;
  QPushButton *Button1 = nullptr;
  QPushButton *Button6 = nullptr;
  RecordingIndicator *Shape1 = nullptr;
  QScrollArea *ScrollBox1 = nullptr;
  StripImage *Image1 = nullptr;
  QTimer Timer1;

  // Escape and the title bar's close come here, as Close does.
  void reject() override;

  // Tiles decoded by the strip so far (tests, benchmarks).
  const ThumbnailCache &Thumbnails() const { return thumbnails_; }

protected:
  void showEvent(QShowEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override; // FormMouseDown

private:
  void MakeControls();
  void ConnectControls();
  void FormClose();
  void TakeStill();
  void UpdateControls();
  void PlaceLiveVideo();
  void WatchCapture();
  void ShowStrip(QImage picture);

  AcquisitionControl &session_;
  ThumbnailCache thumbnails_;
  std::vector<std::string> drawnFiles_;
  bool opened_ = false;
  bool openingPosted_ = false;
  bool sending_ = false;
  // Inside the closing: the emptied file list is not drawn.
  bool closing_ = false;
};

} // namespace fw
