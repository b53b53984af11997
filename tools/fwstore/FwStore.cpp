// fwstore [options] HOST PORT FILE...: stores DICOM files on a peer
// with C-STORE over one association.
//
// For each SOP class of the files (in order of first appearance) one
// presentation context is proposed per compressed transfer syntax its files
// are in (those the station can write, each alone), and one with explicit
// and implicit VR little endian. A file goes on the context accepted with its
// own syntax; only when there is none is it converted to the syntax of
// another accepted context of its class, except into a lossy syntax it is not
// already in: such a file is not stored. More than 128 contexts are kept in
// bounds as ProposeStorageContexts says; files of classes past the 128th are
// not stored.
//
// The proposal is made from the head of each file (meta information and SOP
// class); a file is read whole only when its turn comes, so one object is
// held at a time.
//
// Output: one line per file, "FILE: stored" or "FILE: not stored, REASON".
// Exit status 0 when every file was stored, 1 when any was not, 2 on wrong
// usage.
#include "dicom/DcmObj.h"
#include "dicom/Tags.h"
#include "dicom/Uids.h"
#include "net/association/Negotiation.h"
#include "net/association/PDU_Service.h"
#include "net/dimse/CStore.h"
#include "net/dimse/StoreRequest.h"
#include "net/dimse/StoreStep.h"
#include "net/link/NetTrace.h"
#include "tools/common/ToolLog.h"
#include "tools/common/ToolOptions.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <malloc.h>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int DEFAULT_TIMEOUT_SECONDS = 60;

void AddOnce(std::vector<std::string> &list, std::string_view value) {
  if (std::find(list.begin(), list.end(), value) == list.end()) {
    list.emplace_back(value);
  }
}

struct File {
  std::string path;
  std::string sopClass;
  std::string transferSyntax;
  std::string problem; // why it cannot be sent at all
};

std::unique_ptr<fw::DcmObj> ReadFile(const std::string &path) {
  auto dataSet = std::make_unique<fw::DcmObj>();
  if (!dataSet->Read(path)) {
    return nullptr;
  }
  return dataSet;
}

// Transfer syntax and SOP Class UID from the head of the file: the meta
// information and the data set up to (0008,0016). False when the head does
// not tell (not a DICOM file, a deflated data set, an element cut short, no
// SOP Class UID there): the file is then read whole.
bool PeekFile(const std::string &path, std::string &transferSyntax, std::string &sopClass) {
  fw::DcmObj head;
  constexpr fw::Tag afterSopClass{fw::tag::SOPClassUID.group, fw::tag::SOPClassUID.element + 1};
  if (!head.ReadUpTo(path, afterSopClass)) {
    return false;
  }
  transferSyntax = head.transferSyntax;
  sopClass = fw::StoredSopClass(head, {});
  return !sopClass.empty();
}

// Notes every file's SOP class and transfer syntax, from its head where it
// can; the files whose head does not tell are read whole and not kept.
void ReadAll(std::vector<File> &files) {
  for (File &file : files) {
    if (PeekFile(file.path, file.transferSyntax, file.sopClass)) {
      continue;
    }
    std::unique_ptr<fw::DcmObj> dataSet = ReadFile(file.path);
    if (!dataSet) {
      file.problem = "cannot be read";
      continue;
    }
    file.sopClass = fw::StoredSopClass(*dataSet, {});
    file.transferSyntax = dataSet->transferSyntax;
    if (file.sopClass.empty()) {
      file.problem = "no SOP Class UID";
    }
  }
}

// The storage contexts for the files: each class with the syntaxes its own
// files are in, so a file goes as it is wherever the peer allows.
std::vector<fw::ProposedContext> Proposal(std::vector<File> &files) {
  std::vector<fw::StorageClass> classes;
  for (File &file : files) {
    if (!file.problem.empty()) {
      continue;
    }
    auto known = std::find_if(classes.begin(), classes.end(),
                              [&](const fw::StorageClass &c) { return c.sopClass == file.sopClass; });
    if (known == classes.end()) {
      if (classes.size() == fw::MAX_PRESENTATION_CONTEXTS) {
        file.problem = "too many SOP classes for one association";
        continue;
      }
      known = classes.insert(classes.end(), {file.sopClass, {}});
    }
    if (fw::IsSelectable(file.transferSyntax)) {
      AddOnce(known->ownSyntaxes, file.transferSyntax);
    }
  }
  return fw::ProposeStorageContexts(classes);
}

std::string StatusText(int status) {
  char text[32];
  std::snprintf(text, sizeof(text), "status 0x%04X", static_cast<unsigned>(status));
  return text;
}

