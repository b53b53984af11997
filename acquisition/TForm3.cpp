// The acquisition window.
#include "acquisition/TForm3.h"

#include "acquisition/AcquisitionControl.h"
#include "acquisition/CaptureConfig.h"
#include "acquisition/MySampleGrabber.h"
#include "station/StationRecords.h"
#include "ui/MessageBoxes.h"

#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>

namespace fw {
namespace {

constexpr QColor IDLE_COLOUR{0, 128, 0};
constexpr QColor RECORDING_COLOUR{255, 0, 0};
constexpr int STRIP_MARGIN = 5;

QPushButton *MakeButton(QWidget *parent, const char *caption, QRect geometry, const char *toolTip) {
  auto *button = new QPushButton(QString::fromLatin1(caption), parent);
  button->setGeometry(geometry);
  // Enter must not press a button the operator did not aim at.
  button->setAutoDefault(false);
  button->setDefault(false);
  if (toolTip != nullptr) {
    button->setToolTip(QString::fromLatin1(toolTip));
  }
  return button;
}

} // namespace

void RecordingIndicator::SetColour(QColor colour) {
  colour_ = colour;
  update();
}

void RecordingIndicator::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(colour_);
  painter.setBrush(colour_);
  painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

void StripImage::SetPicture(QImage picture) {
  picture_ = std::move(picture);
  update();
}

void StripImage::paintEvent(QPaintEvent *) {
  if (!picture_.isNull()) {
    QPainter(this).drawImage(0, 0, picture_);
  }
}

void StripImage::mousePressEvent(QMouseEvent *event) {
  if (onPress) {
    onPress(event->button(), event->position().toPoint().x());
  }
}

TForm3::TForm3(AcquisitionControl &session, QWidget *parent) : QDialog(parent), session_(session) {
  setWindowTitle(QStringLiteral("Acquisition Form"));
  setFixedSize(CLIENT_WIDTH, CLIENT_HEIGHT);
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(11);
  setFont(font);
  MakeControls();
  ConnectControls();

  // The strip, the buttons and the indicator follow what the acquisition
  // reports; the closing's emptied list is not drawn (the next opening
  // starts from a blank strip).
  AcquisitionEvents events;
  events.filesChanged = [this] {
    if (!closing_) {
      RefreshThumbnails();
    }
  };
  events.recording = [this](bool) { UpdateControls(); };
  events.sending = [this](bool) { UpdateControls(); };
  session_.SetEvents(std::move(events));

  // Ticks for the whole run, shown or not.
  Timer1.setInterval(1000);
  connect(&Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer1.start();
}

void TForm3::MakeControls() {
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setGeometry(676, 8, 100, 17);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);

  Button4 = MakeButton(this, "Video", {701, 91, 75, 25}, "Record a clip (F10)");
  Button3 = MakeButton(this, "Snap", {701, 122, 75, 25}, "Take a still (Space or F9)");
  Button5 = MakeButton(this, "Configuration", {701, 153, 75, 25}, nullptr);
  Button2 = MakeButton(this, "Send", {701, 184, 75, 25}, nullptr);
  Button1 = MakeButton(this, "Close", {701, 215, 75, 25}, nullptr);
  Button6 = MakeButton(this, "Cancel", {701, 30, 75, 25}, "Stop sending; the images not sent are kept");
  Button6->hide();

  Shape1 = new RecordingIndicator(this);
  Shape1->setGeometry(717, 272, 32, 32);

  ScrollBox1 = new QScrollArea(this);
  ScrollBox1->setGeometry(0, CLIENT_HEIGHT - 120, CLIENT_WIDTH, 120);
  ScrollBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ScrollBox1->setWidgetResizable(false);
  auto *stripPanel = new QWidget;
  Image1 = new StripImage(stripPanel);
  Image1->setGeometry(STRIP_MARGIN, STRIP_MARGIN, 121, 92);
  stripPanel->resize(Image1->geometry().right() + 1 + STRIP_MARGIN, Image1->geometry().bottom() + 1);
  ScrollBox1->setWidget(stripPanel);

  setTabOrder(Button1, ScrollBox1);
  setTabOrder(ScrollBox1, Button2);
  setTabOrder(Button2, Button3);
  setTabOrder(Button3, Button4);
  setTabOrder(Button4, Button5);
  setTabOrder(Button5, ProgressBar1);
}

void TForm3::ConnectControls() {
  Image1->onPress = [this](Qt::MouseButton button, int x) { Image1MouseDown(button, x); };
  connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
  connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button6, &QPushButton::clicked, this, [this] { Button6Click(); });

