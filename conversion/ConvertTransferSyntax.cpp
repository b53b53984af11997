// ConvertTransferSyntax: a data set rewritten in another transfer syntax (see
// ConvertTransferSyntax.h for the attribute rewrites).
#include "conversion/ConvertTransferSyntax.h"
#include "base/Log.h"
#include "conversion/IconSkipper.h"
#include "dicom/PixelData.h"
#include "dicom/Tags.h"
#include "dicom/Uids.h"
#include "dicom/codec/JpegCodec.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace fw {

namespace {

void LogError(const std::string &detail) { WriteLog("ERROR, ConvertTransferSyntax, " + detail); }

// Native pixel data; deflation is applied to the whole data set when it is
// written, not to the pixels.
bool IsUncompressed(std::string_view ts) {
  return ts == IMPLICIT_VR_LITTLE_ENDIAN || ts == EXPLICIT_VR_LITTLE_ENDIAN || ts == EXPLICIT_VR_BIG_ENDIAN ||
         ts == DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN;
}

void SetText(DcmTag &t, std::string_view text) { t.SetValue(text.data(), static_cast<std::uint32_t>(text.size())); }

void SetUS(DcmTag &t, std::uint16_t value) {
  const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)};
  t.SetValue(bytes, 2);
}

// A decimal text padded to even length with a space: "1 ", "16", "256 ".
std::string EvenText(int value) {
  std::string text = std::to_string(value);
  if (text.size() % 2 != 0)
    text += ' ';
  return text;
}

// The leading decimal digits of a text as a number; 0 when there are none.
// Values beyond what a frame count can be are held at a large bound.
std::int64_t LeadingNumber(const std::string &text) {
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      break;
    value = std::min<std::int64_t>(value * 10 + (c - '0'), std::int64_t{1} << 40);
  }
  return value;
}

// The ratio with two decimals and a full stop, whatever the process locale.
std::string RatioText(float ratio) {
  char text[64];
  const auto [end, error] = std::to_chars(text, text + sizeof text, ratio, std::chars_format::fixed, 2);
  return error == std::errc{} ? std::string(text, end) : std::string("0.00");
}

// The remembered image attributes and the state of the walk.
struct Attributes {
  std::uint16_t columns = 1;
  std::uint16_t rows = 1;
  std::uint16_t bitsStored = 1;
  std::uint16_t bitsAllocated = 1;
  std::uint16_t pixelRepresentation = 0;
  std::uint16_t planarConfiguration = 0;
  std::int64_t frames = 0;
  bool colour = false;
  // As stored, before the rewrite for the target: the decoders need it.
  std::string photometric;
  std::string modality;
  float slope = 1.0f;
  float intercept = 0.0f;
};

