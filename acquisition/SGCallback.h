// The frame callback of the capture pipeline and the frames it collects.
//
// BufferCB runs on the streaming thread for every frame; while armed it
// filters the frame (FrameFilter.h), compresses it to a JPEG baseline stream
// at quality 90 with 4:2:2 chroma (CAPTURE_CHROMA) and appends it to the
// frame list. Everything else runs on the
// window's thread.
//
// Hand-over: the window's thread reads or empties the frame list only after
// the pipeline has been stopped (StopCapture), when no callback runs. The
// armed flag and the frame count are atomics and the append takes a mutex
// held only for the append, so the hand-over is also visible to tools that
// cannot see the platform's own locking.
#pragma once

#include "acquisition/EncodedFrame.h"
#include "dicom/codec/JpegCodec.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace fw {

// The chroma sampling of every captured frame.
inline constexpr JpegChroma CAPTURE_CHROMA = JpegChroma::Subsampled422;

class SGCallback {
public:
  SGCallback() = default;
  SGCallback(const SGCallback &) = delete;
  SGCallback &operator=(const SGCallback &) = delete;

  // Layout of the frames the pipeline delivers: top-down rows of width
  // blue-green-red pixels, each row starting stride bytes after the previous.
  // Set by the pipeline while not armed.
  void SetFormat(int width, int height, std::size_t stride);

  // For every frame, on the streaming thread. Returns 0; a frame that is too
  // short for the format, or that the encoder fails on, is dropped and
  // logged.
  int BufferCB(double sampleTime, const std::uint8_t *buffer, std::size_t length);

  void SetArmed(bool armed) { armed_.store(armed, std::memory_order_release); }
  bool Armed() const { return armed_.load(std::memory_order_acquire); }

  // Grows only while armed; may be read at any time.
  std::int32_t FrameCount() const { return frameCount_.load(std::memory_order_acquire); }

  // The collected frames, in arrival order. Only after the pipeline has been
  // stopped (or before it ran).
  const std::vector<EncodedFrame> &Frames() const;
  // Time each collected frame took inside BufferCB, in nanoseconds, in the
  // same order (diagnostics).
  const std::vector<std::int64_t> &FrameNanos() const;

  // Releases every frame and sets the frame count to 0. Same rule as Frames().
  void ClearFrames();
  // Hands the collected frames over and leaves the list empty, as
  // ClearFrames does; the frames are moved, not copied. Same rule.
  std::vector<EncodedFrame> TakeFrames();

  // Runs on the streaming thread for each frame taken while armed, before it
  // is encoded (tests hold a frame inside the callback with it). Set only
  // while not armed.
  void SetFrameTakenHook(std::function<void()> hook) { frameTakenHook_ = std::move(hook); }

  int Width() const;
  int Height() const;
  std::size_t Stride() const;
  static constexpr int BYTES_PER_PIXEL = 3;

private:
  struct Format {
    int width = 0;
    int height = 0;
    std::size_t stride = 0;
  };

  std::atomic<bool> armed_{false};
  std::function<void()> frameTakenHook_;
  std::atomic<std::int32_t> frameCount_{0};
  // Guards the format, the frame list and the timings; held only to copy or
  // append, never while a frame is filtered or encoded.
  mutable std::mutex appendMutex_;
  Format format_;
  std::vector<EncodedFrame> frames_;
  std::vector<std::int64_t> frameNanos_;
};

} // namespace fw
