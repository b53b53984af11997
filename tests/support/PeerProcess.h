// PeerProcess: a program started by a test (a DCMTK server, Orthanc, a tool
// under test) and stopped by its process id.
//
//   PeerProcess server;
//   const std::uint16_t port = PeerProcess::FreePort();
//   ASSERT_TRUE(server.Start({"wlmscpfs", "-dfp", folder, std::to_string(port)}, logPath));
//   ASSERT_TRUE(server.WaitListening(port)) << server.Log();
//   ...                                   // destruction stops it
//
// The program's output goes to the given file. When the test that owns the
// process has failed by the time it is stopped, that output is printed, so
// a failing test shows its peer's side. A started program gets SIGKILL when
// the thread that started it ends (test programs start peers from their main
// thread), so a crashed or killed test leaves no server behind. Only loopback
// ports are used.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace fw::test {

class PeerProcess {
public:
  PeerProcess() = default;
  ~PeerProcess() { Stop(); }
  PeerProcess(const PeerProcess &) = delete;
  PeerProcess &operator=(const PeerProcess &) = delete;

  // A loopback port nobody listened on a moment ago.
  static std::uint16_t FreePort();

  // Starts argv[0] (looked up in PATH) with the arguments; standard output
  // and error go to outputPath; env entries "NAME=value" are added to the
  // environment. False when it cannot be started.
  bool Start(const std::vector<std::string> &argv, const std::string &outputPath,
             const std::vector<std::string> &env = {});
  // Waits until this very process listens on the TCP port; false when it
  // does not within the limit or the process ended.
  bool WaitListening(std::uint16_t port, std::chrono::milliseconds limit = std::chrono::seconds(10));
  // SIGTERM, then SIGKILL after the grace time; waits for the process.
  void Stop(std::chrono::milliseconds grace = std::chrono::seconds(10));
  // False once the process has ended (it is reaped here).
  bool Running();
  pid_t pid() const { return pid_; }

  // What the program wrote so far, with the command line above it.
  std::string Log() const;

  // Runs a program to its end; its exit code, standard output and standard
  // error in the given strings. -1 when it could not run or was killed by a
  // signal; kTimedOut when it did not end within the limit (it is killed).
  static constexpr int kTimedOut = -2;
  static int Run(const std::vector<std::string> &argv, std::string *out = nullptr, std::string *err = nullptr,
                 const std::vector<std::string> &env = {}, std::chrono::milliseconds limit = std::chrono::seconds(120));

private:
  pid_t pid_ = -1;
  std::string command_;
  std::string outputPath_;
};

} // namespace fw::test
