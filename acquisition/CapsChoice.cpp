// The caps asked of the capture source and the layout it delivers.
#include "acquisition/CapsChoice.h"

#include <gst/video/video.h>

namespace fw {

std::vector<gst::Caps> WantedForms(const CaptureConfig &config, bool askSize) {
  auto form = [&](const char *media, bool liveRate) {
    gst::Caps caps(gst_caps_new_empty_simple(media));
    if (askSize) {
      gst_caps_set_simple(caps.get(), "width", G_TYPE_INT, config.width, "height", G_TYPE_INT, config.height, nullptr);
    }
    if (liveRate) {
      gst_caps_set_simple(caps.get(), "framerate", GST_TYPE_FRACTION_RANGE, 20, 1, G_MAXINT, 1, nullptr);
    }
    return caps;
  };
  std::vector<gst::Caps> forms;
  forms.push_back(form("video/x-raw", true));
  forms.push_back(form("image/jpeg", false));
  forms.push_back(form("video/x-raw", false));
  return forms;
}

gst::Caps ChooseForm(GstElement *source, const CaptureConfig &config, bool askSize) {
  const gst::Pad pad(gst_element_get_static_pad(source, "src"));
  const gst::Caps offered(pad ? gst_pad_query_caps(pad.get(), nullptr) : nullptr);
  if (!offered) {
    return {};
  }
  for (gst::Caps &wanted : WantedForms(config, askSize)) {
    if (gst_caps_can_intersect(offered.get(), wanted.get())) {
      return std::move(wanted);
    }
  }
  return {};
}

bool IsJpegForm(const GstCaps *form) { return gst_structure_has_name(gst_caps_get_structure(form, 0), "image/jpeg"); }

std::optional<BgrLayout> BgrLayoutOf(const GstCaps *caps) {
  GstVideoInfo info;
  if (caps == nullptr || !gst_video_info_from_caps(&info, caps) ||
      GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGR || GST_VIDEO_INFO_WIDTH(&info) <= 0 ||
      GST_VIDEO_INFO_HEIGHT(&info) <= 0) {
    return std::nullopt;
  }
  BgrLayout layout;
  layout.width = GST_VIDEO_INFO_WIDTH(&info);
  layout.height = GST_VIDEO_INFO_HEIGHT(&info);
  layout.stride = static_cast<std::size_t>(GST_VIDEO_INFO_PLANE_STRIDE(&info, 0));
  layout.rateNumerator = GST_VIDEO_INFO_FPS_N(&info);
  layout.rateDenominator = GST_VIDEO_INFO_FPS_D(&info) > 0 ? GST_VIDEO_INFO_FPS_D(&info) : 1;
  return layout;
}

} // namespace fw
