#include "app/TForm1.h"

#include "app/TSetupFrm.h"
#include "app/shell/PatientText.h"
#include "base/Log.h"
#include "base/ProgramFolder.h"
#include "framewell/Version.h"
#include "ui/MessageBoxes.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cstdio>

namespace fw {

std::string FileVersionText() {
  char text[48];
  std::snprintf(text, sizeof(text), "%d.%d.%d", FRAMEWELL_VERSION_MAJOR, FRAMEWELL_VERSION_MINOR,
                FRAMEWELL_VERSION_PATCH);
  return text;
}

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

TForm1::TForm1(QWidget *parent) : QWidget(parent) {
  setObjectName("Form1");
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
  setWindowTitle(QString::fromLatin1(("Framewell - " + FileVersionText()).c_str()));
  BuildControls();
  programFolder = ResolveProgramFolder(CurrentProgramFolderInputs());
  ApplyStartupSettings(programFolder, LocalToday());
  WriteLog("INFO, Framewell " + FileVersionText() + " started");
}

namespace {

QPushButton *MakeButton(const char *caption, const char *name, QWidget *parent) {
  auto *button = new QPushButton(QString::fromLatin1(caption), parent);
  button->setObjectName(name);
  return button;
}

QLineEdit *MakeEdit(const char *name, QWidget *parent) {
  auto *edit = new QLineEdit(parent);
  edit->setObjectName(name);
  return edit;
}

} // namespace

void TForm1::BuildControls() {
  QFormLayout *fields = BuildPatientFields();
  QHBoxLayout *searchButtons = BuildSearchButtons();
  BuildResultGrid();
  QHBoxLayout *bottomButtons = BuildBottomButtons();

  auto *layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addLayout(searchButtons);
  layout->addWidget(StringGrid1, 1);
  layout->addLayout(bottomButtons);
  resize(840, 600);

  ConnectButtons();
  ShowGrid();
}

QFormLayout *TForm1::BuildPatientFields() {
  Edit1 = MakeEdit("Edit1", this);
  Edit2 = MakeEdit("Edit2", this);
  DateTimePicker1 = new QDateEdit(QDate::currentDate(), this);
  DateTimePicker1->setObjectName("DateTimePicker1");
  DateTimePicker1->setCalendarPopup(true);
  DateTimePicker1->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
  ComboBox1 = new QComboBox(this);
  ComboBox1->setObjectName("ComboBox1");
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);
  ComboBox1->addItems({QStringLiteral("Male"), QStringLiteral("Female"), QStringLiteral("Other")});
  ComboBox1->setCurrentIndex(0);
  Edit5 = MakeEdit("Edit5", this);
  Edit6 = MakeEdit("Edit6", this);

  auto *fields = new QFormLayout;
  fields->addRow(QStringLiteral("Patient ID"), Edit1);
  fields->addRow(QStringLiteral("Patient Name"), Edit2);
  fields->addRow(QStringLiteral("Patient BD"), DateTimePicker1);
  fields->addRow(QStringLiteral("Patient Sex"), ComboBox1);
  fields->addRow(QStringLiteral("Accession Number"), Edit5);
  fields->addRow(QStringLiteral("Study Description"), Edit6);
  return fields;
}

QHBoxLayout *TForm1::BuildSearchButtons() {
  Button1 = MakeButton("Search PACS", "Button1", this);
  Button7 = MakeButton("Search WL", "Button7", this);
  Button5 = MakeButton("Setup", "Button5", this);
  Button2 = MakeButton("Clear", "Button2", this);
  Button6 = MakeButton("Cancel", "Button6", this);
  Button6->setEnabled(false);
  auto *searchButtons = new QHBoxLayout;
  for (QPushButton *button : {Button1, Button7, Button5, Button2, Button6}) {
    searchButtons->addWidget(button);
  }
  searchButtons->addStretch();
  return searchButtons;
}

