// The setup dialog and the main window on the offscreen platform, boxes
// answered through the seam: the start-up, OK and Cancel rules of the
// configuration, Test's addresses, the no-filter warning, the buttons during
// a search, Acquire's boxes and the acquisition window's opening. Searches
// here use search functions of the test's own or a scripted peer; the real
// peers are in the peer test. Screenshots of each setup tab go to the test
// output folder.
#include "app/FramewellApplication.h"
#include "app/TForm1.h"
#include "app/TSetupFrm.h"
#include "app/shell/ConfigFile.h"
#include "base/Log.h"
#include "dicom/TemporaryFiles.h"
#include "station/StationRecords.h"
#include "tests/net/AssociationScripts.h"
#include "tests/net/FindTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/TempDir.h"
#include "ui/MessageBoxes.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace fw {
namespace {

using test::LogCapture;
using test::ReadFileBytes;
using test::ScriptedPeer;
using test::TempDir;
namespace fs = std::filesystem;

const std::string kDefaultsFile =
    "QUILLBROOK\r\nInstitution Name\r\nPACS\r\n127.0.0.1\r\n104\r\nWORKLIST\r\n127.0.0.1\r\n104\r\n0\r\n0\r\n";

// Records every box and answers it.
struct RecordedBoxes {
  std::vector<MessageRequest> shown;
  MessageAnswer answer = MessageAnswer::Ok;
  MessageAnswer questionAnswer = MessageAnswer::Yes;
  ScopedMessageHandler handler{[this](const MessageRequest &request) {
    shown.push_back(request);
    if (request.kind == MessageKind::Question) {
      return questionAnswer;
    }
    return request.kind == MessageKind::OkCancel ? answer : MessageAnswer::Ok;
  }};
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto &m : shown) {
      texts.push_back(m.text);
    }
    return texts;
  }
};

void SaveScreenshot(QWidget &widget, const std::string &name) {
  fs::create_directories(FW_TEST_OUTPUT_DIR);
  widget.show();
  QApplication::processEvents();
  EXPECT_TRUE(widget.grab().save(QString::fromStdString(std::string(FW_TEST_OUTPUT_DIR) + "/" + name)));
}

// ------------------------------------------------------------ setup dialog

class SetupDialogTest : public ::testing::Test {
protected:
  std::string Path() const { return home.folder() + "quillbrook.cfg"; }
  void WriteFile(const std::string &bytes) { std::ofstream(Path(), std::ios::binary) << bytes; }

  TempDir home;
  setupcfg record;
  RecordedBoxes boxes;
};

TEST_F(SetupDialogTest, FirstStartShowsDefaultsAndOkWritesThem) {
  record.LocalAET = "not yet loaded";
  TSetupFrm dialog(home.folder(), record);
  EXPECT_EQ(dialog.windowTitle(), "Setup");
  EXPECT_EQ(dialog.PageControl1->tabText(0), "Local");
  EXPECT_EQ(dialog.PageControl1->tabText(1), "PACS");
  EXPECT_EQ(dialog.PageControl1->tabText(2), "WL Server");
  EXPECT_EQ(dialog.PageControl1->currentIndex(), 0);
  const std::vector<QString> shown = {dialog.Edit1->text(), dialog.Edit2->text(), dialog.Edit3->text(),
                                      dialog.Edit4->text(), dialog.Edit5->text(), dialog.Edit6->text(),
                                      dialog.Edit7->text(), dialog.Edit8->text(), dialog.ComboBox1->currentText()};
  EXPECT_EQ(shown, (std::vector<QString>{"QUILLBROOK", "Institution Name", "PACS", "127.0.0.1", "104", "WORKLIST",
                                         "127.0.0.1", "104", "US"}));
  EXPECT_EQ(record, setupcfg{});
  EXPECT_FALSE(fs::exists(Path())) << "nothing written at start";

  for (int tab = 0; tab < 3; ++tab) {
    dialog.PageControl1->setCurrentIndex(tab);
    SaveScreenshot(dialog, "setup_tab" + std::to_string(tab) + ".png");
  }
  dialog.BitBtn1Click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(ReadFileBytes(Path()), kDefaultsFile);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SetupDialogTest, ModalityLineSelectsTheEntry) {
  struct Case {
    const char *line;
    int index;
  } cases[] = {{"abc", 0}, {"3", 3}, {"-1", -1}, {"7", -1}};
  for (const Case &c : cases) {
    WriteFile("A\r\nB\r\nC\r\nD\r\n105\r\nF\r\nG\r\n108\r\nI\r\n" + std::string(c.line) + "\r\n");
    TSetupFrm dialog(home.folder(), record);
    EXPECT_EQ(dialog.ComboBox1->currentIndex(), c.index) << c.line;
    EXPECT_EQ(dialog.Edit8->text(), "108");
  }
}

