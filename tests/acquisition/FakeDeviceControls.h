// A video device for the tests: offers the lists it is given and records the
// settings it receives.
#pragma once

#include "acquisition/VideoDeviceControls.h"

#include <stdexcept>

namespace fw::test {

class FakeDeviceControls : public VideoDeviceControls {
public:
  std::vector<VideoInput> inputs;
  std::vector<VideoStandard> standards;
  std::vector<FrameSize> sizes;
  std::vector<std::int32_t> inputsSet;
  std::vector<std::uint64_t> standardsSet;
  bool throwOnList = false;

  std::vector<VideoInput> Inputs() override {
    if (throwOnList) {
      throw std::runtime_error("device gone");
    }
    return inputs;
  }
  std::vector<VideoStandard> Standards() override { return standards; }
  std::vector<FrameSize> Sizes() override { return sizes; }
  bool SetInput(std::int32_t index) override {
    inputsSet.push_back(index);
    return !inputs.empty();
  }
  bool SetStandard(std::uint64_t ids) override {
    standardsSet.push_back(ids);
    return !standards.empty();
  }
};

} // namespace fw::test