// Takes a main-image attribute of group 0028 and rewrites it for the target.
void TakeImageAttribute(DcmTag &t, Attributes &a, std::string_view target) {
  switch (t.element) {
  case 0x0010:
    a.rows = t.GetUS();
    break;
  case 0x0011:
    a.columns = t.GetUS();
    break;
  case 0x0100:
    a.bitsAllocated = t.GetUS();
    break;
  case 0x0101:
    a.bitsStored = t.GetUS();
    break;
  case 0x0103:
    a.pixelRepresentation = t.GetUS();
    break;
  case 0x0008:
    a.frames = LeadingNumber(t.GetText());
    break;
  case 0x1052:
    a.intercept = t.GetFloat();
    break;
  case 0x1053:
    a.slope = t.GetFloat();
    break;
  case 0x0006:
    a.planarConfiguration = t.GetUS();
    if (a.planarConfiguration == 1)
      SetUS(t, 0);
    break;
  case 0x0004: {
    const std::string photometric = t.GetText();
    a.photometric = photometric;
    if (photometric.rfind("MON", 0) != 0 && photometric.rfind("PAL", 0) != 0) {
      a.colour = true;
      // Decoded samples are R, G, B, and the encoders other than baseline
      // JPEG (RLE among them) store them as they are.
      if (IsUncompressed(target) || target == RLE_LOSSLESS || target == JPEG_LOSSLESS || target == JPEG_2000_LOSSLESS ||
          target == JPEG_2000)
        SetText(t, "RGB ");
      else if (target == JPEG_BASELINE)
        SetText(t, "YBR_FULL");
    }
    break;
  }
  default:
    break;
  }

  const std::string_view intercept = a.modality == "CT" ? "-1024 " : "0 ";
  if (target == JPEG_BASELINE && a.bitsStored != 8) {
    switch (t.element) {
    case 0x0100:
    case 0x0101:
      SetUS(t, 8);
      break;
    case 0x0102:
      SetUS(t, 7);
      break;
    case 0x0103:
      SetUS(t, 0);
      break;
    case 0x1052:
      SetText(t, intercept);
      break;
    case 0x1053:
      // The divisor the 8-bit scaling applies, so stored x slope + intercept
      // still gives the original values.
      SetText(t, EvenText(ScaleTo8BitDivisor(a.bitsStored, a.modality)));
      break;
    default:
      break;
    }
  } else if (target == JPEG_EXTENDED && a.bitsStored != 12) {
    switch (t.element) {
    case 0x0101:
      SetUS(t, 12);
      break;
    case 0x0102:
      SetUS(t, 11);
      break;
    case 0x0103:
      SetUS(t, 0);
      break;
    case 0x1052:
      SetText(t, intercept);
      break;
    default:
      break;
    }
  } else if ((target == JPEG_2000_LOSSLESS || target == JPEG_2000) && a.bitsStored != 8) {
    if (t.element == 0x1052)
      SetText(t, intercept);
    else if (t.element == 0x1053)
      SetText(t, "1 ");
  }
}

// Number of fragment items after the offset table item that follows the
// encapsulated pixel data element at index.
std::size_t CountFragments(const DcmObj &ds, std::size_t index) {
  std::size_t items = 0;
  for (std::size_t i = index + 1; i < ds.Count(); ++i) {
    const DcmTag *t = ds.ElementAt(i);
    if (t == nullptr || !t->Is(tag::Item) || t->length == UNDEFINED_LENGTH)
      break;
    ++items;
  }
  return items > 0 ? items - 1 : 0;
}

// A new item holding the fragment's bytes; the fragment is left empty, with
// length 0, for its container to drop or keep.
std::unique_ptr<DcmTag> MoveItem(DcmTag &fragment) {
  auto item = std::make_unique<DcmTag>();
  item->group = fragment.group;
  item->element = fragment.element;
  item->vr = fragment.vr;
  item->length = fragment.length;
  item->data = std::move(fragment.data);
  fragment.length = 0;
  return item;
}

bool IsItem(const DcmTag *t) { return t != nullptr && t->Is(tag::Item) && t->length != UNDEFINED_LENGTH; }

// A run of consecutive frames that one thread decodes from a container of
// its own: (7FE0,0010), the offset table item, one fragment per frame, the
// delimiter.
struct FrameRun {
  DcmObj pixels;
  int first = 0; // in the clip
  int count = 0;
  std::vector<int> failed; // numbered within the run
  bool done = false;
};

// Shares frames first .. first+count-1 out among threads runs; take(run)
// fills each run's container with its fragments.
template <typename Take>
std::vector<FrameRun> MakeRuns(const std::string &transferSyntax, int first, int count, unsigned threads, Take &&take) {
  std::vector<FrameRun> runs(threads);
  int next = first;
  for (unsigned r = 0; r < threads; ++r) {
    FrameRun &run = runs[r];
    run.first = next;
    run.count = count / static_cast<int>(threads) + (static_cast<int>(r) < count % static_cast<int>(threads));
    next += run.count;
    run.pixels.transferSyntax = transferSyntax;
    run.pixels.Append(DcmTag::FromBytes(tag::PixelData, UNDEFINED_LENGTH, nullptr, "OB"));
    run.pixels.Append(DcmTag::FromBytes(tag::Item, 0, nullptr, "DL"));
    take(run);
    run.pixels.Append(DcmTag::FromBytes(tag::SequenceDelimitationItem, 0, nullptr, "DL"));
  }
  return runs;
}

