// ConvertTransferSyntax rewrites a data set in another transfer syntax (pixel
// data re-encoded, image attributes brought in line). It needs no GUI library:
// the tools, the store path and the network stack link it alone
// (fw_conversion).
//
// Attributes ConvertTransferSyntax rewrites (only elements that exist; texts
// keep even lengths):
//
//   element          when                                    new value
//   (0028,0006)      always, when it is 1                    0 (interleaved)
//   (0028,0004)      colour (not MON..., not PAL...),        "RGB "
//                    uncompressed, JPEG lossless or JPEG
//                    2000 target (the samples are stored
//                    as decoded, R, G, B)
//                    colour, JPEG baseline target            "YBR_FULL"
//   JPEG baseline, main image bits stored not 8 (the samples are scaled to
//   8 bits by the divisor d of ScaleTo8Bit: by bits stored, 16 for CT, 1 NM):
//   (0028,0100..0103)                                        8, 8, 7, 0
//   (0028,1052)                                              "-1024 " CT, else "0 "
//   (0028,1053)                                              d
//   JPEG extended, main image bits stored not 12:
//   (0028,0101..0103)                                        12, 11, 0
//   (0028,1052)                                              "-1024 " CT, else "0 "
//   JPEG 2000 (either), main image bits stored not 8:
//   (0028,1052), (0028,1053)                                 "-1024 " CT else "0 ", "1 "
//   lossy targets (.50, .51, .91): (0028,2110) "01" and (0028,2112) the
//   compression ratio as "0.00" are put.
//
// The attributes of an Icon Image Sequence (0088,0200) and its pixel data are
// neither taken for the image's nor rewritten.
#pragma once

#include "dicom/DcmObj.h"
#include "dicom/PixelData.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

// How a conversion runs; the defaults suit the station.
struct ConversionOptions {
  // Threads that decode the frames of a clip; 0 takes one per core (at most
  // 8). Tests pin it to show the parallel path on any machine.
  unsigned decodeThreads = 0;
  // Frames ConvertTransferSyntaxToFile decodes per range into its reused
  // buffer; 0 takes four per decoding thread.
  int streamFrames = 0;
};

// Converts ds in place to the target transfer syntax: pixel data decoded when
// encapsulated, planar colour interleaved, re-encoded for the target; its
// transferSyntax and explicitVR follow. True at once when target is empty or
// ds's own syntax. False, with a log line, when a syntax is not supported (ds
// untouched), the native pixel data has the wrong length, the fragments do
// not fit the image attributes (checked before the frames are allocated), a
// frame does not decode or encode, or ds has no pixel data; ds may then be
// partly converted and must be discarded.
bool ConvertTransferSyntax(DcmObj &ds, std::string_view target, const ConversionOptions &options = {});

// What ConvertTransferSyntaxToFile did.
enum class ConvertedFile { Written, NotConverted, NotWritten };

// ConvertTransferSyntax of ds, then DcmObj::Write to path: the same file,
// byte for byte. A clip with one fragment per frame converted to a little
// endian native syntax is not decoded whole: its frames are decoded a range
// at a time (ConversionOptions::streamFrames) into two reused buffers (one
// decoded while the other is written), so the decoded clip never sits in
// memory. A frame that does not decode then ends the write: NotConverted,
// logged as ConvertTransferSyntax logs it (the failed frames of the range
// that stopped it), and the file at path is left as it was.
// NotWritten when the conversion succeeded but the file could not be saved.
// ds is converted (its pixel data without its value when streamed) or, on
// failure, to be discarded.
ConvertedFile ConvertTransferSyntaxToFile(DcmObj &ds, std::string_view target, const std::string &path,
                                          const ConversionOptions &options = {});

// Decodes frames firstFrame .. firstFrame+frameCount-1 of the encapsulated
// pixel data whose (7FE0,0010) element is at index (one fragment per frame)
// into destination, frame f at (f - firstFrame) x frameBytes, as
// ConvertTransferSyntax decodes them (samples of bitsAllocated 8 as bytes,
// else 16-bit words). ds is left as it is, so a caller can take a long clip a
// range at a time into one reused buffer. threads as decodeThreads of
// ConversionOptions. The caller checks the fragments against the image
// attributes (CheckEncapsulatedFrames) before it sizes destination. False
// when the range is not there, or a frame does not decode; failedFrames,
// when given, then lists those frames by their numbers in the clip (nothing
// is logged).
struct FrameRangeDecoding {
  int firstFrame = 0;
  int frameCount = 0;
  std::uint8_t *destination = nullptr;
  std::uint64_t frameBytes = 0;
  int bitsAllocated = 8;
  StoredImageAttributes stored{};
  unsigned threads = 0;
  std::vector<int> *failedFrames = nullptr;
};
bool DecodeFrameRange(const DcmObj &ds, std::size_t index, const FrameRangeDecoding &range);

} // namespace fw
