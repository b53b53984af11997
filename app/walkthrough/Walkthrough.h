// Drives the station's real windows along the operator's usual road: worklist
// search, first row, Acquire, Snap, a clip, Snap, Send, Close. Message boxes
// are answered through the MessageBoxes seam and every step's outcome is
// recorded, so a program and a system test can share one road.
#pragma once

#include "ui/MessageBoxes.h"

#include <QString>

#include <chrono>
#include <string>
#include <vector>

class QWidget;

namespace fw {

class StationAcquisitionWindow;
class TForm1;
class TForm3;
class TSetupFrm;

struct WalkStep {
  std::string name;
  bool ok = false;
  std::string detail;
};

struct WalkOptions {
  // Where screenshots go; empty for none.
  QString screenshotFolder;
  // The answer to the close question when unsent images remain.
  MessageAnswer closeAnswer = MessageAnswer::Yes;
  // How long a clip may take before the step counts as failed.
  std::chrono::milliseconds clipDeadline{15000};
};

class Walkthrough {
public:
  explicit Walkthrough(WalkOptions options) : options_(std::move(options)) {}

  // Runs the whole road; true when every step succeeded. The program folder
  // and the station configuration must already be loaded.
  bool Run();

  const std::vector<WalkStep> &Steps() const { return steps_; }
  // Every box the windows showed, as "title: text".
  const std::vector<std::string> &Boxes() const { return boxes_; }
  // The acquired files as they stood before Send.
  const std::vector<std::string> &FilesMade() const { return filesMade_; }
  int ObjectsMade() const { return static_cast<int>(filesMade_.size()); }

private:
  void Record(std::string name, bool ok, std::string detail = {});
  // Records the box; the close question gets the answer of the options,
  // every other box Ok. Errors and warnings count as failures.
  MessageAnswer AnswerBox(const MessageRequest &request);
  // Saves a picture of the widget when a screenshot folder is given.
  void Shoot(QWidget &widget, const QString &name) const;
  void ShootSetupTabs(TSetupFrm &setup) const;
  // Searches the worklist and selects the first row; false when none came.
  bool SearchWorklist(TForm1 &form1);
  // Acquire from the main window, the road in the acquisition window once it
  // has opened, and back.
  void Acquire(TForm1 &form1, StationAcquisitionWindow &station);
  // Snap, a clip, Snap, Send.
  void WalkAcquisitionWindow(StationAcquisitionWindow &station);
  void CloseAcquisitionWindow(TForm3 &form3);
  bool AllStepsOk() const;

  WalkOptions options_;
  std::vector<WalkStep> steps_;
  std::vector<std::string> boxes_;
  int failureBoxes_ = 0; // errors and warnings shown
  std::vector<std::string> filesMade_;
};

} // namespace fw
