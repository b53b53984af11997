// Send against real peers started on loopback: storescp accepting JPEG
// baseline (+xy) or only implicit VR little endian (+xi), Orthanc checked
// through its REST interface, a PACS that is down and one that refuses.
#include "acquisition/AcquisitionSession.h"

#include "dicom/DcmObj.h"
#include "dicom/Uids.h"
#include "tests/acquisition/FakeFrameSource.h"
#include "tests/net/AssociationScripts.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/Peers.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fw {
namespace {

using test::FakeFrameSource;
using test::PeerProcess;
using test::TempDir;

// The fragments of an object's encapsulated pixel data, offset table left out.
std::vector<std::vector<std::uint8_t>> Fragments(const DcmObj &ds) {
  std::vector<std::vector<std::uint8_t>> fragments;
  bool inPixelData = false;
  bool offsetTable = true;
  for (std::size_t i = 0; i < ds.Count(); ++i) {
    const DcmTag *t = ds.ElementAt(i);
    if (t == nullptr) {
      continue;
    }
    if (t->Is(0x7FE0, 0x0010)) {
      inPixelData = true;
    } else if (inPixelData && t->Is(0xFFFE, 0xE000)) {
      if (!offsetTable) {
        fragments.push_back(t->data.ToVector());
      }
      offsetTable = false;
    }
  }
  return fragments;
}

// Bytes queued in the kernel on the established loopback connections to or
// from the port: unsent or unacknowledged on one side, unread on the other.
std::size_t QueuedBytes(std::uint16_t port) {
  std::size_t queued = 0;
  for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line); // the header
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues;
      fields >> slot >> local >> remote >> state >> queues;
      const auto portOf = [](const std::string &address) {
        const std::size_t colon = address.rfind(':');
        return colon == std::string::npos ? 0ul : std::stoul(address.substr(colon + 1), nullptr, 16);
      };
      const std::size_t split = queues.find(':');
      if (state != "01" || split == std::string::npos || (portOf(local) != port && portOf(remote) != port)) {
        continue;
      }
      queued += std::stoul(queues.substr(0, split), nullptr, 16) + std::stoul(queues.substr(split + 1), nullptr, 16);
    }
  }
  return queued;
}

// A session with two ultrasound stills and a five-frame clip between them.
class AcquisitionSendTest : public ::testing::Test {
protected:
  void SetUp() override {
    InstanceCounters::ForgetRun();
    std::filesystem::create_directories(dir_.path() / "temp");
    context_.patientID = "PID-9";
    context_.patientName = "Send^Test";
    context_.accessionNumber = "ACC9";
    context_.studyDate = "20240309";
    context_.studyTime = "101010";
    context_.modality = "US";
    config_.PacsIP = "127.0.0.1";
    config_.PacsAET = "PACS";
    AcquisitionSessionSetup setup;
    setup.grabber = &source_;
    setup.programFolder = dir_.folder();
    setup.context = &context_;
    setup.config = &config_;
    setup.messages = [this](const MessageRequest &request) {
      boxes_.push_back(request.text);
      return MessageAnswer::Ok;
    };
    setup.sendTimeoutSeconds = 10;
    session_ = std::make_unique<AcquisitionSession>(std::move(setup));
    session_->onProgress = [this](int percent) { progress_.push_back(percent); };
    session_->onSending = [this](bool sending) { sendingEvents_.push_back(sending); };
    ASSERT_TRUE(session_->Open());
    if (!acquireInSetUp_) {
      return;
    }
    ASSERT_TRUE(session_->Snap());
    source_.framesPerCapture = 5;
    ASSERT_TRUE(session_->Video());
    for (int i = 0; i < 5; ++i) {
      session_->Tick();
    }
    source_.framesPerCapture = 1;
    ASSERT_TRUE(session_->Snap());
    ASSERT_EQ(session_->Files().size(), 3u);
  }
  void TearDown() override {
    session_.reset();
    InstanceCounters::ForgetRun();
  }

