#include "app/TForm1.h"

#include "app/base/Log.h"
#include "app/base/ProgramFolder.h"
#include "framewell/Version.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>

namespace fw {

std::string FileVersionText() {
  char text[48];
  std::snprintf(text, sizeof(text), "%d.%d.%d", FRAMEWELL_VERSION_MAJOR, FRAMEWELL_VERSION_MINOR,
                FRAMEWELL_VERSION_PATCH);
  return text;
}

TForm1::TForm1(QWidget *parent) : QWidget(parent) {
  setObjectName("Form1");
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
  setWindowTitle(QString::fromLatin1(("Framewell - " + FileVersionText()).c_str()));

  Button4 = new QPushButton(QStringLiteral("End"), this);
  Button4->setObjectName("Button4");
  connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Button4);
  auto *layout = new QVBoxLayout(this);
  layout->addStretch();
  layout->addLayout(buttons);
  resize(800, 600);

  programFolder = ResolveProgramFolder(CurrentProgramFolderInputs());
  ApplyStartupSettings(programFolder, LocalToday());
  WriteLog("INFO, Framewell " + FileVersionText() + " started");
}

void TForm1::Button4Click() { close(); }

void TForm1::closeEvent(QCloseEvent *event) {
  FormClose();
  event->accept();
}

void TForm1::FormClose() { FreeLogTarget(); }

} // namespace fw
