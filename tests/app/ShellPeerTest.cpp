// The setup dialog's Test and the main window's searches against real DCMTK
// peers, each started on a free loopback port by the test and stopped by its
// process id: storescp answers the verification, wlmscpfs holds worklist
// entries for today, dcmqrscp holds three studies. A peer that does not
// start fails the test. The main window with its results is saved as a
// picture into the test output folder.
#include "app/TForm1.h"
#include "app/TSetupFrm.h"
#include "base/Log.h"
#include "station/StationRecords.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempDir.h"
#include "ui/MessageBoxes.h"

#include <QApplication>
#include <QLineEdit>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::PeerProcess;
using test::TempDir;
namespace fs = std::filesystem;

struct RecordedBoxes {
  std::vector<MessageRequest> shown;
  ScopedMessageHandler handler{[this](const MessageRequest &request) {
    shown.push_back(request);
    return MessageAnswer::Ok;
  }};
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto &m : shown) {
      texts.push_back(m.text);
    }
    return texts;
  }
};

// Writes the dump and turns it into a DICOM file with dump2dcm.
void MakeDicom(const fs::path &dumpPath, const std::string &dump, const fs::path &target,
               const std::vector<std::string> &options = {}) {
  std::ofstream(dumpPath, std::ios::binary) << dump;
  std::vector<std::string> argv{"dump2dcm"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(dumpPath.string());
  argv.push_back(target.string());
  std::string err;
  ASSERT_EQ(PeerProcess::Run(argv, nullptr, &err), 0) << err;
}

std::string WorklistDump(const std::string &name, const std::string &id, const std::string &date,
                         const std::string &modality) {
  return "(0008,0005) CS [ISO_IR 100]\n(0008,0050) SH [ACC-" + id + "]\n(0010,0010) PN [" + name +
         "]\n(0010,0020) LO [" + id +
         "]\n(0010,0030) DA [19800102]\n(0010,0040) CS [F]\n(0010,2110) LO [NONE]\n"
         "(0020,000d) UI [1.2.826.0.1.3680043.2.1143.7." +
         id.substr(1) + "]\n(0032,1032) PN [REQ^DOC]\n(0032,1060) LO [Exam of " + id +
         "]\n(0040,0100) SQ\n(fffe,e000) -\n(0008,0060) CS [" + modality +
         "]\n(0032,1070) LO [NONE]\n(0040,0001) AE [SCANNER1]\n(0040,0002) DA [" + date +
         "]\n(0040,0003) TM [0800]\n(0040,0006) PN [PERF^DOC]\n(0040,0007) LO [Step]\n(0040,0009) SH [SPS" + id +
         "]\n(0040,0010) SH [ROOM1]\n(0040,0011) SH [L2]\n(0040,0012) LO [NONE]\n(fffe,e00d) -\n(fffe,e0dd) -\n"
         "(0040,1001) SH [RP1]\n(0040,1003) SH [LOW]\n";
}

std::string StudyDump(const std::string &name, const std::string &id, int n) {
  const std::string uid = "1.2.826.0.1.3680043.2.1143.8." + std::to_string(n);
  return "(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]\n(0008,0018) UI [" + uid +
         ".1.1]\n(0008,0020) DA [20240309]\n(0008,0030) TM [101500]\n(0008,0050) SH [ACC-" + id +
         "]\n(0008,0060) CS [US]\n(0008,0064) CS [WSD]\n(0008,1030) LO [Study of " + id + "]\n(0010,0010) PN [" + name +
         "]\n(0010,0020) LO [" + id + "]\n(0010,0030) DA [19800102]\n(0010,0040) CS [M]\n(0020,000d) UI [" + uid +
         "]\n(0020,000e) UI [" + uid +
         ".1]\n(0020,0010) SH [S1]\n(0020,0011) IS [1]\n(0020,0013) IS [1]\n(0028,0002) US 1\n"
         "(0028,0004) CS [MONOCHROME2]\n(0028,0010) US 2\n(0028,0011) US 2\n(0028,0100) US 8\n(0028,0101) US 8\n"
         "(0028,0102) US 7\n(0028,0103) US 0\n(7fe0,0010) OB 00\\40\\80\\ff\n";
}

std::vector<QString> TableColumn(const QTableWidget &table, int column) {
  std::vector<QString> cells;
  for (int row = 0; row < table.rowCount(); ++row) {
    const QTableWidgetItem *item = table.item(row, column);
    cells.push_back(item ? item->text() : QString());
  }
  return cells;
}

class ShellPeerTest : public ::testing::Test {
protected:
  void SetUp() override {
    ::setenv("FRAMEWELL_HOME", home.path().c_str(), 1);
    StationConfig() = setupcfg{};
    StudyContext() = StudyInfo{};
  }
  void TearDown() override {
    peer.Stop();
    FreeLogTarget();
    ::unsetenv("FRAMEWELL_HOME");
  }
  void StartPeer(const std::vector<std::string> &argv, std::uint16_t port) {
    ASSERT_TRUE(peer.Start(argv, (home.path() / "peer.log").string(), {"TCP_NODELAY=1"})) << argv[0];
    ASSERT_TRUE(peer.WaitListening(port)) << argv[0] << " did not start";
  }

  TempDir home;
  PeerProcess peer;
  RecordedBoxes boxes;
};

TEST_F(ShellPeerTest, SetupTestAgainstStorescp) {
  const std::uint16_t port = PeerProcess::FreePort();
  StartPeer({"storescp", std::to_string(port)}, port);
  setupcfg record;
  TSetupFrm dialog(home.folder(), record);
  dialog.Edit3->setText("STORESCP");
  dialog.Edit5->setText(QString::number(port));
  dialog.Button1Click();
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"STORESCP is up and running!"});
}