  // storescp with the options, writing into its own folder.
  bool StartStorescp(const std::vector<std::string> &options) {
    const std::uint16_t port = PeerProcess::FreePort();
    std::filesystem::remove_all(received());
    std::filesystem::create_directories(received());
    std::vector<std::string> argv = {"storescp", "-aet", "PACS", "-od", received().string()};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(std::to_string(port));
    config_.PacsPort = std::to_string(port);
    return peer_.Start(argv, (peerDir_.path() / "peer.log").string(), {"TCP_NODELAY=1"}) && peer_.WaitListening(port);
  }
  std::filesystem::path received() const { return peerDir_.path() / "in"; }
  // What the peer stored, by SOP Instance UID.
  std::map<std::string, std::unique_ptr<DcmObj>> Received() const {
    std::map<std::string, std::unique_ptr<DcmObj>> objects;
    for (const auto &entry : std::filesystem::directory_iterator(received())) {
      auto ds = std::make_unique<DcmObj>();
      EXPECT_TRUE(ds->Read(entry.path().string())) << entry.path();
      objects[ds->FindText(0x0008, 0x0018)] = std::move(ds);
    }
    return objects;
  }
  std::unique_ptr<DcmObj> Original(std::size_t index) const {
    auto ds = std::make_unique<DcmObj>();
    EXPECT_TRUE(ds->Read(session_->Files().at(index).path));
    return ds;
  }
  bool AllStored() const {
    for (const auto &file : session_->Files()) {
      if (!file.stored) {
        return false;
      }
    }
    return true;
  }

  // Records a large clip of random pixels, the first object of the
  // acquisition when nothing was taken before.
  void RecordLargeClip() {
    source_.width = 640;
    source_.height = 480;
    source_.noise = true;
    source_.framesPerCapture = 48; // noise in 4:2:2: about 17 MB
    ASSERT_TRUE(session_->Video());
    for (int i = 0; i < 5; ++i) {
      session_->Tick();
    }
    source_.framesPerCapture = 1;
  }

  // The two stills and the clip of SetUp; off for a test that acquires its
  // own objects.
  bool acquireInSetUp_ = true;
  TempDir dir_;
  TempDir peerDir_;
  test::LogCapture log_;
  PeerProcess peer_;
  FakeFrameSource source_;
  StudyInfo context_;
  setupcfg config_;
  std::unique_ptr<AcquisitionSession> session_;
  std::vector<std::string> boxes_;
  std::vector<int> progress_;
  std::vector<bool> sendingEvents_;
};

TEST_F(AcquisitionSendTest, StorescpWithJpegReceivesEveryObjectWithItsOwnClassAndUnchangedPixels) {
  ASSERT_TRUE(StartStorescp({"+xy"}));
  EXPECT_TRUE(session_->Send());
  EXPECT_EQ(progress_, (std::vector<int>{33, 66, 100, 0}));
  EXPECT_EQ(boxes_, (std::vector<std::string>{std::string(TEXT_FILES_SENT_OK)}));
  EXPECT_EQ(sendingEvents_, (std::vector<bool>{true, false}));
  EXPECT_TRUE(AllStored());
  EXPECT_TRUE(log_.StartingWith("ERROR").empty());

  const auto received = Received();
  ASSERT_EQ(received.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const auto original = Original(i);
    const std::string uid = original->FindText(0x0008, 0x0018);
    SCOPED_TRACE(uid);
    ASSERT_EQ(received.count(uid), 1u);
    const DcmObj &copy = *received.at(uid);
    EXPECT_EQ(copy.FindText(0x0008, 0x0016), session_->Files()[i].sopClassUid);
    EXPECT_EQ(copy.transferSyntax, JPEG_BASELINE);
    EXPECT_EQ(Fragments(copy), Fragments(*original));
  }
  EXPECT_EQ(session_->Files()[1].sopClassUid, ULTRASOUND_MULTIFRAME_IMAGE_STORAGE);
  EXPECT_EQ(session_->Files()[2].sopClassUid, ULTRASOUND_IMAGE_STORAGE);

  // Nothing unsent: closing asks nothing.
  boxes_.clear();
  EXPECT_TRUE(session_->Close());
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(AcquisitionSendTest, StorescpWithImplicitVrOnlyReceivesConvertedImages) {
  ASSERT_TRUE(StartStorescp({"+xi"}));
  EXPECT_TRUE(session_->Send());
  EXPECT_EQ(progress_, (std::vector<int>{33, 66, 100, 0}));
  const auto received = Received();
  ASSERT_EQ(received.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const std::string uid = Original(i)->FindText(0x0008, 0x0018);
    SCOPED_TRACE(uid);
    ASSERT_EQ(received.count(uid), 1u);
    const DcmObj &copy = *received.at(uid);
    EXPECT_EQ(copy.transferSyntax, IMPLICIT_VR_LITTLE_ENDIAN);
    const DcmTag *pixels = copy.FindElement(0x7FE0, 0x0010);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels->length, 16u * 8u * 3u * static_cast<unsigned>(session_->Files()[i].frames));
  }
}

