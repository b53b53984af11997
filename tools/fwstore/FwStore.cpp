// fwstore [options] HOST PORT FILE...: stores DICOM files on a peer
// with C-STORE over one association.
//
// One presentation context is proposed per SOP class of the files (in order
// of first appearance), each with the transfer syntaxes its files are in
// (those the station can write, in order of first appearance), then explicit
// and implicit VR little endian. A file whose context was accepted with
// another syntax is converted, except into a lossy syntax it is not already
// in: such a file is not stored.
//
// Output: one line per file, "FILE: stored" or "FILE: not stored, REASON".
// Exit status 0 when every file was stored, 1 when any was not, 2 on wrong
// usage.
#include "dicom/Uids.h"
#include "net/association/PDU_Service.h"
#include "net/dimse/CStore.h"
#include "net/dimse/StoreRequest.h"
#include "net/link/NetTrace.h"
#include "tools/common/ToolLog.h"
#include "tools/common/ToolOptions.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int DEFAULT_TIMEOUT_SECONDS = 60;
// Files read for the proposal are kept for sending up to this many bytes in
// all; the others are read again when their turn comes.
constexpr std::uintmax_t KEEP_LIMIT = 256u << 20;
// Context IDs are the odd numbers 1 to 255.
constexpr std::size_t MAX_CONTEXTS = 128;

std::string CheckPort(std::string_view value) {
  const bool digits = !value.empty() && value.size() <= 5 &&
                      std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
  const long port = digits ? std::stol(std::string(value)) : 0;
  return port >= 1 && port <= 65535 ? "" : "the port is a number from 1 to 65535";
}

bool IsWritable(std::string_view syntax) {
  return std::find(fw::SELECTABLE_TRANSFER_SYNTAXES.begin(), fw::SELECTABLE_TRANSFER_SYNTAXES.end(), syntax) !=
         fw::SELECTABLE_TRANSFER_SYNTAXES.end();
}

void AddOnce(std::vector<std::string> &list, std::string_view value) {
  if (std::find(list.begin(), list.end(), value) == list.end()) {
    list.emplace_back(value);
  }
}

struct File {
  std::string path;
  std::string sopClass;
  std::string transferSyntax;
  std::unique_ptr<fw::DcmObj> dataSet; // null when not kept or not readable
  std::string problem;                 // why it cannot be sent at all
};

std::unique_ptr<fw::DcmObj> ReadFile(const std::string &path) {
  auto dataSet = std::make_unique<fw::DcmObj>();
  if (!dataSet->Read(path)) {
    return nullptr;
  }
  return dataSet;
}

// Reads every file, keeping the data sets that fit KEEP_LIMIT, and notes
// its SOP class and transfer syntax.
void ReadAll(std::vector<File> &files) {
  std::uintmax_t kept = 0;
  for (File &file : files) {
    std::unique_ptr<fw::DcmObj> dataSet = ReadFile(file.path);
    if (!dataSet) {
      file.problem = "cannot be read";
      continue;
    }
    file.sopClass = fw::StoredSopClass(*dataSet, {});
    file.transferSyntax = dataSet->transferSyntax;
    if (file.sopClass.empty()) {
      file.problem = "no SOP Class UID";
      continue;
    }
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(file.path, error);
    if (!error && kept + size <= KEEP_LIMIT) {
      kept += size;
      file.dataSet = std::move(dataSet);
    }
  }
}

// The storage contexts for the files, each led by the syntaxes its own
// files are in, so a file goes as it is wherever the peer allows.
std::vector<fw::ProposedContext> Proposal(std::vector<File> &files) {
  std::vector<std::string> classes;
  for (File &file : files) {
    if (!file.problem.empty() || std::find(classes.begin(), classes.end(), file.sopClass) != classes.end()) {
      continue;
    }
    if (classes.size() == MAX_CONTEXTS) {
      file.problem = "too many SOP classes for one association";
      continue;
    }
    classes.push_back(file.sopClass);
  }
  std::vector<fw::ProposedContext> contexts = fw::ProposeStorageContexts(
      classes, {std::string(fw::EXPLICIT_VR_LITTLE_ENDIAN), std::string(fw::IMPLICIT_VR_LITTLE_ENDIAN)});
  for (fw::ProposedContext &context : contexts) {
    std::vector<std::string> own;
    for (const File &file : files) {
      if (file.problem.empty() && file.sopClass == context.abstractSyntax && IsWritable(file.transferSyntax)) {
        AddOnce(own, file.transferSyntax);
      }
    }
    for (const std::string &common : context.transferSyntaxes) {
      AddOnce(own, common);
    }
    context.transferSyntaxes = std::move(own);
  }
  return contexts;
}

