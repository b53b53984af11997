// AcquisitionSession: everything one opening of the acquisition does, without
// a window. The acquisition window forwards each button and its timer here
// and draws what the callbacks report; fwacquire drives it from the command
// line.
//
//   window event         call         does nothing while
//   opening (activate)   Open()       already open
//   Snap / right click   Snap()       no pipeline, recording, sending
//   Video                Video()      no pipeline, recording, sending
//   Timer1 (1000 ms)     Tick()       not recording, sending; ends the clip
//                                     on the fifth tick after Video
//   Configuration        Configure()  no pipeline, recording, sending
//   Send                 Send()       recording, sending
//   Close                Close()      sending; false when the operator keeps
//                                     unsent images (the window stays open)
//   device failed        CaptureStopped()  not open; a running clip is saved
//                                     with the frames it has
//
// Opening mints a new base UID (a random UUID under "2.25.", so it never
// repeats across patients, openings, restarts, processes or machines), puts
// it into an empty Study Instance UID of the context and logs
// "INFO, Study Instance UID = " + that UID, reads "videocap.cfg", builds the
// pipeline and numbers instances from 1 on (after the last one recorded under
// the same base UID, InstanceCounters.h, should a base ever repeat). Files
// found in "temp/" are counted ("WARNING, files left in temp/: " + count) and
// never overwritten.
//
// Send proposes one presentation context per distinct SOP class of the files
// (in order of first appearance; JPEG baseline, then implicit VR little
// endian) and stores each file with its own class. Progress goes to
// onProgress: (i + 1) * 100 / n after each file stored, 0 after the result
// box. The box says "Files sent OK" only when every file was stored.
//
// CancelSend (from processEventsWhileWaiting, which runs while the send
// waits for the PACS and between its pieces, or processEvents) ends the send within moments: the
// association is aborted, the file being sent and the ones after it stay
// unsent and kept ("cancelled"), "WARNING, Send cancelled by the operator,
// <n> of <total> files not sent" is logged and the box says
// TEXT_SEND_CANCELLED.
//
// Operator messages go through the message-box seam given in the setup; every
// failure is also logged.
#pragma once

#include "acquisition/CaptureConfig.h"
#include "acquisition/FrameSource.h"
#include "acquisition/ImageBuilder.h"
#include "acquisition/InstanceCounters.h"
#include "station/StationRecords.h"
#include "ui/MessageBoxes.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fw {

class PDU_Service;

// Texts the operator sees.
inline constexpr std::string_view TEXT_FILES_SENT_OK = "Files sent OK";
inline constexpr std::string_view TEXT_SEND_FAILED = "ERROR sending files, please check log file";
inline constexpr std::string_view TEXT_SEND_CANCELLED = "Sending cancelled, the images not sent are kept";
inline constexpr std::string_view TEXT_CLOSE_UNSENT =
    "Some images have not been sent to the PACS. Close and delete them?";
inline constexpr std::string_view TEXT_IMAGE_NOT_SAVED = "ERROR, image not saved, please check log file";
inline constexpr std::string_view TEXT_NO_FRAME = "ERROR, no frame from capture device";

struct AcquisitionSessionSetup {
  // The capture pipeline; outlives the session.
  FrameSource *grabber = nullptr;
  // Base of "temp/", "videocap.cfg" and the instance counters, ending in "/".
  std::string programFolder;
  // The patient and study, and the station's configuration; the process-wide
  // records when null.
  StudyInfo *context = nullptr;
  setupcfg *config = nullptr;
  // Calendar clock for creation dates and times.
  LocalClock clock = SystemLocalTime;
  // The message-box seam (the window passes ShowMessage). Empty: no box is
  // shown and every question is answered No.
  MessageHandler messages;
  // Mints the base UID of each opening; MakeBaseUID() when empty (tests pin
  // it to play a base that repeats).
  std::function<std::string()> mintBaseUid;
  // Used instead of "videocap.cfg" when set (fwacquire's --size).
  std::optional<CaptureConfig> capture;
  // Longest wait of Snap for its frame.
  std::chrono::milliseconds snapTimeout{2000};
  // Time-out of every wait of the association with the PACS.
  int sendTimeoutSeconds = 60;
  // Ticks from Video to the end of the clip.
  int clipTicks = 5;
};

