// The peers' set-ups: scripts/peers.sh writes their configuration, the
// servers run under PeerProcess.
#include "tests/support/Peers.h"

namespace fw::test {

namespace {

// Waits for the port, or fails with the peer's output.
::testing::AssertionResult Listening(PeerProcess &process, std::uint16_t port, const std::string &name) {
  if (process.WaitListening(port)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << name << " does not listen on port " << port << "\n" << process.Log();
}

} // namespace

std::string PeersScript() { return FRAMEWELL_SOURCE_DIR "/scripts/peers.sh"; }

::testing::AssertionResult RunPeersScript(const std::vector<std::string> &args, std::string *out) {
  std::vector<std::string> argv{"bash", PeersScript()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string output;
  std::string error;
  const int code = PeerProcess::Run(argv, &output, &error, {}, std::chrono::seconds(60));
  if (out != nullptr) {
    *out = output;
  }
  if (code != 0) {
    return ::testing::AssertionFailure() << "peers.sh " << (args.empty() ? "" : args[0]) << " ended with " << code
                                         << ": " << error;
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult WriteWorklistEntries(const std::filesystem::path &folder,
                                                const std::vector<WorklistEntry> &entries) {
  int n = 1;
  for (const WorklistEntry &e : entries) {
    std::vector<std::string> args = {"worklist-entry", folder.string(), std::to_string(n++), e.name,
                                     e.patientID,      e.date,          e.modality,          e.time};
    if (!e.characterSet.empty()) {
      args.push_back(e.characterSet);
    }
    auto written = RunPeersScript(args);
    if (!written) {
      return written;
    }
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult StorescpPeer::Start(const std::filesystem::path &dir,
                                               const std::vector<std::string> &options, const std::string &aet) {
  dir_ = dir;
  std::filesystem::create_directories(received());
  port_ = PeerProcess::FreePort();
  std::vector<std::string> argv = {"storescp", "-aet", aet, "-od", received().string()};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(std::to_string(port_));
  // Debian's DCMTK keeps Nagle's algorithm on without it (~50 ms per object).
  if (!process_.Start(argv, (dir / "storescp.log").string(), {"TCP_NODELAY=1"})) {
    return ::testing::AssertionFailure() << "storescp cannot be started";
  }
  return Listening(process_, port_, "storescp");
}

::testing::AssertionResult WlmscpfsPeer::Start(const std::filesystem::path &dir, const std::string &aet,
                                               const std::vector<WorklistEntry> &entries) {
  const std::filesystem::path db = dir / "db";
  std::string folder;
  auto made = RunPeersScript({"wlmscpfs-db", db.string(), aet}, &folder);
  if (!made) {
    return made;
  }
  made = WriteWorklistEntries(db / aet, entries);
  if (!made) {
    return made;
  }
  port_ = PeerProcess::FreePort();
  // -csk: each entry answered with its own Specific Character Set, as the
  // demo's server does.
  if (!process_.Start({"wlmscpfs", "-csk", "-dfp", db.string(), std::to_string(port_)}, (dir / "wlmscpfs.log").string(),
                      {"TCP_NODELAY=1"})) {
    return ::testing::AssertionFailure() << "wlmscpfs cannot be started";
  }
  return Listening(process_, port_, "wlmscpfs");
}

::testing::AssertionResult OrthancPeer::Start(const std::filesystem::path &dir, const std::string &aet,
                                              const std::vector<WorklistEntry> &worklist) {
  dicomPort_ = PeerProcess::FreePort();
  httpPort_ = PeerProcess::FreePort();
  while (httpPort_ == dicomPort_) {
    httpPort_ = PeerProcess::FreePort();
  }
  std::vector<std::string> args{"orthanc-config", dir.string(), std::to_string(dicomPort_), std::to_string(httpPort_),
                                aet};
  if (!worklist.empty()) {
    const std::filesystem::path worklists = dir / "worklists";
    auto written = WriteWorklistEntries(worklists, worklist);
    if (!written) {
      return written;
    }
    args.push_back(worklists.string());
  }
  auto configured = RunPeersScript(args);
  if (!configured) {
    return configured;
  }
  if (!process_.Start({"Orthanc", (dir / "orthanc.json").string()}, (dir / "orthanc.log").string())) {
    return ::testing::AssertionFailure() << "Orthanc cannot be started";
  }
  auto dicom = Listening(process_, dicomPort_, "Orthanc");
  return dicom ? Listening(process_, httpPort_, "Orthanc's REST interface") : dicom;
}

} // namespace fw::test
