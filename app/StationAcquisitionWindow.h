// The station's acquisition window as the start sequence creates it: TForm3
// over the acquisition session on the first video device (or the source in
// FRAMEWELL_VIDEO_SOURCE), with the process-wide study context and station
// configuration and the program folder. Created hidden after the setup
// dialog; Acquire in the main window opens it modally.
#pragma once

#include "acquisition/StationAcquisition.h"
#include "acquisition/TForm3.h"
#include "app/FramewellApplication.h"

#include <memory>

namespace fw {

class StationAcquisitionWindow final : public AcquisitionWindowHost {
public:
  // The window is a child of mainWindow, so this object must go before it.
  StationAcquisitionWindow(QWidget &mainWindow, AcquisitionSessionSetup setup);

  void OpenModal() override { form_.ShowModal(); }

  TForm3 &Form() { return form_; }
  StationAcquisition &Acquisition() { return acquisition_; }

private:
  StationAcquisition acquisition_;
  TForm3 form_;
};

// The AcquisitionWindowFactory of the station: programFolder must be set
// (the main window sets it when it is created).
std::unique_ptr<AcquisitionWindowHost> CreateAcquisitionWindow(QWidget &mainWindow);

} // namespace fw
