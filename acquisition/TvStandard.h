// Analog video standards: the stored codes of "videocap.cfg" (the DirectShow
// AnalogVideoStandard values, kept so existing files keep their meaning) and
// the V4L2 standard bits the devices here understand. The two numberings
// differ; the standards are matched by name:
//
//   code      stored name              V4L2 standard
//   0x000001  AnalogVideo_NTSC_M       V4L2_STD_NTSC_M     0x00001000
//   0x000002  AnalogVideo_NTSC_M_J     V4L2_STD_NTSC_M_JP  0x00002000
//   0x000004  AnalogVideo_NTSC_433     V4L2_STD_NTSC_443   0x00004000
//   0x000010  AnalogVideo_PAL_B        V4L2_STD_PAL_B      0x00000001
//   0x000020  AnalogVideo_PAL_D        V4L2_STD_PAL_D      0x00000020
//   0x000040  AnalogVideo_PAL_G        V4L2_STD_PAL_G      0x00000004
//   0x000080  AnalogVideo_PAL_H        V4L2_STD_PAL_H      0x00000008
//   0x000100  AnalogVideo_PAL_I        V4L2_STD_PAL_I      0x00000010
//   0x000200  AnalogVideo_PAL_M        V4L2_STD_PAL_M      0x00000100
//   0x000400  AnalogVideo_PAL_N        V4L2_STD_PAL_N      0x00000200
//   0x000800  AnalogVideo_PAL_60       V4L2_STD_PAL_60     0x00000800
//   0x001000  AnalogVideo_SECAM_B      V4L2_STD_SECAM_B    0x00010000
//   0x002000  AnalogVideo_SECAM_D      V4L2_STD_SECAM_D    0x00020000
//   0x004000  AnalogVideo_SECAM_G      V4L2_STD_SECAM_G    0x00040000
//   0x008000  AnalogVideo_SECAM_H      V4L2_STD_SECAM_H    0x00080000
//   0x010000  AnalogVideo_SECAM_K      V4L2_STD_SECAM_K    0x00100000
//   0x020000  AnalogVideo_SECAM_K1     V4L2_STD_SECAM_K1   0x00200000
//   0x040000  AnalogVideo_SECAM_L      V4L2_STD_SECAM_L    0x00400000
//   0x080000  AnalogVideo_SECAM_L1     V4L2_STD_SECAM_LC   0x00800000
//   0x100000  AnalogVideo_PAL_N_COMBO  V4L2_STD_PAL_Nc     0x00000400
//
// Any other code (AnalogVideo_None among them) has no V4L2 standard: the
// device's own standard is left alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace fw {

struct TvStandardName {
  std::int32_t code;
  std::string_view name;
  std::uint64_t v4l2Id;
};

// The table above, in code order.
const TvStandardName *TvStandardTable(std::size_t &count);

// The single V4L2 standard bit of a stored code; nothing for an unknown code.
std::optional<std::uint64_t> V4l2StandardForTvFormat(std::int32_t code);

// The stored code for a V4L2 standard set as a device enumerates it (often
// several bits, "PAL" = B, B1, G, H, I, D, D1, K): the lowest code whose bit
// is in the set; nothing when none is.
std::optional<std::int32_t> TvFormatForV4l2Standard(std::uint64_t v4l2Ids);

} // namespace fw
