// Encapsulated pixel data: moving a data set's (7FE0,0010) between the native
// layout and the compressed (encapsulated) layout, and the pixel value
// conversions done before lossy or reduced-depth compression.
//
// Encapsulated layout, entries of the container in order (flat form):
//
//   (7FE0,0010) OB, UNDEFINED_LENGTH, no value
//   (FFFE,E000) DL, length 0               empty basic offset table
//   (FFFE,E000) DL, frame 0's stream       one item per frame, even length
//   ...                                    (0x00 fill byte when odd)
//   (FFFE,E0DD) DL, length 0
//
// Native layout: (7FE0,0010) OW (bits stored other than 8) or OB, value =
// frames x rows x columns x bits allocated / 8 bytes (x 3 for colour, R, G, B
// interleaved per pixel; 16-bit samples little-endian), padded to even length.
//
//   transfer syntax          encoder                         decoder (by frame header)
//   .4.70 JPEG lossless      JpegEncode8 lossless / 16       SOF3 <= 8 bits: JpegDecode8
//                                                            (JpegDecode16 into 16-bit slots),
//                                                            SOF3 9..16 bits: JpegDecode16,
//                                                            raw big-endian samples: swapped copy
//   .4.50 JPEG baseline      JpegEncode8 quality 90          SOF0/1/2 8 bits: JpegDecode8
//   .4.51 JPEG extended      JpegEncode12 quality 75         SOF1 12 bits: JpegDecode12
//   .4.90 JPEG 2000 lossless J2kEncode rate 0                J2kDecode
//   .4.91 JPEG 2000          J2kEncode rate 10               J2kDecode
//   .5    RLE lossless       RleEncode                       RleDecode (8, 16, 32 bits)
//   .4.80 JPEG-LS lossless   none                            JlsDecode
//   .4.81 JPEG-LS near-l.    none                            JlsDecode
//
// Colour of lossy JPEG streams without a JFIF or Adobe marker: the
// Photometric Interpretation decides ("RGB": no transform, "YBR_...": YCbCr
// to RGB). JPEG 2000 samples follow the Pixel Representation when the
// codestream's signedness differs.
//
// The JPEG decoder is chosen per stream by its frame marker and precision, so
// any of the three JPEG syntaxes decodes whatever JPEG process it carries.
// A stream whose image is not exactly the frame slot (rows x columns x
// components x sample size) is a failed frame.
//
// Fragments to frames: fragment k (after the offset table) is frame k. A
// single-frame image takes all its fragments as one stream. With several
// frames and more fragments than frames, the basic offset table, when
// present and consistent, says where each frame starts.
#pragma once

#include "dicom/DcmObj.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

// Decodes the encapsulated pixel data whose (7FE0,0010) element is at index
// into destination (totalBytes bytes, frame f at f x (totalBytes / frames);
// samples of bitsAllocated 8 as bytes, else 16-bit words), all of them fields
// of PixelDecoding below. The decoder is chosen by c.transferSyntax and each
// stream's header. The offset table item,
// the fragments and the delimiter are removed: (7FE0,0010) is left alone with
// UNDEFINED_LENGTH, for EncodePixelData to complete.
//
// True when every frame was decoded. Each frame that was not is logged as
// "ERROR, DecodePixelData, frame " + n + " failed" (n from 0; after 16 such
// lines one more line counts the rest) and its number added to failedFrames
// (when given); its slot keeps what was there or what the decoder wrote
// before failing. A transfer syntax without a decoder here fails every frame
// after removing only the offset table. Arguments that cannot describe the
// data (no pixel data of undefined length at index, frames < 1, fewer bytes
// than frames, no destination) fail with the container unchanged and
// failedFrames untouched.
//
// logFrames false leaves the failed frames to failedFrames only: a caller that
// decodes a clip in parts logs them once, numbered in the clip, with
// LogFailedFrames.
//
// The image attributes the decoders need are taken from c's top level
// unless the caller gives them (a caller that already rewrote them for its
// target passes the original values).
struct StoredImageAttributes {
  std::string photometric;      // empty: (0028,0004) of c
  int pixelRepresentation = -1; // negative: (0028,0103) of c
};
// Where DecodePixelData puts the frames, and how it reports them.
struct PixelDecoding {
  std::uint8_t *destination = nullptr;
  std::size_t totalBytes = 0;
  int frames = 1;
  int bitsAllocated = 8;
  std::vector<int> *failedFrames = nullptr;
  bool logFrames = true;
  StoredImageAttributes stored{};
};
bool DecodePixelData(DcmObj &c, std::size_t index, const PixelDecoding &decoding);