TEST_F(SetupDialogTest, TypedModalitySavesMinusOneAndSelectsNothingNextTime) {
  {
    TSetupFrm dialog(home.folder(), record);
    dialog.ComboBox1->setEditText("XA");
    dialog.BitBtn1Click();
  }
  EXPECT_EQ(record.ModalityIndex, -1);
  EXPECT_TRUE(ReadFileBytes(Path()).ends_with("\r\n0\r\n-1\r\n"));
  setupcfg next;
  TSetupFrm dialog(home.folder(), next);
  EXPECT_EQ(dialog.ComboBox1->currentIndex(), -1);
  EXPECT_EQ(ModalityAt(next.ModalityIndex), "");
}

TEST_F(SetupDialogTest, ShortFileShowsTheBoxOnceAndOkWritesDefaults) {
  WriteFile("MYSTATION\r\nMy Clinic\r\nMYPACS\r\n");
  TSetupFrm dialog(home.folder(), record);
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"List index out of bounds (3)"});
  EXPECT_EQ(record.LocalAET, "MYSTATION");
  EXPECT_EQ(record.PacsAET, "MYPACS");
  EXPECT_EQ(record.PacsIP, "");
  EXPECT_EQ(record.Reserved, "0") << "the reserved line's default, so OK writes a complete file";
  EXPECT_EQ(record.ModalityIndex, 0);
  EXPECT_EQ(dialog.Edit1->text(), "QUILLBROOK") << "the dialog keeps the defaults";
  dialog.BitBtn1Click();
  EXPECT_EQ(ReadFileBytes(Path()), kDefaultsFile);
  EXPECT_EQ(boxes.shown.size(), 1u);
}

TEST_F(SetupDialogTest, UnwritableFileShowsTheSystemsReasonAndKeepsTheNewValues) {
  const std::string folder = home.folder() + "no-such-folder/";
  TSetupFrm dialog(folder, record);
  dialog.Edit4->setText("10.2.3.4");
  dialog.BitBtn1Click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(boxes.Texts(),
            std::vector<std::string>{"Cannot create file \"" + folder + "quillbrook.cfg\". No such file or directory"});
  EXPECT_EQ(record.PacsIP, "10.2.3.4");
}

TEST_F(SetupDialogTest, CancelKeepsTheTypedFieldsButNotTheRecord) {
  TSetupFrm dialog(home.folder(), record);
  dialog.Edit4->setText("10.9.9.9");
  dialog.BitBtn2Click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(record.PacsIP, "127.0.0.1");
  EXPECT_FALSE(fs::exists(Path()));
  EXPECT_EQ(dialog.Edit4->text(), "10.9.9.9") << "shown again at the next opening";
  dialog.BitBtn1Click();
  EXPECT_EQ(record.PacsIP, "10.9.9.9") << "and saved by a later OK";
}

TEST_F(SetupDialogTest, CharactersOutsideLatin1AreRefused) {
  TSetupFrm dialog(home.folder(), record);
  dialog.Edit2->setText(QString::fromUtf8("Caf\xE2\x82\xAC"));
  dialog.BitBtn1Click();
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Inst. Name: the character U+20AC is not allowed (Latin-1 only)"});
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(record.InstitutionName, "Institution Name");
  EXPECT_FALSE(fs::exists(Path()));

  dialog.Edit2->setText(QString::fromUtf8("H\xC3\xB4pital"));
  dialog.BitBtn1Click();
  EXPECT_EQ(record.InstitutionName, "H\xF4pital") << "Latin-1 letters are kept as their byte";
  EXPECT_NE(ReadFileBytes(Path()).find("H\xF4pital\r\n"), std::string::npos);
}

