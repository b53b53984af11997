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

namespace fw {

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

  WalkOptions options_;
  std::vector<WalkStep> steps_;
  std::vector<std::string> boxes_;
  int failureBoxes_ = 0; // errors and warnings shown
  std::vector<std::string> filesMade_;
};

} // namespace fw
