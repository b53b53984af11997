// fwacquire [options] --patient-id ID --name NAME HOST PORT: one acquisition
// from the command line, on the same session as the acquisition window.
//
// It opens the first video input device (or the GStreamer source given with
// --source), takes the stills, then the clips (each ends on the fifth tick
// of a 1000 ms timer, so it lasts 4 to 5 seconds), sends every object to the
// PACS at HOST PORT and closes the acquisition, which deletes the objects
// (--keep DIR copies them first). The objects are written to "temp/" below
// the station's program folder, as the station does, and the station's
// configuration there ("quillbrook.cfg") gives the calling AE title, the
// institution and the modality unless --aet, --institution or --modality
// say otherwise.
//
// Output: one line per object, "temp/A1231.dcm: stored" or
// "temp/A1231.dcm: not stored, REASON". Exit status 0 when every object was
// acquired and stored, 1 otherwise, 2 on wrong usage.
#include "acquisition/AcquisitionSession.h"
#include "acquisition/GrabberFrameSource.h"
#include "acquisition/MySampleGrabber.h"
#include "acquisition/StationIods.h"
#include "app/shell/ConfigFile.h"
#include "base/ProgramFolder.h"
#include "dicom/SpecificCharacterSet.h"
#include "station/AccessionNumber.h"
#include "station/StationRecords.h"
#include "tools/common/TerminalText.h"
#include "tools/common/ToolLog.h"
#include "tools/common/ToolOptions.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

