#include "app/FramewellApplication.h"

#include "app/TForm1.h"
#include "app/TSetupFrm.h"
#include "base/ProgramFolder.h"
#include "dicom/TemporaryFiles.h"
#include "ui/MessageBoxes.h"

#include <cstdlib>
#include <exception>
#include <string>

namespace fw {
namespace {

std::string DescribeCurrentException() {
  try {
    throw;
  } catch (const std::exception &error) {
    return error.what();
  } catch (...) {
    return "Unknown error";
  }
}

} // namespace

FramewellApplication::FramewellApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool FramewellApplication::notify(QObject *receiver, QEvent *event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowLastResortError(DescribeCurrentException());
    QCoreApplication::exit(EXIT_FAILURE);
    return false;
  }
}

int GuardedRun(const std::function<int()> &step) {
  try {
    return step();
  } catch (...) {
    ShowLastResortError(DescribeCurrentException());
    return EXIT_FAILURE;
  }
}

int RunStation(QApplication &app, const AcquisitionWindowFactory &acquisitionWindow) {
  return GuardedRun([&app, &acquisitionWindow] {
    TForm1 form1;
    // Partial files of a write that a kill interrupted, before anything
    // looks at temp/.
    RemoveAbandonedTemporaries(programFolder + "temp/", ".dcm");
    TSetupFrm setup(programFolder, StationConfig(), &form1);
    form1.SetupFrm = &setup;
    std::unique_ptr<AcquisitionWindowHost> acquisition;
    if (acquisitionWindow) {
      acquisition = acquisitionWindow(form1);
    }
    if (acquisition) {
      form1.OpenAcquisitionWindow = [window = acquisition.get()] { window->OpenModal(); };
    }
    form1.show();
    const int exitCode = app.exec();
    form1.OpenAcquisitionWindow = nullptr;
    return exitCode;
  });
}

} // namespace fw
