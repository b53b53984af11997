// Framewell: entry point of the acquisition station.
#include "app/FramewellApplication.h"

int main(int argc, char **argv) {
  fw::FramewellApplication app(argc, argv);
  return fw::RunStation(app);
}
