// The frame callback: filter, compress, append.
#include "acquisition/SGCallback.h"

#include <utility>

#include "acquisition/FrameFilter.h"
#include "base/Log.h"
#include "dicom/codec/JpegCodec.h"

#include <chrono>
#include <exception>
#include <string>

namespace fw {

void SGCallback::SetFormat(int frameWidth, int frameHeight, std::size_t rowStride) {
  const std::lock_guard lock(appendMutex_);
  format_ = {frameWidth, frameHeight, rowStride};
}

int SGCallback::Width() const {
  const std::lock_guard lock(appendMutex_);
  return format_.width;
}

int SGCallback::Height() const {
  const std::lock_guard lock(appendMutex_);
  return format_.height;
}

std::size_t SGCallback::Stride() const {
  const std::lock_guard lock(appendMutex_);
  return format_.stride;
}

int SGCallback::BufferCB(double /*sampleTime*/, const std::uint8_t *buffer, std::size_t length) {
  if (!Armed()) {
    return 0;
  }
  if (frameTakenHook_) {
    frameTakenHook_();
  }
  const auto started = std::chrono::steady_clock::now();
  Format format;
  {
    const std::lock_guard lock(appendMutex_);
    format = format_;
  }
  const int width = format.width;
  const int height = format.height;
  const std::size_t stride = format.stride;
  if (width <= 0 || height <= 0 || stride < static_cast<std::size_t>(width) * 3 || buffer == nullptr ||
      length < stride * static_cast<std::size_t>(height - 1) + static_cast<std::size_t>(width) * 3) {
    WriteLog("ERROR, SGCallback::BufferCB, frame of " + std::to_string(length) + " bytes does not hold " +
             std::to_string(width) + "x" + std::to_string(height) + " pixels");
    return 0;
  }
  EncodedFrame frame;
  try {
    // The encoder asks for a few rows at a time and each is filtered from the
    // device buffer straight into its row group: no whole filtered frame is
    // written and read back. Chroma 4:2:2 as video encoders write it: every
    // storage class the station uses accepts it (YBR_FULL_422), and it halves
    // the chroma the encoder transforms.
    JpegEncode8Rows(
        {width, height, 3},
        [&](int first, int count, std::uint8_t *rows) {
          FilterRowsToRgb(buffer, stride, width, height, first, count, rows);
        },
        frame.data, CAPTURE_CHROMA);
    if (frame.data.empty()) {
      WriteLog("ERROR, SGCallback::BufferCB, JPEG encoding failed");
      return 0;
    }
  } catch (const std::exception &e) {
    // Nothing may escape into the streaming thread: the frame is dropped.
    WriteLog(std::string("ERROR, SGCallback::BufferCB, ") + e.what());
    return 0;
  }
  const auto nanos =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - started).count();
  try {
    const std::lock_guard lock(appendMutex_);
    frames_.push_back(std::move(frame));
    frameNanos_.push_back(nanos);
    frameCount_.store(static_cast<std::int32_t>(frames_.size()), std::memory_order_release);
  } catch (const std::exception &e) {
    WriteLog(std::string("ERROR, SGCallback::BufferCB, ") + e.what());
  }
  return 0;
}

const std::vector<EncodedFrame> &SGCallback::Frames() const {
  // The lock pairs with the append, making the list's contents visible.
  const std::lock_guard lock(appendMutex_);
  return frames_;
}

const std::vector<std::int64_t> &SGCallback::FrameNanos() const {
  const std::lock_guard lock(appendMutex_);
  return frameNanos_;
}

void SGCallback::ClearFrames() {
  const std::lock_guard lock(appendMutex_);
  frames_.clear();
  frames_.shrink_to_fit();
  frameNanos_.clear();
  frameCount_.store(0, std::memory_order_release);
}

std::vector<EncodedFrame> SGCallback::TakeFrames() {
  const std::lock_guard lock(appendMutex_);
  std::vector<EncodedFrame> frames = std::move(frames_);
  frames_ = {};
  frameNanos_.clear();
  frameCount_.store(0, std::memory_order_release);
  return frames;
}

} // namespace fw
