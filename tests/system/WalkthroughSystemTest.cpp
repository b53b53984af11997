// The operator's road through the real windows (worklist search, Acquire,
// Snap, a clip, Snap, Send, Close) against real peers, checked on the PACS
// side: what Orthanc holds, what a PACS refusing JPEG receives, and what is
// kept when the PACS is down.
#include "acquisition/CaptureConfig.h"
#include "app/shell/ConfigFile.h"
#include "app/walkthrough/Walkthrough.h"
#include "base/Log.h"
#include "station/StationRecords.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/Peers.h"
#include "tests/support/TempDir.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace fw {
namespace {

namespace fs = std::filesystem;

constexpr const char *kWorklistStudyUID = "1.2.826.0.1.3680043.2.1143.1.1";
constexpr const char *kCloseQuestion = "Some images have not been sent to the PACS. Close and delete them?";

std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[9];
  std::strftime(text, sizeof text, "%Y%m%d", &local);
  return text;
}

std::vector<fs::path> FilesIn(const fs::path &folder) {
  std::vector<fs::path> files;
  if (fs::exists(folder)) {
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
      if (entry.is_regular_file()) {
        files.push_back(entry.path());
      }
    }
  }
  return files;
}

// GET on Orthanc's REST interface into a file; the body, empty on failure.
std::string Get(std::uint16_t httpPort, const std::string &path, const fs::path &scratch) {
  const fs::path body = scratch / "rest-body";
  std::string err;
  const int code = test::PeerProcess::Run(
      {"curl", "-sf", "-o", body.string(), "http://127.0.0.1:" + std::to_string(httpPort) + path}, nullptr, &err);
  if (code != 0) {
    ADD_FAILURE() << "GET " << path << " failed: " << err;
    return {};
  }
  return test::ReadFileBytes(body);
}

QJsonDocument GetJson(std::uint16_t httpPort, const std::string &path, const fs::path &scratch) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(Get(httpPort, path, scratch)));
}

// One element of a DICOM file as dcmdump prints it, e.g. "(0002,0010) UI =...".
std::string DumpElement(const fs::path &file, const std::string &tag) {
  std::string out;
  test::PeerProcess::Run({"dcmdump", "+P", tag, file.string()}, &out);
  return out;
}

constexpr int kCaptureWidth = 352;
constexpr int kCaptureHeight = 288;

class WalkthroughSystemTest : public ::testing::Test {
protected:
  void SetUp() override {
    ::setenv("FRAMEWELL_HOME", home_.path().c_str(), 1);
    ::setenv("FRAMEWELL_VIDEO_SOURCE", "videotestsrc is-live=true pattern=ball", 1);
    StationConfig() = setupcfg{};
    StudyContext() = StudyInfo{};
    ASSERT_TRUE(worklist_.Start(peers_.path() / "wl", "WORKLIST", {{"DOE^JANE", "PID-7", Today(), "US", "0900"}}));
  }

  void TearDown() override {
    FreeLogTarget();
    StationConfig() = setupcfg{};
    StudyContext() = StudyInfo{};
    ::unsetenv("FRAMEWELL_VIDEO_SOURCE");
    ::unsetenv("FRAMEWELL_HOME");
  }

  // The station's configuration file pointing at the PACS port given.
  void Configure(const std::string &pacsAET, std::uint16_t pacsPort) {
    setupcfg config;
    config.LocalAET = "FWSYSTEM";
    config.PacsAET = pacsAET;
    config.PacsPort = std::to_string(pacsPort);
    config.WlAET = "WORKLIST";
    config.WlPort = std::to_string(worklist_.port());
    config.ModalityIndex = 0; // US, the worklist entry's modality
    std::string reason;
    ASSERT_TRUE(SaveConfig(config, (home_.path() / "quillbrook.cfg").string(), &reason)) << reason;
    // A capture size apart from the defaults, so the objects show it was honoured.
    CaptureConfig capture;
    capture.width = kCaptureWidth;
    capture.height = kCaptureHeight;
    ASSERT_TRUE(WriteCaptureConfig((home_.path() / "videocap.cfg").string(), capture));
  }

  WalkOptions Options(const std::string &run, MessageAnswer closeAnswer = MessageAnswer::Yes) {
    WalkOptions options;
    options.screenshotFolder = QString::fromStdString(std::string(FW_TEST_OUTPUT_DIR) + "/" + run);
    options.closeAnswer = closeAnswer;
    return options;
  }

  static std::string Describe(const Walkthrough &walk) {
    std::string text;
    for (const WalkStep &step : walk.Steps()) {
      text += step.name + (step.ok ? " ok " : " FAILED ") + step.detail + "\n";
    }
    for (const std::string &box : walk.Boxes()) {
      text += "box: " + box + "\n";
    }
    return text;
  }

  fs::path Temp() const { return home_.path() / "temp"; }

  test::TempDir home_;
  test::TempDir peers_;
  test::WlmscpfsPeer worklist_;
};

