// Fuzz target for the transfer syntax conversion: a data set whose image
// attributes and pixel data (native, or encapsulated fragments) come from the
// input is converted to a target syntax; when that gives native pixel data,
// it is prepared and drawn into a small bitmap as the thumbnails are.
//
// Input layout:
//   byte 0   source transfer syntax (index into SYNTAXES)
//   byte 1   target transfer syntax (index into SYNTAXES)
//   byte 2-3 columns - 1, little endian
//   byte 4-5 rows - 1, little endian (the full range: attributes that claim
//            gigabytes over a few fragment bytes must be refused before the
//            frames are allocated)
//   byte 6,7 bits allocated, bits stored: 0 -> 8, 1 -> 16, else the byte
//   byte 8   pixel representation (bit 0)
//   byte 9   photometric interpretation (index into PHOTOMETRICS)
//   byte 10  planar configuration: 0 none, 1 -> 0, 2 -> 1, else the byte
//   byte 11  number of frames: 0 none, else (byte % 8) - 1 as text (few
//            frames keep each run fast)
//   byte 12  modality (index into MODALITIES)
//   byte 13  flags: 1 icon sequence before the pixel data, 2 rescale slope
//            and intercept, 4 no offset table item
//   rest     compressed source: fragments, each a 2-byte little-endian length
//            and that many bytes; uncompressed source: the pixel data value
// Seeds in corpus/ wrap the codec fuzzer's streams (16 x 16) in such headers.
#include "dicom/DcmObj.h"
#include "dicom/Uids.h"
#include "presentation/DCMPresentation.h"
#include "presentation/ImageConversion.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view SYNTAXES[] = {
    fw::IMPLICIT_VR_LITTLE_ENDIAN,
    fw::EXPLICIT_VR_LITTLE_ENDIAN,
    fw::EXPLICIT_VR_BIG_ENDIAN,
    fw::JPEG_BASELINE,
    fw::JPEG_EXTENDED,
    fw::JPEG_LOSSLESS,
    fw::JPEG_2000_LOSSLESS,
    fw::JPEG_2000,
    fw::MPEG2_MAIN_PROFILE,
    fw::RLE_LOSSLESS,
    fw::JPEG_LS_LOSSLESS,
    fw::DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN,
};
constexpr const char *PHOTOMETRICS[] = {"MONOCHROME2", "MONOCHROME1", "RGB", "YBR_FULL_422", "PALETTE COLOR", ""};
constexpr const char *MODALITIES[] = {"OT", "CT", "MR", "NM"};
constexpr std::size_t HEADER = 14;

std::uint16_t Little16(const std::uint8_t *p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

template <typename T, std::size_t N> const T &Pick(const T (&table)[N], std::uint8_t byte) { return table[byte % N]; }

std::uint16_t Bits(std::uint8_t byte) { return byte == 0 ? 8 : byte == 1 ? 16 : byte; }

bool IsUncompressed(std::string_view ts) {
  return ts == fw::IMPLICIT_VR_LITTLE_ENDIAN || ts == fw::EXPLICIT_VR_LITTLE_ENDIAN ||
         ts == fw::EXPLICIT_VR_BIG_ENDIAN || ts == fw::DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < HEADER)
    return 0;
  const std::string_view source = Pick(SYNTAXES, data[0]);
  const std::string_view target = Pick(SYNTAXES, data[1]);

  fw::DcmObj ds;
  ds.transferSyntax = std::string(source);
  ds.explicitVR = source != fw::IMPLICIT_VR_LITTLE_ENDIAN;
  ds.PutText(0x0008, 0x0060, Pick(MODALITIES, data[12]));
  ds.PutText(0x0028, 0x0004, Pick(PHOTOMETRICS, data[9]));
  if (data[10] != 0)
    ds.Put(fw::DcmTag::FromUS(0x0028, 0x0006, data[10] == 1 ? 0 : data[10] == 2 ? 1 : data[10]));
  if (data[11] != 0)
    ds.PutText(0x0028, 0x0008, std::to_string(data[11] % 8 - 1));
  ds.Put(fw::DcmTag::FromUS(0x0028, 0x0010, static_cast<std::uint16_t>(Little16(data + 4) + 1)));
  ds.Put(fw::DcmTag::FromUS(0x0028, 0x0011, static_cast<std::uint16_t>(Little16(data + 2) + 1)));
  ds.Put(fw::DcmTag::FromUS(0x0028, 0x0100, Bits(data[6])));
  ds.Put(fw::DcmTag::FromUS(0x0028, 0x0101, Bits(data[7])));
  ds.Put(fw::DcmTag::FromUS(0x0028, 0x0102, static_cast<std::uint16_t>(Bits(data[7]) - 1)));
  ds.Put(fw::DcmTag::FromUS(0x0028, 0x0103, data[8] & 1));
  if (data[13] & 2) {
    ds.PutText(0x0028, 0x1052, data[12] % 2 ? "-1024" : "7.5");
    ds.PutText(0x0028, 0x1053, data[12] % 3 ? "1" : "0.25");
  }
  if (data[13] & 1) {
    const std::uint8_t icon[4] = {1, 2, 3, 4};
    ds.Append(fw::DcmTag::FromBytes(0x0088, 0x0200, fw::UNDEFINED_LENGTH, nullptr, "SQ"));
    ds.Append(fw::DcmTag::FromBytes(0xFFFE, 0xE000, fw::UNDEFINED_LENGTH, nullptr, ""));
    ds.Append(fw::DcmTag::FromUS(0x0028, 0x0010, 2));
    ds.Append(fw::DcmTag::FromUS(0x0028, 0x0011, 2));
    ds.Append(fw::DcmTag::FromUS(0x0028, 0x0100, 8));
    ds.Append(fw::DcmTag::FromBytes(0x7FE0, 0x0010, 4, icon, "OB"));
    ds.Append(fw::DcmTag::FromBytes(0xFFFE, 0xE00D, 0, nullptr, ""));
    ds.Append(fw::DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, ""));
  }

  const std::uint8_t *rest = data + HEADER;
  std::size_t left = size - HEADER;
  if (IsUncompressed(source)) {
    ds.Append(fw::DcmTag::FromBytes(0x7FE0, 0x0010, static_cast<std::uint32_t>(left), rest, "OW"));
  } else {
    ds.Append(fw::DcmTag::FromBytes(0x7FE0, 0x0010, fw::UNDEFINED_LENGTH, nullptr, "OB"));
    if (!(data[13] & 4))
      ds.Append(fw::DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr, "DL"));
    while (left >= 2) {
      std::size_t length = rest[0] | std::size_t{rest[1]} << 8;
      rest += 2;
      left -= 2;
      length = length < left ? length : left;
      ds.Append(fw::DcmTag::FromBytes(0xFFFE, 0xE000, static_cast<std::uint32_t>(length), rest, "DL"));
      rest += length;
      left -= length;
    }
    ds.Append(fw::DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
  }

  if (fw::ConvertTransferSyntax(ds, target) && IsUncompressed(ds.transferSyntax)) {
    fw::TImages images;
    fw::PrepareDisplayImage(images, ds);
    fw::DCMPresentation p(images);
    p.zoom = static_cast<float>(images.columns > images.rows ? images.columns : images.rows) / 32.0f;
    p.windowWidth = data[4] | 1;
    p.windowCentre = data[5] * 16;
    QImage bitmap;
    fw::MakeRgbBitmap(bitmap, 32, 32, 0);
    fw::RenderImage(p, bitmap, 0, 0, 0, 0, images.frameCount - 1);
  }
  return 0;
}