// Decodes every run into its place: frame f of the runs at
// range.destination + (f - range.firstFrame) x range.frameBytes. The calling
// thread decodes the first run. Failed frames come back numbered from
// range.firstFrame, in order.
bool DecodeRuns(std::vector<FrameRun> &runs, const FrameRangeDecoding &range, std::vector<int> &failed) {
  const int base = range.firstFrame;
  auto decode = [&](FrameRun &run) {
    try {
      run.done = DecodePixelData(
          run.pixels, 0,
          {.destination = range.destination + static_cast<std::uint64_t>(run.first - base) * range.frameBytes,
           .totalBytes = static_cast<std::size_t>(run.count * range.frameBytes),
           .frames = run.count,
           .bitsAllocated = range.bitsAllocated,
           .failedFrames = &run.failed,
           .logFrames = false,
           .stored = range.stored});
    } catch (const std::exception &) {
      run.done = false; // out of memory in a decoder
    }
  };
  {
    std::vector<std::jthread> workers;
    for (std::size_t r = 1; r < runs.size(); ++r)
      workers.emplace_back(decode, std::ref(runs[r]));
    decode(runs[0]);
  }
  bool all = true;
  for (const FrameRun &run : runs) {
    all = all && run.done;
    for (int f : run.failed)
      failed.push_back(run.first - base + f);
  }
  return all;
}

// Threads for count frames: as asked, or one per core; at most 8, at most
// one per frame.
unsigned ThreadsFor(unsigned wanted, std::uint64_t count) {
  const unsigned threads = wanted > 0 ? wanted : std::max(1u, std::thread::hardware_concurrency());
  return std::max(1u, std::min<unsigned>({threads, 8u, static_cast<unsigned>(std::min<std::uint64_t>(count, 8))}));
}

// DecodePixelData of a clip with one fragment per frame (all of them: the
// range from frame 0), the frames shared out among range.threads threads:
// each decodes its run of frames from a container of its own into its part of
// the buffer. The fragments are consumed from ds as DecodePixelData consumes
// them. Frame numbers in the log are the clip's.
bool DecodeFramesInParallel(DcmObj &ds, std::size_t index, const FrameRangeDecoding &range) {
  const int frames = range.frameCount;
  const std::size_t firstFragment = index + 2; // after the offset table item
  std::vector<FrameRun> runs = MakeRuns(ds.transferSyntax, 0, frames, range.threads, [&](FrameRun &run) {
    for (int f = run.first; f < run.first + run.count; ++f) {
      // The stream moves over; the emptied item is removed below.
      run.pixels.Append(MoveItem(*ds.ElementAt(firstFragment + static_cast<std::size_t>(f))));
    }
  });
  std::vector<int> failed;
  const bool all = DecodeRuns(runs, range, failed);

  // Offset table, fragments and delimiter leave ds.
  for (int k = 0; k <= frames; ++k)
    ds.RemoveAt(index + 1);
  if (const DcmTag *end = ds.ElementAt(index + 1); end != nullptr && end->Is(tag::SequenceDelimitationItem))
    ds.RemoveAt(index + 1);

  // The runs report frames by their own numbers and do not log: the clip's
  // failures are logged here once, in frame order, as a single decoder would.
  LogFailedFrames(failed);
  return all;
}

// The attributes as stored, for the decoders: the walk may have rewritten
// them for the target.
StoredImageAttributes StoredOf(const Attributes &a) {
  StoredImageAttributes stored;
  stored.photometric = a.photometric.empty() ? std::string("MONOCHROME2") : a.photometric;
  stored.pixelRepresentation = a.pixelRepresentation != 0 ? 1 : 0;
  return stored;
}