  // Window-wide keys, for foot switches and busy hands: they work whatever
  // control has the focus, and a focused button does not take the Space bar.
  for (const QKeySequence &key : {QKeySequence(Qt::Key_Space), QKeySequence(Qt::Key_F9)}) {
    auto *shortcut = new QShortcut(key, this);
    shortcut->setContext(Qt::WindowShortcut);
    shortcut->setAutoRepeat(false);
    connect(shortcut, &QShortcut::activated, this, [this] { TakeStill(); });
  }
  auto *videoKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
  videoKey->setContext(Qt::WindowShortcut);
  videoKey->setAutoRepeat(false);
  connect(videoKey, &QShortcut::activated, this, [this] { Button4Click(); });
}

TForm3::~TForm3() {
  session_.SetEvents({});
  if (MySampleGrabber *grabber = session_.Grabber()) {
    grabber->SetStoppedHandler({});
  }
}

void TForm3::showEvent(QShowEvent *event) {
  QDialog::showEvent(event);
  // Once per opening: boxes shown over the window activate it again, and
  // must not run the opening again. Posted, so the window paints first.
  if (!opened_ && !openingPosted_) {
    openingPosted_ = true;
    QMetaObject::invokeMethod(
        this, [this] { FormActivate(); }, Qt::QueuedConnection);
  }
}

void TForm3::FormActivate() {
  openingPosted_ = false;
  if (opened_) {
    return;
  }
  opened_ = true;
  setWindowTitle(QStringLiteral("Acquisition Form - ") + QString::fromUtf8(StudyContext().patientName.c_str()));
  // The strip starts as an empty button-face picture of its current width.
  QImage blank(Image1->width(), THUMBNAIL_SIZE, QImage::Format_BGR888);
  blank.fill(palette().color(QPalette::Button));
  thumbnails_.Clear();
  drawnFiles_.clear();
  ShowStrip(std::move(blank));
  session_.Open(this);
  PlaceLiveVideo();
  WatchCapture();
  UpdateControls();
}

void TForm3::PlaceLiveVideo() {
  MySampleGrabber *grabber = session_.Grabber();
  if (grabber == nullptr || grabber->Preview() == nullptr) {
    return;
  }
  // The configured size at the top-left; a larger one is fitted into the
  // free area with its aspect ratio, so the whole picture shows.
  const CaptureConfig &capture = session_.Capture();
  QSize size(capture.width, capture.height);
  if (size.isEmpty()) {
    size = QSize(grabber->FrameWidth(), grabber->FrameHeight());
  }
  if (size.width() > VIDEO_AREA.width() || size.height() > VIDEO_AREA.height()) {
    size = FitKeepingAspect(size, VIDEO_AREA.size());
  }
  grabber->Preview()->setGeometry(QRect(VIDEO_AREA.topLeft(), size));
}

void TForm3::WatchCapture() {
  if (MySampleGrabber *grabber = session_.Grabber()) {
    // A clip in progress is saved: the events redraw the strip and buttons.
    grabber->SetStoppedHandler([this] { session_.CaptureStopped(); });
  }
}

void TForm3::UpdateControls() {
  const bool recording = session_.Recording();
  const bool busy = recording || sending_ || session_.Sending();
  for (QPushButton *button : {Button4, Button3, Button5, Button2, Button1}) {
    button->setEnabled(!busy);
  }
  const bool sending = sending_ || session_.Sending();
  Button6->setVisible(sending);
  Button6->setEnabled(sending);
  Shape1->SetColour(recording ? RECORDING_COLOUR : IDLE_COLOUR);
}

