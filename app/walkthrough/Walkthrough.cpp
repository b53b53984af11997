#include "app/walkthrough/Walkthrough.h"

#include "app/StationAcquisitionWindow.h"
#include "app/TForm1.h"
#include "app/TSetupFrm.h"
#include "base/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>

#include <functional>
#include <memory>

namespace fw {
namespace {

// Lets events run until done() holds or the deadline passes; true when done.
bool WaitFor(const std::function<bool()> &done, std::chrono::milliseconds deadline) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > deadline.count()) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  return true;
}

} // namespace

void Walkthrough::Record(std::string name, bool ok, std::string detail) {
  steps_.push_back({std::move(name), ok, std::move(detail)});
}

bool Walkthrough::Run() {
  ScopedMessageHandler boxes([this](const MessageRequest &request) { return AnswerBox(request); });

  TForm1 form1;
  TSetupFrm setup(programFolder, StationConfig(), &form1);
  form1.SetupFrm = &setup;
  std::unique_ptr<AcquisitionWindowHost> host = CreateAcquisitionWindow(form1);
  auto *station = dynamic_cast<StationAcquisitionWindow *>(host.get());
  if (station == nullptr) {
    Record("Create acquisition window", false, "no acquisition window");
    return false;
  }
  form1.show();

  ShootSetupTabs(setup);
  if (!SearchWorklist(form1)) {
    return false;
  }
  Acquire(form1, *station);
  form1.close();
  return AllStepsOk();
}

MessageAnswer Walkthrough::AnswerBox(const MessageRequest &request) {
  boxes_.push_back(request.title + ": " + request.text);
  if (request.kind == MessageKind::Error || request.kind == MessageKind::Warning) {
    ++failureBoxes_;
  }
  if (request.kind == MessageKind::Question) {
    return options_.closeAnswer;
  }
  return MessageAnswer::Ok;
}

void Walkthrough::Shoot(QWidget &widget, const QString &name) const {
  if (!options_.screenshotFolder.isEmpty()) {
    QDir().mkpath(options_.screenshotFolder);
    widget.grab().save(QDir(options_.screenshotFolder).filePath(name));
  }
}

void Walkthrough::ShootSetupTabs(TSetupFrm &setup) const {
  for (int tab = 0; tab < setup.PageControl1->count(); ++tab) {
    setup.PageControl1->setCurrentIndex(tab);
    Shoot(setup, QStringLiteral("setup-tab-%1.png").arg(tab + 1));
  }
}

bool Walkthrough::SearchWorklist(TForm1 &form1) {
  const int boxesBefore = failureBoxes_;
  form1.Button7Click();
  int rows = 0; // the grid keeps empty rows below the results
  for (int row = 0; row < form1.StringGrid1->rowCount(); ++row) {
    const QTableWidgetItem *cell = form1.StringGrid1->item(row, 0);
    rows += cell != nullptr && !cell->text().isEmpty() ? 1 : 0;
  }
  Record("Search WL", rows > 0 && failureBoxes_ == boxesBefore, std::to_string(rows < 0 ? 0 : rows) + " row(s)");
  Shoot(form1, QStringLiteral("main-window-worklist.png"));
  if (rows <= 0) {
    return false;
  }
  form1.StringGrid1->setCurrentCell(0, 0);
  return true;
}

void Walkthrough::Acquire(TForm1 &form1, StationAcquisitionWindow &station) {
  TForm3 &form3 = station.Form();
  bool opened = false;
  form1.OpenAcquisitionWindow = [&] {
    // Polled from inside the window's modal loop until its opening has run.
    QTimer poll;
    poll.setInterval(20);
    QElapsedTimer sinceOpen;
    sinceOpen.start();
    QObject::connect(&poll, &QTimer::timeout, &form3, [&] {
      opened = form3.isVisible() && form3.Opened();
      if (!opened && sinceOpen.elapsed() < 10000) {
        return;
      }
      poll.stop();
      Record("Open acquisition window", opened);
      if (opened) {
        WalkAcquisitionWindow(station);
      }
      CloseAcquisitionWindow(form3);
    });
    poll.start();
    station.OpenModal();
  };
  form1.Button3Click();
  // Acquire returns once the acquisition window has ended its showing.
  Record("Back in the main window", opened && !form3.isVisible());
  form1.OpenAcquisitionWindow = nullptr;
}

void Walkthrough::WalkAcquisitionWindow(StationAcquisitionWindow &station) {
  TForm3 &form3 = station.Form();
  int before = failureBoxes_;
  form3.Button3Click();
  Record("Snap", failureBoxes_ == before);
  before = failureBoxes_;
  form3.Button4Click();
  // The window's own one-second ticks end the clip.
  AcquisitionControl &session = station.Acquisition();
  const bool started = session.Recording();
  const bool clipDone = started && WaitFor([&] { return !session.Recording(); }, options_.clipDeadline);
  Record("Video", clipDone && failureBoxes_ == before,
         !started ? "the clip did not start" : (clipDone ? "" : "the clip did not end"));
  before = failureBoxes_;
  form3.Button3Click();
  Record("Snap", failureBoxes_ == before);
  QCoreApplication::processEvents();
  filesMade_ = station.Acquisition().FileList();
  Record("Objects made", filesMade_.size() == 3, std::to_string(filesMade_.size()) + " file(s)");
  Shoot(form3, QStringLiteral("acquisition-window.png"));
  before = failureBoxes_;
  form3.Button2Click();
  Record("Send", failureBoxes_ == before, failureBoxes_ == before ? "" : boxes_.back());
}

void Walkthrough::CloseAcquisitionWindow(TForm3 &form3) {
  form3.Button1Click();
  const bool closed = !form3.isVisible();
  Record("Close", closed, closed ? "" : "the window stayed open");
  if (!closed) {
    // The operator kept the images; end this showing without deleting them.
    form3.done(QDialog::Rejected);
  }
}

bool Walkthrough::AllStepsOk() const {
  for (const WalkStep &step : steps_) {
    if (!step.ok) {
      return false;
    }
  }
  return true;
}

} // namespace fw