namespace {

constexpr int DEFAULT_TIMEOUT_SECONDS = 60;
constexpr int MAX_OBJECTS = 1000;

std::string CheckCount(std::string_view value) {
  const bool digits = !value.empty() && value.size() <= 4 &&
                      std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
  return digits && std::stoi(std::string(value)) <= MAX_OBJECTS ? "" : "a count from 0 to 1000";
}

// "WxH" with both from 1, up to the largest frame the station asks for.
bool ParseSize(std::string_view text, int &width, int &height) {
  const std::size_t x = text.find('x');
  if (x == std::string_view::npos) {
    return false;
  }
  const auto number = [](std::string_view part, int &value) {
    if (part.empty() || part.size() > 5 ||
        !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return false;
    }
    value = std::stoi(std::string(part));
    return value >= 1;
  };
  return number(text.substr(0, x), width) && number(text.substr(x + 1), height) &&
         fw::CaptureSizeAllowed(width, height);
}

std::string CheckSize(std::string_view value) {
  int width = 0;
  int height = 0;
  return ParseSize(value, width, height)
             ? ""
             : "the size is WIDTHxHEIGHT, e.g. 640x480, at most " + std::to_string(fw::MAX_CAPTURE_WIDTH) + "x" +
                   std::to_string(fw::MAX_CAPTURE_HEIGHT);
}

std::string CheckNotEmpty(std::string_view value) { return value.empty() ? "may not be empty" : ""; }

// "US, ES, ...": the modalities the station can acquire as.
std::string StationModalityList() {
  std::string known;
  for (const std::string_view modality : fw::STATION_MODALITIES) {
    known += (known.empty() ? "" : ", ") + std::string(modality);
  }
  return known;
}

std::string CheckModality(std::string_view value) {
  return fw::IsStationModality(value) ? "" : "the modality is one of " + StationModalityList();
}

struct AcquireOptions {
  std::string source; // GStreamer description; empty for the first video device
  std::string size;   // "WxH", checked; empty for videocap.cfg's
  // As given, in the terminal's encoding; empty for the defaults.
  std::string patientId;
  std::string name;
  std::string accession;
  std::string institution;
  std::string modality;
  int stillCount = 1;
  int clipCount = 0;
  std::string keep; // folder the objects are copied to, or empty
  std::string host;
  std::string port;
  fw::tool::CommonOptions common;
};

fw::tool::ParseResult<AcquireOptions> ParseAcquireOptions(int argc, char **argv) {
  AcquireOptions options;
  std::string stills = "1";
  std::string clips = "0";
  fw::tool::CommandLine commandLine(
      "fwacquire", "[options] --patient-id ID --name NAME HOST PORT",
      "Takes stills and 4-5 s clips from the video source, stores them on the PACS at HOST PORT and prints one\n"
      "line per object: \"temp/A1231.dcm: stored\" or \"temp/A1231.dcm: not stored, REASON\".",
      DEFAULT_TIMEOUT_SECONDS);
  commandLine.AddValue("--source", "DESC", "GStreamer source instead of the first video device", options.source);
  commandLine.AddValue("--size", "WxH", "frame size to ask the device for (else videocap.cfg)", options.size,
                       CheckSize);
  commandLine.AddValue("--patient-id", "ID", "Patient ID (required)", options.patientId, CheckNotEmpty);
  commandLine.AddValue("--name", "NAME", "Patient's Name, e.g. DOE^JANE (required)", options.name, CheckNotEmpty);
  commandLine.AddValue("--accession", "A", "Accession Number (default: generated, yymmddhhnn + 6 random characters)",
                       options.accession);
  commandLine.AddValue("--institution", "NAME", "Institution Name (default: the station's)", options.institution);
  commandLine.AddValue("--modality", "CODE",
                       "modality, which selects the SOP classes of stills and clips: " + StationModalityList() +
                           " (default: the station's)",
                       options.modality, CheckModality);
  commandLine.AddValue("--stills", "N", "stills to take (default 1)", stills, CheckCount);
  commandLine.AddValue("--clips", "N", "clips to record (default 0)", clips, CheckCount);
  commandLine.AddValue("--keep", "DIR", "copy the objects into DIR before they are deleted", options.keep);
  commandLine.SetArguments({"HOST", "PORT"});
  commandLine.SetEpilogue("The calling AE title, the institution and the modality default to the station's setup\n"
                          "(\"quillbrook.cfg\" in the program folder; FRAMEWELL_HOME names another), else to\n"
                          "QUILLBROOK, \"Institution Name\" and US.\n");
  if (const auto code = commandLine.Parse(argc, argv)) {
    return {{}, code};
  }
  options.host = commandLine.Arguments()[0];
  options.port = commandLine.Arguments()[1];
  if (const std::string error = fw::tool::CheckPort(options.port); !error.empty()) {
    return {{}, commandLine.UsageError(error)};
  }
  if (options.patientId.empty() || options.name.empty()) {
    return {{}, commandLine.UsageError("--patient-id and --name are required")};
  }
  options.stillCount = std::stoi(stills);
  options.clipCount = std::stoi(clips);
  if (options.stillCount + options.clipCount == 0) {
    return {{}, commandLine.UsageError("nothing to acquire: --stills and --clips are both 0")};
  }
  options.common = commandLine.Common();
  return {std::move(options), std::nullopt};
}

// The study of the acquisition, from the options and the station's setup.
// Names and IDs in any script: the objects carry them in Latin-1 or UTF-8.
// Returns the usage error when an option is no text in the terminal's
// encoding.
std::optional<std::string> SetStudyContext(const AcquireOptions &acquire, const std::string &modality,
                                           const fw::setupcfg &config) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  fw::StudyInfo &context = fw::StudyContext();
  context = fw::StudyInfo{};
  std::string institutionText;
  for (const auto &[option, value, field] : {std::tuple<const char *, const std::string *, std::string *>{
                                                 "--patient-id", &acquire.patientId, &context.patientID},
                                             {"--name", &acquire.name, &context.patientName},
                                             {"--accession", &acquire.accession, &context.accessionNumber},
                                             {"--institution", &acquire.institution, &institutionText},
                                             {"--modality", &modality, &context.modality}}) {
    const std::optional<std::string> text = fw::tool::TextFromTerminal(*value);
    if (!text) {
      return std::string(option) + ": not a text in the terminal's encoding";
    }
    *field = *text;
  }
  if (context.accessionNumber.empty()) {
    context.accessionNumber = fw::GenerateAccessionNumber(local);
  }
  context.studyDate = fw::DicomDateText(local);
  context.studyTime = fw::DicomTimeText(local);
  // The setup file is Latin-1; the context holds UTF-8.
  context.institutionName = acquire.institution.empty() ? fw::Latin1ToUtf8(config.InstitutionName) : institutionText;
  return std::nullopt;
}

// Copies the objects into folder; false (with a line on standard error for
// each) when one could not be copied.
bool CopyObjects(const std::vector<fw::AcquiredFile> &files, const std::string &folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  bool all = true;
  for (const fw::AcquiredFile &file : files) {
    const std::filesystem::path target = std::filesystem::path(folder) / std::filesystem::path(file.path).filename();
    if (!std::filesystem::copy_file(file.path, target, std::filesystem::copy_options::overwrite_existing, error)) {
      std::fprintf(stderr, "fwacquire: could not copy %s to %s\n", file.name.c_str(), folder.c_str());
      all = false;
    }
  }
  return all;
}

// The program folder, with "temp/" below it, where the session writes its
// objects; source, when given, replaces the first video device.
std::string PrepareProgramFolder(const std::string &source) {
  if (!source.empty()) {
    ::setenv("FRAMEWELL_VIDEO_SOURCE", source.c_str(), 1);
  }
  const std::string folder = fw::ResolveProgramFolder(fw::CurrentProgramFolderInputs());
  std::error_code error;
  std::filesystem::create_directories(folder + "temp", error);
  return folder;
}

// --modality, else the station's, else (an index outside the list) the
// built-in default.
std::string ModalityToUse(const std::string &given, const fw::setupcfg &config) {
  std::string modality = given;
  if (modality.empty()) {
    modality = fw::ModalityAt(config.ModalityIndex);
  }
  if (modality.empty()) {
    modality = fw::ModalityAt(fw::setupcfg{}.ModalityIndex);
  }
  return modality;
}

