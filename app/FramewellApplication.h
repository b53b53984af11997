// The Qt application object of the station, with the last-resort error box.
//
// Exceptions must not cross Qt's event loop: notify() catches whatever an
// event handler throws, shows it in the last-resort box and ends the event
// loop with a non-zero exit code.
#pragma once

#include <QApplication>

#include <functional>
#include <memory>

namespace fw {

class FramewellApplication : public QApplication {
public:
  FramewellApplication(int &argc, char **argv);

  bool notify(QObject *receiver, QEvent *event) override;
};

// The acquisition window as the start sequence and the main window see it:
// created hidden after the setup dialog, opened modally by Acquire.
class AcquisitionWindowHost {
public:
  virtual ~AcquisitionWindowHost() = default;
  // Shows the window modally and returns when it is closed.
  virtual void OpenModal() = 0;
};

// Creates the hidden acquisition window, given the main window.
using AcquisitionWindowFactory = std::function<std::unique_ptr<AcquisitionWindowHost>(QWidget &mainWindow)>;

// The start sequence: creates the main window, the setup dialog (which loads
// the station configuration) and the hidden acquisition window, runs the
// event loop and returns the program's exit code. An exception escaping any
// step is shown in the last-resort box and gives a non-zero exit code.
int RunStation(QApplication &app, const AcquisitionWindowFactory &acquisitionWindow = {});

// Runs a step of the start sequence; an escaping exception is shown in the
// last-resort box and turned into a non-zero exit code.
int GuardedRun(const std::function<int()> &step);

} // namespace fw