// The values the file reader refuses are refused by OK too, with a box that
// names the field; the dialog stays open and nothing is saved.
TEST_F(SetupDialogTest, ValuesTheFileWouldRefuseAreRefusedNamingTheField) {
  struct Case {
    QLineEdit *TSetupFrm::*field;
    QString typed;
    std::string box;
  };
  const std::string notAPort = " is not a port number from 1 to 65535";
  const std::string notAnAETitle = " holds a character an AE title may not have (control characters, backslash and "
                                   "characters outside ASCII are not allowed)";
  const std::vector<Case> cases = {
      {&TSetupFrm::Edit5, "105844", "PACS Port: \"105844\"" + notAPort},
      {&TSetupFrm::Edit5, "-25227", "PACS Port: \"-25227\"" + notAPort},
      {&TSetupFrm::Edit8, " 40309xyz", "WL Server Port: \" 40309xyz\"" + notAPort},
      {&TSetupFrm::Edit1, "ABCDEFGHIJKLMNOPQ", "Local AET: \"ABCDEFGHIJKLMNOPQ\" is longer than 16 characters"},
      {&TSetupFrm::Edit3, "A\\B", "PACS AET: \"A\\B\"" + notAnAETitle},
      {&TSetupFrm::Edit6, QString::fromUtf8("\xC3\x84RCHIV"), "WL Server AET: \"\xC4RCHIV\"" + notAnAETitle},
      {&TSetupFrm::Edit6, "   ", "WL Server AET: \"   \" is only spaces"},
      {&TSetupFrm::Edit2, QString(5000, QChar('n')),
       "Inst. Name: \"" + std::string(64, 'n') + "\"... (5000 bytes) is 5000 bytes long, more than 4096"},
      {&TSetupFrm::Edit7, QString(4097, QChar('h')),
       "WL Server IP Address: \"" + std::string(64, 'h') + "\"... (4097 bytes) is 4097 bytes long, more than 4096"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.box.substr(0, 40));
    boxes.shown.clear();
    TSetupFrm dialog(home.folder(), record);
    (dialog.*c.field)->setText(c.typed);
    dialog.BitBtn1Click();
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{c.box});
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(record, setupcfg{}) << "the record keeps its values";
    EXPECT_FALSE(fs::exists(Path())) << "nothing saved";
  }

  // The edges of each rule are taken and read back unchanged.
  boxes.shown.clear();
  TSetupFrm dialog(home.folder(), record);
  dialog.Edit1->setText("ABCDEFGHIJKLMNOP");
  dialog.Edit5->setText("65535");
  dialog.Edit8->setText("1");
  dialog.Edit6->setText(" WL ");
  dialog.BitBtn1Click();
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  setupcfg next;
  ConfigLoad load;
  ASSERT_TRUE(LoadConfig(next, Path(), &load));
  EXPECT_EQ(next, record);
  EXPECT_TRUE(load.refused.empty());
}

TEST_F(SetupDialogTest, TestRefusesABadPortWithoutConnecting) {
  TSetupFrm dialog(home.folder(), record);
  dialog.Edit5->setText("70000");
  dialog.Button1Click();
  dialog.Edit8->setText("104");
  dialog.Edit6->setText("WL\tSERVER");
  dialog.Button2Click();
  EXPECT_EQ(boxes.Texts(),
            (std::vector<std::string>{"Port: \"70000\" is not a port number from 1 to 65535",
                                      "AET: \"WL\\x09SERVER\" holds a character an AE title may not have (control "
                                      "characters, backslash and characters outside ASCII are not allowed)"}));
}

// A refused line at start: the field shows its default, the log says why,
// no box holds up the start, and the other lines are used.
TEST_F(SetupDialogTest, RefusedLinesAtStartShowTheDefaultAndAreLogged) {
  WriteFile("STATION\r\nSt. Mary\r\nARCHIVE\r\n10.0.0.5\r\n105844\r\nWL\x01\r\n10.0.0.6\r\n2000\r\n0\r\n42\r\n");
  LogCapture log;
  TSetupFrm dialog(home.folder(), record);
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(dialog.Edit1->text(), "STATION");
  EXPECT_EQ(dialog.Edit4->text(), "10.0.0.5");
  EXPECT_EQ(dialog.Edit5->text(), "104");
  EXPECT_EQ(dialog.Edit6->text(), "WORKLIST");
  EXPECT_EQ(dialog.Edit8->text(), "2000");
  EXPECT_EQ(dialog.ComboBox1->currentIndex(), -1);
  EXPECT_EQ(record.PacsPort, "104");
  EXPECT_EQ(record.ModalityIndex, -1);
  EXPECT_EQ(log.StartingWith("ERROR, LoadConfig").size(), 3u);
}

