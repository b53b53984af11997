// fwacquire end to end: videotestsrc as the video source, storescp +xy as the
// PACS; its output lines, exit codes and --keep.
#include "dicom/DcmObj.h"
#include "dicom/Uids.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::PeerProcess;
using test::TempDir;

const std::string SOURCE = "--source=videotestsrc is-live=true";

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

TEST(FwAcquireToolTest, AcquiresStillsAndAClipAndStoresThemOnStorescp) {
  TempDir dir;
  const std::filesystem::path received = dir.path() / "in";
  std::filesystem::create_directories(received);
  const std::uint16_t port = PeerProcess::FreePort();
  PeerProcess storescp;
  ASSERT_TRUE(storescp.Start({"storescp", "+xy", "-aet", "PACS", "-od", received.string(), std::to_string(port)},
                             (dir.path() / "storescp.log").string(), {"TCP_NODELAY=1"}));
  ASSERT_TRUE(storescp.WaitListening(port));

  const std::string home = dir.folder() + "home";
  std::string out;
  std::string err;
  const int code = PeerProcess::Run({FWACQUIRE_PATH, SOURCE,
                                     "--size",       "176x144",
                                     "--patient-id", "P-1",
                                     "--name",       "Doe^Jane",
                                     "--accession",  "A9",
                                     "--modality",   "OT",
                                     "--stills",     "2",
                                     "--clips",      "1",
                                     "--aec",        "PACS",
                                     "--keep",       dir.folder() + "kept",
                                     "127.0.0.1",    std::to_string(port)},
                                    &out, &err, {"FRAMEWELL_HOME=" + home});
  EXPECT_EQ(code, 0) << err;
  EXPECT_EQ(Lines(out),
            (std::vector<std::string>{"temp/A91.dcm: stored", "temp/A92.dcm: stored", "temp/A93.dcm: stored"}));
  // Closing deleted the working files; --keep copied them first.
  EXPECT_TRUE(std::filesystem::is_empty(home + "/temp"));
  for (const char *name : {"A91.dcm", "A92.dcm", "A93.dcm"}) {
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "kept" / name)) << name;
  }
  std::vector<std::string> classes;
  for (const auto &entry : std::filesystem::directory_iterator(received)) {
    DcmObj ds;
    ASSERT_TRUE(ds.Read(entry.path().string()));
    classes.push_back(ds.FindText(0x0008, 0x0016));
    EXPECT_EQ(ds.FindUS(0x0028, 0x0011), 176);
    EXPECT_EQ(ds.FindText(0x0010, 0x0020), "P-1");
    // OT is acquired as visible-light photography, which says XC.
    EXPECT_EQ(ds.FindText(0x0008, 0x0060), "XC");
    if (classes.back() == VIDEO_PHOTOGRAPHIC_IMAGE_STORAGE) {
      // 4 to 5 seconds of 30 frames a second.
      const int frames = std::stoi(ds.FindText(0x0028, 0x0008));
      EXPECT_GE(frames, 100);
      EXPECT_LE(frames, 160);
      EXPECT_EQ(ds.FindText(0x0018, 0x1063), "33.3333");
    }
  }
  std::sort(classes.begin(), classes.end());
  EXPECT_EQ(classes, (std::vector<std::string>{std::string(VL_PHOTOGRAPHIC_IMAGE_STORAGE),
                                               std::string(VL_PHOTOGRAPHIC_IMAGE_STORAGE),
                                               std::string(VIDEO_PHOTOGRAPHIC_IMAGE_STORAGE)}));
}

