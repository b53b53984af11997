// A stand-in for the acquisition session behind the window: the real capture
// pipeline, objects written as JPEG baseline files from the captured frames,
// a send that only reports progress, and counters of what the window asked.
#pragma once

#include "acquisition/AcquisitionControl.h"
#include "acquisition/CaptureConfig.h"
#include "acquisition/MySampleGrabber.h"
#include "app/base/Log.h"
#include "app/ui/MessageBoxes.h"
#include "dicom/Uids.h"
#include "tests/presentation/ConversionTestSupport.h"

#include <QApplication>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

namespace fw::test {

class FakeAcquisition : public AcquisitionControl {
public:
  explicit FakeAcquisition(std::string folder) : folder_(std::move(folder)) {}

  void Open(QWidget *videoOwner) override {
    ++opens;
    files_.clear();
    stored_ = 0;
    instance_ = 0;
    WriteLog("INFO, Study Instance UID = 2.25.1");
    grabber_ = std::make_unique<MySampleGrabber>();
    ready_ = grabber_->BuildGraph(videoOwner, captureConfig);
  }
  bool MayClose() override {
    if (stored_ == files_.size())
      return true;
    return ShowMessage({MessageKind::Question, "Framewell",
                        "Some images have not been sent to the PACS. Close and delete them?"}) == MessageAnswer::Yes;
  }
  void Close() override {
    ++closes;
    grabber_.reset();
    ready_ = false;
    for (const std::string &file : files_)
      std::filesystem::remove(file);
    files_.clear();
  }
  void Snap() override {
    ++snaps;
    if (!ready_ || recording_ || sending_)
      return;
    grabber_->StartCapture();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (grabber_->FrameCount() < 1 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    grabber_->StopCapture();
    Save(1);
  }
  void Video() override {
    if (!ready_ || recording_ || sending_)
      return;
    ticks_ = 0;
    recording_ = true;
    grabber_->StartCapture();
  }
  void Tick() override {
    if (!recording_ || ++ticks_ < 5)
      return;
    recording_ = false;
    grabber_->StopCapture();
    Save(grabber_->FrameCount());
  }
  void Configure(QWidget *owner) override {
    if (!ready_ || recording_ || sending_)
      return;
    ++configures;
    ready_ = grabber_->ConfigureDevice(owner, captureConfig);
  }
  void Send(const std::function<void(int)> &progress) override {
    sending_ = true;
    const std::size_t n = files_.size();
    for (std::size_t i = 0; i < n; ++i) {
      progress(static_cast<int>((i + 1) * 100 / n));
      progressSeen.push_back(static_cast<int>((i + 1) * 100 / n));
      QApplication::processEvents();
      if (duringSend)
        duringSend();
    }
    stored_ = n;
    sending_ = false;
    if (n == 0)
      ShowError("ERROR sending files, please check log file");
    else
      ShowInformation("Files sent OK");
  }
  void CaptureStopped() override {
    ready_ = false;
    if (recording_) {
      recording_ = false;
      grabber_->StopCapture();
      Save(grabber_->FrameCount());
    }
  }
  std::vector<std::string> FileList() const override { return files_; }
  bool PipelineReady() const override { return ready_; }
  bool Recording() const override { return recording_; }
  bool Sending() const override { return sending_; }
  MySampleGrabber *Grabber() override { return grabber_.get(); }

  int opens = 0;
  int closes = 0;
  int snaps = 0;
  int configures = 0;
  std::vector<int> progressSeen;
  std::function<void()> duringSend;

private:
  // Writes the first `frames` captured frames as one object and lists it.
  void Save(int frames) {
    const auto &captured = grabber_->Frames();
    const auto count = std::min<std::size_t>(captured.size(), static_cast<std::size_t>(frames));
    if (count == 0)
      return;
    ImageShape shape;
    shape.columns = grabber_->FrameWidth();
    shape.rows = grabber_->FrameHeight();
    shape.frames = static_cast<int>(count);
    shape.colour = true;
    shape.photometric = "YBR_FULL";
    shape.planarConfiguration = 0;
    shape.modality = "ES";
    shape.transferSyntax = std::string(JPEG_BASELINE);
    std::vector<std::vector<std::uint8_t>> fragments;
    for (std::size_t i = 0; i < count; ++i)
      fragments.push_back(captured[i].data);
    auto ds = EncapsulatedDataSet(shape, fragments);
    ++instance_;
    ds->PutText(0x0020, 0x0013, std::to_string(instance_));
    ds->PutText(0x0008, 0x0018, "2.25.1.10." + std::to_string(instance_));
    const std::string file = folder_ + "A1" + std::to_string(instance_) + ".dcm";
    if (ds->Write(file))
      files_.push_back(file);
    grabber_->ClearFrames();
  }

  std::string folder_;
  std::unique_ptr<MySampleGrabber> grabber_;
  std::vector<std::string> files_;
  std::size_t stored_ = 0;
  int instance_ = 0;
  int ticks_ = 0;
  bool ready_ = false;
  bool recording_ = false;
  bool sending_ = false;
};

} // namespace fw::test