TEST_F(SetupDialogTest, TestCallsWithTheTabsNodeAndTheSavedLocalTitle) {
  // A peer that reads the association request and hangs up: the request
  // shows which titles were used, the box the failed test.
  ScriptedPeer peer;
  peer.Receive(test::VerificationRequestSize()).Close().Start();
  TSetupFrm dialog(home.folder(), record);
  dialog.Edit1->setText("UNSAVED"); // changed on "Local" without OK
  dialog.Edit3->setText("ARCHIVE");
  dialog.Edit4->setText("127.0.0.1");
  dialog.Edit5->setText(QString::fromStdString(peer.PortText()));
  dialog.Button1Click();
  ASSERT_TRUE(peer.Wait());
  const std::string request = peer.Received();
  ASSERT_GE(request.size(), 42u);
  EXPECT_EQ(request.substr(10, 16), "ARCHIVE         ") << "called: the tab's AET";
  EXPECT_EQ(request.substr(26, 16), "QUILLBROOK      ") << "calling: the saved LocalAET";
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"ERROR, ARCHIVE does not answer!"});
  EXPECT_EQ(record, setupcfg{}) << "the test changes nothing";
  EXPECT_FALSE(fs::exists(Path()));
}

TEST_F(SetupDialogTest, TestOfAClosedPortFails) {
  std::string port;
  {
    ScriptedPeer gone;
    port = gone.PortText();
  }
  TSetupFrm dialog(home.folder(), record);
  dialog.Edit6->setText("WLSRV");
  dialog.Edit8->setText(QString::fromStdString(port));
  dialog.Button2Click();
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"ERROR, WLSRV does not answer!"});
}

// ------------------------------------------------------------- main window

StudyInfo Study(const std::string &name, const std::string &id) {
  StudyInfo s;
  s.patientName = name;
  s.patientID = id;
  s.patientBirthDate = "19800102";
  s.patientSex = "M";
  s.studyInstanceUID = "1.2.3." + id;
  return s;
}

class MainWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    ::setenv("FRAMEWELL_HOME", home.path().c_str(), 1);
    StationConfig() = setupcfg{};
    StudyContext() = StudyInfo{};
    form = std::make_unique<TForm1>();
    form->OpenAcquisitionWindow = [this] { ++acquisitionsOpened; };
  }
  void TearDown() override {
    form.reset();
    FreeLogTarget();
    ::unsetenv("FRAMEWELL_HOME");
  }
  // Search functions that answer with these studies.
  void AnswerWith(std::vector<StudyInfo> studies, SearchResult::Outcome end = SearchResult::Outcome::Completed,
                  std::function<void()> eachRow = {}) {
    form->Selection().studySearch = [this, studies, end, eachRow](const PeerAddress &, const StudyInfo &,
                                                                  const StudyMatch &on) {
      ++searches;
      for (const StudyInfo &s : studies) {
        on(s, 0xFF00);
        if (eachRow) {
          eachRow();
        }
      }
      return SearchResult{end, 0, studies.size()};
    };
  }
  std::vector<QString> NameColumn() const {
    std::vector<QString> names;
    for (int row = 0; row < form->StringGrid1->rowCount(); ++row) {
      const QTableWidgetItem *item = form->StringGrid1->item(row, 0);
      names.push_back(item ? item->text() : QString());
    }
    return names;
  }

  TempDir home;
  RecordedBoxes boxes;
  std::unique_ptr<TForm1> form;
  int acquisitionsOpened = 0;
  int searches = 0;
};

