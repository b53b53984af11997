#include "app/TSetupFrm.h"

#include "app/shell/ConfigFile.h"
#include "app/shell/Latin1Text.h"
#include "net/dimse/CEcho.h"
#include "ui/MessageBoxes.h"

#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cstdio>

namespace fw {
namespace {

QLineEdit *AddField(QFormLayout *form, const char *label, const char *name, QWidget *parent) {
  auto *edit = new QLineEdit(parent);
  edit->setObjectName(name);
  form->addRow(QString::fromLatin1(label), edit);
  return edit;
}

// Restores the cursor however the test ends.
struct BusyCursor {
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor &) = delete;
  BusyCursor &operator=(const BusyCursor &) = delete;
};

} // namespace

TSetupFrm::TSetupFrm(const std::string &folder, setupcfg &record, QWidget *parent)
    : QDialog(parent), record_(record), path_(folder + CONFIG_FILE_NAME) {
  setObjectName("SetupFrm");
  BuildControls();
  FormCreate();
}

TSetupFrm::~TSetupFrm() = default;

void TSetupFrm::BuildControls() {
  setWindowTitle(QStringLiteral("Setup"));
  setModal(true);
  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName("PageControl1");

  auto *local = new QWidget;
  auto *localForm = new QFormLayout(local);
  Edit1 = AddField(localForm, "Local AET", "Edit1", local);
  Edit2 = AddField(localForm, "Inst. Name:", "Edit2", local);
  ComboBox1 = new QComboBox(local);
  ComboBox1->setObjectName("ComboBox1");
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);
  for (const std::string_view modality : MODALITY_LIST) {
    ComboBox1->addItem(QString::fromLatin1(modality.data(), static_cast<qsizetype>(modality.size())));
  }
  localForm->addRow(QStringLiteral("Modality:"), ComboBox1);
  PageControl1->addTab(local, QStringLiteral("Local"));

  auto *pacs = new QWidget;
  auto *pacsForm = new QFormLayout(pacs);
  Edit3 = AddField(pacsForm, "AET", "Edit3", pacs);
  Edit4 = AddField(pacsForm, "IP Address", "Edit4", pacs);
  Edit5 = AddField(pacsForm, "Port", "Edit5", pacs);
  Button1 = new QPushButton(QStringLiteral("Test"), pacs);
  Button1->setObjectName("Button1");
  pacsForm->addRow(QString(), Button1);
  PageControl1->addTab(pacs, QStringLiteral("PACS"));

  auto *wl = new QWidget;
  auto *wlForm = new QFormLayout(wl);
  Edit6 = AddField(wlForm, "AET", "Edit6", wl);
  Edit7 = AddField(wlForm, "IP Address", "Edit7", wl);
  Edit8 = AddField(wlForm, "Port", "Edit8", wl);
  Button2 = new QPushButton(QStringLiteral("Test"), wl);
  Button2->setObjectName("Button2");
  wlForm->addRow(QString(), Button2);
  PageControl1->addTab(wl, QStringLiteral("WL Server"));

  BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setDefault(true);
  BitBtn2 = new QPushButton(QStringLiteral("Cancel"), this);
  BitBtn2->setObjectName("BitBtn2");
  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn2);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(PageControl1);
  layout->addLayout(buttons);

  connect(BitBtn1, &QPushButton::clicked, this, &TSetupFrm::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TSetupFrm::BitBtn2Click);
  connect(Button1, &QPushButton::clicked, this, &TSetupFrm::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TSetupFrm::Button2Click);

  // Before the configuration is applied the fields show the built-in
  // defaults and the list no modality.
  const setupcfg defaults;
  Edit1->setText(FromLatin1(defaults.LocalAET));
  Edit2->setText(FromLatin1(defaults.InstitutionName));
  Edit3->setText(FromLatin1(defaults.PacsAET));
  Edit4->setText(FromLatin1(defaults.PacsIP));
  Edit5->setText(FromLatin1(defaults.PacsPort));
  Edit6->setText(FromLatin1(defaults.WlAET));
  Edit7->setText(FromLatin1(defaults.WlIP));
  Edit8->setText(FromLatin1(defaults.WlPort));
  ComboBox1->setCurrentIndex(-1);
  ComboBox1->setEditText(QStringLiteral("Modality"));
  PageControl1->setCurrentIndex(0);
}

void TSetupFrm::FormCreate() {
  ConfigLoad load;
  if (LoadConfig(record_, path_, &load)) {
    if (load.firstMissingLine >= 0) {
      // The record keeps what was read; the dialog keeps the defaults, so
      // that an OK writes a complete file again.
      char text[64];
      std::snprintf(text, sizeof text, "List index out of bounds (%d)", load.firstMissingLine);
      ShowError(text, this);
      ComboBox1->setCurrentIndex(0);
      // The reserved line has no field of its own: without it, its default
      // goes with the dialog's, so OK writes a complete default file.
      if (load.firstMissingLine <= 8) {
        static const setupcfg defaults;
        record_.Reserved = defaults.Reserved;
      }
      return;
    }
    ShowRecord();
    return;
  }
  record_.LocalAET = ToLatin1(Edit1->text());
  record_.InstitutionName = ToLatin1(Edit2->text());
  record_.PacsAET = ToLatin1(Edit3->text());
  record_.PacsIP = ToLatin1(Edit4->text());
  record_.PacsPort = ToLatin1(Edit5->text());
  record_.WlAET = ToLatin1(Edit6->text());
  record_.WlIP = ToLatin1(Edit7->text());
  record_.WlPort = ToLatin1(Edit8->text());
  record_.Reserved = std::string(1, '0');
  record_.ModalityIndex = 0;
  ComboBox1->setCurrentIndex(0);
}

