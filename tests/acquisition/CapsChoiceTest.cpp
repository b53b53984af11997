// Which frames the capture asks its source for, and the frame layout it reads
// from the negotiated caps: the tables of CapsChoice.h, on test sources.
#include "acquisition/CapsChoice.h"
#include "acquisition/CaptureDevices.h"

#include <gtest/gtest.h>

#include <optional>

namespace fw {
namespace {

constexpr int NONE = -1;

struct FormCase {
  const char *name;
  const char *source; // a bin description, as FRAMEWELL_VIDEO_SOURCE takes it
  bool askSize;
  int expected; // index into WantedForms, or NONE
};

TEST(CapsChoiceTest, TheFirstWantedFormTheSourceOffersIsChosen) {
  ASSERT_TRUE(InitGStreamer());
  const CaptureConfig config{1, 320, 240, 0};
  const FormCase cases[] = {
      {"raw_at_a_live_rate", "videotestsrc is-live=true", true, 0},
      {"raw_at_its_own_size", "videotestsrc is-live=true", false, 0},
      {"jpeg_only_device", "videotestsrc is-live=true ! jpegenc", true, 1},
      {"raw_only_below_a_live_rate", "videotestsrc ! capsfilter caps=video/x-raw,framerate=5/1", true, 2},
      {"configured_size_not_offered", "videotestsrc ! capsfilter caps=video/x-raw,width=640,height=480", true, NONE},
      {"own_size_when_not_asked", "videotestsrc ! capsfilter caps=video/x-raw,width=640,height=480", false, 0},
  };
  for (const FormCase &c : cases) {
    GError *error = nullptr;
    const gst::Element source = gst::Sink(gst_parse_bin_from_description(c.source, TRUE, &error));
    const gst::Error parseError(error);
    ASSERT_TRUE(source) << c.name << ": " << (parseError ? parseError->message : "");
    ASSERT_NE(gst_element_set_state(source.get(), GST_STATE_READY), GST_STATE_CHANGE_FAILURE) << c.name;
    const gst::Caps chosen = ChooseForm(source.get(), config, c.askSize);
    gst_element_set_state(source.get(), GST_STATE_NULL);
    if (c.expected == NONE) {
      EXPECT_FALSE(chosen) << c.name;
      continue;
    }
    ASSERT_TRUE(chosen) << c.name;
    const std::vector<gst::Caps> wanted = WantedForms(config, c.askSize);
    EXPECT_TRUE(gst_caps_is_equal(chosen.get(), wanted[static_cast<std::size_t>(c.expected)].get())) << c.name;
    EXPECT_EQ(IsJpegForm(chosen.get()), c.expected == 1) << c.name;
  }
}

struct LayoutCase {
  const char *name;
  const char *caps;
  std::optional<BgrLayout> expected;
};

TEST(CapsChoiceTest, TheLayoutComesFromNegotiatedBgrCaps) {
  ASSERT_TRUE(InitGStreamer());
  const LayoutCase cases[] = {
      {"rows_without_padding", "video/x-raw,format=BGR,width=320,height=240,framerate=25/1",
       BgrLayout{320, 240, 960, 25, 1}},
      // 33 x 3 = 99 bytes of pixels, rows start 4-byte aligned.
      {"odd_width_padded_rows", "video/x-raw,format=BGR,width=33,height=10,framerate=30000/1001",
       BgrLayout{33, 10, 100, 30000, 1001}},
      {"variable_rate", "video/x-raw,format=BGR,width=64,height=48,framerate=0/1", BgrLayout{64, 48, 192, 0, 1}},
      {"not_bgr", "video/x-raw,format=RGB,width=64,height=48,framerate=25/1", std::nullopt},
      {"not_raw_video", "image/jpeg,width=64,height=48,framerate=25/1", std::nullopt},
  };
  for (const LayoutCase &c : cases) {
    const gst::Caps caps(gst_caps_from_string(c.caps));
    ASSERT_TRUE(caps) << c.name;
    const std::optional<BgrLayout> layout = BgrLayoutOf(caps.get());
    ASSERT_EQ(layout.has_value(), c.expected.has_value()) << c.name;
    if (layout) {
      EXPECT_EQ(layout->width, c.expected->width) << c.name;
      EXPECT_EQ(layout->height, c.expected->height) << c.name;
      EXPECT_EQ(layout->stride, c.expected->stride) << c.name;
      EXPECT_EQ(layout->rateNumerator, c.expected->rateNumerator) << c.name;
      EXPECT_EQ(layout->rateDenominator, c.expected->rateDenominator) << c.name;
    }
  }
  EXPECT_FALSE(BgrLayoutOf(nullptr));
}

} // namespace
} // namespace fw
