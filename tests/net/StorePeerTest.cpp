// Storage and verification against real, independent peers on loopback,
// each started by the test on a free port and stopped by its process id:
// DCMTK's storescp in several set-ups (JPEG accepted, implicit VR only, small
// PDUs, aborting, stalling) and Orthanc, whose REST interface then shows what
// it stored. The tools fwecho and fwstore run against storescp too.
#include "dicom/DcmObj.h"
#include "dicom/Uids.h"
#include "net/association/PDU_Service.h"
#include "net/dimse/CEcho.h"
#include "net/dimse/CStore.h"
#include "net/dimse/StoreRequest.h"
#include "presentation/ImageConversion.h"
#include "tests/net/AssociationScripts.h"
#include "tests/net/StoreTestObjects.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Peers.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::LogCapture;
using test::PeerProcess;
using test::TempDir;

constexpr const char *kScpAET = "STORESCP";

// storescp with extra options, writing what it receives into its own folder.
class StoreScp {
public:
  explicit StoreScp(const std::vector<std::string> &options) { started_ = peer_.Start(dir_.path(), options, kScpAET); }
  const ::testing::AssertionResult &Started() const { return started_; }
  std::string Port() const { return std::to_string(peer_.port()); }
  std::filesystem::path received() const { return peer_.received(); }
  const TempDir &dir() const { return dir_; }

  // The received object with this SOP Instance UID, or null.
  std::unique_ptr<DcmObj> Received(std::string_view instanceUID) const {
    for (const auto &entry : std::filesystem::directory_iterator(received())) {
      auto object = std::make_unique<DcmObj>();
      if (object->Read(entry.path().string()) && object->FindText(0x0008, 0x0018).starts_with(instanceUID)) {
        return object;
      }
    }
    return nullptr;
  }

private:
  TempDir dir_;
  test::StorescpPeer peer_;
  ::testing::AssertionResult started_ = ::testing::AssertionFailure();
};

// The contexts of each class of the objects as the station proposes them:
// each compressed syntax alone, then explicit and implicit VR little endian.
std::vector<ProposedContext> Proposal(const std::vector<std::unique_ptr<DcmObj>> &objects) {
  std::vector<std::string> classes;
  std::vector<std::string> syntaxes;
  const auto addOnce = [](std::vector<std::string> &list, std::string_view value) {
    if (std::find(list.begin(), list.end(), value) == list.end()) {
      list.emplace_back(value);
    }
  };
  for (const auto &object : objects) {
    classes.push_back(StoredSopClass(*object, {}));
    addOnce(syntaxes, object->transferSyntax);
  }
  addOnce(syntaxes, EXPLICIT_VR_LITTLE_ENDIAN);
  addOnce(syntaxes, IMPLICIT_VR_LITTLE_ENDIAN);
  return ProposeStorageContexts(classes, syntaxes);
}

// Stores the objects on one association as the station does; the result of
// each (0 stored, else WriteStoreRQ's or ReadStoreRSP's failure). Objects
// are converted in place to what was sent.
std::vector<int> StoreAll(const std::string &port, std::vector<std::unique_ptr<DcmObj>> &objects, int timeout,
                          const char *calledAET = kScpAET) {
  std::vector<int> results;
  PDU_Service service;
  if (!service.OpenAssociation({"127.0.0.1", port, "QUILLBROOK", calledAET, timeout}, Proposal(objects))) {
    service.ReleaseAssociation();
    return results;
  }
  for (auto &object : objects) {
    const int written = WriteStoreRQ(service, *object, StoredSopClass(*object, {}));
    results.push_back(written == 0 ? ReadStoreRSP(service) : written);
  }
  service.ReleaseAssociation();
  return results;
}

