#include "app/StationAcquisitionWindow.h"

#include "base/ProgramFolder.h"

namespace fw {

StationAcquisitionWindow::StationAcquisitionWindow(QWidget &mainWindow, AcquisitionSessionSetup setup)
    : acquisition_(std::move(setup)), form_(acquisition_, &mainWindow) {}

std::unique_ptr<AcquisitionWindowHost> CreateAcquisitionWindow(QWidget &mainWindow) {
  AcquisitionSessionSetup setup;
  setup.programFolder = programFolder;
  // The process-wide records (StudyContext, StationConfig) and ShowMessage
  // are the setup's defaults.
  return std::make_unique<StationAcquisitionWindow>(mainWindow, std::move(setup));
}

} // namespace fw
