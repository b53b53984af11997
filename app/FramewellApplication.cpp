#include "app/FramewellApplication.h"

#include "app/TForm1.h"
#include "app/ui/MessageBoxes.h"

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

int RunStation(QApplication &app) {
  return GuardedRun([&app] {
    TForm1 form1;
    form1.show();
    return app.exec();
  });
}

} // namespace fw
