// Mapping between the stored analog standard codes and V4L2 standards.
#include "acquisition/TvStandard.h"

#include <linux/videodev2.h>

#include <array>

namespace fw {
namespace {

constexpr std::array<TvStandardName, 20> kTable{{
    {0x000001, "AnalogVideo_NTSC_M", V4L2_STD_NTSC_M},     {0x000002, "AnalogVideo_NTSC_M_J", V4L2_STD_NTSC_M_JP},
    {0x000004, "AnalogVideo_NTSC_433", V4L2_STD_NTSC_443}, {0x000010, "AnalogVideo_PAL_B", V4L2_STD_PAL_B},
    {0x000020, "AnalogVideo_PAL_D", V4L2_STD_PAL_D},       {0x000040, "AnalogVideo_PAL_G", V4L2_STD_PAL_G},
    {0x000080, "AnalogVideo_PAL_H", V4L2_STD_PAL_H},       {0x000100, "AnalogVideo_PAL_I", V4L2_STD_PAL_I},
    {0x000200, "AnalogVideo_PAL_M", V4L2_STD_PAL_M},       {0x000400, "AnalogVideo_PAL_N", V4L2_STD_PAL_N},
    {0x000800, "AnalogVideo_PAL_60", V4L2_STD_PAL_60},     {0x001000, "AnalogVideo_SECAM_B", V4L2_STD_SECAM_B},
    {0x002000, "AnalogVideo_SECAM_D", V4L2_STD_SECAM_D},   {0x004000, "AnalogVideo_SECAM_G", V4L2_STD_SECAM_G},
    {0x008000, "AnalogVideo_SECAM_H", V4L2_STD_SECAM_H},   {0x010000, "AnalogVideo_SECAM_K", V4L2_STD_SECAM_K},
    {0x020000, "AnalogVideo_SECAM_K1", V4L2_STD_SECAM_K1}, {0x040000, "AnalogVideo_SECAM_L", V4L2_STD_SECAM_L},
    {0x080000, "AnalogVideo_SECAM_L1", V4L2_STD_SECAM_LC}, {0x100000, "AnalogVideo_PAL_N_COMBO", V4L2_STD_PAL_Nc},
}};

} // namespace

const TvStandardName *TvStandardTable(std::size_t &count) {
  count = kTable.size();
  return kTable.data();
}

std::optional<std::uint64_t> V4l2StandardForTvFormat(std::int32_t code) {
  for (const auto &entry : kTable) {
    if (entry.code == code) {
      return entry.v4l2Id;
    }
  }
  return std::nullopt;
}

std::optional<std::int32_t> TvFormatForV4l2Standard(std::uint64_t v4l2Ids) {
  for (const auto &entry : kTable) {
    if ((entry.v4l2Id & v4l2Ids) != 0) {
      return entry.code;
    }
  }
  return std::nullopt;
}

} // namespace fw