// Encapsulated pixel data taken out of a data set, to be decoded a range of
// frames at a time while the file is written.
struct StreamedPixels {
  bool active = false;
  DcmObj pixels; // (7FE0,0010), offset table item, one fragment per frame, delimiter
  int frames = 0;
  std::uint64_t frameBytes = 0;
  int bitsAllocated = 8;
  StoredImageAttributes stored;
  bool pad = false; // an odd total gets one 0x00 byte, as SetNativeValue adds
};

// Streaming writes the native value as it comes: only into the little
// endian syntaxes (no swapping, no deflation), only with a fragment per
// frame, and only when the writer's produced element (the first top-level
// (7FE0,0010) with a value) is certain to be this one, so not with the
// native pixel data of a flat icon sequence beside it.
bool CanStream(const DcmObj &ds, std::size_t index, std::string_view target, std::uint64_t frames,
               std::size_t fragments) {
  if ((target != EXPLICIT_VR_LITTLE_ENDIAN && target != IMPLICIT_VR_LITTLE_ENDIAN) || fragments != frames ||
      !IsItem(ds.ElementAt(index + 1)))
    return false;
  for (std::size_t i = 0; i < ds.Count(); ++i) {
    const DcmTag *t = ds.ElementAt(i);
    if (i != index && t != nullptr && t->Is(tag::PixelData) && t->length != UNDEFINED_LENGTH)
      return false;
  }
  return true;
}

// Moves the encapsulated pixel data at index (element, offset table,
// fragments, delimiter) into streamed and leaves the element as the header
// of the native value it will be: its VR and length, no bytes.
void TakeForStreaming(DcmObj &ds, std::size_t index, const Attributes &a, std::uint64_t frameSize, std::uint64_t frames,
                      StreamedPixels &streamed) {
  streamed.pixels.transferSyntax = ds.transferSyntax;
  streamed.pixels.Append(DcmTag::FromBytes(tag::PixelData, UNDEFINED_LENGTH, nullptr, "OB"));
  for (std::uint64_t k = 0; k <= frames; ++k) {
    streamed.pixels.Append(MoveItem(*ds.ElementAt(index + 1)));
    ds.RemoveAt(index + 1);
  }
  if (const DcmTag *end = ds.ElementAt(index + 1); end != nullptr && end->Is(tag::SequenceDelimitationItem))
    ds.RemoveAt(index + 1);
  streamed.pixels.Append(DcmTag::FromBytes(tag::SequenceDelimitationItem, 0, nullptr, "DL"));

  const std::uint64_t total = frameSize * frames;
  streamed.active = true;
  streamed.frames = static_cast<int>(frames);
  streamed.frameBytes = frameSize;
  streamed.bitsAllocated = a.bitsAllocated;
  streamed.stored = StoredOf(a);
  streamed.pad = total % 2 != 0;
  DcmTag &pixel = *ds.ElementAt(index);
  pixel.SetVR(a.bitsStored != 8 ? "OW" : "OB");
  pixel.data.clear();
  pixel.length = static_cast<std::uint32_t>(total + (streamed.pad ? 1 : 0));
}

// The pixels between the old encoding and the new: the element's next value
// itself when the target is native (a vector, as the element holds it, with
// room for the pad byte), else a scratch buffer that is not zero-filled, as
// every byte is decoded or copied before it is read.
class PixelBuffer {
public:
  PixelBuffer(std::uint64_t size, bool asValue) : size_(static_cast<std::size_t>(size)) {
    if (asValue) {
      value_.reserve(size_ + size_ % 2);
      value_.resize(size_);
      data_ = value_.data();
    } else {
      scratch_ = std::make_unique_for_overwrite<std::uint8_t[]>(size_);
      data_ = scratch_.get();
    }
  }
  // Takes over value, which holds at least size bytes; the rest is dropped.
  PixelBuffer(std::vector<std::uint8_t> value, std::uint64_t size)
      : size_(static_cast<std::size_t>(size)), value_(std::move(value)) {
    value_.resize(size_);
    data_ = value_.data();
  }
  std::uint8_t *data() { return data_; }
  std::size_t size() const { return size_; }
  // The value for the element; only when made asValue.
  std::vector<std::uint8_t> TakeValue() { return std::move(value_); }

private:
  std::size_t size_;
  std::vector<std::uint8_t> value_;
  std::unique_ptr<std::uint8_t[]> scratch_;
  std::uint8_t *data_ = nullptr;
};