void TSetupFrm::ShowRecord() {
  Edit1->setText(FromLatin1(record_.LocalAET));
  Edit2->setText(FromLatin1(record_.InstitutionName));
  Edit3->setText(FromLatin1(record_.PacsAET));
  Edit4->setText(FromLatin1(record_.PacsIP));
  Edit5->setText(FromLatin1(record_.PacsPort));
  Edit6->setText(FromLatin1(record_.WlAET));
  Edit7->setText(FromLatin1(record_.WlIP));
  Edit8->setText(FromLatin1(record_.WlPort));
  if (record_.ModalityIndex >= 0 && record_.ModalityIndex < ComboBox1->count()) {
    ComboBox1->setCurrentIndex(record_.ModalityIndex);
  } else {
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(QString());
  }
}

void TSetupFrm::BitBtn1Click() {
  // A character the file cannot hold is refused before anything changes;
  // the dialog stays open so the operator can correct it.
  if (const auto refused = CheckLatin1Fields({{"Local AET", Edit1->text()},
                                              {"Inst. Name", Edit2->text()},
                                              {"PACS AET", Edit3->text()},
                                              {"PACS IP Address", Edit4->text()},
                                              {"PACS Port", Edit5->text()},
                                              {"WL Server AET", Edit6->text()},
                                              {"WL Server IP Address", Edit7->text()},
                                              {"WL Server Port", Edit8->text()}})) {
    ShowError(*refused, this);
    return;
  }
  // The same rules the file is read with: what the dialog saves is read
  // back unchanged at the next start.
  if (const auto refused = CheckConfigFields({{"Local AET", ConfigFieldKind::AETitle, ToLatin1(Edit1->text())},
                                              {"Inst. Name", ConfigFieldKind::Text, ToLatin1(Edit2->text())},
                                              {"PACS AET", ConfigFieldKind::AETitle, ToLatin1(Edit3->text())},
                                              {"PACS IP Address", ConfigFieldKind::Text, ToLatin1(Edit4->text())},
                                              {"PACS Port", ConfigFieldKind::Port, ToLatin1(Edit5->text())},
                                              {"WL Server AET", ConfigFieldKind::AETitle, ToLatin1(Edit6->text())},
                                              {"WL Server IP Address", ConfigFieldKind::Text, ToLatin1(Edit7->text())},
                                              {"WL Server Port", ConfigFieldKind::Port, ToLatin1(Edit8->text())}})) {
    ShowError(*refused, this);
    return;
  }
  accept();
  record_.LocalAET = ToLatin1(Edit1->text());
  record_.InstitutionName = ToLatin1(Edit2->text());
  record_.PacsAET = ToLatin1(Edit3->text());
  record_.PacsIP = ToLatin1(Edit4->text());
  record_.PacsPort = ToLatin1(Edit5->text());
  record_.WlAET = ToLatin1(Edit6->text());
  record_.WlIP = ToLatin1(Edit7->text());
  record_.WlPort = ToLatin1(Edit8->text());
  // A typed text that is not exactly one of the list's entries selects none.
  const int index = ComboBox1->findText(ComboBox1->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
  record_.ModalityIndex = index;
  std::string reason;
  if (!SaveConfig(record_, path_, &reason)) {
    ShowError("Cannot create file \"" + path_ + "\". " + reason, this);
  }
}

void TSetupFrm::BitBtn2Click() { reject(); }

void TSetupFrm::Button1Click() { TestNode(Edit3, Edit4, Edit5); }

void TSetupFrm::Button2Click() { TestNode(Edit6, Edit7, Edit8); }

void TSetupFrm::TestNode(QLineEdit *aet, QLineEdit *ip, QLineEdit *port) {
  if (const auto refused =
          CheckLatin1Fields({{"AET", aet->text()}, {"IP Address", ip->text()}, {"Port", port->text()}})) {
    ShowError(*refused, this);
    return;
  }
  if (const auto refused = CheckConfigFields({{"AET", ConfigFieldKind::AETitle, ToLatin1(aet->text())},
                                              {"IP Address", ConfigFieldKind::Text, ToLatin1(ip->text())},
                                              {"Port", ConfigFieldKind::Port, ToLatin1(port->text())}})) {
    ShowError(*refused, this);
    return;
  }
  const std::string title = ToLatin1(aet->text());
  bool answered = false;
  {
    BusyCursor busy;
    answered = EchoNode(ToLatin1(ip->text()), ToLatin1(port->text()), record_.LocalAET, title, ECHO_TIMEOUT_SECONDS);
  }
  if (answered) {
    ShowInformation(title + " is up and running!", this);
  } else {
    ShowError("ERROR, " + title + " does not answer!", this);
  }
}

} // namespace fw