// Sends one file; empty when it was stored, else why not.
std::string Store(fw::PDU_Service &service, const File &file) {
  if (!file.problem.empty()) {
    return file.problem;
  }
  fw::StoreOptions options;
  options.refuseLossyConversion = true;
  const fw::StoreResult result = fw::StoreFile(service, file.path, file.sopClass, options);
  using Outcome = fw::StoreResult::Outcome;
  switch (result.outcome) {
  case Outcome::Stored:
    return {};
  case Outcome::StoredWithWarning:
  case Outcome::Refused:
    return StatusText(result.status);
  case Outcome::NoContext:
    return "the peer accepted no presentation context for " + file.sopClass;
  case Outcome::LossyConversion:
    return "it would need a lossy conversion to " + result.acceptedSyntax;
  case Outcome::ConversionFailed:
    return "the conversion to " + result.acceptedSyntax + " failed";
  case Outcome::Unreadable:
    return "cannot be read";
  case Outcome::AssociationOver:
    return "the association ended";
  case Outcome::NotSent:
    return "the request could not be sent";
  case Outcome::NoResponse:
    return "no response";
  case Outcome::InvalidResponse:
    return "invalid response";
  case Outcome::Cancelled:
    break;
  }
  return "cancelled";
}

struct StoreToolOptions {
  std::string host;
  std::string port;
  std::vector<std::string> paths;
  fw::tool::CommonOptions common;
};

fw::tool::ParseResult<StoreToolOptions> ParseStoreOptions(int argc, char **argv) {
  fw::tool::CommandLine commandLine(
      "fwstore", "[options] HOST PORT FILE...",
      "Stores DICOM files on a peer with C-STORE over one association and prints one line per file:\n"
      "\"FILE: stored\" or \"FILE: not stored, REASON\".",
      DEFAULT_TIMEOUT_SECONDS);
  commandLine.SetArguments({"HOST", "PORT", "FILE"}, true);
  if (const auto code = commandLine.Parse(argc, argv)) {
    return {{}, code};
  }
  const std::vector<std::string> &arguments = commandLine.Arguments();
  StoreToolOptions options{arguments[0], arguments[1], {arguments.begin() + 2, arguments.end()}, commandLine.Common()};
  if (const std::string error = fw::tool::CheckPort(options.port); !error.empty()) {
    return {{}, commandLine.UsageError(error)};
  }
  return {std::move(options), std::nullopt};
}

// Prints each file's line as it is settled; remembers whether any was not
// stored.
class StoreReport {
public:
  void Add(const File &file, const std::string &problem) {
    if (problem.empty()) {
      std::printf("%s: stored\n", file.path.c_str());
    } else {
      allStored_ = false;
      std::printf("%s: not stored, %s\n", file.path.c_str(), problem.c_str());
    }
    std::fflush(stdout);
  }
  bool AllStored() const { return allStored_; }

private:
  bool allStored_ = true;
};

// Stores the files over one association; without one every file is told
// why it was not stored.
void StoreAll(const StoreToolOptions &options, std::vector<File> &files,
              const std::vector<fw::ProposedContext> &contexts, fw::tool::ToolLog &log, StoreReport &report) {
  const fw::tool::CommonOptions &common = options.common;
  fw::PDU_Service service;
  service.SetDumpMessages(fw::TraceLevel() > 1);
  if (contexts.empty() ||
      !service.OpenAssociation({options.host, options.port, common.callingAET, common.calledAET, common.timeoutSeconds},
                               contexts)) {
    log.Flush();
    if (!contexts.empty()) {
      std::fprintf(stderr, "fwstore: no association with %s at %s:%s\n", common.calledAET.c_str(), options.host.c_str(),
                   options.port.c_str());
    }
    for (File &file : files) {
      report.Add(file, file.problem.empty() ? "no association" : file.problem);
    }
  } else {
    for (const File &file : files) {
      const std::string problem = Store(service, file);
      log.Flush();
      report.Add(file, problem);
    }
  }
  service.ReleaseAssociation();
}

int RunStore(const StoreToolOptions &options) {
  fw::tool::ToolLog log(options.common.verbose);
  if (options.common.verbose && fw::TraceLevel() < 2) {
    fw::SetTraceLevel(2);
  }
  std::vector<File> files;
  files.reserve(options.paths.size());
  for (const std::string &path : options.paths) {
    files.push_back({path, {}, {}, {}});
  }
  ReadAll(files);
  const std::vector<fw::ProposedContext> contexts = Proposal(files);
  log.Flush();

  StoreReport report;
  StoreAll(options, files, contexts, log, report);
  log.Flush();
  return report.AllStored() ? fw::tool::EXIT_OK : fw::tool::EXIT_FAILED;
}

} // namespace

int main(int argc, char **argv) {
  // One object is held at a time: keep the memory of the last one for the
  // next instead of giving it back and faulting it in again for every file.
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
  const auto parsed = ParseStoreOptions(argc, argv);
  return parsed.exitCode ? *parsed.exitCode : RunStore(parsed.options);
}