TEST_F(ShellPeerTest, SearchWlShowsTodaysEntriesForTheStationsModality) {
  const std::string aet = "WLTEST";
  const fs::path folder = home.path() / "wl" / aet;
  fs::create_directories(folder);
  std::ofstream(folder / "lockfile").close();
  const std::string today = DateText(LocalNow());
  struct Entry {
    const char *name;
    const char *id;
    const char *modality;
  } entries[] = {{"SMITH^ANN", "W1", "US"}, {"BROWN^BOB", "W2", "US"}, {"GREEN^GIL", "W3", "CT"}};
  for (const Entry &e : entries) {
    MakeDicom(home.path() / (std::string(e.id) + ".dump"), WorklistDump(e.name, e.id, today, e.modality),
              folder / (std::string(e.id) + ".wl"));
  }
  const std::uint16_t port = PeerProcess::FreePort();
  StartPeer({"wlmscpfs", "-dfp", (home.path() / "wl").string(), std::to_string(port)}, port);
  StationConfig().WlAET = aet;
  StationConfig().WlPort = std::to_string(port);
  StationConfig().ModalityIndex = 0; // US

  TForm1 form;
  form.SearchWl(today);
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Have no filters\r\nSearch can take very long"});
  EXPECT_EQ(TableColumn(*form.StringGrid1, 0), (std::vector<QString>{"BROWN^BOB", "SMITH^ANN"}))
      << "the CT entry does not show";
  EXPECT_EQ(TableColumn(*form.StringGrid1, 3), (std::vector<QString>{"02/01/1980", "02/01/1980"}));
  EXPECT_EQ(TableColumn(*form.StringGrid1, 4), (std::vector<QString>{"Exam of W2", "Exam of W1"}));
  EXPECT_EQ(form.Selection().Grid().RowCount(), 3);
}

TEST_F(ShellPeerTest, SearchPacsShowsThreeStudiesSortedByName) {
  const std::string aet = "DCMQRSCP";
  const fs::path db = home.path() / "db";
  fs::create_directories(db);
  const std::uint16_t port = PeerProcess::FreePort();
  const fs::path config = home.path() / "dcmqrscp.cfg";
  std::ofstream(config) << "NetworkTCPPort = " << port
                        << "\nMaxPDUSize = 16384\nMaxAssociations = 16\nHostTable BEGIN\nHostTable END\n"
                           "VendorTable BEGIN\nVendorTable END\nAETable BEGIN\n"
                        << aet << " " << db.string() << " RW (200, 1024mb) ANY\nAETable END\n";
  StartPeer({"dcmqrscp", "-c", config.string(), std::to_string(port)}, port);
  std::vector<std::string> store{"storescu", "-aec", aet, "127.0.0.1", std::to_string(port)};
  const char *names[] = {"ROE^JANE", "DOE^JOHN", "MOE^MAX"};
  for (int n = 0; n < 3; ++n) {
    const std::string id = std::string("P").append(std::to_string(n + 1));
    const fs::path file = home.path() / (id + ".dcm");
    MakeDicom(home.path() / (id + ".dump"), StudyDump(names[n], id, n + 1), file, {"+te"});
    store.push_back(file.string());
  }
  std::string out;
  std::string err;
  ASSERT_EQ(PeerProcess::Run(store, &out, &err, {"TCP_NODELAY=1"}), 0) << out << err;
  StationConfig().PacsAET = aet;
  StationConfig().PacsPort = std::to_string(port);

  TForm1 form;
  form.Edit2->setText("*O*");
  form.Button1Click();
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(form.Selection().Grid().RowCount(), 4) << "header and three rows";
  EXPECT_EQ(TableColumn(*form.StringGrid1, 0), (std::vector<QString>{"DOE^JOHN", "MOE^MAX", "ROE^JANE"}));
  EXPECT_EQ(TableColumn(*form.StringGrid1, 1), (std::vector<QString>{"P2", "P3", "P1"}));
  EXPECT_EQ(TableColumn(*form.StringGrid1, 5), (std::vector<QString>{"ACC-P2", "ACC-P3", "ACC-P1"}));
  EXPECT_EQ(form.StringGrid1->currentRow(), 0);

  fs::create_directories(FW_TEST_OUTPUT_DIR);
  form.show();
  QApplication::processEvents();
  EXPECT_TRUE(form.grab().save(QString::fromStdString(std::string(FW_TEST_OUTPUT_DIR) + "/main_window_results.png")));

  form.Acquire(LocalNow());
  EXPECT_EQ(StudyContext().patientName, "DOE^JOHN");
  EXPECT_EQ(StudyContext().studyInstanceUID, "1.2.826.0.1.3680043.2.1143.8.2");
  EXPECT_EQ(StudyContext().patientBirthDate, "19800102");
}

} // namespace
} // namespace fw
