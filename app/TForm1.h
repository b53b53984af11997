// The main window. Creating it fixes the program folder, creates the working
// folders and sets the log target; closing it releases the log target and so
// ends the run. Patient selection joins it later.
#pragma once

#include <QWidget>

#include <string>

class QPushButton;

namespace fw {

// "%d.%d.%d" of the version compiled in from the build.
std::string FileVersionText();

class TForm1 : public QWidget {
  Q_OBJECT

public:
  explicit TForm1(QWidget *parent = nullptr);
  ~TForm1() override;

  QPushButton *Button4 = nullptr; // "End"

public slots:
  void Button4Click();

protected:
  void closeEvent(QCloseEvent *event) override;

private:
  void FormCreate();
  void FormClose();
};

} // namespace fw