class AcquisitionSession {
public:
  explicit AcquisitionSession(AcquisitionSessionSetup setup);
  // Releases the pipeline; the files stay (as when the program ends
  // without closing).
  ~AcquisitionSession();
  AcquisitionSession(const AcquisitionSession &) = delete;
  AcquisitionSession &operator=(const AcquisitionSession &) = delete;

  // Callbacks for the window, all called on the caller's thread.
  std::function<void(int percent)> onProgress;     // send progress, 0..100
  std::function<void()> onFilesChanged;            // an object was added, or Close emptied the list
  std::function<void(bool recording)> onRecording; // indicator and buttons
  std::function<void(bool sending)> onSending;     // buttons during a send
  std::function<void()> processEvents;             // after each file of a send
  std::function<void()> processEventsWhileWaiting; // while a send waits for the PACS (CancelSend)

  // The opening sequence; returns whether the pipeline runs. Nothing when
  // already open.
  bool Open();
  // Asks before deleting unsent files; on Yes (or when all were stored)
  // ends a recording, releases the pipeline and deletes the files. False
  // when the acquisition stays open.
  bool Close();
  // Takes a still; true when an object was saved.
  bool Snap();
  // Starts a clip; true when recording started.
  bool Video();
  // One tick of the window's 1000 ms timer.
  void Tick();
  // The device's settings pages, then "videocap.cfg" is written; returns
  // whether the pipeline runs afterwards.
  bool Configure();
  // Stores every file on the PACS; true when every file was stored.
  bool Send();
  // Asks the running send to stop (see the class comment); nothing when
  // none runs.
  void CancelSend();
  // The capture device failed while running: Snap, Video and Configure do
  // nothing from now on, and a clip being recorded is saved with the frames
  // collected so far.
  void CaptureStopped();

  bool IsOpen() const { return open_; }
  bool PipelineReady() const { return pipelineReady_; }
  bool Recording() const { return recording_; }
  bool Sending() const { return sending_; }
  int TickCount() const { return tickCount_; }
  // Frames collected so far by the running recording.
  std::int32_t FrameCount() const;
  bool HasUnsentFiles() const;

  const AcquisitionState &State() const { return state_; }
  const std::vector<AcquiredFile> &Files() const { return state_.fileList; }
  const CaptureConfig &Capture() const { return capture_; }
  // The first frame of the object saved last, as captured (EncodedFrame.h),
  // for its thumbnail; empty when none was saved since the opening.
  const EncodedFrame &NewestFirstFrame() const { return newestFirstFrame_; }
  const StudyInfo &Context() const { return *context_; }

private:
  MessageAnswer Ask(MessageKind kind, std::string_view text) const;
  void Notify(const std::function<void()> &callback) const;
  CapturedFrames TakeCaptured();
  void EndRecording();
  void SetRecording(bool recording);
  void SetSending(bool sending);
  // How a send ended: the files stored and whether the operator stopped it.
  struct SendTally {
    std::size_t stored = 0;
    bool cancelled = false;
  };
  SendTally SendAllFiles();
  void SendEachFile(PDU_Service &service, SendTally &tally);
  bool ReportSend(const SendTally &tally);
  void RecordInstanceNumber();
  void CountLeftovers() const;

  AcquisitionSessionSetup setup_;
  StudyInfo *context_;
  setupcfg *config_;
  InstanceCounters counters_;
  AcquisitionState state_;
  CaptureConfig capture_;
  EncodedFrame newestFirstFrame_;
  bool open_ = false;
  bool pipelineReady_ = false;
  bool recording_ = false;
  bool sending_ = false;
  bool cancelRequested_ = false;
  int tickCount_ = 0;
};

} // namespace fw
