// The setup dialog: the station's identity and its two peers, kept in the
// process-wide record and in "quillbrook.cfg", with a verification test of
// each peer.
//
// Created once at start, after the main window: creation loads the file
// into the record (built-in defaults without a file). OK copies the fields
// into the record and writes the file; Cancel changes neither and leaves the
// typed fields as they are for the next opening. Test uses the tab's own
// address, port and AE title with the saved local AE title.
#pragma once

#include "app/shell/ConfigFile.h"
#include "station/StationRecords.h"

#include <QDialog>

#include <array>
#include <optional>
#include <string>

class QComboBox;
class QFormLayout;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace fw {

inline constexpr int ECHO_TIMEOUT_SECONDS = 10;

class TSetupFrm : public QDialog {
  Q_OBJECT

public:
  // Loads `folder` + "quillbrook.cfg" into the record.
  explicit TSetupFrm(const std::string &folder, setupcfg &record = StationConfig(), QWidget *parent = nullptr);
  ~TSetupFrm() override;

  QTabWidget *PageControl1 = nullptr;
  // "Local"
  QLineEdit *Edit1 = nullptr;     // "Local AET"
  QLineEdit *Edit2 = nullptr;     // "Inst. Name:"
  QComboBox *ComboBox1 = nullptr; // "Modality:"
  // "PACS"
  QLineEdit *Edit3 = nullptr; // "AET"
  QLineEdit *Edit4 = nullptr; // "IP Address"
  QLineEdit *Edit5 = nullptr; // "Port"
  QPushButton *Button1 = nullptr;
  // "WL Server"
  QLineEdit *Edit6 = nullptr;
  QLineEdit *Edit7 = nullptr;
  QLineEdit *Edit8 = nullptr;
  QPushButton *Button2 = nullptr;

  QPushButton *BitBtn1 = nullptr; // "OK"
  QPushButton *BitBtn2 = nullptr; // "Cancel"

  const std::string &ConfigPath() const { return path_; }

public slots:
  void BitBtn1Click();
  void BitBtn2Click();
  void Button1Click();
  void Button2Click();

private:
  void BuildControls();
  // The steps of BuildControls, in the order the widgets are created: the
  // line edits of a tab in the table's order come first on it.
  void AddPageFields(int page, QFormLayout *form, QWidget *tab);
  QWidget *BuildLocalTab();
  // The PACS (page 1) and worklist (page 2) tabs: fields, then a Test button.
  QWidget *BuildServerTab(int page, QPushButton *&testButton, const char *buttonName);
  // OK and Cancel below the tabs.
  void BuildDialogButtons();
  void FormCreate();
  void ShowRecord();
  // The line edits from and into a record, by the fields' table.
  void ShowFields(const setupcfg &source);
  void ReadFields(setupcfg &target) const;
  // The box text for the first field of the page (all pages: -1) that
  // cannot be saved, labelled as on its tab (page) or in the whole dialog.
  std::optional<std::string> RefusedField(int page) const;
  void TestNode(int page, QLineEdit *aet, QLineEdit *ip, QLineEdit *port);

  setupcfg &record_;
  std::string path_;
  // The line edit of each SETUP_FIELDS entry; nullptr for a line not shown.
  std::array<QLineEdit *, CONFIG_LINE_COUNT - 1> fieldEdits_{};
};

} // namespace fw