TEST_F(MainWindowTest, ControlsAtStart) {
  QTableWidget &grid = *form->StringGrid1;
  ASSERT_EQ(grid.columnCount(), 7);
  const int widths[] = {200, 70, 50, 70, 150, 70, 200};
  const char *titles[] = {"Name", "ID", "Sex", "Birth Date", "Study Description", "Accession N.", "Study Instance UID"};
  for (int c = 0; c < 7; ++c) {
    EXPECT_EQ(grid.horizontalHeaderItem(c)->text(), titles[c]);
    EXPECT_EQ(grid.columnWidth(c), widths[c]);
  }
  EXPECT_EQ(grid.rowCount(), 4) << "four empty rows below the header";
  EXPECT_EQ(grid.selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(form->ComboBox1->currentText(), "Male");
  EXPECT_EQ(form->DateTimePicker1->date(), QDate::currentDate());
  EXPECT_EQ(form->Button3->text(), "Acquire");
}

TEST_F(MainWindowTest, NoFilterWarningCancelKeepsTheGrid) {
  AnswerWith({Study("DOE^JOHN", "P1")});
  form->Edit1->setText("P1");
  form->Button1Click();
  ASSERT_EQ(NameColumn(), std::vector<QString>{"DOE^JOHN"});
  form->Edit1->clear();
  boxes.answer = MessageAnswer::Cancel;
  form->Button1Click();
  form->SearchWl("20240309");
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[0].kind, MessageKind::OkCancel);
  EXPECT_EQ(boxes.shown[0].title, "WARNING");
  EXPECT_EQ(boxes.shown[0].text, "Have no filters\r\nSearch can take very long");
  EXPECT_EQ(boxes.shown[0].parent, form.get());
  EXPECT_EQ(searches, 1);
  EXPECT_EQ(NameColumn(), std::vector<QString>{"DOE^JOHN"}) << "Cancel changes nothing";
  boxes.answer = MessageAnswer::Ok;
  form->Button1Click();
  EXPECT_EQ(searches, 2);
}

TEST_F(MainWindowTest, ButtonsWaitWhileASearchRuns) {
  std::vector<bool> anyEnabled;
  std::vector<int> tableRows;
  bool busyCursor = true;
  AnswerWith({Study("ROE^JANE", "P3"), Study("DOE^JOHN", "P1")}, SearchResult::Outcome::Completed, [&] {
    bool enabled = false;
    for (QPushButton *b : {form->Button1, form->Button7, form->Button2, form->Button5, form->Button3, form->Button4}) {
      enabled = enabled || b->isEnabled();
    }
    anyEnabled.push_back(enabled);
    tableRows.push_back(form->StringGrid1->rowCount());
    busyCursor = busyCursor && QApplication::overrideCursor() != nullptr;
    form->Button2->click(); // Clear pressed meanwhile: must not empty the grid
    form->Button4->click(); // End likewise
  });
  form->show();
  form->Edit2->setText("*");
  form->Button1Click();
  EXPECT_EQ(anyEnabled, (std::vector<bool>{false, false}));
  EXPECT_EQ(tableRows, (std::vector<int>{2, 3})) << "each row shown as it arrives, with an empty one after it";
  EXPECT_TRUE(busyCursor);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(form->Button2->isEnabled());
  EXPECT_TRUE(form->isVisible()) << "End did not close the window in mid-search";
  EXPECT_EQ(NameColumn(), (std::vector<QString>{"DOE^JOHN", "ROE^JANE"}));
  EXPECT_EQ(form->Edit2->text(), "*") << "Clear did not run";
}

TEST_F(MainWindowTest, MatchLimitKeepsTheRowsAndSaysSo) {
  AnswerWith({Study("DOE^JOHN", "P1"), Study("ROE^JANE", "P3")}, SearchResult::Outcome::LimitReached);
  form->Edit2->setText("*");
  form->Button1Click();
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"More than 1000 results, please refine the search"});
  EXPECT_EQ(NameColumn(), (std::vector<QString>{"DOE^JOHN", "ROE^JANE"}));
}

TEST_F(MainWindowTest, UnreachablePeerLogsOnceAndShowsNoBox) {
  std::string port;
  {
    ScriptedPeer gone;
    port = gone.PortText();
  }
  StationConfig().PacsPort = port;
  StationConfig().WlPort = port;
  LogCapture log;
  form->Edit1->setText("P1");
  form->Button1Click();
  EXPECT_EQ(log.StartingWith("ERROR, couldn't connect"), std::vector<std::string>{"ERROR, couldn't connect to PACS"});
  EXPECT_EQ(NameColumn(), std::vector<QString>{""}) << "header and one empty row";
  form->SearchWl("20240309");
  EXPECT_EQ(log.StartingWith("ERROR, couldn't connect to WORKLIST").size(), 1u);
  EXPECT_TRUE(boxes.shown.empty());
}

