// The Qt application object of the station, with the last-resort error box.
//
// Exceptions must not cross Qt's event loop: notify() catches whatever an
// event handler throws, shows it in the last-resort box and ends the event
// loop with a non-zero exit code.
#pragma once

#include <QApplication>

#include <functional>

namespace fw {

class FramewellApplication : public QApplication {
public:
  FramewellApplication(int &argc, char **argv);

  bool notify(QObject *receiver, QEvent *event) override;
};

// The start sequence: creates the main window (and, as they are built, the
// other windows), runs the event loop and returns the program's exit code.
// An exception escaping any step is shown in the last-resort box and gives
// a non-zero exit code.
int RunStation(QApplication &app);

// Runs a step of the start sequence; an escaping exception is shown in the
// last-resort box and turned into a non-zero exit code.
int GuardedRun(const std::function<int()> &step);

} // namespace fw
