// The device settings dialog, offscreen, with a device that offers what each
// case needs.
#include "acquisition/CaptureSettingsDialog.h"
#include "acquisition/TvStandard.h"
#include "tests/acquisition/FakeDeviceControls.h"

#include <QComboBox>

#include <linux/videodev2.h>

#include <gtest/gtest.h>

namespace fw {
namespace {

using test::FakeDeviceControls;

FakeDeviceControls CompositeCard() {
  FakeDeviceControls device;
  device.inputs = {{0, "Tuner"}, {1, "Composite"}, {2, "S-Video"}};
  device.standards = {
      {V4L2_STD_NTSC, "NTSC"}, {V4L2_STD_PAL, "PAL"}, {V4L2_STD_PAL_Nc, "PAL-Nc"}, {V4L2_STD_PAL_K, "PAL-K"}};
  device.sizes = {{720, 576}, {640, 480}, {320, 240}};
  return device;
}

TEST(CaptureSettingsDialog, OffersEveryPageTheDeviceHasAndPreselectsTheConfiguration) {
  FakeDeviceControls device = CompositeCard();
  const CaptureConfig config{0x10 /* PAL_B */, 640, 480, 2};
  CaptureSettingsDialog dialog(nullptr, device, config);
  EXPECT_EQ(dialog.PageCount(), 3);
  ASSERT_NE(dialog.InputBox(), nullptr);
  ASSERT_NE(dialog.StandardBox(), nullptr);
  ASSERT_NE(dialog.SizeBox(), nullptr);
  EXPECT_EQ(dialog.InputBox()->count(), 3);
  EXPECT_EQ(dialog.InputBox()->currentText(), "S-Video");
  // PAL-K has no stored code and is not offered.
  EXPECT_EQ(dialog.StandardBox()->count(), 3);
  EXPECT_EQ(dialog.StandardBox()->currentText(), "PAL");
  EXPECT_EQ(dialog.SizeBox()->currentText(), "640 x 480");

  CaptureConfig unchanged = config;
  dialog.ApplyTo(unchanged);
  EXPECT_EQ(unchanged, config);
}

TEST(CaptureSettingsDialog, TheChoiceIsStoredWithTheStoredCodes) {
  FakeDeviceControls device = CompositeCard();
  CaptureConfig config{0x1, 640, 480, 0};
  CaptureSettingsDialog dialog(nullptr, device, config);
  dialog.InputBox()->setCurrentIndex(1);
  dialog.StandardBox()->setCurrentText("PAL-Nc");
  dialog.SizeBox()->setCurrentIndex(0);
  dialog.ApplyTo(config);
  EXPECT_EQ(config, (CaptureConfig{0x100000 /* PAL_N_COMBO */, 720, 576, 1}));
}

TEST(CaptureSettingsDialog, ADeviceWithoutASettingHasNoPageForIt) {
  struct Case {
    const char *name;
    bool inputs, standards, sizes;
    int pages;
  };
  const Case cases[] = {
      {"none of the three", false, false, false, 0},
      {"sizes only (a webcam)", false, false, true, 1},
      {"inputs and standards, fixed size", true, true, false, 2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    FakeDeviceControls device = CompositeCard();
    if (!c.inputs) {
      device.inputs.clear();
    }
    if (!c.standards) {
      device.standards.clear();
    }
    if (!c.sizes) {
      device.sizes.clear();
    }
    const CaptureConfig config{0x10, 0, 0, 1};
    CaptureSettingsDialog dialog(nullptr, device, config);
    EXPECT_EQ(dialog.PageCount(), c.pages);
    EXPECT_EQ(dialog.InputBox() != nullptr, c.inputs);
    EXPECT_EQ(dialog.StandardBox() != nullptr, c.standards);
    EXPECT_EQ(dialog.SizeBox() != nullptr, c.sizes);
    // Fields without a page keep their values.
    CaptureConfig after = config;
    dialog.ApplyTo(after);
    if (!c.inputs) {
      EXPECT_EQ(after.crossbarInput, 1);
    }
    if (!c.standards) {
      EXPECT_EQ(after.tvFormat, 0x10);
    }
    if (!c.sizes) {
      EXPECT_EQ(after.width, 0);
      EXPECT_EQ(after.height, 0);
    }
  }
}

} // namespace
} // namespace fw