TEST_F(AcquisitionSendTest, AFileGoneFromDiskIsLoggedAndTheOthersAreStillSent) {
  ASSERT_TRUE(StartStorescp({"+xy"}));
  std::filesystem::remove(session_->Files()[1].path);
  EXPECT_FALSE(session_->Send());
  EXPECT_TRUE(log_.Contains("ERROR, Couldn't read file: " + session_->Files()[1].path));
  EXPECT_EQ(progress_, (std::vector<int>{33, 100, 0}));
  EXPECT_EQ(boxes_, (std::vector<std::string>{std::string(TEXT_SEND_FAILED)}));
  EXPECT_EQ(Received().size(), 2u);
  EXPECT_TRUE(session_->Files()[0].stored);
  EXPECT_FALSE(session_->Files()[1].stored);
  EXPECT_EQ(session_->Files()[1].problem, "cannot be read");
  EXPECT_EQ(session_->Files()[2].problem, "");
  EXPECT_TRUE(session_->HasUnsentFiles());
}

TEST_F(AcquisitionSendTest, APacsThatIsDownOrRefusesStoresNothing) {
  struct Case {
    const char *name;
    bool refuse;
  } cases[] = {{"nobody listens", false}, {"storescp --refuse", true}};
  std::size_t attempts = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    progress_.clear();
    boxes_.clear();
    if (c.refuse) {
      ASSERT_TRUE(StartStorescp({"--refuse"}));
    } else {
      config_.PacsPort = std::to_string(PeerProcess::FreePort());
    }
    EXPECT_FALSE(session_->Send());
    EXPECT_EQ(log_.StartingWith("ERROR, Can't open association with: PACS").size(), ++attempts);
    EXPECT_EQ(progress_, (std::vector<int>{0}));
    EXPECT_EQ(boxes_, (std::vector<std::string>{std::string(TEXT_SEND_FAILED)}));
    EXPECT_FALSE(session_->Files()[0].stored);
    EXPECT_EQ(session_->Files()[2].problem, "no association with PACS");
    EXPECT_TRUE(log_.StartingWith("ERROR, Couldn't read file").empty());
  }
  // Once the PACS takes them, the same files are stored.
  progress_.clear();
  boxes_.clear();
  ASSERT_TRUE(StartStorescp({"+xy"}));
  EXPECT_TRUE(session_->Send());
  EXPECT_EQ(progress_, (std::vector<int>{33, 66, 100, 0}));
  EXPECT_EQ(boxes_, (std::vector<std::string>{std::string(TEXT_FILES_SENT_OK)}));
  EXPECT_EQ(Received().size(), 3u);
}

