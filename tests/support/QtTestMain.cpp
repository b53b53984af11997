// main() for window tests: one application object of the station's own
// class (so the last-resort handling is the real one) on the offscreen
// platform, then every GoogleTest case.
#include "app/FramewellApplication.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  fw::FramewellApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
