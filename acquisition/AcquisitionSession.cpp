// One opening of the acquisition: capture, objects, send, close.
#include "acquisition/AcquisitionSession.h"

#include "base/Log.h"
#include "dicom/TemporaryFiles.h"
#include "dicom/Uids.h"
#include "net/association/PDU_Service.h"
#include "net/dimse/CStore.h"
#include "net/dimse/StoreStep.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <utility>

namespace fw {
namespace {

constexpr std::chrono::milliseconds SNAP_POLL{10};

// The contexts of each distinct SOP class, in order of first appearance:
// JPEG Baseline alone (what the files hold, sent as they are) and one
// uncompressed (explicit and implicit VR little endian, which every peer
// reads; the images are converted only when the PACS takes nothing else).
std::vector<ProposedContext> StorageContexts(const std::vector<AcquiredFile> &files) {
  std::vector<std::string> classes;
  classes.reserve(files.size());
  for (const AcquiredFile &file : files) {
    classes.push_back(file.sopClassUid);
  }
  return ProposeStorageContexts(classes, {std::string(JPEG_BASELINE)});
}

// Sends one file on the open association; empty when the PACS stored it,
// else why not.
std::string SendFile(PDU_Service &service, const AcquiredFile &file) {
  StoreOptions options;
  options.checkLinkBeforeReading = false; // an unreadable file is told as such, whatever the PACS did
  const StoreResult result = StoreFile(service, file.path, file.sopClassUid, options);
  using Outcome = StoreResult::Outcome;
  switch (result.outcome) {
  case Outcome::Stored:
    return {};
  case Outcome::Unreadable:
    WriteLog("ERROR, Couldn't read file: " + file.path);
    return "cannot be read";
  case Outcome::NoContext:
    WriteLog("ERROR, WriteStoreRQ, no accepted presentation context for " + file.sopClassUid);
    [[fallthrough]];
  case Outcome::LossyConversion:
  case Outcome::ConversionFailed:
  case Outcome::AssociationOver:
  case Outcome::NotSent:
    WriteLog("ERROR, WriteStoreRQ");
    return "the request could not be sent";
  case Outcome::Cancelled:
    return "cancelled";
  case Outcome::NoResponse:
    return "no response";
  case Outcome::InvalidResponse:
    return "invalid response";
  case Outcome::StoredWithWarning: // a changed object is not what was acquired
  case Outcome::Refused:
    break;
  }
  char text[32];
  std::snprintf(text, sizeof(text), "status 0x%04X", static_cast<unsigned>(result.status));
  return text;
}

} // namespace

AcquisitionSession::AcquisitionSession(AcquisitionSessionSetup setup)
    : setup_(std::move(setup)), context_(setup_.context != nullptr ? setup_.context : &StudyContext()),
      config_(setup_.config != nullptr ? setup_.config : &StationConfig()),
      counters_(setup_.programFolder + std::string(INSTANCE_COUNTERS_FILE)) {}

AcquisitionSession::~AcquisitionSession() {
  if (open_ && setup_.grabber != nullptr) {
    setup_.grabber->ReleaseGraph();
  }
}

MessageAnswer AcquisitionSession::Ask(MessageKind kind, std::string_view text) const {
  const MessageRequest request{kind, "Framewell", std::string(text)};
  // Without an operator nothing is shown and nothing is agreed to.
  return setup_.messages ? setup_.messages(request) : MessageAnswer::No;
}

void AcquisitionSession::Notify(const std::function<void()> &callback) const {
  if (callback) {
    callback();
  }
}

void AcquisitionSession::SetRecording(bool recording) {
  recording_ = recording;
  if (onRecording) {
    onRecording(recording);
  }
}

void AcquisitionSession::SetSending(bool sending) {
  sending_ = sending;
  if (onSending) {
    onSending(sending);
  }
}

std::int32_t AcquisitionSession::FrameCount() const {
  return pipelineReady_ && setup_.grabber != nullptr ? setup_.grabber->FrameCount() : 0;
}

bool AcquisitionSession::HasUnsentFiles() const {
  return std::any_of(state_.fileList.begin(), state_.fileList.end(), [](const AcquiredFile &f) { return !f.stored; });
}

void AcquisitionSession::CountLeftovers() const {
  const std::string temp = setup_.programFolder + "temp/";
  // A write killed half-way left a hidden partial file, not an object.
  RemoveAbandonedTemporaries(temp, ".dcm");
  std::error_code error;
  std::size_t count = 0;
  for (std::filesystem::directory_iterator it(temp, error), end; !error && it != end; it.increment(error)) {
    // A temporary that is still there belongs to a write in progress.
    if (it->is_regular_file(error) && !ParseTemporaryFileName(it->path().filename().string())) {
      ++count;
    }
  }
  if (count > 0) {
    WriteLog("WARNING, files left in temp/: " + std::to_string(count));
  }
}

bool AcquisitionSession::Open() {
  if (open_) {
    return pipelineReady_;
  }
  if (setup_.capture) {
    capture_ = *setup_.capture;
  } else {
    ReadCaptureConfig(setup_.programFolder + "videocap.cfg", capture_);
  }

  const std::string currentSopClass = std::move(state_.currentSopClassUid);
  state_ = AcquisitionState{};
  state_.currentSopClassUid = currentSopClass;
  newestFirstFrame_ = EncodedFrame{};
  StudyInfo &context = *context_;
  state_.baseUid = setup_.mintBaseUid ? setup_.mintBaseUid() : MakeBaseUID();
  if (context.studyInstanceUID.empty()) {
    context.studyInstanceUID = state_.baseUid;
  }
  WriteLog("INFO, Study Instance UID = " + context.studyInstanceUID);
  state_.seriesInstanceUid = state_.baseUid + ".20";
  // A fresh base UID has no numbers yet; one that repeated (only a pinned
  // mint does) continues after the last number recorded under it.
  state_.instanceNumber = counters_.Last(state_.baseUid);
  CountLeftovers();

  open_ = true;
  recording_ = false;
  sending_ = false;
  tickCount_ = 0;
  pipelineReady_ = setup_.grabber != nullptr && setup_.grabber->BuildGraph(capture_);
  return pipelineReady_;
}

bool AcquisitionSession::Close() {
  if (!open_ || sending_) {
    return !open_;
  }
  // A running clip is finished first, so it is asked about like any other
  // object.
  if (recording_) {
    EndRecording();
  }
  if (HasUnsentFiles() && Ask(MessageKind::Question, TEXT_CLOSE_UNSENT) != MessageAnswer::Yes) {
    return false;
  }
  // Also a pipeline whose device failed: it still holds the device.
  if (setup_.grabber != nullptr) {
    setup_.grabber->ReleaseGraph();
  }
  pipelineReady_ = false;
  for (const AcquiredFile &file : state_.fileList) {
    std::error_code error;
    std::filesystem::remove(file.path, error);
  }
  state_.fileList.clear();
  newestFirstFrame_ = EncodedFrame{};
  open_ = false;
  Notify(onFilesChanged);
  return true;
}

CapturedFrames AcquisitionSession::TakeCaptured() {
  FrameSource &grabber = *setup_.grabber;
  return CapturedFrames{grabber.TakeFrames(), grabber.FrameWidth(), grabber.FrameHeight(), grabber.FrameRateNumerator(),
                        grabber.FrameRateDenominator()};
}

void AcquisitionSession::RecordInstanceNumber() {
  if (!counters_.Record(state_.baseUid, state_.instanceNumber)) {
    WriteLog("WARNING, AcquisitionSession, couldn't write " + setup_.programFolder +
             std::string(INSTANCE_COUNTERS_FILE));
  }
}

bool AcquisitionSession::Snap() {
  if (!open_ || !pipelineReady_ || recording_ || sending_) {
    return false;
  }
  FrameSource &grabber = *setup_.grabber;
  grabber.StartCapture();
  const auto deadline = std::chrono::steady_clock::now() + setup_.snapTimeout;
  bool arrived = grabber.FrameCount() >= 1;
  while (!arrived && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(SNAP_POLL);
    arrived = grabber.FrameCount() >= 1;
  }
  grabber.StopCapture();
  CapturedFrames captured;
  if (arrived) {
    captured = TakeCaptured();
  } else {
    // Emptied as well: a frame that arrived after the wait ended must not
    // become the next still.
    grabber.ClearFrames();
  }
  if (captured.frames.empty()) {
    WriteLog(std::string(TEXT_NO_FRAME));
    Ask(MessageKind::Error, TEXT_NO_FRAME);
    return false;
  }
  EncodedFrame first = captured.frames.front();
  const bool saved = SaveStill(state_, *context_, std::move(captured), setup_.programFolder, setup_.clock);
  RecordInstanceNumber();
  if (!saved) {
    Ask(MessageKind::Error, TEXT_IMAGE_NOT_SAVED);
    return false;
  }
  newestFirstFrame_ = std::move(first);
  Notify(onFilesChanged);
  return true;
}

bool AcquisitionSession::Video() {
  if (!open_ || !pipelineReady_ || recording_ || sending_) {
    return false;
  }
  tickCount_ = 0;
  SetRecording(true);
  setup_.grabber->StartCapture();
  return true;
}

void AcquisitionSession::Tick() {
  if (!recording_ || sending_) {
    return;
  }
  if (++tickCount_ < setup_.clipTicks) {
    return;
  }
  EndRecording();
}

void AcquisitionSession::EndRecording() {
  FrameSource &grabber = *setup_.grabber;
  grabber.StopCapture();
  SetRecording(false);
  CapturedFrames captured = TakeCaptured();
  if (captured.frames.empty()) {
    WriteLog(std::string(TEXT_NO_FRAME));
    Ask(MessageKind::Error, TEXT_NO_FRAME);
    return;
  }
  EncodedFrame first = captured.frames.front();
  const bool saved = SaveClip(state_, *context_, std::move(captured), setup_.programFolder, setup_.clock);
  RecordInstanceNumber();
  if (!saved) {
    Ask(MessageKind::Error, TEXT_IMAGE_NOT_SAVED);
    return;
  }
  newestFirstFrame_ = std::move(first);
  Notify(onFilesChanged);
}

void AcquisitionSession::CaptureStopped() {
  if (!open_ || !pipelineReady_) {
    return;
  }
  pipelineReady_ = false;
  if (recording_) {
    EndRecording();
  }
}

bool AcquisitionSession::Configure() {
  if (!open_ || !pipelineReady_ || recording_ || sending_) {
    return pipelineReady_;
  }
  pipelineReady_ = setup_.grabber->ConfigureDevice(capture_);
  // Written whether or not anything changed; a file that cannot be written
  // is passed over.
  WriteCaptureConfig(setup_.programFolder + "videocap.cfg", capture_);
  return pipelineReady_;
}

bool AcquisitionSession::Send() {
  if (!open_ || recording_ || sending_) {
    return false;
  }
  if (state_.fileList.empty()) {
    WriteLog("ERROR, Send, no files to send");
    Ask(MessageKind::Error, TEXT_SEND_FAILED);
    return false;
  }
  SetSending(true);
  cancelRequested_ = false;
  const SendTally tally = SendAllFiles();
  SetSending(false);
  return ReportSend(tally);
}

// One association for all the files; when it cannot be opened every file
// is marked with why.
AcquisitionSession::SendTally AcquisitionSession::SendAllFiles() {
  const setupcfg &config = *config_;
  const std::vector<ProposedContext> contexts = StorageContexts(state_.fileList);
  SendTally tally;
  PDU_Service service;
  // Waits for the PACS let the window's events run, so Cancel is heard.
  service.SetCancelCheck([this] {
    Notify(processEventsWhileWaiting);
    return cancelRequested_;
  });
  if (!service.OpenAssociation(
          {config.PacsIP, config.PacsPort, config.LocalAET, config.PacsAET, setup_.sendTimeoutSeconds}, contexts)) {
    tally.cancelled = service.Cancelled();
    if (!tally.cancelled) {
      WriteLog("ERROR, Can't open association with: " + config.PacsAET);
    }
    for (AcquiredFile &file : state_.fileList) {
      file.problem = tally.cancelled ? "cancelled" : "no association with " + config.PacsAET;
    }
  } else {
    SendEachFile(service, tally);
  }
  service.ReleaseAssociation();
  return tally;
}

// After a cancel the remaining files are marked, not sent.
void AcquisitionSession::SendEachFile(PDU_Service &service, SendTally &tally) {
  const std::size_t n = state_.fileList.size();
  for (std::size_t i = 0; i < n; ++i) {
    AcquiredFile &file = state_.fileList[i];
    if (cancelRequested_ || service.Cancelled()) {
      tally.cancelled = true;
      file.problem = "cancelled";
      continue;
    }
    file.problem = SendFile(service, file);
    if (file.problem.empty()) {
      file.stored = true;
      ++tally.stored;
      if (onProgress) {
        onProgress(static_cast<int>((i + 1) * 100 / n));
      }
    } else if (service.Cancelled()) {
      file.problem = "cancelled";
      tally.cancelled = true;
    }
    Notify(processEvents);
  }
}

// The closing log line and box, then the progress bar back to zero; true
// when every file was stored.
bool AcquisitionSession::ReportSend(const SendTally &tally) {
  const std::size_t n = state_.fileList.size();
  const bool allStored = tally.stored == n;
  if (tally.cancelled && !allStored) {
    WriteLog("WARNING, Send cancelled by the operator, " + std::to_string(n - tally.stored) + " of " +
             std::to_string(n) + " files not sent");
    Ask(MessageKind::Warning, TEXT_SEND_CANCELLED);
  } else {
    Ask(allStored ? MessageKind::Information : MessageKind::Error, allStored ? TEXT_FILES_SENT_OK : TEXT_SEND_FAILED);
  }
  if (onProgress) {
    onProgress(0);
  }
  return allStored;
}

void AcquisitionSession::CancelSend() {
  if (sending_) {
    cancelRequested_ = true;
  }
}

} // namespace fw