void TForm1::BuildResultGrid() {
  StringGrid1 = new QTableWidget(this);
  StringGrid1->setObjectName("StringGrid1");
  StringGrid1->setColumnCount(GRID_COLUMNS);
  QStringList titles;
  for (const std::string_view title : GRID_TITLES) {
    titles << QString::fromLatin1(title.data(), static_cast<qsizetype>(title.size()));
  }
  StringGrid1->setHorizontalHeaderLabels(titles);
  for (int c = 0; c < GRID_COLUMNS; ++c) {
    StringGrid1->setColumnWidth(c, GRID_WIDTHS[static_cast<std::size_t>(c)]);
  }
  StringGrid1->verticalHeader()->hide();
  StringGrid1->setWordWrap(false);
  StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
  StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  connect(StringGrid1, &QTableWidget::currentCellChanged, this,
          [this](int row, int, int, int) { selection_.Grid().SetCurrentRow(row + 1); });
}

QHBoxLayout *TForm1::BuildBottomButtons() {
  Button3 = MakeButton("Acquire", "Button3", this);
  Button4 = MakeButton("End", "Button4", this);
  auto *bottomButtons = new QHBoxLayout;
  bottomButtons->addWidget(Button3);
  bottomButtons->addStretch();
  bottomButtons->addWidget(Button4);
  return bottomButtons;
}

void TForm1::ConnectButtons() {
  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button7, &QPushButton::clicked, this, &TForm1::Button7Click);
  connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
  connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
  connect(Button6, &QPushButton::clicked, this, &TForm1::Button6Click);
  // While a search waits for its peer: the window's events run, and Cancel
  // or the close are noticed.
  selection_.cancelRequested = [this] {
    QCoreApplication::processEvents();
    return cancelRequested_;
  };
}

PatientFields TForm1::TypedFields() const {
  PatientFields fields;
  fields.patientID = ToRecordText(Edit1->text());
  fields.patientName = ToRecordText(Edit2->text());
  const QDate date = DateTimePicker1->date();
  fields.birthDate = std::chrono::year{date.year()} / date.month() / date.day();
  fields.sexText = ToRecordText(ComboBox1->currentText());
  fields.accessionNumber = ToRecordText(Edit5->text());
  fields.studyDescription = ToRecordText(Edit6->text());
  return fields;
}

bool TForm1::TypedFieldsFit() {
  const auto refused = CheckRecordFields({{"Patient ID", Edit1->text()},
                                          {"Patient Name", Edit2->text()},
                                          {"Patient Sex", ComboBox1->currentText()},
                                          {"Accession Number", Edit5->text()},
                                          {"Study Description", Edit6->text()}});
  if (refused) {
    ShowError(*refused, this);
    return false;
  }
  return true;
}

bool TForm1::ConfirmSearch(const PatientFields &fields) {
  return !HasNoFilters(fields) || ConfirmOkCancel(this, NO_FILTER_CAPTION, NO_FILTER_WARNING);
}

void TForm1::SetButtonsEnabled(bool enabled) {
  for (QPushButton *button : {Button1, Button7, Button2, Button5, Button3, Button4}) {
    button->setEnabled(enabled);
  }
  Button6->setEnabled(!enabled);
}