// The station's setup in the program folder gives the calling AE title, the
// institution and the modality; options override each.
TEST(FwAcquireToolTest, TheStationsSetupGivesTheDefaultsAndOptionsOverrideThem) {
  TempDir dir;
  const std::filesystem::path received = dir.path() / "in";
  std::filesystem::create_directories(received);
  const std::uint16_t port = PeerProcess::FreePort();
  PeerProcess storescp;
  ASSERT_TRUE(storescp.Start({"storescp", "+xy", "-aet", "PACS", "-od", received.string(), std::to_string(port)},
                             (dir.path() / "storescp.log").string(), {"TCP_NODELAY=1"}));
  ASSERT_TRUE(storescp.WaitListening(port));

  const std::string configured = "STATION7\r\nSt. Elsewhere\r\nPACS\r\n127.0.0.1\r\n104\r\n"
                                 "WORKLIST\r\n127.0.0.1\r\n104\r\n0\r\n5\r\n"; // ModalityIndex 5: ES
  const struct {
    const char *patientId;
    const char *config; // nullptr: no "quillbrook.cfg"
    std::vector<std::string> options;
    const char *callingAet, *institution, *modality;
  } cases[] = {
      {"NOSETUP", nullptr, {}, "QUILLBROOK", "Institution Name", "US"},
      {"SETUP", configured.c_str(), {}, "STATION7", "St. Elsewhere", "ES"},
      {"OPTIONS",
       configured.c_str(),
       {"--aet", "TOOL1", "--institution", "Clinic B", "--modality", "US"},
       "TOOL1",
       "Clinic B",
       "US"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.patientId);
    const std::filesystem::path home = dir.path() / c.patientId;
    std::filesystem::create_directories(home);
    if (c.config != nullptr) {
      std::ofstream(home / "quillbrook.cfg", std::ios::binary) << c.config;
    }
    std::vector<std::string> argv = {FWACQUIRE_PATH, SOURCE,   "--size", "176x144", "--patient-id",
                                     c.patientId,    "--name", "Doe^J",  "--aec",   "PACS"};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    argv.insert(argv.end(), {"127.0.0.1", std::to_string(port)});
    std::string err;
    ASSERT_EQ(PeerProcess::Run(argv, nullptr, &err, {"FRAMEWELL_HOME=" + home.string()}), 0) << err;
  }
  std::vector<std::string> seen;
  for (const auto &entry : std::filesystem::directory_iterator(received)) {
    DcmObj ds;
    ASSERT_TRUE(ds.Read(entry.path().string()));
    const std::string id = ds.FindText(0x0010, 0x0020);
    const auto c =
        std::find_if(std::begin(cases), std::end(cases), [&](const auto &row) { return id == row.patientId; });
    ASSERT_NE(c, std::end(cases)) << id;
    seen.push_back(id);
    // storescp records the calling AE title as the file's source.
    std::string meta;
    ASSERT_EQ(PeerProcess::Run({"dcmdump", "+P", "0002,0016", entry.path().string()}, &meta), 0);
    std::string title = "[";
    title.append(c->callingAet).append("]");
    EXPECT_NE(meta.find(title), std::string::npos) << id << ": " << meta;
    EXPECT_EQ(ds.FindText(0x0008, 0x0080), c->institution) << id;
    EXPECT_EQ(ds.FindText(0x0008, 0x0060), c->modality) << id;
  }
  EXPECT_EQ(seen.size(), std::size(cases));
}

TEST(FwAcquireToolTest, APacsThatIsDownGivesOneLinePerObjectAndExitOne) {
  TempDir dir;
  const std::uint16_t port = PeerProcess::FreePort();
  std::string out;
  std::string err;
  const int code =
      PeerProcess::Run({FWACQUIRE_PATH, SOURCE, "--size", "176x144", "--patient-id", "P-1", "--name", "Doe^Jane",
                        "--accession", "B7", "--stills", "1", "--timeout", "2", "127.0.0.1", std::to_string(port)},
                       &out, &err, {"FRAMEWELL_HOME=" + dir.folder()});
  EXPECT_EQ(code, 1);
  EXPECT_EQ(Lines(out), (std::vector<std::string>{"temp/B71.dcm: not stored, no association with ANY-SCP"}));
  EXPECT_NE(err.find("ERROR, Can't open association with: ANY-SCP"), std::string::npos) << err;
}

TEST(FwAcquireToolTest, UsageErrorsExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"--name", "X", "127.0.0.1", "104"},                                       // no patient ID
      {"--patient-id", "P", "127.0.0.1", "104"},                                 // no name
      {"--patient-id", "P", "--name", "X", "127.0.0.1"},                         // no port
      {"--patient-id", "P", "--name", "X", "--size", "640", "127.0.0.1", "104"}, // bad size
      {"--patient-id", "P", "--name", "X", "--stills", "-1", "127.0.0.1", "104"},
      {"--patient-id", "P", "--name", "X", "--stills", "0", "127.0.0.1", "104"}, // nothing to do
      {"--patient-id", "P", "--name", "X", "127.0.0.1", "70000"},
      // Only the modalities the station has storage classes for.
      {"--patient-id", "P", "--name", "X", "--modality", "ct", "127.0.0.1", "104"},
      {"--patient-id", "P", "--name", "X", "--modality", "SC", "127.0.0.1", "104"},
      {"--patient-id", "P", "--name", "X", "--modality", "", "127.0.0.1", "104"},
      {"--patient-id", "P", "--name", "X", "--modality", "US ", "127.0.0.1", "104"},
  };
  for (const auto &arguments : cases) {
    std::vector<std::string> argv = {FWACQUIRE_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string err;
    EXPECT_EQ(PeerProcess::Run(argv, nullptr, &err), 2) << arguments[arguments.size() - 3];
    EXPECT_NE(err.find("fwacquire"), std::string::npos) << err;
    if (std::find(arguments.begin(), arguments.end(), "--modality") != arguments.end()) {
      EXPECT_NE(err.find("the modality is one of US, ES, XC, GM, OT, CR, CT, MR, DX, XA, RF"), std::string::npos)
          << err;
    }
  }
}

} // namespace
} // namespace fw