// Every top-level element of `sent` arrived with the same value.
void ExpectSameElements(const DcmObj &sent, const DcmObj &received) {
  ASSERT_EQ(received.transferSyntax, sent.transferSyntax);
  std::size_t compared = 0;
  for (std::size_t i = 0; i < sent.Count(); ++i) {
    const DcmTag *element = sent.ElementAt(i);
    if (element == nullptr || element->group == 0xFFFE) {
      continue;
    }
    const DcmTag *other = received.FindElement(element->group, element->element);
    ASSERT_NE(other, nullptr) << std::hex << element->group << "," << element->element;
    EXPECT_EQ(other->data, element->data) << std::hex << element->group << "," << element->element;
    ++compared;
  }
  EXPECT_GT(compared, 15u);
}

// The pixel data: native bytes, or the fragments of encapsulated data in order.
std::string PixelPayload(const DcmObj &object) {
  std::string bytes;
  bool inPixels = false;
  for (std::size_t i = 0; i < object.Count(); ++i) {
    const DcmTag *element = object.ElementAt(i);
    if (element == nullptr) {
      continue;
    }
    if (element->Is(0x7FE0, 0x0010)) {
      inPixels = true;
      bytes.append(element->data.begin(), element->data.end());
    } else if (inPixels && element->Is(0xFFFE, 0xE000)) {
      bytes.append(element->data.begin(), element->data.end());
    }
  }
  return bytes;
}

// An association profile for storescp (-xf FILE JpegOnly) that takes the
// two ultrasound classes in JPEG Baseline and nothing else.
std::string WriteJpegOnlyProfile(const std::filesystem::path &dir) {
  const std::filesystem::path profile = dir / "jpeg-only.cfg";
  std::ofstream(profile) << "[[TransferSyntaxes]]\n"
                            "[JpegBaseline]\n"
                            "TransferSyntax1 = 1.2.840.10008.1.2.4.50\n"
                            "[[PresentationContexts]]\n"
                            "[Ultrasound]\n"
                            "PresentationContext1 = 1.2.840.10008.5.1.4.1.1.6.1\\JpegBaseline\n"
                            "PresentationContext2 = 1.2.840.10008.5.1.4.1.1.3.1\\JpegBaseline\n"
                            "[[Profiles]]\n"
                            "[JpegOnly]\n"
                            "PresentationContexts = Ultrasound\n";
  return profile.string();
}

std::vector<std::unique_ptr<DcmObj>> StillsAndClip() {
  std::vector<std::unique_ptr<DcmObj>> objects;
  objects.push_back(test::MakeImage(test::US_IMAGE_STORAGE, "1.2.826.0.1.3680043.9.7777.1.10.1", 1));
  objects.push_back(test::MakeImage(test::US_MULTIFRAME_STORAGE, "1.2.826.0.1.3680043.9.7777.1.10.2", 6));
  objects.push_back(test::MakeImage(test::US_IMAGE_STORAGE, "1.2.826.0.1.3680043.9.7777.1.10.3", 1));
  return objects;
}

TEST(StorescpStoreTest, StillsAndClipArriveUnchangedEachWithItsClass) {
  StoreScp scp({"+xy"});
  ASSERT_TRUE(scp.Started());
  EXPECT_TRUE(EchoNode("127.0.0.1", scp.Port(), "QUILLBROOK", kScpAET, 10));
  auto objects = StillsAndClip();
  EXPECT_EQ(StoreAll(scp.Port(), objects, 10), (std::vector<int>{0, 0, 0}));
  for (const auto &object : objects) {
    const std::string instance = object->FindText(0x0008, 0x0018);
    SCOPED_TRACE(instance);
    EXPECT_EQ(object->transferSyntax, JPEG_BASELINE);
    auto received = scp.Received(instance);
    ASSERT_NE(received, nullptr);
    ExpectSameElements(*object, *received);
    EXPECT_EQ(PixelPayload(*received), PixelPayload(*object));
  }
}