// A PACS that answers one match and then nothing: the search waits for it
// (time-out 30 s) with the window's events running, so the operator gets
// out at once.
class SilentPacs {
public:
  SilentPacs() {
    const std::string model(STUDY_ROOT_FIND_UID);
    peer.Receive(test::RequestSize(model, {"1.2.840.10008.1.2"}))
        .Send(test::AcceptPdu(test::AcceptItem(1, 0, "1.2.840.10008.1.2")) +
              test::Response(0xFF00, test::Elem(0x0010, 0x0010, "DOE^JOHN") + test::Elem(0x0010, 0x0020, "P1")))
        .ReceiveUntilClosed()
        .Start();
    StationConfig().PacsIP = "127.0.0.1";
    StationConfig().PacsPort = peer.PortText();
  }
  // What the station sent last, once it closed the link.
  std::string Tail(std::size_t n) {
    EXPECT_TRUE(peer.Wait());
    const std::string received = peer.Received();
    return received.substr(received.size() - std::min(n, received.size()));
  }
  ScriptedPeer peer;
};

TEST_F(MainWindowTest, CancelEndsASearchOfASilentServerAtOnceAndKeepsItsRows) {
  SilentPacs pacs;
  LogCapture log;
  bool cancelEnabled = false;
  bool othersEnabled = true;
  QTimer::singleShot(400, form.get(), [&] {
    cancelEnabled = form->Button6->isEnabled();
    othersEnabled = form->Button1->isEnabled() || form->Button4->isEnabled();
    SaveScreenshot(*form, "main-window-search-running.png");
    form->Button6->click();
  });
  form->show();
  form->Edit1->setText("P1");
  const auto started = std::chrono::steady_clock::now();
  form->Button1Click();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_TRUE(cancelEnabled);
  EXPECT_FALSE(othersEnabled);
  EXPECT_FALSE(form->Button6->isEnabled());
  EXPECT_TRUE(form->Button1->isEnabled());
  EXPECT_EQ(NameColumn(), std::vector<QString>{"DOE^JOHN"});
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_TRUE(log.Contains("WARNING, PDU_Service::Read, cancelled by the operator"));
  EXPECT_EQ(pacs.Tail(10), test::kAbort);
}

TEST_F(MainWindowTest, ClosingDuringASearchAsksAndYesCancelsAndCloses) {
  for (const MessageAnswer answer : {MessageAnswer::No, MessageAnswer::Yes}) {
    SCOPED_TRACE(answer == MessageAnswer::Yes ? "Yes" : "No");
    SilentPacs pacs;
    boxes.shown.clear();
    boxes.questionAnswer = answer;
    form->show();
    form->Edit1->setText("P1");
    QTimer::singleShot(300, form.get(), [&] { form->close(); });
    // After No the search goes on until Cancel.
    QTimer::singleShot(900, form.get(), [&] { form->Button6->click(); });
    const auto started = std::chrono::steady_clock::now();
    form->Button1Click();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, MessageKind::Question);
    EXPECT_EQ(boxes.shown[0].text, CLOSE_DURING_SEARCH_QUESTION);
    EXPECT_EQ(form->isVisible(), answer == MessageAnswer::No);
    EXPECT_EQ(NameColumn(), std::vector<QString>{"DOE^JOHN"});
    EXPECT_EQ(pacs.Tail(10), test::kAbort);
    QApplication::processEvents(); // the Cancel timer of the Yes round finds no search
  }
}

TEST_F(MainWindowTest, AcquireFromTypedFieldsAndFromTheGrid) {
  StationConfig().ModalityIndex = 5;
  form->Edit2->setText("Typed Name");
  form->Button3Click();
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Patient ID can't be empty"});
  EXPECT_EQ(acquisitionsOpened, 0);
  EXPECT_EQ(StudyContext().modality, "ES") << "updated before the check";

  form->Edit1->setText("T1");
  form->DateTimePicker1->setDate(QDate(1975, 6, 4));
  form->ComboBox1->setCurrentIndex(2);
  std::tm now{};
  now.tm_year = 124;
  now.tm_mon = 2;
  now.tm_mday = 9;
  now.tm_hour = 14;
  now.tm_min = 5;
  form->Acquire(now);
  EXPECT_EQ(acquisitionsOpened, 1);
  EXPECT_EQ(StudyContext().patientBirthDate, "19750604");
  EXPECT_EQ(StudyContext().patientSex, "O");
  EXPECT_EQ(StudyContext().accessionNumber.substr(0, 10), "2403091405");
  EXPECT_EQ(StudyContext().accessionNumber.size(), 16u);

  AnswerWith({Study("ROE^JANE", "P3"), Study("DOE^JOHN", "P1")});
  form->Button1Click();
  form->StringGrid1->setCurrentCell(1, 0); // the operator clicks the second row
  form->Acquire(now);
  EXPECT_EQ(acquisitionsOpened, 2);
  EXPECT_EQ(StudyContext().patientName, "ROE^JANE");
  EXPECT_EQ(StudyContext().studyInstanceUID, "1.2.3.P3");
  EXPECT_EQ(StudyContext().patientBirthDate, "19800102");
}