// Decodes the a.frames frames (a.frames at least 1) of the encapsulated
// pixel data at index into the buffer, which holds them all.
bool DecodeFrames(DcmObj &ds, std::size_t index, PixelBuffer &buffer, std::size_t fragments, const Attributes &a,
                  unsigned decodeThreads) {
  const auto frames = static_cast<std::uint64_t>(a.frames);
  const unsigned threads = ThreadsFor(decodeThreads, frames);
  // Several fragments per frame need DecodePixelData's own frame finding.
  if (threads > 1 && fragments == frames && IsItem(ds.ElementAt(index + 1)))
    return DecodeFramesInParallel(ds, index,
                                  {.firstFrame = 0,
                                   .frameCount = static_cast<int>(frames),
                                   .destination = buffer.data(),
                                   .frameBytes = buffer.size() / frames,
                                   .bitsAllocated = a.bitsAllocated,
                                   .stored = StoredOf(a),
                                   .threads = threads});
  return DecodePixelData(ds, index,
                         {.destination = buffer.data(),
                          .totalBytes = buffer.size(),
                          .frames = static_cast<int>(frames),
                          .bitsAllocated = a.bitsAllocated,
                          .stored = StoredOf(a)});
}

// The native value EncodePixelData writes for an uncompressed target (VR by
// bits stored, padded to even length), made by moving the buffer in rather
// than copying a whole clip.
void SetNativeValue(DcmTag &pixel, std::vector<std::uint8_t> buffer, int bitsStored) {
  if (buffer.size() % 2 != 0)
    buffer.push_back(0x00);
  pixel.SetVR(bitsStored != 8 ? "OW" : "OB");
  pixel.length = static_cast<std::uint32_t>(buffer.size());
  pixel.data = std::move(buffer);
}

enum class PixelResult { Converted, EncoderFailed, Failed };

// What one pixel data element is converted to, and where the side results go.
struct PixelConversion {
  std::string_view target;
  ConversionOptions options{};
  // With it, a clip that can be streamed (CanStream) is not decoded here but
  // moved into it.
  StreamedPixels *streamed = nullptr;
  float &compressionRatio; // set by the encoder
};