// Peers that take no JPEG (storescp +xi: implicit VR only; without options:
// uncompressed only, explicit VR preferred) get the frames decoded.
TEST(StorescpStoreTest, ImplicitOnlyPeerAndUncompressedPeerGetTheDecodedPixels) {
  struct Case {
    std::vector<std::string> options;
    std::string_view syntax;
  } cases[] = {{{"+xi"}, IMPLICIT_VR_LITTLE_ENDIAN}, {{}, EXPLICIT_VR_LITTLE_ENDIAN}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.syntax);
    StoreScp scp(c.options);
    ASSERT_TRUE(scp.Started());
    auto objects = StillsAndClip();
    EXPECT_EQ(StoreAll(scp.Port(), objects, 10), (std::vector<int>{0, 0, 0}));
    for (std::size_t i = 0; i < objects.size(); ++i) {
      const std::string instance = objects[i]->FindText(0x0008, 0x0018);
      SCOPED_TRACE(instance);
      auto received = scp.Received(instance);
      ASSERT_NE(received, nullptr);
      EXPECT_EQ(received->transferSyntax, c.syntax);
      // What the JPEG decodes to, converted here from a fresh copy.
      auto fresh = StillsAndClip();
      const auto &reference = fresh[i];
      ASSERT_EQ(reference->transferSyntax, JPEG_BASELINE);
      ASSERT_TRUE(ConvertTransferSyntax(*reference, c.syntax));
      const std::string pixels = PixelPayload(*received);
      EXPECT_EQ(pixels.size(), 64u * 48 * 3 * (i == 1 ? 6 : 1));
      EXPECT_EQ(pixels, PixelPayload(*reference));
      EXPECT_EQ(received->FindText(0x0028, 0x0004).substr(0, 3), "RGB");
    }
  }
}

// A PACS configured to take the ultrasound classes in JPEG Baseline only
// (storescp with an association profile): the uncompressed contexts are
// refused, and every object arrives as it was made.
TEST(StorescpStoreTest, JpegOnlyPeerGetsTheObjectsAsTheyAre) {
  TempDir config;
  const std::string profile = WriteJpegOnlyProfile(config.path());
  StoreScp scp({"-xf", profile, "JpegOnly"});
  ASSERT_TRUE(scp.Started());
  auto objects = StillsAndClip();
  EXPECT_EQ(StoreAll(scp.Port(), objects, 10), (std::vector<int>{0, 0, 0}));
  for (const auto &object : objects) {
    const std::string instance = object->FindText(0x0008, 0x0018);
    SCOPED_TRACE(instance);
    EXPECT_EQ(object->transferSyntax, JPEG_BASELINE) << "not converted";
    auto received = scp.Received(instance);
    ASSERT_NE(received, nullptr);
    ExpectSameElements(*object, *received);
    EXPECT_EQ(PixelPayload(*received), PixelPayload(*object));
  }
}

// A clip several times larger than the peer's maximum PDU arrives whole, at
// the smallest limit storescp takes and at a common large one.
class PeerPduTest : public ::testing::TestWithParam<unsigned> {};

TEST_P(PeerPduTest, ClipLargerThanThePeerPduArrivesWhole) {
  const unsigned maxPdu = GetParam();
  StoreScp scp({"+xy", "--max-pdu", std::to_string(maxPdu)});
  ASSERT_TRUE(scp.Started());
  const std::string uid = "1.2.826.0.1.3680043.9.7777.1.10." + std::to_string(maxPdu);
  std::vector<std::unique_ptr<DcmObj>> objects;
  objects.push_back(test::MakeImage(test::US_MULTIFRAME_STORAGE, uid, 30, JPEG_BASELINE, 640, 480));
  ASSERT_NE(objects[0], nullptr);
  ASSERT_GT(PixelPayload(*objects[0]).size(), maxPdu * 2u);
  EXPECT_EQ(StoreAll(scp.Port(), objects, 10), std::vector<int>{0});
  auto received = scp.Received(uid);
  ASSERT_NE(received, nullptr);
  EXPECT_EQ(PixelPayload(*received), PixelPayload(*objects[0]));
}

INSTANTIATE_TEST_SUITE_P(MaxPdu, PeerPduTest, ::testing::Values(4096u, 131072u));

