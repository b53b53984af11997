// The main window. Creating it fixes the program folder, creates the working
// folders and sets the log target; closing it releases the log target and so
// ends the run.
//
// The operator types a patient or picks one from a search of the PACS or the
// worklist server, then Acquire fills the study context and opens the
// acquisition window. The window only turns events into calls of
// PatientSelection, which holds the logic, and mirrors its grid.
//
// While a search runs only Cancel is enabled; the window processes its
// events while the search waits for its peer, so Cancel ends the search at
// once (the rows found stay), and closing the window asks
// CLOSE_DURING_SEARCH_QUESTION: Yes cancels the search and closes the window
// when it has ended, No lets it run.
#pragma once

#include "app/shell/PatientSelection.h"

#include <QWidget>

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

class QComboBox;
class QDateEdit;
class QFormLayout;
class QHBoxLayout;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace fw {

class TSetupFrm;

// "%d.%d.%d" of the version compiled in from the build.
std::string FileVersionText();

// The local time now.
std::tm LocalNow();

class TForm1 : public QWidget {
  Q_OBJECT

public:
  explicit TForm1(QWidget *parent = nullptr);
  ~TForm1() override;

  QLineEdit *Edit1 = nullptr;           // "Patient ID"
  QLineEdit *Edit2 = nullptr;           // "Patient Name"
  QDateEdit *DateTimePicker1 = nullptr; // "Patient BD"
  QComboBox *ComboBox1 = nullptr;       // "Patient Sex"
  QLineEdit *Edit5 = nullptr;           // "Accession Number"
  QLineEdit *Edit6 = nullptr;           // "Study Description"
  QPushButton *Button1 = nullptr;       // "Search PACS"
  QPushButton *Button7 = nullptr;       // "Search WL"
  QPushButton *Button5 = nullptr;       // "Setup"
  QPushButton *Button2 = nullptr;       // "Clear"
  QPushButton *Button6 = nullptr;       // "Cancel": ends a running search
  QTableWidget *StringGrid1 = nullptr;  // the results
  QPushButton *Button3 = nullptr;       // "Acquire"
  QPushButton *Button4 = nullptr;       // "End"

  // The setup dialog shown by "Setup"; set by the start sequence.
  TSetupFrm *SetupFrm = nullptr;
  // Opens the acquisition window modally and returns when it is closed; set
  // by the start sequence once that window exists.
  std::function<void()> OpenAcquisitionWindow;

  PatientSelection &Selection() { return selection_; }
  // True while a search runs.
  bool Searching() const { return searching_; }

  // The actions with the current time given, so tests need no waiting.
  void SearchWl(const std::string &today);
  void Acquire(const std::tm &now);

public slots:
  void Button1Click(); // Search PACS
  void Button7Click(); // Search WL
  void Button5Click(); // Setup
  void Button2Click(); // Clear
  void Button3Click(); // Acquire
  void Button4Click(); // End
  void Button6Click(); // Cancel (the running search)

protected:
  void closeEvent(QCloseEvent *event) override;

private:
  void FormCreate();
  void FormClose();
  void BuildControls();
  // The steps of BuildControls, in the order the widgets are created. The
  // fields and the button rows come back as layouts not yet in the window.
  QFormLayout *BuildPatientFields();
  QHBoxLayout *BuildSearchButtons();
  void BuildResultGrid();
  QHBoxLayout *BuildBottomButtons();
  // The buttons' clicks, and the cancel check a running search asks.
  void ConnectButtons();
  PatientFields TypedFields() const;
  // Box for a typed character an object cannot carry; true when there is none.
  bool TypedFieldsFit();
  // Asks before a search without filters; true to go on.
  bool ConfirmSearch(const PatientFields &fields);
  // Runs a search with the buttons disabled and a busy cursor.
  void RunSearch(const std::function<SearchResult(const PatientSelection::RowAdded &)> &search);
  void ShowGrid();
  void ShowLastRow();
  void SetButtonsEnabled(bool enabled);

  PatientSelection selection_;
  bool searching_ = false;
  // Cancel pressed, or the close agreed to, during the running search.
  bool cancelRequested_ = false;
  bool closeAfterSearch_ = false;
};

} // namespace fw