// storescp is killed while the station is in the middle of a clip: it is
// stopped once the objects before the clip are stored, and killed as soon as
// a megabyte of the clip is on its way, so the kill always lands inside the
// clip's data. The clip is reported not sent and kept, and a storescp started
// again receives it whole on the next Send.
TEST_F(AcquisitionSendTest, APacsKilledDuringAClipLeavesItUnsentAndTheNextSendStoresIt) {
  RecordLargeClip();
  ASSERT_TRUE(session_->Snap());
  ASSERT_EQ(session_->Files().size(), 5u);
  const std::string clip = session_->Files()[3].path;
  const auto clipSize = std::filesystem::file_size(clip);
  // Far more than the loopback connection can hold while storescp is stopped.
  ASSERT_GT(clipSize, 16u << 20);

  ASSERT_TRUE(StartStorescp({"+xy"}));
  const auto port = static_cast<std::uint16_t>(std::stoul(config_.PacsPort));
  const pid_t storescp = peer_.pid();
  std::atomic<std::size_t> queuedAtKill{0};
  std::thread killer;
  int filesDone = 0;
  session_->processEvents = [&] {
    if (++filesDone != 3) {
      return;
    }
    ::kill(storescp, SIGSTOP);
    killer = std::thread([&] {
      const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      std::size_t queued = 0;
      while ((queued = QueuedBytes(port)) < (1u << 20) && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      queuedAtKill = queued;
      ::kill(storescp, SIGKILL);
    });
  };
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(session_->Send());
  const auto took = std::chrono::steady_clock::now() - started;
  if (killer.joinable()) {
    killer.join();
  }
  session_->processEvents = nullptr;
  EXPECT_GE(queuedAtKill.load(), 1u << 20);
  EXPECT_LT(took, std::chrono::seconds(8)); // the link's loss, not the 10 s time-out, ends the send
  // The signal is delivered asynchronously; the process is gone soon after.
  for (int i = 0; i < 250 && peer_.Running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_FALSE(peer_.Running());

  EXPECT_EQ(progress_, (std::vector<int>{20, 40, 60, 0}));
  EXPECT_EQ(boxes_, (std::vector<std::string>{std::string(TEXT_SEND_FAILED)}));
  EXPECT_TRUE(session_->Files()[2].stored);
  EXPECT_FALSE(session_->Files()[3].stored);
  EXPECT_FALSE(session_->Files()[4].stored);
  EXPECT_EQ(session_->Files()[3].problem, "the request could not be sent");
  EXPECT_TRUE(log_.Contains("ERROR, WriteStoreRQ"));
  EXPECT_TRUE(session_->HasUnsentFiles());
  ASSERT_TRUE(std::filesystem::exists(clip));
  EXPECT_EQ(std::filesystem::file_size(clip), clipSize);

  // storescp again, on a fresh port and folder: everything arrives.
  progress_.clear();
  boxes_.clear();
  ASSERT_TRUE(StartStorescp({"+xy"}));
  EXPECT_TRUE(session_->Send());
  EXPECT_EQ(progress_, (std::vector<int>{20, 40, 60, 80, 100, 0}));
  EXPECT_EQ(boxes_, (std::vector<std::string>{std::string(TEXT_FILES_SENT_OK)}));
  EXPECT_TRUE(AllStored());
  const auto received = Received();
  ASSERT_EQ(received.size(), 5u);
  const std::string uid = Original(3)->FindText(0x0008, 0x0018);
  ASSERT_EQ(received.count(uid), 1u);
  EXPECT_EQ(Fragments(*received.at(uid)), Fragments(*Original(3)));
}

// A PACS that accepts, reads part of a clip and closes the connection: the
// clip and the still after it are reported not sent and kept, within the
// time-out, and the next Send to a working PACS stores both.
class AcquisitionSendOwnObjectsTest : public AcquisitionSendTest {
protected:
  AcquisitionSendOwnObjectsTest() { acquireInSetUp_ = false; }
};

// A still and a clip at a modality of each row of the station's table: the
// one association proposes every class the files have, storescp accepts each
// and stores every object as its own class.
TEST_F(AcquisitionSendOwnObjectsTest, EveryClassOfTheStationsTableIsProposedAndStored) {
  for (const char *modality : {"US", "ES", "XC", "OT", "CT"}) {
    context_.modality = modality;
    ASSERT_TRUE(session_->Snap()) << modality;
    source_.framesPerCapture = 2;
    ASSERT_TRUE(session_->Video()) << modality;
    for (int i = 0; i < 5; ++i) {
      session_->Tick();
    }
    source_.framesPerCapture = 1;
  }
  ASSERT_EQ(session_->Files().size(), 10u);
  ASSERT_TRUE(StartStorescp({"+xy"}));
  EXPECT_TRUE(session_->Send());
  EXPECT_TRUE(AllStored());

  std::vector<std::string> classes;
  const auto received = Received();
  ASSERT_EQ(received.size(), 10u);
  for (std::size_t i = 0; i < session_->Files().size(); ++i) {
    const AcquiredFile &file = session_->Files()[i];
    SCOPED_TRACE(file.name);
    const std::string uid = Original(i)->FindText(0x0008, 0x0018);
    ASSERT_EQ(received.count(uid), 1u);
    EXPECT_EQ(received.at(uid)->FindText(0x0008, 0x0016), file.sopClassUid);
    EXPECT_EQ(received.at(uid)->transferSyntax, JPEG_BASELINE);
    if (std::find(classes.begin(), classes.end(), file.sopClassUid) == classes.end()) {
      classes.push_back(file.sopClassUid);
    }
  }
  EXPECT_EQ(classes, StationSopClasses());
}

TEST_F(AcquisitionSendOwnObjectsTest, APacsClosingInsideAClipLeavesItUnsentAndTheNextSendStoresIt) {
  RecordLargeClip();
  ASSERT_TRUE(session_->Snap());
  ASSERT_EQ(session_->Files().size(), 2u);
  const std::string clip = session_->Files()[0].path;
  const auto clipSize = std::filesystem::file_size(clip);

  test::ScriptedPeer peer;
  // Two contexts per class, in order of first appearance, JPEG Baseline
  // alone first: the clip's is 1, the still's 5.
  peer.Receive(1)
      .Send(test::AcceptPdu(test::AcceptItem(1, 0, JPEG_BASELINE) + test::AcceptItem(5, 0, JPEG_BASELINE)))
      .Receive(256 * 1024)
      .Close()
      .Start();
  config_.PacsPort = peer.PortText();
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(session_->Send());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8)); // before the 10 s time-out
  EXPECT_TRUE(peer.Wait());
  EXPECT_EQ(progress_, (std::vector<int>{0}));
  EXPECT_EQ(boxes_, (std::vector<std::string>{std::string(TEXT_SEND_FAILED)}));
  EXPECT_FALSE(session_->Files()[0].stored);
  EXPECT_FALSE(session_->Files()[1].stored);
  EXPECT_EQ(session_->Files()[0].problem, "the request could not be sent");
  EXPECT_EQ(log_.StartingWith("ERROR, WriteStoreRQ").size(), 2u);
  ASSERT_TRUE(std::filesystem::exists(clip));
  EXPECT_EQ(std::filesystem::file_size(clip), clipSize);

  progress_.clear();
  boxes_.clear();
  ASSERT_TRUE(StartStorescp({"+xy"}));
  EXPECT_TRUE(session_->Send());
  EXPECT_EQ(progress_, (std::vector<int>{50, 100, 0}));
  EXPECT_EQ(boxes_, (std::vector<std::string>{std::string(TEXT_FILES_SENT_OK)}));
  // storescp answered success for both; that the clip arrives whole is
  // checked by the test above, so the large files are not read back here.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(received()), std::filesystem::directory_iterator()), 2);
}