const std::string GREEK_NAME = "\xCE\xA0\xCE\xB1\xCF\x80\xCE\xB1\xCE\xB4\xCF\x8C\xCF\x80\xCE\xBF\xCF\x85\xCE\xBB"
                               "\xCE\xBF\xCF\x82^\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82";
const std::string CYRILLIC_NAME = "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2^\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD";
const std::string JAPANESE_NAME = "\xE5\xB1\xB1\xE7\x94\xB0^\xE5\xA4\xAA\xE9\x83\x8E";

// Typed names in any script go into the query and the context as written.
TEST_F(MainWindowTest, TypedNamesInAnyScriptAreSearchedAndAcquired) {
  std::string queried;
  form->Selection().studySearch = [&](const PeerAddress &, const StudyInfo &query, const StudyMatch &) {
    queried = query.patientName;
    return SearchResult{SearchResult::Outcome::Completed, 0, 0};
  };
  form->Edit1->setText("P9");
  form->Edit2->setText(QString::fromStdString(JAPANESE_NAME));
  form->Button1Click();
  EXPECT_EQ(queried, JAPANESE_NAME);
  form->Edit2->setText(QString::fromStdString(GREEK_NAME));
  form->Acquire(LocalNow());
  EXPECT_TRUE(boxes.Texts().empty());
  EXPECT_EQ(acquisitionsOpened, 1);
  EXPECT_EQ(StudyContext().patientName, GREEK_NAME);
}

// Only what no object can carry is refused, before any search or
// acquisition: control characters and half a surrogate pair.
TEST_F(MainWindowTest, UncarriableCharactersAreRefusedWithTheField) {
  AnswerWith({Study("DOE^JOHN", "P1")});
  form->Edit1->setText("P1");
  form->Edit2->setText(QString::fromUtf8("DOE^\x1B$B"));
  form->Button1Click();
  QString lone;
  lone.append(QChar(0xD83D));
  form->Edit2->setText("DOE");
  form->Edit6->setText(lone);
  form->Button3Click();
  EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{"Patient Name: the character U+001B cannot be stored",
                                                     "Study Description: the character U+D83D cannot be stored"}));
  EXPECT_EQ(searches, 0);
  EXPECT_EQ(acquisitionsOpened, 0);
  EXPECT_EQ(StudyContext(), StudyInfo{});
}

// The grid shows the names of the results as the person wrote them, sorted
// by the locale's collation.
TEST_F(MainWindowTest, GridShowsNamesInTheirOwnScript) {
  AnswerWith({Study(GREEK_NAME, "P1"), Study(CYRILLIC_NAME, "P2"), Study("M\xC3\xBCLLER^J\xC3\x96RG", "P3"),
              Study(JAPANESE_NAME, "P4")});
  form->Edit1->setText("P");
  form->Button1Click();
  const std::vector<QString> names = NameColumn();
  for (const std::string &name : {GREEK_NAME, CYRILLIC_NAME, JAPANESE_NAME, std::string("M\xC3\xBCLLER^J\xC3\x96RG")}) {
    EXPECT_NE(std::find(names.begin(), names.end(), QString::fromStdString(name)), names.end()) << name;
  }
  form->StringGrid1->setCurrentCell(
      static_cast<int>(std::find(names.begin(), names.end(), QString::fromStdString(GREEK_NAME)) - names.begin()), 0);
  form->Acquire(LocalNow());
  EXPECT_EQ(StudyContext().patientName, GREEK_NAME);
  SaveScreenshot(*form, "main-window-names-in-their-scripts.png");
}