// The lines DecodePixelData writes for these failed frames (in the given
// order; the first 16 named, the rest counted).
void LogFailedFrames(const std::vector<int> &frames);

// Checks, before a caller allocates frames x frameBytes bytes (FrameGeometry)
// for DecodePixelData, that the encapsulated pixel data at index can fill them:
// each frame's stream (found as DecodePixelData finds it) starts with a frame
// header (JPEG SOFn, JPEG-LS SOF55, JPEG 2000 SIZ) of exactly columns x rows
// x components, or for RLE a header of one segment per byte plane
// (components x frameBytes / (rows x columns x components)) at rising
// offsets inside the stream, and the streams are long enough to decode to
// the whole image (a bound per coding process, for RLE per segment; images
// up to 64 MiB are exempt). A JPEG lossless frame of raw samples is its own
// length. False, with one "ERROR,
// CheckEncapsulatedFrames, ..." line, otherwise, also for a transfer syntax
// without a decoder here. Nothing is changed or allocated beyond one
// frame header's bytes.
struct FrameGeometry {
  int frames = 1;
  int rows = 0;
  int columns = 0;
  int components = 1;
  std::uint64_t frameBytes = 0;
};
bool CheckEncapsulatedFrames(const DcmObj &c, std::size_t index, const FrameGeometry &geometry);

// The conversions (ScaleTo8Bit and the others at the end) read byteCount
// bytes of 16-bit little-endian samples, signed when pixelRepresentation is
// not 0, and compute
//   v = truncate(intercept + slope x sample) toward zero, + 1024 for "CT"
// (a slope or intercept that is not a finite number makes v 0).
struct SampleRescale {
  int pixelRepresentation = 0;
  float slope = 1;
  float intercept = 0;
  std::string_view modality{};
};

// Replaces the pixel data element at index by the frames in pixels (native
// layout above, pixelBytes bytes) encoded for targetTransferSyntax, all of
// them fields of PixelEncoding below: the encapsulated layout for the five
// compressed syntaxes, else a native value. On return index designates the
// last entry of the new pixel data (the delimiter, or the element itself).
// The conversions below, with the encoding's rescale, may change pixels in
// place. compressionRatio is set (raw bytes / encoded bytes) for the lossy
// targets .4.50, .4.51 and .4.91 only. The samples are interleaved.
//
// Sample size comes from bitsAllocated (8: bytes, 16: words):
//   .4.70  8: JpegEncode8 lossless; 16: JpegEncode16; 1 or 3 components
//   .4.50  8: JpegEncode8 baseline; 16: ScaleTo8Bit of the frame, then that
//   .4.51  16 only, bits stored not 8: ScaleTo12Bit in place unless bits
//          stored is 12, then JpegEncode12
//   .4.9x  greyscale 16: RescaleInPlace; then J2kEncode with bits =
//          bitsAllocated
//   .5     8, 16 or 32: RleEncode, samples unchanged
// False, with the container unchanged and a log line, when the target
// refuses the data (JPEG extended of 8-bit data, compressed targets of bits
// allocated other than 8 and 16), the sizes do not fit pixelBytes, or
// J2kEncode fails for a frame. A JPEG encoder's JpegError propagates; the
// container is then unchanged too.
struct PixelEncoding {
  std::uint8_t *pixels = nullptr;
  std::size_t pixelBytes = 0;
  int frames = 1;
  int columns = 0;
  int rows = 0;
  bool isColour = false;
  int bitsAllocated = 8;
  int bitsStored = 8;
  SampleRescale rescale{};
  std::string_view targetTransferSyntax{};
};
bool EncodePixelData(DcmObj &c, std::size_t &index, const PixelEncoding &encoding, float &compressionRatio);

// v / d (integer division toward zero), clamped to 0..255, one byte per
// sample into out (byteCount / 2 bytes). d = 4, 16, 64, 256 for bits stored
// 10, 12, 14, 16, else 1; 16 for "CT" and 1 for "NM" whatever bits stored.
void ScaleTo8Bit(std::uint8_t *out, const std::uint8_t *in, std::size_t byteCount, int bitsStored,
                 const SampleRescale &rescale);
// v clamped to 0..4095, in place.
void ScaleTo12Bit(std::uint8_t *samples, std::size_t byteCount, const SampleRescale &rescale);
// v with negatives made 0, low 16 bits, in place.
void RescaleInPlace(std::uint8_t *samples, std::size_t byteCount, const SampleRescale &rescale);

// The divisor ScaleTo8Bit uses for these bits stored and modality.
int ScaleTo8BitDivisor(int bitsStored, std::string_view modality);

} // namespace fw