// A clip read back from its file holds its frames as views of the file's
// bytes, and the PDUs take them from there: what arrives is what was written.
TEST(StorescpStoreTest, ClipReadFromItsFileArrivesWhole) {
  StoreScp scp({"+xy"});
  ASSERT_TRUE(scp.Started());
  TempDir files;
  const std::string uid = "1.2.826.0.1.3680043.9.7777.1.10.40";
  const std::string path = (files.path() / "clip.dcm").string();
  const auto written = test::MakeImage(test::US_MULTIFRAME_STORAGE, uid, 8, JPEG_BASELINE, 640, 480);
  ASSERT_TRUE(written->Write(path));
  std::vector<std::unique_ptr<DcmObj>> objects;
  objects.push_back(std::make_unique<DcmObj>());
  ASSERT_TRUE(objects[0]->Read(path));
  std::size_t views = 0;
  for (std::size_t i = 0; i < objects[0]->Count(); ++i) {
    const DcmTag *t = objects[0]->ElementAt(i);
    views += t != nullptr && t->data.IsView() ? 1 : 0;
  }
  ASSERT_GT(views, 0u) << "the frames are large enough to be read as views";
  EXPECT_EQ(StoreAll(scp.Port(), objects, 10), std::vector<int>{0});
  auto received = scp.Received(uid);
  ASSERT_NE(received, nullptr);
  EXPECT_EQ(PixelPayload(*received), PixelPayload(*written));
  ExpectSameElements(*written, *received);
}

