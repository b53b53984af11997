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

#include <cstdio>
#include <string>
#include <utility>

namespace {

constexpr int DEFAULT_TIMEOUT_SECONDS = 10;

struct EchoOptions {
  std::string host;
  std::string port;
  fw::tool::CommonOptions common;
};

fw::tool::ParseResult<EchoOptions> ParseEchoOptions(int argc, char **argv) {
  fw::tool::CommandLine commandLine("fwecho", "[options] HOST PORT",
                                    "Tests a DICOM peer with one verification (C-ECHO).", DEFAULT_TIMEOUT_SECONDS);
  commandLine.SetArguments({"HOST", "PORT"});
  if (const auto code = commandLine.Parse(argc, argv)) {
    return {{}, code};
  }
  EchoOptions options{commandLine.Arguments()[0], commandLine.Arguments()[1], commandLine.Common()};
  if (const std::string error = fw::tool::CheckPort(options.port); !error.empty()) {
    return {{}, commandLine.UsageError(error)};
  }
  return {std::move(options), std::nullopt};
}

int RunEcho(const EchoOptions &options) {
  const fw::tool::CommonOptions &common = options.common;
  fw::tool::ToolLog log(common.verbose);
  if (common.verbose && fw::TraceLevel() < 2) {
    fw::SetTraceLevel(2);
  }
  const fw::EchoOutcome outcome =
      fw::EchoPeer({options.host, options.port, common.callingAET, common.calledAET, common.timeoutSeconds});
  log.Flush();
  if (outcome != fw::EchoOutcome::Answered) {
    const char *what = outcome == fw::EchoOutcome::Rejected ? "rejected the association"
                       : outcome == fw::EchoOutcome::Failed ? "failed the verification"
                                                            : "does not answer";
    std::fprintf(stderr, "fwecho: %s at %s:%s %s\n", common.calledAET.c_str(), options.host.c_str(),
                 options.port.c_str(), what);
    return fw::tool::EXIT_FAILED;
  }
  std::printf("%s at %s:%s answers\n", common.calledAET.c_str(), options.host.c_str(), options.port.c_str());
  return fw::tool::EXIT_OK;
}

} // namespace

int main(int argc, char **argv) {
  const auto parsed = ParseEchoOptions(argc, argv);
  return parsed.exitCode ? *parsed.exitCode : RunEcho(parsed.options);
}