// Decodes or copies the pixel data at index and encodes it for the target;
// index ends at the last entry the encoder wrote.
PixelResult ConvertPixelData(DcmObj &ds, std::size_t &index, Attributes &a, const PixelConversion &conversion) {
  const auto &[target, options, streamed, compressionRatio] = conversion;
  DcmTag &pixel = *ds.ElementAt(index);
  const std::uint64_t frameSize = std::uint64_t{a.columns} * a.rows * a.bitsAllocated / 8 * (a.colour ? 3 : 1);
  if (a.frames < 1)
    a.frames = 1;
  const auto frames = static_cast<std::uint64_t>(a.frames);
  // A native value holds at most 0xFFFFFFFE bytes, so no image may be larger.
  if (frameSize == 0 || frames > 0xFFFFFFFEull / frameSize) {
    LogError("the image attributes describe no storable pixel data");
    return PixelResult::Failed;
  }
  const std::uint64_t total = frameSize * frames;

  const bool nativeTarget = IsUncompressed(target);
  std::optional<PixelBuffer> held;
  if (pixel.length == UNDEFINED_LENGTH) {
    // Every frame needs a fragment: checked before the frames are allocated.
    const std::size_t fragments = CountFragments(ds, index);
    if (fragments < frames) {
      LogError(std::to_string(frames) + " frames but " + std::to_string(fragments) + " fragments");
      return PixelResult::Failed;
    }
    // A few hundred hostile bytes can claim gigabytes of frames: the streams
    // must agree with the attributes and be able to fill them first.
    if (!CheckEncapsulatedFrames(ds, index,
                                 {.frames = static_cast<int>(frames),
                                  .rows = a.rows,
                                  .columns = a.columns,
                                  .components = a.colour ? 3 : 1,
                                  .frameBytes = frameSize})) {
      LogError("the pixel data does not fit the image attributes");
      return PixelResult::Failed;
    }
    if (streamed != nullptr && CanStream(ds, index, target, frames, fragments)) {
      TakeForStreaming(ds, index, a, frameSize, frames, *streamed);
      return PixelResult::Converted;
    }
    PixelBuffer &buffer = held.emplace(total, nativeTarget);
    if (!DecodeFrames(ds, index, buffer, fragments, a, options.decodeThreads)) {
      LogError("the pixel data could not be decoded");
      return PixelResult::Failed;
    }
  } else {
    if (pixel.length != total && pixel.length != total + 1) {
      LogError("pixel data of " + std::to_string(pixel.length) + " bytes where " + std::to_string(total) +
               " were expected");
      return PixelResult::Failed;
    }
    // Into a native syntax the value is rewritten where it is; an encoder
    // reads a copy, so a failure leaves the element as it was.
    PixelBuffer &buffer = nativeTarget ? held.emplace(pixel.data.Release(), total) : held.emplace(total, false);
    if (!nativeTarget)
      std::copy_n(pixel.data.begin(), total, buffer.data());
    if (a.colour && a.planarConfiguration == 1) {
      const std::size_t plane = frameSize / 3;
      std::vector<std::uint8_t> frame(frameSize);
      for (std::uint64_t f = 0; f < frames; ++f) {
        std::uint8_t *start = buffer.data() + f * frameSize;
        std::copy(start, start + frameSize, frame.begin());
        for (std::size_t p = 0; p < plane; ++p) {
          start[3 * p] = frame[p];
          start[3 * p + 1] = frame[plane + p];
          start[3 * p + 2] = frame[2 * plane + p];
        }
      }
      a.planarConfiguration = 0;
    }
  }

  PixelBuffer &buffer = *held;
  if (nativeTarget) {
    SetNativeValue(*ds.ElementAt(index), buffer.TakeValue(), a.bitsStored);
    return PixelResult::Converted;
  }
  try {
    const PixelEncoding encoding{.pixels = buffer.data(),
                                 .pixelBytes = buffer.size(),
                                 .frames = static_cast<int>(frames),
                                 .columns = a.columns,
                                 .rows = a.rows,
                                 .isColour = a.colour,
                                 .bitsAllocated = a.bitsAllocated,
                                 .bitsStored = a.bitsStored,
                                 .rescale = {.pixelRepresentation = a.pixelRepresentation,
                                             .slope = a.slope,
                                             .intercept = a.intercept,
                                             .modality = a.modality},
                                 .targetTransferSyntax = target};
    if (EncodePixelData(ds, index, encoding, compressionRatio))
      return PixelResult::Converted;
  } catch (const std::exception &e) {
    LogError(std::string("encoder error: ") + e.what());
  }
  return PixelResult::EncoderFailed;
}

} // namespace

