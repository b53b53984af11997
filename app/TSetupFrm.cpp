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
#include <utility>
#include <vector>

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
  PageControl1->addTab(BuildLocalTab(), QStringLiteral("Local"));
  PageControl1->addTab(BuildServerTab(1, Button1, "Button1"), QStringLiteral("PACS"));
  PageControl1->addTab(BuildServerTab(2, Button2, "Button2"), QStringLiteral("WL Server"));
  Edit1 = fieldEdits_[0];
  Edit2 = fieldEdits_[1];
  Edit3 = fieldEdits_[2];
  Edit4 = fieldEdits_[3];
  Edit5 = fieldEdits_[4];
  Edit6 = fieldEdits_[5];
  Edit7 = fieldEdits_[6];
  Edit8 = fieldEdits_[7];
  BuildDialogButtons();

  connect(BitBtn1, &QPushButton::clicked, this, &TSetupFrm::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TSetupFrm::BitBtn2Click);
  connect(Button1, &QPushButton::clicked, this, &TSetupFrm::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TSetupFrm::Button2Click);

  // Before the configuration is applied the fields show the built-in
  // defaults and the list no modality.
  ShowFields(setupcfg{});
  ComboBox1->setCurrentIndex(-1);
  ComboBox1->setEditText(QStringLiteral("Modality"));
  PageControl1->setCurrentIndex(0);
}

void TSetupFrm::AddPageFields(int page, QFormLayout *form, QWidget *tab) {
  for (std::size_t i = 0; i < SETUP_FIELDS.size(); ++i) {
    if (SETUP_FIELDS[i].page == page) {
      fieldEdits_[i] = AddField(form, SETUP_FIELDS[i].formLabel, SETUP_FIELDS[i].widget, tab);
    }
  }
}

QWidget *TSetupFrm::BuildLocalTab() {
  auto *local = new QWidget;
  auto *localForm = new QFormLayout(local);
  AddPageFields(0, localForm, local);
  ComboBox1 = new QComboBox(local);
  ComboBox1->setObjectName("ComboBox1");
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);
  for (const std::string_view modality : MODALITY_LIST) {
    ComboBox1->addItem(QString::fromLatin1(modality.data(), static_cast<qsizetype>(modality.size())));
  }
  localForm->addRow(QStringLiteral("Modality:"), ComboBox1);
  return local;
}

QWidget *TSetupFrm::BuildServerTab(int page, QPushButton *&testButton, const char *buttonName) {
  auto *tab = new QWidget;
  auto *form = new QFormLayout(tab);
  AddPageFields(page, form, tab);
  testButton = new QPushButton(QStringLiteral("Test"), tab);
  testButton->setObjectName(buttonName);
  form->addRow(QString(), testButton);
  return tab;
}

void TSetupFrm::BuildDialogButtons() {
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
  ReadFields(record_);
  record_.Reserved = std::string(1, '0');
  record_.ModalityIndex = 0;
  ComboBox1->setCurrentIndex(0);
}

void TSetupFrm::ShowFields(const setupcfg &source) {
  for (std::size_t i = 0; i < SETUP_FIELDS.size(); ++i) {
    if (fieldEdits_[i] != nullptr) {
      fieldEdits_[i]->setText(FromLatin1(source.*SETUP_FIELDS[i].member));
    }
  }
}

void TSetupFrm::ReadFields(setupcfg &target) const {
  for (std::size_t i = 0; i < SETUP_FIELDS.size(); ++i) {
    if (fieldEdits_[i] != nullptr) {
      target.*SETUP_FIELDS[i].member = ToLatin1(fieldEdits_[i]->text());
    }
  }
}

std::optional<std::string> TSetupFrm::RefusedField(int page) const {
  std::vector<std::pair<std::string, QString>> texts;
  std::vector<ConfigField> values;
  for (std::size_t i = 0; i < SETUP_FIELDS.size(); ++i) {
    const SetupField &field = SETUP_FIELDS[i];
    if (fieldEdits_[i] == nullptr || (page >= 0 && field.page != page)) {
      continue;
    }
    const std::string label = page >= 0 ? field.formLabel : field.label;
    texts.emplace_back(label, fieldEdits_[i]->text());
    values.push_back({label, field.kind, ToLatin1(fieldEdits_[i]->text())});
  }
  // A character the file cannot hold first, then the rules the file is read
  // with: what the dialog saves is read back unchanged at the next start.
  if (auto refused = CheckLatin1Fields(texts)) {
    return refused;
  }
  return CheckConfigFields(values);
}

void TSetupFrm::ShowRecord() {
  ShowFields(record_);
  if (record_.ModalityIndex >= 0 && record_.ModalityIndex < ComboBox1->count()) {
    ComboBox1->setCurrentIndex(record_.ModalityIndex);
  } else {
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(QString());
  }
}

void TSetupFrm::BitBtn1Click() {
  // A field that cannot be saved is refused before anything changes; the
  // dialog stays open so the operator can correct it.
  if (const auto refused = RefusedField(-1)) {
    ShowError(*refused, this);
    return;
  }
  accept();
  ReadFields(record_);
  // A typed text that is not exactly one of the list's entries selects none.
  const int index = ComboBox1->findText(ComboBox1->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
  record_.ModalityIndex = index;
  std::string reason;
  if (!SaveConfig(record_, path_, &reason)) {
    ShowError("Cannot create file \"" + path_ + "\". " + reason, this);
  }
}

void TSetupFrm::BitBtn2Click() { reject(); }

void TSetupFrm::Button1Click() { TestNode(1, Edit3, Edit4, Edit5); }

void TSetupFrm::Button2Click() { TestNode(2, Edit6, Edit7, Edit8); }

void TSetupFrm::TestNode(int page, QLineEdit *aet, QLineEdit *ip, QLineEdit *port) {
  if (const auto refused = RefusedField(page)) {
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
