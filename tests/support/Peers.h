// Real DICOM peers for tests, each started on a free loopback port and
// stopped by its process id when the object goes (and killed with the test
// program if that dies first). When the test fails, the peer's output is
// printed. Set-ups come from scripts/peers.sh, which the demo environment
// uses too, so tests and demo run the same configurations.
//
// Link fw_test_peers. In a test:
//
//   TempDir dir;
//   StorescpPeer storescp;                     // DCMTK storescp, AE STORESCP
//   ASSERT_TRUE(storescp.Start(dir.path(), {"+xy"}));   // JPEG Baseline too
//   ... connect to 127.0.0.1 storescp.port(); files arrive in storescp.received()
//
//   WlmscpfsPeer worklist;                     // DCMTK wlmscpfs
//   ASSERT_TRUE(worklist.Start(dir.path(), "WLTEST",
//                              {{"DOE^JOHN", "W1", "20240309", "US", "0800"}}));
//   ... called AE title "WLTEST", port worklist.port()
//
//   OrthancPeer orthanc;                       // Orthanc, AE ORTHANC, REST on httpPort()
//   ASSERT_TRUE(orthanc.Start(dir.path(), "ORTHANC", entries));  // entries: worklist plugin
//   ... orthanc.dicomPort(), orthanc.httpPort()
//
// Start returns an assertion result that carries the peer's output when the
// peer did not come up: a peer that cannot be started fails the test.
// Suite-wide peers are started in SetUpTestSuite; check Started() in SetUp
// and FAIL() (never skip) when it is false.
#pragma once

#include "tests/support/PeerProcess.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fw::test {

// scripts/peers.sh of this source tree.
std::string PeersScript();

// Runs "bash scripts/peers.sh args...": its standard output, or a failure
// with its standard error.
::testing::AssertionResult RunPeersScript(const std::vector<std::string> &args, std::string *out = nullptr);

// One scheduled procedure step. Without a character set the name is Latin-1
// bytes under "ISO_IR 100"; with one (a term peers.sh worklist-entry knows)
// the name is UTF-8 and the entry holds it in that character set.
struct WorklistEntry {
  std::string name;
  std::string patientID;
  std::string date;     // YYYYMMDD
  std::string modality; // US, CT, ...
  std::string time;     // HHMM
  std::string characterSet = {};
};

// Writes the entries as complete .wl files entry1.wl, entry2.wl, ... into
// the folder (accession number ACC<n>, study UID 1.2.826.0.1.3680043.2.1143.1.<n>).
::testing::AssertionResult WriteWorklistEntries(const std::filesystem::path &folder,
                                                const std::vector<WorklistEntry> &entries);

// DCMTK's storescp, writing what it receives into received().
class StorescpPeer {
public:
  // storescp -aet AET -od DIR/in OPTIONS... PORT, output in DIR/storescp.log.
  ::testing::AssertionResult Start(const std::filesystem::path &dir, const std::vector<std::string> &options = {},
                                   const std::string &aet = "STORESCP");
  std::uint16_t port() const { return port_; }
  std::filesystem::path received() const { return dir_ / "in"; }
  PeerProcess &process() { return process_; }

private:
  PeerProcess process_;
  std::filesystem::path dir_;
  std::uint16_t port_ = 0;
};

// DCMTK's wlmscpfs (-csk) answering the called AE title with the given entries.
class WlmscpfsPeer {
public:
  // Worklist folder DIR/db/AET, output in DIR/wlmscpfs.log.
  ::testing::AssertionResult Start(const std::filesystem::path &dir, const std::string &aet,
                                   const std::vector<WorklistEntry> &entries);
  std::uint16_t port() const { return port_; }
  PeerProcess &process() { return process_; }

private:
  PeerProcess process_;
  std::uint16_t port_ = 0;
};

// Orthanc with its REST interface on httpPort(); with worklist entries it
// loads the worklist plugin and answers them from DIR/worklists.
class OrthancPeer {
public:
  // Configuration DIR/orthanc.json, storage DIR/db, output in DIR/orthanc.log.
  ::testing::AssertionResult Start(const std::filesystem::path &dir, const std::string &aet = "ORTHANC",
                                   const std::vector<WorklistEntry> &worklist = {});
  std::uint16_t dicomPort() const { return dicomPort_; }
  std::uint16_t httpPort() const { return httpPort_; }
  PeerProcess &process() { return process_; }

private:
  PeerProcess process_;
  std::uint16_t dicomPort_ = 0;
  std::uint16_t httpPort_ = 0;
};

} // namespace fw::test
