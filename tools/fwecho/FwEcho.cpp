// fwecho [options] HOST PORT: one verification of a peer, as the setup
// dialog's test does it: association (Verification, implicit VR little
// endian), C-ECHO, release.
//
// Output: "AE at HOST:PORT answers" on success; on failure a line on standard
// error says whether the peer rejected the association, failed the
// verification or does not answer. Exit status 0 when the peer
// answered the C-ECHO with success, 1 otherwise, 2 on wrong usage.
#include "net/dimse/CEcho.h"
#include "net/link/NetTrace.h"
#include "tools/common/ToolLog.h"
#include "tools/common/ToolOptions.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr int DEFAULT_TIMEOUT_SECONDS = 10;

std::string CheckPort(std::string_view value) {
  const bool digits = !value.empty() && value.size() <= 5 &&
                      std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
  const long port = digits ? std::stol(std::string(value)) : 0;
  return port >= 1 && port <= 65535 ? "" : "the port is a number from 1 to 65535";
}

} // namespace

int main(int argc, char **argv) {
  fw::tool::CommandLine commandLine("fwecho", "[options] HOST PORT",
                                    "Tests a DICOM peer with one verification (C-ECHO).", DEFAULT_TIMEOUT_SECONDS);
  commandLine.SetArguments({"HOST", "PORT"});
  if (const auto code = commandLine.Parse(argc, argv)) {
    return *code;
  }
  const std::string &host = commandLine.Arguments()[0];
  const std::string &port = commandLine.Arguments()[1];
  if (const std::string error = CheckPort(port); !error.empty()) {
    return commandLine.UsageError(error);
  }
  const fw::tool::CommonOptions &options = commandLine.Common();
  fw::tool::ToolLog log(options.verbose);
  if (options.verbose && fw::TraceLevel() < 2) {
    fw::SetTraceLevel(2);
  }
  const fw::EchoOutcome outcome =
      fw::EchoPeer({host, port, options.callingAET, options.calledAET, options.timeoutSeconds});
  log.Flush();
  if (outcome != fw::EchoOutcome::Answered) {
    const char *what = outcome == fw::EchoOutcome::Rejected ? "rejected the association"
                       : outcome == fw::EchoOutcome::Failed ? "failed the verification"
                                                            : "does not answer";
    std::fprintf(stderr, "fwecho: %s at %s:%s %s\n", options.calledAET.c_str(), host.c_str(), port.c_str(), what);
    return fw::tool::EXIT_FAILED;
  }
  std::printf("%s at %s:%s answers\n", options.calledAET.c_str(), host.c_str(), port.c_str());
  return fw::tool::EXIT_OK;
}