namespace {

// DecodeFrameRange with the fragments handed to the runs by take(fragment):
// a copy, or the fragment itself when the caller needs it no more.
template <typename Take>
bool DecodeRangeWith(const DcmObj &ds, std::size_t index, const FrameRangeDecoding &range, Take &&take) {
  const auto &[firstFrame, frameCount, destination, frameBytes, bitsAllocated, stored, threads, failedFrames] = range;
  const DcmTag *pixel = ds.ElementAt(index);
  if (pixel == nullptr || !pixel->Is(tag::PixelData) || pixel->length != UNDEFINED_LENGTH || firstFrame < 0 ||
      frameCount < 1 || frameBytes == 0 || destination == nullptr)
    return false;
  // Every frame of the range needs its own fragment after the offset table.
  const std::size_t firstFragment = index + 2;
  if (!IsItem(ds.ElementAt(index + 1)) ||
      CountFragments(ds, index) < static_cast<std::size_t>(firstFrame) + static_cast<std::size_t>(frameCount))
    return false;
  std::vector<FrameRun> runs =
      MakeRuns(ds.transferSyntax, firstFrame, frameCount, ThreadsFor(threads, static_cast<std::uint64_t>(frameCount)),
               [&](FrameRun &run) {
                 for (int f = run.first; f < run.first + run.count; ++f)
                   run.pixels.Append(take(firstFragment + static_cast<std::size_t>(f)));
               });
  std::vector<int> failed;
  const bool all = DecodeRuns(runs, range, failed);
  for (int &f : failed)
    f += firstFrame;
  if (failedFrames != nullptr)
    *failedFrames = std::move(failed);
  return all;
}

} // namespace

bool DecodeFrameRange(const DcmObj &ds, std::size_t index, const FrameRangeDecoding &range) {
  // Copies: ds stays whole, so its frames can be taken again.
  return DecodeRangeWith(ds, index, range,
                         [&ds](std::size_t at) { return std::make_unique<DcmTag>(*ds.ElementAt(at)); });
}

