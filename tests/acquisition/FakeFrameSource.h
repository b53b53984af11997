// A FrameSource for session tests: frames arrive on StartCapture, as many as
// the test asks for, each a small real JPEG stream.
#pragma once

#include "acquisition/FrameSource.h"
#include "acquisition/SGCallback.h"
#include "dicom/codec/JpegCodec.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace fw::test {

class FakeFrameSource final : public FrameSource {
public:
  bool buildResult = true;
  bool configureResult = true;
  // Frames that arrive while armed, at StartCapture.
  int framesPerCapture = 1;
  // Frames that arrive just as the capture stops (a late callback).
  int lateFrames = 0;
  int width = 16;
  int height = 8;
  int rateN = 25;
  int rateD = 1;
  // Frames of random pixels, which compress badly: large objects. All
  // frames of a capture are then the same, encoded once.
  bool noise = false;
  // Frames of pure blue, for colour checks, instead of the red ramp.
  bool blue = false;
  // Calls seen.
  int builds = 0;
  int releases = 0;
  int starts = 0;
  int stops = 0;
  int clears = 0;
  bool armed = false;
  CaptureConfig builtWith;
  // Configure changes the size to this.
  CaptureConfig configured{1, 320, 240, 2};

  bool BuildGraph(const CaptureConfig &config) override {
    ++builds;
    builtWith = config;
    return buildResult;
  }
  void ReleaseGraph() override { ++releases; }
  bool ConfigureDevice(CaptureConfig &config) override {
    config = configured;
    return configureResult;
  }
  void StartCapture() override {
    ++starts;
    armed = true;
    for (int i = 0; i < framesPerCapture; ++i) {
      frames_.push_back(noise && i > 0 ? frames_.back() : Frame(static_cast<std::uint8_t>(20 * i)));
    }
  }
  void StopCapture() override {
    ++stops;
    armed = false;
    for (int i = 0; i < lateFrames; ++i) {
      frames_.push_back(Frame(200));
    }
  }
  std::int32_t FrameCount() const override { return static_cast<std::int32_t>(frames_.size()); }
  std::vector<EncodedFrame> TakeFrames() override { return std::exchange(frames_, {}); }
  void ClearFrames() override {
    ++clears;
    frames_.clear();
  }
  int FrameWidth() const override { return width; }
  int FrameHeight() const override { return height; }
  int FrameRateNumerator() const override { return rateN; }
  int FrameRateDenominator() const override { return rateD; }

  EncodedFrame Frame(std::uint8_t red) const {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3, 0);
    std::uint32_t seed = 2463534242u + red;
    for (std::size_t i = 0; i < rgb.size(); i += 3) {
      rgb[i] = blue ? 0 : red;
      rgb[i + 2] = blue ? 255 : 0;
      if (noise) {
        for (std::size_t c = 0; c < 3; ++c) {
          seed ^= seed << 13;
          seed ^= seed >> 17;
          seed ^= seed << 5;
          rgb[i + c] = static_cast<std::uint8_t>(seed);
        }
      }
    }
    EncodedFrame frame;
    // Sampled as the capture callback samples.
    JpegEncode8({width, height, 3}, rgb.data(), JPEG_MODE_BASELINE, frame.data, CAPTURE_CHROMA);
    return frame;
  }

private:
  std::vector<EncodedFrame> frames_;
};

} // namespace fw::test