// A peer that drops the association or stops answering while objects are
// sent: each object gets a failure, none hangs, the later ones are tried.
TEST(StorescpStoreTest, AbortingAndStallingPeersFailEachObjectWithoutHanging) {
  struct Case {
    std::vector<std::string> options;
    int timeout;
  };
  for (const Case &c : {Case{{"+xy", "--abort-after"}, 10}, Case{{"+xy", "--sleep-during", "4"}, 1}}) {
    SCOPED_TRACE(c.options.back());
    StoreScp scp(c.options);
    ASSERT_TRUE(scp.Started());
    LogCapture log;
    auto objects = StillsAndClip();
    const auto start = std::chrono::steady_clock::now();
    const std::vector<int> results = StoreAll(scp.Port(), objects, c.timeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    ASSERT_EQ(results.size(), 3u);
    for (int result : results) {
      EXPECT_NE(result, 0);
    }
    EXPECT_FALSE(log.StartingWith("ERROR, CStore::ReadRSP, PDU->Read DCO failed").empty());
  }
  // Nothing of the failed stores lingers: the same objects go to a good peer.
  StoreScp good({"+xy"});
  ASSERT_TRUE(good.Started());
  auto objects = StillsAndClip();
  EXPECT_EQ(StoreAll(good.Port(), objects, 10), (std::vector<int>{0, 0, 0}));
}

// ---------------------------------------------------------------- tools

#ifdef FWSTORE_PATH
// A peer that rejects the association (here for the called AE title): fwecho
// says so, with the reason in words, instead of "does not answer".
TEST(StoreToolTest, EchoToARejectingPeerSaysWhy) {
  test::ScriptedPeer peer;
  peer.Receive(test::VerificationRequestSize())
      .Send(test::Hex("03 00 00 00 00 04 00 01 01 07"))
      .ReceiveUntilClosed()
      .Start();
  std::string out;
  std::string err;
  EXPECT_EQ(PeerProcess::Run({FWECHO_PATH, "-aec", "WRONG", "127.0.0.1", peer.PortText()}, &out, &err), 1);
  EXPECT_NE(err.find("Association Rejected..."), std::string::npos) << err;
  EXPECT_NE(err.find("ERROR, Association rejected by WRONG, result: rejected-permanent (1), source: DICOM UL "
                     "service-user (1), reason: called-AE-title-not-recognized (7)"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("fwecho: WRONG at 127.0.0.1:" + peer.PortText() + " rejected the association"), std::string::npos)
      << err;
  EXPECT_EQ(err.find("does not answer"), std::string::npos) << err;
  EXPECT_TRUE(peer.Wait());
}

// Peers that trickle renew every wait's time-out; the tools still end
// within their deadline (--timeout 1: one second for a unit of up to a MiB)
// and say what was too slow.
TEST(StoreToolTest, TricklingPeersAreGivenUpOnWithinTheDeadline) {
  TempDir files;
  const std::string path = (files.path() / "still.dcm").string();
  ASSERT_TRUE(StillsAndClip()[0]->Write(path));
  const std::string emptyPdvs = [] {
    std::string pdus;
    for (int i = 0; i < 100; ++i) {
      pdus += test::PDataPdu(test::Pdv(1, 0x01, ""));
    }
    return pdus;
  }();
  const std::string largeResponse = test::PDataPdu(test::Pdv(1, 0x03, std::string(999994, 'x')));
  struct Case {
    const char *name;
    std::vector<std::string> argv;
    std::string trickled;
    std::size_t atOnce; // bytes of it sent with the accept (the PDU header)
    std::size_t chunk;
    std::string line;
  } const cases[] = {
      {"fwecho, empty PDVs",
       {FWECHO_PATH, "--timeout", "1"},
       emptyPdvs,
       0,
       12,
       "ERROR, PDU_Service::Read, command not received within 1 s"},
      {"fwstore, a 1 MB response a byte at a time",
       {FWSTORE_PATH, "--timeout", "1"},
       largeResponse,
       6,
       1,
       "ERROR, PDU_Service::Read, P-DATA-TF PDU of 1000006 bytes not received within 1 s"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    test::ScriptedPeer peer;
    peer.Receive(1)
        .Send(test::AcceptPdu(test::AcceptItem(1, 0, "1.2.840.10008.1.2")) + c.trickled.substr(0, c.atOnce))
        .Trickle(c.trickled.substr(c.atOnce), c.chunk, std::chrono::milliseconds(250), false)
        .Start();
    std::vector<std::string> argv = c.argv;
    argv.insert(argv.end(), {"127.0.0.1", peer.PortText()});
    if (c.argv[0] == FWSTORE_PATH) {
      argv.push_back(path);
    }
    std::string out;
    std::string err;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(PeerProcess::Run(argv, &out, &err), 1) << err;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_NE(err.find(c.line), std::string::npos) << err;
  }
}

TEST(StoreToolTest, EchoAndStoreFilesWithOneLineEach) {
  StoreScp scp({"+xy"});
  ASSERT_TRUE(scp.Started());
  std::string out;
  EXPECT_EQ(PeerProcess::Run({FWECHO_PATH, "-aec", kScpAET, "127.0.0.1", scp.Port()}, &out), 0);
  EXPECT_EQ(PeerProcess::Run({FWECHO_PATH, "--bogus"}), 2);

  TempDir files;
  std::vector<std::string> paths;
  auto objects = StillsAndClip();
  // A native still of the same class as the JPEG ones: it goes on the
  // uncompressed context of its class as it is, the JPEG ones on theirs.
  objects.push_back(
      test::MakeImage(test::US_IMAGE_STORAGE, "1.2.826.0.1.3680043.9.7777.1.10.4", 1, EXPLICIT_VR_LITTLE_ENDIAN));
  for (std::size_t i = 0; i < objects.size(); ++i) {
    paths.push_back((files.path() / ("object" + std::to_string(i) + ".dcm")).string());
    ASSERT_TRUE(objects[i]->Write(paths.back()));
  }
  std::vector<std::string> argv = {FWSTORE_PATH, "-aec", kScpAET, "127.0.0.1", scp.Port()};
  argv.insert(argv.end(), paths.begin(), paths.end());
  argv.push_back((files.path() / "missing.dcm").string());
  std::string err;
  EXPECT_EQ(PeerProcess::Run(argv, &out, &err), 1) << err;
  EXPECT_EQ(out, paths[0] + ": stored\n" + paths[1] + ": stored\n" + paths[2] + ": stored\n" + paths[3] + ": stored\n" +
                     (files.path() / "missing.dcm").string() + ": not stored, cannot be read\n");
  for (const auto &[instance, syntax] : {std::pair{"1.2.826.0.1.3680043.9.7777.1.10.2", JPEG_BASELINE},
                                         std::pair{"1.2.826.0.1.3680043.9.7777.1.10.4", EXPLICIT_VR_LITTLE_ENDIAN}}) {
    auto received = scp.Received(instance);
    ASSERT_NE(received, nullptr) << instance;
    EXPECT_EQ(received->transferSyntax, syntax);
  }

  // A peer that takes JPEG only: the native still must not be made lossy.
  TempDir jpegOnlyDir;
  StoreScp jpegOnly({"-xf", WriteJpegOnlyProfile(jpegOnlyDir.path()), "JpegOnly"});
  ASSERT_TRUE(jpegOnly.Started());
  EXPECT_EQ(
      PeerProcess::Run({FWSTORE_PATH, "-aec", kScpAET, "127.0.0.1", jpegOnly.Port(), paths[0], paths[3]}, &out, &err),
      1)
      << err;
  EXPECT_EQ(out, paths[0] + ": stored\n" + paths[3] +
                     ": not stored, it would need a lossy conversion to 1.2.840.10008.1.2.4.50\n");
  EXPECT_EQ(jpegOnly.Received("1.2.826.0.1.3680043.9.7777.1.10.4"), nullptr);

  paths.pop_back();
  argv = {FWSTORE_PATH, "--timeout", "5", "-aec", kScpAET, "127.0.0.1", scp.Port()};
  argv.insert(argv.end(), paths.begin(), paths.end());
  EXPECT_EQ(PeerProcess::Run(argv, &out, &err), 0) << err;
  EXPECT_EQ(PeerProcess::Run({FWSTORE_PATH, "127.0.0.1", "0", paths[0]}), 2);
}

// fwstore takes SOP class and transfer syntax from the head of a file; files
// whose head does not tell are read whole, and a file whose body is damaged
// is found out when its turn comes.
TEST(StoreToolTest, FilesAreJudgedFromTheirHeadOrReadWhole) {
  StoreScp scp({"+xy"});
  ASSERT_TRUE(scp.Started());
  TempDir files;
  const auto path = [&files](const std::string &name) { return (files.path() / name).string(); };

  auto implicit =
      test::MakeImage(test::US_IMAGE_STORAGE, "1.2.826.0.1.3680043.9.7777.1.10.31", 1, IMPLICIT_VR_LITTLE_ENDIAN);
  ASSERT_TRUE(implicit->Write(path("implicit.dcm")));

  // A value longer than the head before the SOP Class UID.
  auto longFirst =
      test::MakeImage(test::US_IMAGE_STORAGE, "1.2.826.0.1.3680043.9.7777.1.10.32", 1, EXPLICIT_VR_LITTLE_ENDIAN);
  const std::vector<std::uint8_t> filler(100000, 0x41);
  longFirst->Put(DcmTag::FromBytes(0x0008, 0x0010, static_cast<std::uint32_t>(filler.size()), filler.data(), "OB"));
  ASSERT_TRUE(longFirst->Write(path("long-first.dcm")));

  auto noClass =
      test::MakeImage(test::US_IMAGE_STORAGE, "1.2.826.0.1.3680043.9.7777.1.10.33", 1, EXPLICIT_VR_LITTLE_ENDIAN);
  noClass->RemoveAt(0); // (0008,0016)
  ASSERT_TRUE(noClass->Write(path("no-class.dcm")));

  auto damaged =
      test::MakeImage(test::US_IMAGE_STORAGE, "1.2.826.0.1.3680043.9.7777.1.10.34", 3, EXPLICIT_VR_LITTLE_ENDIAN);
  ASSERT_TRUE(damaged->Write(path("damaged.dcm")));
  std::filesystem::resize_file(path("damaged.dcm"), std::filesystem::file_size(path("damaged.dcm")) - 100);

  std::string out;
  std::string err;
  EXPECT_EQ(PeerProcess::Run({FWSTORE_PATH, "-aec", kScpAET, "127.0.0.1", scp.Port(), path("implicit.dcm"),
                              path("long-first.dcm"), path("no-class.dcm"), path("damaged.dcm")},
                             &out, &err),
            1)
      << err;
  EXPECT_EQ(out, path("implicit.dcm") + ": stored\n" + path("long-first.dcm") + ": stored\n" + path("no-class.dcm") +
                     ": not stored, no SOP Class UID\n" + path("damaged.dcm") + ": not stored, cannot be read\n");
  EXPECT_NE(scp.Received("1.2.826.0.1.3680043.9.7777.1.10.31"), nullptr);
  EXPECT_NE(scp.Received("1.2.826.0.1.3680043.9.7777.1.10.32"), nullptr);
}
#endif

// ---------------------------------------------------------------- Orthanc

TEST(OrthancStoreTest, EchoStoreAndConfirmThroughRest) {
  TempDir dir;
  test::OrthancPeer orthanc;
  ASSERT_TRUE(orthanc.Start(dir.path(), "ORTHANC"));
  const std::uint16_t dicomPort = orthanc.dicomPort();
  const std::uint16_t httpPort = orthanc.httpPort();

  EXPECT_TRUE(EchoNode("127.0.0.1", std::to_string(dicomPort), "QUILLBROOK", "ORTHANC", 10));
  std::vector<std::unique_ptr<DcmObj>> objects;
  objects.push_back(test::MakeImage(test::US_IMAGE_STORAGE, "1.2.826.0.1.3680043.9.7777.1.10.21", 1));
  objects.push_back(test::MakeImage(test::US_MULTIFRAME_STORAGE, "1.2.826.0.1.3680043.9.7777.1.10.22", 5));
  EXPECT_EQ(StoreAll(std::to_string(dicomPort), objects, 10, "ORTHANC"), (std::vector<int>{0, 0}));

  const std::string base = "http://127.0.0.1:" + std::to_string(httpPort);
  const auto get = [&](const std::string &path, std::string *body) {
    return PeerProcess::Run({"curl", "-sf", "--max-time", "10", base + path}, body);
  };
  for (const auto &object : objects) {
    const std::string instance = object->FindText(0x0008, 0x0018);
    SCOPED_TRACE(instance);
    std::string found;
    ASSERT_EQ(PeerProcess::Run({"curl", "-sf", "--max-time", "10", "-X", "POST", "-d",
                                "{\"Level\":\"Instance\",\"Query\":{\"SOPInstanceUID\":\"" + instance + "\"}}",
                                base + "/tools/find"},
                               &found),
              0);
    const std::size_t quote = found.find('"');
    ASSERT_NE(quote, std::string::npos) << found;
    const std::string id = found.substr(quote + 1, found.find('"', quote + 1) - quote - 1);
    std::string sopClass;
    ASSERT_EQ(get("/instances/" + id + "/content/0008-0016", &sopClass), 0);
    while (!sopClass.empty() &&
           (sopClass.back() == '\0' || std::isspace(static_cast<unsigned char>(sopClass.back())))) {
      sopClass.pop_back();
    }
    EXPECT_EQ(sopClass, StoredSopClass(*object, {}));
    std::string frames;
    ASSERT_EQ(get("/instances/" + id + "/frames", &frames), 0);
    const std::size_t frameCount = object->FindText(0x0028, 0x0008).empty() ? 1 : 5;
    EXPECT_NE(frames.find(std::to_string(frameCount - 1)), std::string::npos) << frames;
    // The last frame decodes: Orthanc renders it to a PNG.
    std::string png;
    ASSERT_EQ(get("/instances/" + id + "/frames/" + std::to_string(frameCount - 1) + "/preview", &png), 0);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    // Stored as it was sent: JPEG Baseline, not decoded on the way.
    std::string syntax;
    ASSERT_EQ(get("/instances/" + id + "/metadata/TransferSyntax", &syntax), 0);
    EXPECT_EQ(syntax, JPEG_BASELINE);
  }
}

} // namespace
} // namespace fw