void TForm3::TakeStill() {
  if (!opened_ || session_.Recording() || sending_ || session_.Sending()) {
    return;
  }
  session_.Snap();
}

void TForm3::Button3Click() { TakeStill(); }

void TForm3::mousePressEvent(QMouseEvent *event) {
  QDialog::mousePressEvent(event);
  if (event->button() != Qt::RightButton) {
    return;
  }
  // Only the window's own surface and the live video (which lets clicks
  // through): a press on any control, enabled or not, is not a Snap.
  if (QWidget *child = childAt(event->position().toPoint()); child != nullptr) {
    MySampleGrabber *grabber = session_.Grabber();
    if (grabber == nullptr || child != grabber->Preview()) {
      return;
    }
  }
  TakeStill();
}

void TForm3::Button4Click() {
  if (!opened_ || session_.Recording() || sending_ || session_.Sending()) {
    return;
  }
  session_.Video();
}

void TForm3::Timer1Timer() { session_.Tick(); }

void TForm3::Button5Click() {
  if (!opened_ || session_.Recording() || sending_ || session_.Sending()) {
    return;
  }
  session_.Configure(this);
  PlaceLiveVideo();
  WatchCapture();
  UpdateControls();
}

void TForm3::Button2Click() {
  if (!opened_ || session_.Recording() || sending_ || session_.Sending()) {
    return;
  }
  sending_ = true;
  UpdateControls();
  session_.Send([this](int percent) { ProgressBar1->setValue(percent); });
  // The session's own end of the send came before its result box; the
  // buttons stayed disabled until here.
  sending_ = false;
  ProgressBar1->setValue(0);
  UpdateControls();
}

void TForm3::Button1Click() { reject(); }

void TForm3::Button6Click() {
  if (sending_ || session_.Sending()) {
    session_.CancelSend();
  }
}

void TForm3::reject() {
  // Nothing closes while a clip is recorded or a send runs: the files in use
  // must not be deleted under them.
  if (session_.Recording() || sending_ || session_.Sending()) {
    return;
  }
  closing_ = true;
  if (opened_ && !session_.MayClose()) {
    closing_ = false;
    return;
  }
  FormClose();
  closing_ = false;
  QDialog::reject();
}

void TForm3::FormClose() {
  if (opened_) {
    if (MySampleGrabber *grabber = session_.Grabber()) {
      grabber->SetStoppedHandler({});
    }
    session_.Close();
  }
  opened_ = false;
  thumbnails_.Clear();
  drawnFiles_.clear();
  ProgressBar1->setValue(0);
}

void TForm3::RefreshThumbnails() {
  std::vector<std::string> files = session_.FileList();
  if (files == drawnFiles_) {
    return;
  }
  // The object just saved is drawn from the frame it was made from.
  const NewestObject newest = session_.Newest();
  if (newest.firstFrame != nullptr) {
    thumbnails_.AddFromFrame(newest.path, *newest.firstFrame, ThumbnailCaption(newest.instanceNumber, newest.frames));
  }
  QImage strip;
  thumbnails_.Refresh(files, strip);
  drawnFiles_ = std::move(files);
  ShowStrip(std::move(strip));
}

void TForm3::ShowStrip(QImage picture) {
  const int width = picture.isNull() ? 0 : picture.width();
  Image1->resize(width, THUMBNAIL_SIZE);
  Image1->SetPicture(std::move(picture));
  Image1->parentWidget()->resize(STRIP_MARGIN + width + STRIP_MARGIN, STRIP_MARGIN + THUMBNAIL_SIZE);
}

void TForm3::Image1MouseDown(Qt::MouseButton button, int x) {
  if (button != Qt::RightButton || x < 0) {
    return;
  }
  // Deleting a single object is not offered; the box only names the slot's
  // question.
  const auto slot = static_cast<std::size_t>(x / THUMBNAIL_SIZE);
  if (slot < drawnFiles_.size()) {
    ShowInformation("Delete?");
  }
}

} // namespace fw