// The session's setup without an operator: errors go to standard error, and
// closing deletes the objects (after --keep has copied them).
fw::AcquisitionSessionSetup MakeSessionSetup(const AcquireOptions &acquire, const std::string &folder,
                                             fw::FrameSource &frames) {
  fw::AcquisitionSessionSetup setup;
  setup.grabber = &frames;
  setup.programFolder = folder;
  setup.sendTimeoutSeconds = acquire.common.timeoutSeconds;
  if (!acquire.size.empty()) {
    fw::CaptureConfig capture;
    ParseSize(acquire.size, capture.width, capture.height);
    setup.capture = capture;
  }
  setup.messages = [](const fw::MessageRequest &request) {
    if (request.kind == fw::MessageKind::Question) {
      return fw::MessageAnswer::Yes;
    }
    if (request.kind == fw::MessageKind::Error) {
      std::fprintf(stderr, "fwacquire: %s\n", fw::tool::ToTerminal(request.text).c_str());
    }
    return fw::MessageAnswer::Ok;
  };
  return setup;
}

// Waits for the clip Video started to end on the session's own tick count.
void WaitForClipEnd(fw::AcquisitionSession &session) {
  // The window's timer is not aligned with Video: half a period to the
  // first tick, then one second each.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  while (session.Recording()) {
    session.Tick();
    if (session.Recording()) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
  }
}

// The stills, then the clips; the log goes out after each.
void TakeStillsAndClips(fw::AcquisitionSession &session, const AcquireOptions &acquire, fw::tool::ToolLog &log) {
  for (int i = 0; i < acquire.stillCount; ++i) {
    session.Snap();
    log.Flush();
  }
  for (int i = 0; i < acquire.clipCount; ++i) {
    if (!session.Video()) {
      continue;
    }
    WaitForClipEnd(session);
    log.Flush();
  }
}

// One line per object on standard output; true when every object was
// stored.
bool PrintObjectLines(const std::vector<fw::AcquiredFile> &files) {
  bool allStored = true;
  for (const fw::AcquiredFile &file : files) {
    if (file.stored) {
      std::printf("%s: stored\n", file.name.c_str());
    } else {
      allStored = false;
      std::printf("%s: not stored, %s\n", file.name.c_str(), file.problem.c_str());
    }
  }
  std::fflush(stdout);
  return allStored;
}

// The acquisition itself. Returns EXIT_USAGE, as the parser would, when a
// text option is no text in the terminal's encoding.
int RunAcquire(const AcquireOptions &acquire) {
  const fw::tool::CommonOptions &options = acquire.common;
  fw::tool::ToolLog log(options.verbose);
  const std::string folder = PrepareProgramFolder(acquire.source);
  // The station's setup, as the station reads it at start; without the file
  // the built-in defaults stand.
  fw::setupcfg &config = fw::StationConfig();
  fw::LoadConfig(config, folder + fw::CONFIG_FILE_NAME);
  const std::string modality = ModalityToUse(acquire.modality, config);

  // A byte that is no character of the terminal's encoding is refused before
  // anything is acquired.
  if (const std::optional<std::string> refused = SetStudyContext(acquire, modality, config)) {
    return fw::tool::UsageError("fwacquire", *refused);
  }
  if (options.callingAETGiven) {
    config.LocalAET = options.callingAET;
  }
  config.PacsAET = options.calledAET;
  config.PacsIP = acquire.host;
  config.PacsPort = acquire.port;

  fw::MySampleGrabber grabber;
  fw::GrabberFrameSource frames(grabber, nullptr);
  fw::AcquisitionSession session(MakeSessionSetup(acquire, folder, frames));
  if (!session.Open()) {
    log.Flush();
    std::fprintf(stderr, "fwacquire: no video source could be started\n");
    session.Close();
    return fw::tool::EXIT_FAILED;
  }
  TakeStillsAndClips(session, acquire, log);
  const int requested = acquire.stillCount + acquire.clipCount;
  const int acquired = static_cast<int>(session.Files().size());
  if (acquired > 0) {
    session.Send();
  }
  log.Flush();

  bool allStored = PrintObjectLines(session.Files()) && acquired == requested;
  if (acquired < requested) {
    std::fprintf(stderr, "fwacquire: %d of %d objects could not be acquired\n", requested - acquired, requested);
  }
  if (!acquire.keep.empty() && !CopyObjects(session.Files(), acquire.keep)) {
    allStored = false;
  }
  session.Close();
  log.Flush();
  return allStored ? fw::tool::EXIT_OK : fw::tool::EXIT_FAILED;
}

} // namespace

int main(int argc, char **argv) {
  const auto parsed = ParseAcquireOptions(argc, argv);
  return parsed.exitCode ? *parsed.exitCode : RunAcquire(parsed.options);
}