// A PACS that takes a little of a clip and then nothing: the operator's
// cancel, heard while the send waits for room, ends the send at once; the
// clip and the still after it are kept unsent and the next Send stores both.
TEST_F(AcquisitionSendOwnObjectsTest, ACancelledSendKeepsEveryUnsentFileAndTheNextSendStoresThem) {
  RecordLargeClip();
  ASSERT_TRUE(session_->Snap());
  ASSERT_EQ(session_->Files().size(), 2u);
  const std::string clip = session_->Files()[0].path;
  const auto clipSize = std::filesystem::file_size(clip);

  test::ScriptedPeer peer;
  peer.SetReceiveBuffer(16384);
  peer.Receive(1)
      .Send(test::AcceptPdu(test::AcceptItem(1, 0, JPEG_BASELINE) + test::AcceptItem(5, 0, JPEG_BASELINE)))
      .Receive(256 * 1024)
      .Pause(std::chrono::seconds(3))
      .ReceiveUntilClosed()
      .Start();
  config_.PacsPort = peer.PortText();
  const auto started = std::chrono::steady_clock::now();
  session_->processEventsWhileWaiting = [&] {
    if (std::chrono::steady_clock::now() - started > std::chrono::milliseconds(500)) {
      session_->CancelSend();
    }
  };
  EXPECT_FALSE(session_->Send());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3)); // the time-out is 10 s
  EXPECT_EQ(progress_, (std::vector<int>{0}));
  EXPECT_EQ(boxes_, (std::vector<std::string>{std::string(TEXT_SEND_CANCELLED)}));
  for (const AcquiredFile &file : session_->Files()) {
    EXPECT_FALSE(file.stored);
    EXPECT_EQ(file.problem, "cancelled");
    EXPECT_TRUE(std::filesystem::exists(file.path));
  }
  EXPECT_EQ(std::filesystem::file_size(clip), clipSize);
  EXPECT_TRUE(log_.Contains("WARNING, PDU_Service::Write, cancelled by the operator"));
  EXPECT_TRUE(log_.Contains("WARNING, Send cancelled by the operator, 2 of 2 files not sent"));
  EXPECT_TRUE(log_.StartingWith("ERROR, WriteStoreRQ").empty()) << "a cancel is not a failure of the PACS";

  session_->processEventsWhileWaiting = nullptr;
  progress_.clear();
  boxes_.clear();
  ASSERT_TRUE(StartStorescp({"+xy"}));
  EXPECT_TRUE(session_->Send());
  EXPECT_EQ(boxes_, (std::vector<std::string>{std::string(TEXT_FILES_SENT_OK)}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(received()), std::filesystem::directory_iterator()), 2);
}