TEST_F(WalkthroughSystemTest, TwoStillsAndAClipReachOrthancWithTheWorklistStudyAndCloseDeletesThem) {
  test::OrthancPeer orthanc;
  ASSERT_TRUE(orthanc.Start(peers_.path() / "orthanc"));
  Configure("ORTHANC", orthanc.dicomPort());

  Walkthrough walk(Options("orthanc"));
  ASSERT_TRUE(walk.Run()) << Describe(walk);
  EXPECT_EQ(walk.ObjectsMade(), 3);
  EXPECT_TRUE(FilesIn(Temp()).empty()) << "Close after a complete Send deletes the files";
  for (const std::string &box : walk.Boxes()) {
    EXPECT_EQ(box.find(kCloseQuestion), std::string::npos) << "nothing unsent, so no question";
  }

  const fs::path scratch = peers_.path();
  const QJsonArray instances = GetJson(orthanc.httpPort(), "/instances", scratch).array();
  ASSERT_EQ(instances.size(), 3) << Describe(walk);
  std::multiset<std::string> sopClasses;
  std::set<std::string> sopInstances;
  std::set<std::string> series;
  int clips = 0;
  for (const QJsonValue &id : instances) {
    const std::string base = "/instances/" + id.toString().toStdString();
    const QJsonObject tags = GetJson(orthanc.httpPort(), base + "/simplified-tags", scratch).object();
    SCOPED_TRACE(base);
    sopClasses.insert(tags["SOPClassUID"].toString().toStdString());
    sopInstances.insert(tags["SOPInstanceUID"].toString().toStdString());
    series.insert(tags["SeriesInstanceUID"].toString().toStdString());
    EXPECT_EQ(tags["PatientName"].toString(), "DOE^JANE");
    EXPECT_EQ(tags["PatientID"].toString(), "PID-7");
    EXPECT_EQ(tags["StudyInstanceUID"].toString(), kWorklistStudyUID);
    EXPECT_EQ(tags["Modality"].toString(), "US");
    const int frames = tags["NumberOfFrames"].toString("1").toInt();
    clips += frames > 1 ? 1 : 0;
    // The first frame decodes to the capture size, which the object declares.
    EXPECT_EQ(tags["Columns"].toString().toInt(), kCaptureWidth);
    EXPECT_EQ(tags["Rows"].toString().toInt(), kCaptureHeight);
    const std::string png = Get(orthanc.httpPort(), base + "/frames/0/preview", scratch);
    const QImage picture = QImage::fromData(QByteArray::fromStdString(png), "PNG");
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.width(), tags["Columns"].toString().toInt());
    EXPECT_EQ(picture.height(), tags["Rows"].toString().toInt());
    EXPECT_GT(picture.width(), 0);
  }
  EXPECT_EQ(clips, 1) << "one multi-frame clip";
  EXPECT_EQ(sopInstances.size(), 3u) << "SOP Instance UIDs are unique";
  EXPECT_EQ(series.size(), 1u) << "one series for the three";
  // US: still and clip classes of the modality.
  EXPECT_EQ(sopClasses.size(), 3u);
  EXPECT_EQ(sopClasses.count("1.2.840.10008.5.1.4.1.1.3.1"), 1u) << "the clip as US Multi-frame Image Storage";
  EXPECT_EQ(sopClasses.count("1.2.840.10008.5.1.4.1.1.6.1"), 2u) << "the stills as US Image Storage";
}

TEST_F(WalkthroughSystemTest, APacsRefusingJpegReceivesConvertedDecodableObjects) {
  test::StorescpPeer storescp;
  ASSERT_TRUE(storescp.Start(peers_.path() / "storescp", {"+xi"}));
  Configure("STORESCP", storescp.port());

  Walkthrough walk(Options("storescp-uncompressed"));
  ASSERT_TRUE(walk.Run()) << Describe(walk);
  EXPECT_TRUE(FilesIn(Temp()).empty());

  const std::vector<fs::path> received = FilesIn(storescp.received());
  ASSERT_EQ(received.size(), 3u) << Describe(walk);
  for (const fs::path &file : received) {
    SCOPED_TRACE(file.string());
    EXPECT_NE(DumpElement(file, "0002,0010").find("=LittleEndianImplicit"), std::string::npos)
        << DumpElement(file, "0002,0010");
    std::string err;
    EXPECT_EQ(test::PeerProcess::Run(
                  {"dcm2pnm", "--write-png", "--frame", "1", file.string(), (peers_.path() / "decoded.png").string()},
                  nullptr, &err),
              0)
        << err;
    EXPECT_FALSE(QImage(QString::fromStdString((peers_.path() / "decoded.png").string())).isNull());
  }
}

TEST_F(WalkthroughSystemTest, WithThePacsDownSendFailsAndNoKeepsTheFiles) {
  Configure("PACS", test::PeerProcess::FreePort());

  Walkthrough walk(Options("pacs-down", MessageAnswer::No));
  EXPECT_FALSE(walk.Run());
  ASSERT_EQ(walk.ObjectsMade(), 3) << Describe(walk);
  bool sendFailed = false;
  for (const WalkStep &step : walk.Steps()) {
    sendFailed = sendFailed || (step.name == "Send" && !step.ok);
  }
  EXPECT_TRUE(sendFailed) << Describe(walk);
  bool asked = false;
  for (const std::string &box : walk.Boxes()) {
    asked = asked || box.find(kCloseQuestion) != std::string::npos;
  }
  EXPECT_TRUE(asked) << Describe(walk);
  EXPECT_EQ(FilesIn(Temp()).size(), 3u) << "answering No keeps every file";
}

} // namespace
} // namespace fw
