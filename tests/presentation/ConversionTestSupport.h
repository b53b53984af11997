// Data sets for the conversion and display preparation tests: an image
// description, a data set holding it natively or as JPEG fragments, and
// access to element values.
#pragma once

#include "dicom/DcmCodec.h"
#include "dicom/DcmObj.h"
#include "dicom/Uids.h"
#include "dicom/codec/JpegCodec.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fw::test {

struct ImageShape {
  int columns = 8;
  int rows = 8;
  int frames = 1;
  int bitsAllocated = 8;
  int bitsStored = 8;
  int pixelRepresentation = 0;
  bool colour = false;
  std::string photometric = "MONOCHROME2";
  std::string modality = "OT";
  int planarConfiguration = -1; // absent when negative
  std::optional<std::string> intercept;
  std::optional<std::string> slope;
  std::string transferSyntax = std::string(EXPLICIT_VR_LITTLE_ENDIAN);

  std::size_t FrameBytes() const {
    return static_cast<std::size_t>(columns) * rows * (bitsAllocated / 8) * (colour ? 3 : 1);
  }
};

// The image attributes of shape, in tag order, without pixel data.
inline std::unique_ptr<DcmObj> AttributesOf(const ImageShape &shape) {
  auto ds = std::make_unique<DcmObj>();
  ds->transferSyntax = shape.transferSyntax;
  ds->explicitVR = shape.transferSyntax != IMPLICIT_VR_LITTLE_ENDIAN;
  ds->PutText(0x0008, 0x0016, SECONDARY_CAPTURE_IMAGE_STORAGE);
  ds->PutText(0x0008, 0x0018, "2.25.739104652811350928774.6.1");
  ds->PutText(0x0008, 0x0060, shape.modality);
  ds->PutText(0x0010, 0x0010, "Render^Test");
  ds->Put(DcmTag::FromUS(0x0028, 0x0002, shape.colour ? 3 : 1));
  ds->PutText(0x0028, 0x0004, shape.photometric);
  if (shape.planarConfiguration >= 0)
    ds->Put(DcmTag::FromUS(0x0028, 0x0006, static_cast<std::uint16_t>(shape.planarConfiguration)));
  if (shape.frames > 1)
    ds->PutText(0x0028, 0x0008, std::to_string(shape.frames));
  ds->Put(DcmTag::FromUS(0x0028, 0x0010, static_cast<std::uint16_t>(shape.rows)));
  ds->Put(DcmTag::FromUS(0x0028, 0x0011, static_cast<std::uint16_t>(shape.columns)));
  ds->Put(DcmTag::FromUS(0x0028, 0x0100, static_cast<std::uint16_t>(shape.bitsAllocated)));
  ds->Put(DcmTag::FromUS(0x0028, 0x0101, static_cast<std::uint16_t>(shape.bitsStored)));
  ds->Put(DcmTag::FromUS(0x0028, 0x0102, static_cast<std::uint16_t>(shape.bitsStored - 1)));
  ds->Put(DcmTag::FromUS(0x0028, 0x0103, static_cast<std::uint16_t>(shape.pixelRepresentation)));
  if (shape.intercept)
    ds->PutText(0x0028, 0x1052, *shape.intercept);
  if (shape.slope)
    ds->PutText(0x0028, 0x1053, *shape.slope);
  return ds;
}

// A data set with the pixels as native pixel data.
inline std::unique_ptr<DcmObj> NativeDataSet(const ImageShape &shape, const std::vector<std::uint8_t> &pixels) {
  auto ds = AttributesOf(shape);
  ds->Append(DcmTag::FromBytes(0x7FE0, 0x0010, static_cast<std::uint32_t>(pixels.size()), pixels.data(),
                               shape.bitsStored == 8 ? "OB" : "OW"));
  return ds;
}

// A data set whose pixel data are the given fragments (one per frame), after
// an empty offset table.
inline std::unique_ptr<DcmObj> EncapsulatedDataSet(const ImageShape &shape,
                                                   const std::vector<std::vector<std::uint8_t>> &fragments) {
  auto ds = AttributesOf(shape);
  ds->Append(DcmTag::FromBytes(0x7FE0, 0x0010, UNDEFINED_LENGTH, nullptr, "OB"));
  ds->Append(DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr, "DL"));
  for (const auto &fragment : fragments)
    ds->Append(DcmTag::FromBytes(0xFFFE, 0xE000, static_cast<std::uint32_t>(fragment.size()), fragment.data(), "DL"));
  ds->Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
  return ds;
}

// 8-bit frames as JPEG baseline streams.
inline std::vector<std::vector<std::uint8_t>> BaselineFrames(const ImageShape &shape,
                                                             const std::vector<std::uint8_t> &pixels) {
  std::vector<std::vector<std::uint8_t>> frames;
  for (int f = 0; f < shape.frames; ++f) {
    std::vector<std::uint8_t> stream;
    JpegEncode8({shape.columns, shape.rows, shape.colour ? 3 : 1}, pixels.data() + f * shape.FrameBytes(),
                JPEG_MODE_BASELINE, stream);
    frames.push_back(std::move(stream));
  }
  return frames;
}

// The value bytes of the first top-level element with the tag, as text; "<none>"
// when there is no such element.
inline std::string ValueOf(const DcmObj &ds, std::uint16_t group, std::uint16_t element) {
  const DcmTag *t = ds.FindElement(group, element);
  return t == nullptr ? "<none>" : std::string(t->data.begin(), t->data.end());
}

inline std::vector<std::uint8_t> PixelValue(const DcmObj &ds) {
  const DcmTag *t = ds.FindElement(0x7FE0, 0x0010);
  return t == nullptr ? std::vector<std::uint8_t>() : t->data.ToVector();
}

// The data set encoded in its own transfer syntax.
inline std::vector<std::uint8_t> Encoded(DcmObj &ds) {
  BufData stream;
  WriteObj(stream, ds);
  return stream.Bytes();
}

inline std::vector<std::uint8_t> Uniform16(std::size_t samples, unsigned value) {
  std::vector<std::uint8_t> pixels;
  for (std::size_t i = 0; i < samples; ++i) {
    pixels.push_back(static_cast<std::uint8_t>(value & 0xFF));
    pixels.push_back(static_cast<std::uint8_t>(value >> 8));
  }
  return pixels;
}

inline unsigned Sample16(const std::vector<std::uint8_t> &pixels, std::size_t i) {
  return pixels[2 * i] | unsigned{pixels[2 * i + 1]} << 8;
}

} // namespace fw::test
