// Framewell: entry point of the acquisition station.
#include "app/FramewellApplication.h"
#include "app/StationAcquisitionWindow.h"

int main(int argc, char **argv) {
  fw::FramewellApplication app(argc, argv);
  return fw::RunStation(app, fw::CreateAcquisitionWindow);
}