void TForm1::RunSearch(const std::function<SearchResult(const PatientSelection::RowAdded &)> &search) {
  // Clear or End inside the event processing between rows would empty the
  // grid under the search or free the log: the buttons wait until it ends.
  struct Busy {
    TForm1 &form;
    explicit Busy(TForm1 &f) : form(f) {
      form.searching_ = true;
      form.cancelRequested_ = false;
      form.SetButtonsEnabled(false);
      QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~Busy() {
      QApplication::restoreOverrideCursor();
      form.SetButtonsEnabled(true);
      form.searching_ = false;
    }
  };
  {
    const Busy busy(*this);
    ShowGrid();
    const SearchResult outcome = search([this] {
      ShowLastRow();
      QCoreApplication::processEvents();
    });
    ShowGrid();
    if (outcome.LimitReached() && !closeAfterSearch_) {
      ShowInformation(MATCH_LIMIT_MESSAGE, this);
    }
  }
  // The operator closed the window during the search and agreed to cancel.
  if (closeAfterSearch_) {
    closeAfterSearch_ = false;
    close();
  }
}

void TForm1::Button1Click() {
  if (searching_ || !TypedFieldsFit()) {
    return;
  }
  const PatientFields fields = TypedFields();
  if (!ConfirmSearch(fields)) {
    return;
  }
  RunSearch([&](const PatientSelection::RowAdded &rowAdded) {
    return selection_.SearchPacs(fields, StationConfig(), rowAdded);
  });
}

void TForm1::Button7Click() { SearchWl(DateText(LocalNow())); }

void TForm1::SearchWl(const std::string &today) {
  if (searching_ || !TypedFieldsFit()) {
    return;
  }
  const PatientFields fields = TypedFields();
  if (!ConfirmSearch(fields)) {
    return;
  }
  RunSearch([&](const PatientSelection::RowAdded &rowAdded) {
    return selection_.SearchWorklistServer(fields, StationConfig(), today, rowAdded);
  });
}

void TForm1::Button5Click() {
  if (SetupFrm != nullptr) {
    SetupFrm->exec();
  }
}

void TForm1::Button2Click() {
  if (searching_) {
    return;
  }
  Edit1->clear();
  Edit2->clear();
  Edit5->clear();
  Edit6->clear();
  ComboBox1->setCurrentIndex(0);
  ComboBox1->setEditText(QStringLiteral("Male"));
  selection_.Clear(StudyContext());
  ShowGrid();
}

void TForm1::Button3Click() { Acquire(LocalNow()); }

void TForm1::Acquire(const std::tm &now) {
  if (searching_) {
    return;
  }
  const ResultGrid &grid = selection_.Grid();
  if (grid.Cell(COL_NAME, grid.CurrentRow()).empty() && !TypedFieldsFit()) {
    return;
  }
  const AcquireCheck check = selection_.Acquire(StudyContext(), TypedFields(), StationConfig(), now);
  if (check != AcquireCheck::Ready) {
    ShowError(AcquireMessage(check), this);
    return;
  }
  if (OpenAcquisitionWindow) {
    OpenAcquisitionWindow();
  }
}

void TForm1::Button4Click() {
  if (!searching_) {
    close();
  }
}

void TForm1::Button6Click() {
  if (searching_) {
    cancelRequested_ = true;
  }
}

void TForm1::ShowGrid() {
  const ResultGrid &grid = selection_.Grid();
  QSignalBlocker block(StringGrid1);
  StringGrid1->setRowCount(grid.RowCount() - 1);
  for (int row = 1; row < grid.RowCount(); ++row) {
    for (int c = 0; c < GRID_COLUMNS; ++c) {
      StringGrid1->setItem(row - 1, c, new QTableWidgetItem(FromRecordText(grid.Cell(c, row))));
    }
  }
  StringGrid1->setCurrentCell(grid.CurrentRow() - 1, 0);
}

// During a search: the row just filled, and the empty one after it.
void TForm1::ShowLastRow() {
  const ResultGrid &grid = selection_.Grid();
  QSignalBlocker block(StringGrid1);
  const int filled = grid.RowCount() - 2;
  StringGrid1->setRowCount(grid.RowCount() - 1);
  for (int c = 0; c < GRID_COLUMNS; ++c) {
    StringGrid1->setItem(filled - 1, c, new QTableWidgetItem(FromRecordText(grid.Cell(c, filled))));
    StringGrid1->setItem(filled, c, new QTableWidgetItem(QString()));
  }
}

void TForm1::closeEvent(QCloseEvent *event) {
  if (searching_) {
    // The search is on the stack below this event: it ends first, and the
    // window closes after it.
    event->ignore();
    if (!cancelRequested_ &&
        ShowMessage({MessageKind::Question, "Framewell", CLOSE_DURING_SEARCH_QUESTION, this}) == MessageAnswer::Yes) {
      cancelRequested_ = true;
      closeAfterSearch_ = true;
    }
    return;
  }
  FormClose();
  event->accept();
}

void TForm1::FormClose() { FreeLogTarget(); }

} // namespace fw