TEST_F(MainWindowTest, ClearEmptiesFieldsGridAndContext) {
  AnswerWith({Study("DOE^JOHN", "P1"), Study("ROE^JANE", "P3")});
  form->Edit1->setText("P");
  form->Edit2->setText("N");
  form->Edit5->setText("A");
  form->Edit6->setText("D");
  form->ComboBox1->setEditText("typed");
  form->DateTimePicker1->setDate(QDate(1975, 6, 4));
  form->Button1Click();
  form->Acquire(LocalNow());
  ASSERT_NE(StudyContext(), StudyInfo{});
  form->Button2Click();
  for (QLineEdit *edit : {form->Edit1, form->Edit2, form->Edit5, form->Edit6}) {
    EXPECT_TRUE(edit->text().isEmpty());
  }
  EXPECT_EQ(form->ComboBox1->currentText(), "Male");
  EXPECT_EQ(form->DateTimePicker1->date(), QDate(1975, 6, 4)) << "the date stays";
  EXPECT_EQ(NameColumn(), std::vector<QString>{""});
  EXPECT_EQ(StudyContext(), StudyInfo{});
}

// ---------------------------------------------------------- start sequence

struct CountingHost : AcquisitionWindowHost {
  int *opened;
  explicit CountingHost(int *counter) : opened(counter) {}
  void OpenModal() override { ++*opened; }
};

// A station killed while writing an object left its hidden partial file in
// temp/: the next start removes it, and only it.
TEST(StartSequenceTest, PartialFilesLeftByAKilledStationAreRemovedAtStart) {
  TempDir home;
  ::setenv("FRAMEWELL_HOME", home.path().c_str(), 1);
  fs::create_directories(home.path() / "temp");
  const pid_t killed = ::fork();
  if (killed == 0) {
    ::_exit(0);
  }
  ::waitpid(killed, nullptr, 0);
  const std::string partial = TemporaryFileName("KW1.dcm", killed, 0);
  for (const std::string &name : {partial, std::string("KW2.dcm")}) {
    std::ofstream(home.path() / "temp" / name) << "bytes";
  }
  RecordedBoxes boxes;
  bool removedBeforeTheLoop = true;
  QTimer::singleShot(0, [&] {
    removedBeforeTheLoop = !fs::exists(home.path() / "temp" / partial);
    for (QWidget *window : QApplication::topLevelWidgets()) {
      if (auto *form = dynamic_cast<TForm1 *>(window)) {
        form->Button4Click();
      }
    }
  });
  QTimer::singleShot(10000, [] { QCoreApplication::exit(3); }); // safety net
  EXPECT_EQ(RunStation(*qApp), 0);
  EXPECT_TRUE(removedBeforeTheLoop);
  EXPECT_TRUE(fs::exists(home.path() / "temp/KW2.dcm")) << "an object is never removed at start";
  EXPECT_TRUE(boxes.shown.empty());
  FreeLogTarget();
  ::unsetenv("FRAMEWELL_HOME");
}

TEST(StartSequenceTest, SetupLoadsBeforeTheAcquisitionWindowWhichAcquireOpens) {
  TempDir home;
  ::setenv("FRAMEWELL_HOME", home.path().c_str(), 1);
  std::ofstream(home.path() / "quillbrook.cfg", std::ios::binary)
      << "FROMFILE\r\nInst\r\nP\r\n127.0.0.1\r\n1\r\nW\r\n127.0.0.1\r\n2\r\n0\r\n3\r\n";
  StationConfig() = setupcfg{};
  RecordedBoxes boxes;
  int opened = 0;
  std::string titleAtCreation;
  QWidget *mainWindow = nullptr;
  QTimer::singleShot(0, [&] {
    auto *form = dynamic_cast<TForm1 *>(mainWindow);
    ASSERT_NE(form, nullptr);
    form->Edit1->setText("ID1");
    form->Edit2->setText("Name");
    form->Button3Click();
    form->Button4Click();
  });
  QTimer::singleShot(10000, [] { QCoreApplication::exit(3); }); // safety net
  const int exitCode = RunStation(*qApp, [&](QWidget &main) {
    mainWindow = &main;
    titleAtCreation = StationConfig().LocalAET;
    return std::make_unique<CountingHost>(&opened);
  });
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(titleAtCreation, "FROMFILE") << "the setup dialog loaded the file before";
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(StudyContext().modality, "MR");
  EXPECT_TRUE(boxes.shown.empty());
  FreeLogTarget();
  ::unsetenv("FRAMEWELL_HOME");
}

} // namespace
} // namespace fw
