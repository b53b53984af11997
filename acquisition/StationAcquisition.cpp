// The window's calls on the station's acquisition session.
#include "acquisition/StationAcquisition.h"

#include "ui/MessageBoxes.h"

#include <QCoreApplication>

namespace fw {

StationAcquisition::StationAcquisition(AcquisitionSessionSetup setup) {
  setup.grabber = &source_;
  if (!setup.messages) {
    setup.messages = [](const MessageRequest &request) { return ShowMessage(request); };
  }
  session_ = std::make_unique<AcquisitionSession>(std::move(setup));
  // The window repaints and its timer keeps time between the files of a
  // send; the session ignores the buttons meanwhile.
  session_->processEvents = [] { QCoreApplication::processEvents(); };
  session_->processEventsWhileWaiting = [] { QCoreApplication::processEvents(); };
}

StationAcquisition::~StationAcquisition() {
  // The window that set the handler may be gone before the pipeline is.
  grabber_.SetStoppedHandler({});
  session_.reset();
}

void StationAcquisition::Open(QWidget *videoOwner) {
  source_.SetOwner(videoOwner);
  session_->Open();
}

bool StationAcquisition::MayClose() { return !session_->IsOpen() || session_->Close(); }

void StationAcquisition::Close() {
  if (session_->IsOpen()) {
    session_->Close();
  }
}

void StationAcquisition::Snap() { session_->Snap(); }

void StationAcquisition::Video() { session_->Video(); }

void StationAcquisition::Tick() { session_->Tick(); }

void StationAcquisition::Configure(QWidget *owner) {
  source_.SetOwner(owner);
  session_->Configure();
}

void StationAcquisition::Send(const std::function<void(int percent)> &progress) {
  session_->onProgress = progress;
  session_->Send();
  session_->onProgress = nullptr;
}

void StationAcquisition::CaptureStopped() { session_->CaptureStopped(); }

void StationAcquisition::SetEvents(AcquisitionEvents events) {
  session_->onFilesChanged = std::move(events.filesChanged);
  session_->onRecording = std::move(events.recording);
  session_->onSending = std::move(events.sending);
}

NewestObject StationAcquisition::Newest() const {
  const std::vector<AcquiredFile> &files = session_->Files();
  if (files.empty() || session_->NewestFirstFrame().data.empty()) {
    return {};
  }
  // Each save appends its file and keeps its first frame.
  const AcquiredFile &newest = files.back();
  return NewestObject{newest.path, newest.instanceNumber, newest.frames, &session_->NewestFirstFrame()};
}

std::vector<std::string> StationAcquisition::FileList() const {
  std::vector<std::string> paths;
  paths.reserve(session_->Files().size());
  for (const AcquiredFile &file : session_->Files()) {
    paths.push_back(file.path);
  }
  return paths;
}

} // namespace fw