namespace {

bool Convert(DcmObj &ds, std::string_view target, const ConversionOptions &options, StreamedPixels *streamed) {
  if (target.empty() || target == ds.transferSyntax)
    return true;
  const bool explicitVR = target != IMPLICIT_VR_LITTLE_ENDIAN;
  if (!IsSupportedTransferSyntax(ds.transferSyntax) || !IsSupportedTransferSyntax(target)) {
    LogError("unsupported transfer syntax " + ds.transferSyntax + " to " + std::string(target));
    return false;
  }
  // MPEG-2 and JPEG-LS are read as sources but have no encoder: the pixel
  // data would be stored natively under their label.
  if (!IsConversionTarget(target)) {
    LogError("no encoder for transfer syntax " + std::string(target));
    return false;
  }

  Attributes a;
  float compressionRatio = 0;
  bool result = false;
  bool seenPixelData = false;
  IconSkipper icon;
  for (std::size_t i = 0; i < ds.Count(); ++i) {
    DcmTag *t = ds.ElementAt(i);
    if (t == nullptr)
      continue; // nested containers are passed over
    if (icon.Skip(*t))
      continue;
    if (t->Is(tag::Modality)) {
      a.modality = t->GetText();
    } else if (t->group == 0x0028) {
      TakeImageAttribute(*t, a, target);
    } else if (t->Is(tag::PixelData)) {
      seenPixelData = true;
      switch (ConvertPixelData(
          ds, i, a,
          {.target = target, .options = options, .streamed = streamed, .compressionRatio = compressionRatio})) {
      case PixelResult::Converted:
        result = true;
        break;
      case PixelResult::EncoderFailed:
        result = false;
        break;
      case PixelResult::Failed:
        return false;
      }
    }
  }
  if (!seenPixelData) {
    // A structured report or a plan between the native encodings is just
    // re-encoded; a compressed label on it would claim pixels it has not.
    if (IsUncompressed(target))
      result = true;
    else
      LogError("no pixel data");
  }

  if (target == JPEG_BASELINE || target == JPEG_EXTENDED || target == JPEG_2000) {
    ds.PutText(tag::LossyImageCompression, "01");
    ds.PutText(tag::LossyImageCompressionRatio, RatioText(compressionRatio));
  }
  ds.transferSyntax = std::string(target);
  ds.explicitVR = explicitVR;
  return result;
}

// Decodes the streamed frames a range at a time and hands each range to
// write, in order; false at the first range that does not decode (its failed
// frames logged) or write that fails. Two reused buffers: while one range is
// written, the next is decoded into the other, so the decoders keep every
// core busy while the file takes the bytes.
bool ProduceFrames(StreamedPixels &streamed, const ConversionOptions &options, bool &decodeFailed,
                   const std::function<bool(const std::uint8_t *, std::size_t)> &write) {
  const unsigned threads = ThreadsFor(options.decodeThreads, static_cast<std::uint64_t>(streamed.frames));
  const int range =
      std::min(options.streamFrames > 0 ? options.streamFrames : 4 * static_cast<int>(threads), streamed.frames);
  const auto rangeBytes = static_cast<std::size_t>(static_cast<std::uint64_t>(range) * streamed.frameBytes);
  // Every byte is decoded before it is written: no zero fill. A clip of one
  // range needs no second buffer.
  const bool twoRanges = streamed.frames > range;
  const auto buffers = std::make_unique_for_overwrite<std::uint8_t[]>((twoRanges ? 2 : 1) * rangeBytes);

  struct Slot {
    std::uint8_t *bytes = nullptr;
    int first = 0;
    int count = 0;
    std::vector<int> failed;
    bool decoded = false;
  };
  Slot slots[2];
  slots[0].bytes = buffers.get();
  slots[1].bytes = twoRanges ? buffers.get() + rangeBytes : nullptr;
  const auto decode = [&](Slot &slot) {
    // Each frame is decoded once: its fragment moves to the decoder.
    slot.decoded = DecodeRangeWith(streamed.pixels, 0,
                                   {.firstFrame = slot.first,
                                    .frameCount = slot.count,
                                    .destination = slot.bytes,
                                    .frameBytes = streamed.frameBytes,
                                    .bitsAllocated = streamed.bitsAllocated,
                                    .stored = streamed.stored,
                                    .threads = threads,
                                    .failedFrames = &slot.failed},
                                   [&](std::size_t at) { return MoveItem(*streamed.pixels.ElementAt(at)); });
  };
  slots[0].count = range;
  decode(slots[0]);
  for (int k = 0;; k = 1 - k) {
    Slot &current = slots[k];
    if (!current.decoded) {
      LogFailedFrames(current.failed);
      decodeFailed = true;
      return false;
    }
    Slot &following = slots[1 - k];
    following.first = current.first + current.count;
    following.count = std::min(range, streamed.frames - following.first);
    std::jthread decoder;
    if (following.count > 0) {
      try {
        decoder = std::jthread(decode, std::ref(following));
      } catch (const std::system_error &) {
        decode(following); // no thread to spare: one after the other
      }
    }
    const bool written =
        write(current.bytes, static_cast<std::size_t>(static_cast<std::uint64_t>(current.count) * streamed.frameBytes));
    decoder = {}; // joined
    if (!written)
      return false;
    if (following.count <= 0)
      break;
  }
  const std::uint8_t pad = 0x00;
  return !streamed.pad || write(&pad, 1);
}

} // namespace

bool ConvertTransferSyntax(DcmObj &ds, std::string_view target, const ConversionOptions &options) {
  return Convert(ds, target, options, nullptr);
}

ConvertedFile ConvertTransferSyntaxToFile(DcmObj &ds, std::string_view target, const std::string &path,
                                          const ConversionOptions &options) {
  StreamedPixels streamed;
  if (!Convert(ds, target, options, &streamed))
    return ConvertedFile::NotConverted;
  if (!streamed.active)
    return ds.Write(path) ? ConvertedFile::Written : ConvertedFile::NotWritten;
  bool decodeFailed = false;
  // No buffer or no thread: the write stops and the old file stays.
  std::optional<std::string> resources;
  const bool written = ds.Write(path, tag::PixelData, [&](const auto &write) {
    try {
      return ProduceFrames(streamed, options, decodeFailed, write);
    } catch (const std::exception &e) {
      resources = e.what();
      return false;
    }
  });
  if (resources || decodeFailed) {
    LogError(decodeFailed ? std::string("the pixel data could not be decoded")
                          : "the frames could not be decoded: " + *resources);
    return ConvertedFile::NotConverted;
  }
  return written ? ConvertedFile::Written : ConvertedFile::NotWritten;
}

} // namespace fw