// Orthanc with its default settings takes JPEG Baseline on the context that
// proposes it alone: every object is stored as it was made.
TEST_F(AcquisitionSendTest, OrthancStoresEveryObjectAsItsOwnClass) {
  test::OrthancPeer orthanc;
  ASSERT_TRUE(orthanc.Start(peerDir_.path(), "PACS"));
  const std::uint16_t dicomPort = orthanc.dicomPort();
  const std::uint16_t httpPort = orthanc.httpPort();
  config_.PacsPort = std::to_string(dicomPort);

  EXPECT_TRUE(session_->Send());
  EXPECT_EQ(progress_, (std::vector<int>{33, 66, 100, 0}));

  const std::string base = "http://127.0.0.1:" + std::to_string(httpPort);
  for (std::size_t i = 0; i < 3; ++i) {
    const std::string uid = Original(i)->FindText(0x0008, 0x0018);
    SCOPED_TRACE(uid);
    std::string found;
    ASSERT_EQ(PeerProcess::Run({"curl", "-sf", "--max-time", "10", "-X", "POST", "-d",
                                "{\"Level\":\"Instance\",\"Query\":{\"SOPInstanceUID\":\"" + uid + "\"}}",
                                base + "/tools/find"},
                               &found),
              0);
    const std::size_t quote = found.find('"');
    ASSERT_NE(quote, std::string::npos) << found;
    const std::string id = found.substr(quote + 1, found.find('"', quote + 1) - quote - 1);
    std::string tags;
    ASSERT_EQ(
        PeerProcess::Run({"curl", "-sf", "--max-time", "10", base + "/instances/" + id + "/simplified-tags"}, &tags),
        0);
    EXPECT_NE(tags.find("\"SOPClassUID\" : \"" + session_->Files()[i].sopClassUid + "\""), std::string::npos) << tags;
    EXPECT_NE(tags.find("\"PatientID\" : \"PID-9\""), std::string::npos) << tags;
    // The last frame decodes: Orthanc renders it.
    std::string png;
    const int lastFrame = session_->Files()[i].frames - 1;
    ASSERT_EQ(PeerProcess::Run({"curl", "-sf", "--max-time", "10",
                                base + "/instances/" + id + "/frames/" + std::to_string(lastFrame) + "/preview"},
                               &png),
              0);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    std::string syntax;
    ASSERT_EQ(PeerProcess::Run(
                  {"curl", "-sf", "--max-time", "10", base + "/instances/" + id + "/metadata/TransferSyntax"}, &syntax),
              0);
    EXPECT_EQ(syntax, JPEG_BASELINE);
    // The stored file holds the very frames the station made.
    const std::string copy = (peerDir_.path() / ("stored-" + std::to_string(i) + ".dcm")).string();
    ASSERT_EQ(PeerProcess::Run({"curl", "-sf", "--max-time", "10", "-o", copy, base + "/instances/" + id + "/file"}),
              0);
    DcmObj stored;
    ASSERT_TRUE(stored.Read(copy));
    EXPECT_EQ(stored.transferSyntax, JPEG_BASELINE);
    EXPECT_EQ(Fragments(stored), Fragments(*Original(i)));
  }
}

} // namespace
} // namespace fw