std::string StatusText(int status) {
  char text[32];
  std::snprintf(text, sizeof(text), "status 0x%04X", static_cast<unsigned>(status));
  return text;
}

// Sends one file; empty when it was stored, else why not.
std::string Store(fw::PDU_Service &service, File &file) {
  if (!file.problem.empty()) {
    return file.problem;
  }
  if (!service.IsOpen()) {
    return "the association ended"; // not worth reading the file for
  }
  std::unique_ptr<fw::DcmObj> dataSet = std::move(file.dataSet);
  if (!dataSet) {
    dataSet = ReadFile(file.path);
    if (!dataSet) {
      return "cannot be read";
    }
  }
  const std::uint8_t contextID = fw::AcceptedContextFor(service, file.sopClass);
  std::string accepted;
  if (contextID == 0 || !service.GetTransferSyntaxUID(contextID, accepted)) {
    return "the peer accepted no presentation context for " + file.sopClass;
  }
  if (accepted != dataSet->transferSyntax && fw::IsLossyTransferSyntax(accepted)) {
    return "it would need a lossy conversion to " + accepted;
  }
  switch (fw::WriteStoreRQ(service, *dataSet, file.sopClass)) {
  case 0:
    break;
  case -3:
    return "the conversion to " + accepted + " failed";
  case -4:
    return "the request could not be sent";
  default:
    return "the peer accepted no presentation context for " + file.sopClass;
  }
  dataSet.reset();
  const int status = fw::ReadStoreRSP(service);
  if (status == -1) {
    return "no response";
  }
  if (status == -2) {
    return "invalid response";
  }
  return status == 0 ? std::string() : StatusText(status);
}

} // namespace

int main(int argc, char **argv) {
  fw::tool::CommandLine commandLine(
      "fwstore", "[options] HOST PORT FILE...",
      "Stores DICOM files on a peer with C-STORE over one association and prints one line per file:\n"
      "\"FILE: stored\" or \"FILE: not stored, REASON\".",
      DEFAULT_TIMEOUT_SECONDS);
  commandLine.SetArguments({"HOST", "PORT", "FILE"}, true);
  if (const auto code = commandLine.Parse(argc, argv)) {
    return *code;
  }
  const std::vector<std::string> &arguments = commandLine.Arguments();
  const std::string &host = arguments[0];
  const std::string &port = arguments[1];
  if (const std::string error = CheckPort(port); !error.empty()) {
    return commandLine.UsageError(error);
  }
  const fw::tool::CommonOptions &options = commandLine.Common();
  fw::tool::ToolLog log(options.verbose);
  if (options.verbose && fw::TraceLevel() < 2) {
    fw::SetTraceLevel(2);
  }

  std::vector<File> files;
  for (std::size_t i = 2; i < arguments.size(); ++i) {
    files.push_back({arguments[i], {}, {}, nullptr, {}});
  }
  ReadAll(files);
  const std::vector<fw::ProposedContext> contexts = Proposal(files);
  log.Flush();

  bool allStored = true;
  const auto report = [&](const File &file, const std::string &problem) {
    if (problem.empty()) {
      std::printf("%s: stored\n", file.path.c_str());
    } else {
      allStored = false;
      std::printf("%s: not stored, %s\n", file.path.c_str(), problem.c_str());
    }
    std::fflush(stdout);
  };

  fw::PDU_Service service;
  service.DumpMessages = fw::TraceLevel() > 1;
  if (contexts.empty() || !fw::OpenAssociation(service, host, port, options.callingAET, options.calledAET, contexts,
                                               options.timeoutSeconds)) {
    log.Flush();
    if (!contexts.empty()) {
      std::fprintf(stderr, "fwstore: no association with %s at %s:%s\n", options.calledAET.c_str(), host.c_str(),
                   port.c_str());
    }
    for (File &file : files) {
      report(file, file.problem.empty() ? "no association" : file.problem);
    }
  } else {
    for (File &file : files) {
      const std::string problem = Store(service, file);
      log.Flush();
      report(file, problem);
    }
  }
  service.ReleaseAssociation();
  log.Flush();
  return allStored ? fw::tool::EXIT_OK : fw::tool::EXIT_FAILED;
}
