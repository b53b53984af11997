// Encapsulated pixel data: DecodePixelData, EncodePixelData and the pixel
// value conversions (see PixelData.h for the layouts and the codec table).
#include "dicom/PixelData.h"

#include "base/Log.h"
#include "dicom/Tags.h"
#include "dicom/Uids.h"
#include "dicom/codec/J2kCodec.h"
#include "dicom/codec/JlsCodec.h"
#include "dicom/codec/JpegCodec.h"
#include "dicom/codec/RleCodec.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

namespace fw {

namespace {

constexpr std::uint16_t PIXEL_GROUP = 0x7FE0;
constexpr std::uint16_t PIXEL_ELEMENT = 0x0010;
constexpr std::uint16_t ITEM_GROUP = 0xFFFE;
constexpr std::uint16_t ITEM = 0xE000;
constexpr std::uint16_t SEQUENCE_DELIMITER = 0xE0DD;
// Bytes of an item header in the stream: the basic offset table counts them.
constexpr std::uint64_t ITEM_HEADER_BYTES = 8;
// Failed frames named one by one in the log; the rest are counted.
constexpr std::size_t MAX_LOGGED_FRAMES = 16;
// How far into a frame's stream its frame header is looked for.
constexpr std::size_t FRAME_HEADER_SEARCH_BYTES = 65536;

// Most samples one byte of a stream can decode to. Every sample of a
// lossless Huffman stream takes at least one bit; every 8 x 8 block of a
// sequential Huffman stream at least two (DC difference and end of block),
// and a block of a subsampled component stands for at most 16 blocks of
// output. Progressive and arithmetic JPEG and JPEG 2000 have no such floor
// (a uniform JPEG 2000 frame takes a few hundred bytes whatever its size):
// they get a ratio beyond any real image.
constexpr std::uint64_t MAX_SAMPLES_PER_BYTE_LOSSLESS = 8;
constexpr std::uint64_t MAX_SAMPLES_PER_BYTE_SEQUENTIAL = 8 * 64 * 16 / 2;
constexpr std::uint64_t MAX_EXPANSION_OTHER = std::uint64_t{1} << 18;
// A PackBits control byte and the byte it repeats give at most 128 bytes.
constexpr std::uint64_t MAX_RLE_EXPANSION = 64;
constexpr std::size_t RLE_HEADER_BYTES = 64;
// A JPEG-LS run-mode bit stands for at most 2^15 samples (pixels when the
// components are interleaved), and never for more than the rest of a row.
constexpr std::uint64_t MAX_JPEG_LS_RUN = 32768;
// Images up to this size are allocated whatever their fragments hold.
constexpr std::uint64_t SMALL_IMAGE_BYTES = std::uint64_t{64} << 20;

bool IsItemElement(const DcmTag *t) { return t != nullptr && t->Is(ITEM_GROUP, ITEM) && t->length != UNDEFINED_LENGTH; }

std::unique_ptr<DcmTag> EmptyDL(std::uint16_t element) {
  return DcmTag::FromBytes(ITEM_GROUP, element, 0, nullptr, "DL");
}

// An item holding one frame's stream, moved in, made even with a 0x00 byte.
std::unique_ptr<DcmTag> FrameItem(std::vector<std::uint8_t> stream) {
  auto item = EmptyDL(ITEM);
  if (stream.size() % 2 != 0)
    stream.push_back(0x00);
  item->length = static_cast<std::uint32_t>(stream.size());
  item->data = std::move(stream);
  return item;
}

int SlotSampleBytes(int bitsAllocated) { return bitsAllocated <= 8 ? 1 : bitsAllocated <= 16 ? 2 : 4; }

// Bytes to 16-bit little-endian words of the same value.
void Widen(const std::vector<std::uint8_t> &bytes, std::uint8_t *words) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    words[2 * i] = bytes[i];
    words[2 * i + 1] = 0;
  }
}

// Decodes 8-bit samples into a slot of 16-bit words through a byte buffer.
template <typename Decode> bool DecodeWidened(Decode decode, std::uint8_t *slot, std::size_t slotSize) {
  std::vector<std::uint8_t> bytes(slotSize / 2);
  if (!decode(bytes.data(), bytes.size()))
    return false;
  Widen(bytes, slot);
  return true;
}

bool DecodeJpegFrame(std::span<const std::uint8_t> streamBytes, std::span<std::uint8_t> slotBytes, int slotSample,
                     bool rawAllowed, JpegColour colour) {
  const std::uint8_t *stream = streamBytes.data();
  const std::size_t length = streamBytes.size();
  std::uint8_t *slot = slotBytes.data();
  const std::size_t slotSize = slotBytes.size();
  const std::optional<JpegFrameInfo> info = ReadJpegFrameHeader(stream, length);
  // A JPEG-LS stream under a JPEG label is no stream these decoders read.
  if (!info || info->marker == JPEG_LS_FRAME_MARKER) {
    // Some writers put big-endian samples in a lossless fragment as they are.
    if (!rawAllowed || slotSample != 2 || length != slotSize)
      return false;
    for (std::size_t i = 0; i + 1 < length; i += 2) {
      slot[i] = stream[i + 1];
      slot[i + 1] = stream[i];
    }
    return true;
  }
  // The stream's image must be exactly the slot: larger would overflow it,
  // smaller would leave part of the frame undecoded.
  const std::uint64_t samples =
      static_cast<std::uint64_t>(info->rows) * static_cast<std::uint64_t>(info->columns) * info->components;
  if (samples == 0 || samples * static_cast<std::uint64_t>(slotSample) != slotSize)
    return false;
  if (info->lossless()) {
    if (info->precision <= 8 && slotSample == 1)
      return JpegDecode8(stream, length, slot, slotSize) == 0;
    if (info->precision <= 16 && slotSample == 2)
      return JpegDecode16(stream, length, slot, slotSize) == 0; // widens 8-bit streams itself
    return false;
  }
  if (info->precision == 8 && slotSample == 1)
    return JpegDecode8Colour(stream, length, slot, slotSize, colour) == 0;
  if (info->precision == 8 && slotSample == 2)
    return DecodeWidened(
        [&](std::uint8_t *out, std::size_t size) { return JpegDecode8Colour(stream, length, out, size, colour) == 0; },
        slot, slotSize);
  if (info->precision == 12 && slotSample == 2)
    return JpegDecode12Colour(stream, length, slot, slotSize, colour) == 0;
  return false;
}

// Image size and sample width from a J2K codestream's SIZ segment, found at
// the start of the stream or inside a JP2 file.
struct J2kSize {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  std::uint64_t components = 0;
  int sampleBytes = 0;
};

// a x b x c x d == target, without overflow.
bool ProductIs(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d, std::uint64_t target) {
  std::uint64_t product = 1;
  for (const std::uint64_t factor : {a, b, c, d}) {
    if (factor == 0 || factor > target / product)
      return false;
    product *= factor;
  }
  return product == target;
}

std::uint64_t Big16(const std::uint8_t *p) { return std::uint64_t{p[0]} << 8 | p[1]; }
std::uint64_t Big32(const std::uint8_t *p) { return Big16(p) << 16 | Big16(p + 2); }

// The codestream of a JP2 file: the content of its contiguous codestream
// box ("jp2c"), found by walking the boxes from the start. The whole stream
// when it does not open with the JP2 signature box.
std::pair<const std::uint8_t *, std::size_t> J2kCodestream(const std::uint8_t *stream, std::size_t length) {
  constexpr std::uint8_t JP2_SIGNATURE[12] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
  if (length < sizeof(JP2_SIGNATURE) || !std::equal(std::begin(JP2_SIGNATURE), std::end(JP2_SIGNATURE), stream))
    return {stream, length};
  std::size_t at = 0;
  while (length - at >= 8) {
    std::uint64_t boxLength = Big32(stream + at);
    std::size_t header = 8;
    if (boxLength == 1) { // the length follows in 64 bits
      if (length - at < 16)
        break;
      boxLength = Big32(stream + at + 8) << 32 | Big32(stream + at + 12);
      header = 16;
    } else if (boxLength == 0) { // the box runs to the end
      boxLength = length - at;
    }
    if (boxLength < header || boxLength > length - at)
      break;
    if (std::equal(stream + at + 4, stream + at + 8, "jp2c"))
      return {stream + at + header, static_cast<std::size_t>(boxLength) - header};
    at += static_cast<std::size_t>(boxLength);
  }
  return {nullptr, 0};
}

// The SIZ segment of a J2K codestream, found by walking its main header's
// marker segments from SOC (each but SOC with its own length), not by
// searching for its bytes: the data of another segment (a comment) may hold
// anything, also bytes that look like SOC and SIZ.
std::optional<J2kSize> ReadJ2kSize(const std::uint8_t *stream, std::size_t length) {
  const auto [codestream, size] = J2kCodestream(stream, length);
  constexpr std::uint64_t SOC = 0xFF4F, SIZ = 0xFF51, SOT = 0xFF90, SOD = 0xFF93, EOC = 0xFFD9;
  if (codestream == nullptr || size < 2 || Big16(codestream) != SOC)
    return std::nullopt;
  std::size_t at = 2;
  while (size - at >= 4) {
    const std::uint64_t marker = Big16(codestream + at);
    if (marker < 0xFF01 || marker == SOT || marker == SOD || marker == EOC)
      return std::nullopt;                                    // not a marker, or the main header ended without SIZ
    const std::uint64_t segment = Big16(codestream + at + 2); // its bytes after the marker
    if (segment < 2 || segment > size - at - 2)
      return std::nullopt;
    if (marker != SIZ) {
      at += 2 + static_cast<std::size_t>(segment);
      continue;
    }
    // Lsiz, Rsiz, Xsiz, Ysiz, XOsiz, YOsiz, XTsiz, YTsiz, XTOsiz, YTOsiz,
    // Csiz, then Ssiz, XRsiz, YRsiz of each component.
    const std::uint8_t *siz = codestream + at + 2;
    constexpr std::size_t SSIZ0 = 2 + 2 + 8 * 4 + 2;
    if (segment < SSIZ0 + 3)
      return std::nullopt;
    const std::uint64_t xsiz = Big32(siz + 4), ysiz = Big32(siz + 8);
    const std::uint64_t xosiz = Big32(siz + 12), yosiz = Big32(siz + 16);
    const std::uint64_t components = Big16(siz + SSIZ0 - 2);
    if (xsiz <= xosiz || ysiz <= yosiz || components == 0 || segment < SSIZ0 + 3 * components)
      return std::nullopt;
    const int precision = (siz[SSIZ0] & 0x7F) + 1;
    return J2kSize{xsiz - xosiz, ysiz - yosiz, components, precision <= 8 ? 1 : precision <= 16 ? 2 : 4};
  }
  return std::nullopt;
}

bool DecodeJ2kFrame(const std::uint8_t *stream, std::size_t length, std::uint8_t *slot, std::size_t slotSize,
                    int slotSample, int pixelRepresentation) {
  const std::optional<J2kSize> size = ReadJ2kSize(stream, length);
  if (!size ||
      !ProductIs(size->width, size->height, size->components, static_cast<std::uint64_t>(slotSample), slotSize))
    return false;
  if (size->sampleBytes == slotSample)
    return J2kDecode(stream, length, slot, slotSize, pixelRepresentation);
  if (size->sampleBytes == 1 && slotSample == 2)
    return DecodeWidened([&](std::uint8_t *out, std::size_t bytes) { return J2kDecode(stream, length, out, bytes, 0); },
                         slot, slotSize);
  return false;
}

enum class Codec { None, Jpeg, JpegLossless, J2k, Rle, JpegLs };

// JPEG streams without a colour marker take their colour space from here.
JpegColour ColourOf(std::string_view photometric) {
  while (!photometric.empty() && (photometric.back() == ' ' || photometric.back() == '\0'))
    photometric.remove_suffix(1);
  if (photometric == "RGB")
    return JpegColour::Rgb;
  if (photometric.starts_with("YBR"))
    return JpegColour::Ybr;
  return JpegColour::Guess;
}

Codec DecoderFor(std::string_view transferSyntax) {
  if (transferSyntax == RLE_LOSSLESS)
    return Codec::Rle;
  if (transferSyntax == JPEG_LS_LOSSLESS || transferSyntax == JPEG_LS_NEAR_LOSSLESS)
    return Codec::JpegLs;
  if (transferSyntax == JPEG_LOSSLESS)
    return Codec::JpegLossless;
  if (transferSyntax == JPEG_BASELINE || transferSyntax == JPEG_EXTENDED)
    return Codec::Jpeg;
  if (transferSyntax == JPEG_2000_LOSSLESS || transferSyntax == JPEG_2000)
    return Codec::J2k;
  return Codec::None;
}

std::uint32_t Little32(const std::uint8_t *p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

// Most bytes a JPEG-LS stream of one byte can decode to.
std::uint64_t JpegLsMaxExpansion(std::uint64_t columns, std::uint64_t components, std::uint64_t sampleBytes) {
  return 8 * std::clamp<std::uint64_t>(columns, 1, MAX_JPEG_LS_RUN) * std::max<std::uint64_t>(components, 1) *
         std::max<std::uint64_t>(sampleBytes, 1);
}

// Most bytes an RLE frame of `length` bytes, whose header is at the start of
// `start`, decodes to: each segment fills one byte plane of frameBytes /
// segments bytes and can produce at most 64 bytes per byte. Empty unless the
// header holds exactly `segments` segments at rising offsets inside the
// frame, as the decoder needs.
std::optional<std::uint64_t> RleDecodableBytes(const std::vector<std::uint8_t> &start, std::uint64_t length,
                                               std::uint64_t segments, std::uint64_t frameBytes) {
  if (start.size() < RLE_HEADER_BYTES || segments == 0 || segments > RLE_MAX_SEGMENTS ||
      Little32(start.data()) != segments)
    return std::nullopt;
  const std::uint64_t plane = frameBytes / segments;
  std::uint64_t decodable = 0;
  for (std::uint64_t s = 0; s < segments; ++s) {
    const std::uint64_t offset = Little32(start.data() + 4 + 4 * s);
    const std::uint64_t next = s + 1 < segments ? Little32(start.data() + 8 + 4 * s) : length;
    if (offset < RLE_HEADER_BYTES || offset >= length || next <= offset || next > length)
      return std::nullopt;
    decodable += std::min(plane, (next - offset) * MAX_RLE_EXPANSION);
  }
  return decodable;
}

// First fragment of each frame, from a basic offset table that has one entry
// per frame, starts at 0, rises, and points at item boundaries only. Empty
// when the table is missing or does not fit the fragments.
std::vector<std::size_t> FramesFromOffsetTable(const std::vector<std::uint8_t> &table,
                                               const std::vector<const DcmTag *> &fragments, int frames) {
  if (table.size() != static_cast<std::size_t>(frames) * 4)
    return {};
  std::vector<std::size_t> first;
  std::uint64_t position = 0; // of fragment j's item header
  std::size_t j = 0;
  for (int f = 0; f < frames; ++f) {
    const std::uint64_t offset = Little32(table.data() + 4 * static_cast<std::size_t>(f));
    while (j < fragments.size() && position < offset) {
      position += ITEM_HEADER_BYTES + fragments[j]->length;
      ++j;
    }
    if (j == fragments.size() || position != offset || (!first.empty() && first.back() == j))
      return {};
    first.push_back(j);
  }
  return first;
}

// Frame f's stream is fragments [first, last) joined: all of them for a
// single frame, else as the offset table says when there are more fragments
// than frames and it fits, else fragment f (an empty range past the last).
std::vector<std::pair<std::size_t, std::size_t>> FrameRanges(const std::vector<std::uint8_t> &offsetTable,
                                                             const std::vector<const DcmTag *> &fragments, int frames) {
  std::vector<std::pair<std::size_t, std::size_t>> ranges;
  if (frames == 1) {
    ranges.emplace_back(0, fragments.size());
  } else if (fragments.size() > static_cast<std::size_t>(frames)) {
    const std::vector<std::size_t> first = FramesFromOffsetTable(offsetTable, fragments, frames);
    for (std::size_t f = 0; f < first.size(); ++f)
      ranges.emplace_back(first[f], f + 1 < first.size() ? first[f + 1] : fragments.size());
  }
  if (ranges.empty())
    for (std::size_t f = 0; f < static_cast<std::size_t>(frames); ++f)
      ranges.emplace_back(std::min(f, fragments.size()), std::min(f + 1, fragments.size()));
  return ranges;
}

void LogFrameFailure(std::string_view operation, int frame) {
  WriteLog("ERROR, " + std::string(operation) + ", frame " + std::to_string(frame) + " failed");
}

// v of the conversions: truncate(intercept + slope x sample), + 1024 for CT.
class Rescaler {
public:
  explicit Rescaler(const SampleRescale &r)
      : signed_(r.pixelRepresentation != 0), slope_(r.slope), intercept_(r.intercept), ct_(r.modality == "CT") {
    if (!std::isfinite(slope_) || !std::isfinite(intercept_))
      slope_ = intercept_ = 0; // garbage attributes: every value counts as 0
  }

  std::int64_t operator()(const std::uint8_t *sample) const {
    const auto word = static_cast<std::uint16_t>(sample[0] | sample[1] << 8);
    const double stored = signed_ ? static_cast<double>(static_cast<std::int16_t>(word)) : word;
    // Bounded before the conversion: huge slopes must not overflow it.
    const double x = std::clamp(std::trunc(intercept_ + slope_ * stored), -1e15, 1e15);
    return static_cast<std::int64_t>(x) + (ct_ ? 1024 : 0);
  }

private:
  bool signed_;
  double slope_;
  double intercept_;
  bool ct_;
};

void PutWord(std::uint8_t *at, std::int64_t value) {
  at[0] = static_cast<std::uint8_t>(value & 0xFF);
  at[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

bool IsCompressedTarget(std::string_view ts) {
  return ts == JPEG_LOSSLESS || ts == JPEG_BASELINE || ts == JPEG_EXTENDED || ts == JPEG_2000_LOSSLESS ||
         ts == JPEG_2000 || ts == RLE_LOSSLESS;
}

void LogEncodeError(std::string_view detail) { WriteLog("ERROR, EncodePixelData, " + std::string(detail)); }

} // namespace

int ScaleTo8BitDivisor(int bitsStored, std::string_view modality) {
  if (modality == "CT")
    return 16;
  if (modality == "NM")
    return 1;
  switch (bitsStored) {
  case 10:
    return 4;
  case 12:
    return 16;
  case 14:
    return 64;
  case 16:
    return 256;
  default:
    return 1;
  }
}

void ScaleTo8Bit(std::uint8_t *out, const std::uint8_t *in, std::size_t byteCount, int bitsStored,
                 const SampleRescale &rescaleOf) {
  const Rescaler rescale(rescaleOf);
  const std::int64_t divisor = ScaleTo8BitDivisor(bitsStored, rescaleOf.modality);
  for (std::size_t i = 0; i + 1 < byteCount; i += 2)
    *out++ = static_cast<std::uint8_t>(std::clamp<std::int64_t>(rescale(in + i) / divisor, 0, 255));
}

void ScaleTo12Bit(std::uint8_t *samples, std::size_t byteCount, const SampleRescale &rescaleOf) {
  const Rescaler rescale(rescaleOf);
  for (std::size_t i = 0; i + 1 < byteCount; i += 2)
    PutWord(samples + i, std::clamp<std::int64_t>(rescale(samples + i), 0, 4095));
}

void RescaleInPlace(std::uint8_t *samples, std::size_t byteCount, const SampleRescale &rescaleOf) {
  const Rescaler rescale(rescaleOf);
  for (std::size_t i = 0; i + 1 < byteCount; i += 2)
    PutWord(samples + i, std::max<std::int64_t>(rescale(samples + i), 0));
}

bool DecodePixelData(DcmObj &c, std::size_t index, const PixelDecoding &decoding) {
  const DcmTag *pixel = c.ElementAt(index);
  if (pixel == nullptr || !pixel->Is(PIXEL_GROUP, PIXEL_ELEMENT) || pixel->length != UNDEFINED_LENGTH) {
    WriteLog("ERROR, DecodePixelData, no encapsulated pixel data");
    return false;
  }
  // Every frame needs at least one byte: this also bounds the frame loop
  // by the caller's buffer.
  if (decoding.destination == nullptr || decoding.frames < 1 ||
      decoding.totalBytes / static_cast<unsigned>(decoding.frames) == 0) {
    WriteLog("ERROR, DecodePixelData, no room for the frames");
    return false;
  }
  auto failAll = [&] {
    if (decoding.failedFrames != nullptr)
      for (int f = 0; f < decoding.frames; ++f)
        decoding.failedFrames->push_back(f);
    return false;
  };

  // The offset table is consumed whatever follows; its entries may be
  // needed to find the frames.
  std::size_t i = index + 1;
  std::vector<std::uint8_t> offsetTable;
  if (const DcmTag *table = c.ElementAt(i); IsItemElement(table)) {
    offsetTable = table->data.ToVector();
    c.RemoveAt(i);
  }
  const Codec codec = DecoderFor(c.transferSyntax);
  if (codec == Codec::None) {
    WriteLog("ERROR, DecodePixelData, no decoder for transfer syntax " + c.transferSyntax);
    return failAll();
  }

  std::vector<const DcmTag *> fragments;
  while (IsItemElement(c.ElementAt(i + fragments.size())))
    fragments.push_back(c.ElementAt(i + fragments.size()));

  std::vector<std::pair<std::size_t, std::size_t>> ranges = FrameRanges(offsetTable, fragments, decoding.frames);
  if (decoding.frames > 1 && fragments.size() > static_cast<std::size_t>(decoding.frames) &&
      FramesFromOffsetTable(offsetTable, fragments, decoding.frames).empty())
    WriteLog("WARNING, DecodePixelData, " + std::to_string(fragments.size()) + " fragments for " +
             std::to_string(decoding.frames) + " frames and no usable offset table");
  const std::size_t frameBytes = decoding.totalBytes / static_cast<std::size_t>(decoding.frames);
  const int slotSample = SlotSampleBytes(decoding.bitsAllocated);
  const JpegColour colour = ColourOf(decoding.stored.photometric.empty() ? c.FindText(tag::PhotometricInterpretation)
                                                                         : decoding.stored.photometric);
  const int pixelRepresentation = decoding.stored.pixelRepresentation >= 0
                                      ? decoding.stored.pixelRepresentation
                                      : (c.FindUS(tag::PixelRepresentation) != 0 ? 1 : 0);
  std::vector<int> failed;
  std::vector<std::uint8_t> joined;
  for (int f = 0; f < decoding.frames; ++f) {
    const auto [first, last] = ranges[static_cast<std::size_t>(f)];
    const std::uint8_t *stream = nullptr;
    std::size_t length = 0;
    if (last == first + 1) {
      stream = fragments[first]->data.data();
      length = fragments[first]->data.size();
    } else if (last > first + 1) {
      joined.clear();
      for (std::size_t k = first; k < last; ++k)
        joined.insert(joined.end(), fragments[k]->data.begin(), fragments[k]->data.end());
      stream = joined.data();
      length = joined.size();
    }
    std::uint8_t *slot = decoding.destination + static_cast<std::size_t>(f) * frameBytes;
    bool decoded = false;
    if (length > 0) {
      switch (codec) {
      case Codec::J2k:
        decoded = DecodeJ2kFrame(stream, length, slot, frameBytes, slotSample, pixelRepresentation);
        break;
      case Codec::Rle:
        decoded = RleDecode(stream, length, slot, frameBytes, slotSample);
        break;
      case Codec::JpegLs:
        decoded = JlsDecode(stream, length, slot, frameBytes);
        break;
      default:
        decoded =
            DecodeJpegFrame({stream, length}, {slot, frameBytes}, slotSample, codec == Codec::JpegLossless, colour);
        break;
      }
    }
    if (!decoded) {
      failed.push_back(f);
      if (decoding.failedFrames != nullptr)
        decoding.failedFrames->push_back(f);
    }
  }
  if (decoding.logFrames)
    LogFailedFrames(failed);

  // From the back, so each removal moves only the few entries after the
  // pixel data, however many fragments there are.
  const std::size_t end = i + fragments.size();
  if (const DcmTag *delimiter = c.ElementAt(end); delimiter != nullptr && delimiter->Is(ITEM_GROUP, SEQUENCE_DELIMITER))
    c.RemoveAt(end);
  for (std::size_t k = end; k > i; --k)
    c.RemoveAt(k - 1);
  return failed.empty();
}

void LogFailedFrames(const std::vector<int> &frames) {
  // A damaged clip must not flood the log: the first frames are named.
  for (std::size_t k = 0; k < frames.size() && k < MAX_LOGGED_FRAMES; ++k)
    LogFrameFailure("DecodePixelData", frames[k]);
  if (frames.size() > MAX_LOGGED_FRAMES)
    WriteLog("ERROR, DecodePixelData, " + std::to_string(frames.size() - MAX_LOGGED_FRAMES) + " more frames failed");
}

bool CheckEncapsulatedFrames(const DcmObj &c, std::size_t index, const FrameGeometry &geometry) {
  auto fail = [](const std::string &why) {
    WriteLog("ERROR, CheckEncapsulatedFrames, " + why);
    return false;
  };
  const DcmTag *pixel = c.ElementAt(index);
  if (pixel == nullptr || !pixel->Is(PIXEL_GROUP, PIXEL_ELEMENT) || pixel->length != UNDEFINED_LENGTH ||
      geometry.frames < 1)
    return fail("no encapsulated pixel data");
  const Codec codec = DecoderFor(c.transferSyntax);
  if (codec == Codec::None)
    return fail("no decoder for transfer syntax " + c.transferSyntax);

  // The same offset table and fragments DecodePixelData will use.
  std::size_t i = index + 1;
  std::vector<std::uint8_t> offsetTable;
  if (const DcmTag *table = c.ElementAt(i); IsItemElement(table)) {
    offsetTable = table->data.ToVector();
    ++i;
  }
  std::vector<const DcmTag *> fragments;
  while (IsItemElement(c.ElementAt(i + fragments.size())))
    fragments.push_back(c.ElementAt(i + fragments.size()));
  const std::vector<std::pair<std::size_t, std::size_t>> ranges = FrameRanges(offsetTable, fragments, geometry.frames);

  const std::uint64_t samples =
      std::uint64_t(geometry.rows) * std::uint64_t(geometry.columns) * std::uint64_t(geometry.components);
  const std::uint64_t sampleBytes = samples > 0 ? geometry.frameBytes / samples : 0;
  std::uint64_t decodable = 0; // bytes the streams can decode to at most
  std::vector<std::uint8_t> start;
  for (int f = 0; f < geometry.frames; ++f) {
    const auto [first, last] = ranges[static_cast<std::size_t>(f)];
    std::uint64_t length = 0;
    for (std::size_t k = first; k < last; ++k)
      length += fragments[k]->data.size();
    if (length == 0)
      return fail("frame " + std::to_string(f) + " has no data");
    // The frame header is near the start of the stream, which may be split
    // over several fragments.
    start.clear();
    for (std::size_t k = first; k < last && start.size() < FRAME_HEADER_SEARCH_BYTES; ++k)
      start.insert(start.end(), fragments[k]->data.begin(),
                   fragments[k]->data.begin() +
                       static_cast<std::ptrdiff_t>(
                           std::min<std::size_t>(fragments[k]->data.size(), FRAME_HEADER_SEARCH_BYTES - start.size())));
    std::uint64_t width = 0, height = 0, planes = 0, expansion = 0;
    if (codec == Codec::Rle) {
      // The header is the frame's geometry here: one segment per byte plane.
      const std::optional<std::uint64_t> bound =
          RleDecodableBytes(start, length, geometry.components * sampleBytes, geometry.frameBytes);
      if (!bound)
        return fail("frame " + std::to_string(f) + " has no RLE header that fits the image attributes and its " +
                    std::to_string(length) + " bytes");
      decodable += *bound;
      continue;
    }
    if (codec == Codec::J2k) {
      if (const std::optional<J2kSize> size = ReadJ2kSize(start.data(), start.size())) {
        width = size->width;
        height = size->height;
        planes = size->components;
        expansion = MAX_EXPANSION_OTHER;
      }
    } else if (const std::optional<JpegFrameInfo> info = ReadJpegFrameHeader(start.data(), start.size());
               info && (info->marker == JPEG_LS_FRAME_MARKER) == (codec == Codec::JpegLs)) {
      width = static_cast<std::uint64_t>(info->columns);
      height = static_cast<std::uint64_t>(info->rows);
      planes = static_cast<std::uint64_t>(info->components);
      expansion = codec == Codec::JpegLs                         ? JpegLsMaxExpansion(width, planes, sampleBytes)
                  : info->lossless()                             ? MAX_SAMPLES_PER_BYTE_LOSSLESS * sampleBytes
                  : info->marker == 0xC0 || info->marker == 0xC1 ? MAX_SAMPLES_PER_BYTE_SEQUENTIAL * sampleBytes
                                                                 : MAX_EXPANSION_OTHER;
    } else if (codec == Codec::JpegLossless && length == geometry.frameBytes && sampleBytes == 2) {
      // Raw big-endian samples some writers put in lossless fragments.
      decodable += length;
      continue;
    }
    if (expansion == 0)
      return fail("frame " + std::to_string(f) + " has no frame header");
    if (width != std::uint64_t(geometry.columns) || height != std::uint64_t(geometry.rows) ||
        planes != std::uint64_t(geometry.components))
      return fail("frame " + std::to_string(f) + " is " + std::to_string(width) + " x " + std::to_string(height) +
                  " x " + std::to_string(planes) + " by its frame header, the image attributes say " +
                  std::to_string(geometry.columns) + " x " + std::to_string(geometry.rows) + " x " +
                  std::to_string(geometry.components));
    decodable += std::min(geometry.frameBytes,
                          length > geometry.frameBytes / expansion ? geometry.frameBytes : length * expansion);
  }
  const std::uint64_t total = geometry.frameBytes * static_cast<std::uint64_t>(geometry.frames);
  if (total > decodable && total > SMALL_IMAGE_BYTES)
    return fail("the fragments can decode to at most " + std::to_string(decodable) + " of the " +
                std::to_string(total) + " bytes the image attributes describe");
  return true;
}

bool EncodePixelData(DcmObj &c, std::size_t &index, const PixelEncoding &encoding, float &compressionRatio) {
  DcmTag *e = c.ElementAt(index);
  if (e == nullptr || encoding.pixels == nullptr || encoding.columns <= 0 || encoding.rows <= 0 ||
      encoding.bitsAllocated <= 0 || encoding.frames < 1) {
    LogEncodeError("no pixel data to encode");
    return false;
  }
  if (const DcmTag *next = c.ElementAt(index + 1);
      next != nullptr && next->group == ITEM_GROUP && (next->element == ITEM || next->element == SEQUENCE_DELIMITER)) {
    LogEncodeError("fragments of the old encoding still follow the pixel data");
    return false;
  }
  const int components = encoding.isColour ? 3 : 1;
  const std::uint64_t frameBits = static_cast<std::uint64_t>(encoding.columns) *
                                  static_cast<std::uint64_t>(encoding.rows) *
                                  static_cast<std::uint64_t>(encoding.bitsAllocated);
  // total = frames x frameBits / 8 (x 3), compared without overflow.
  if (static_cast<std::uint64_t>(encoding.frames) > (std::uint64_t{0xFFFFFFFE} * 8) / frameBits / components) {
    LogEncodeError("pixel data too large");
    return false;
  }
  const std::uint64_t total = static_cast<std::uint64_t>(encoding.frames) * frameBits / 8 * components;
  if (total > encoding.pixelBytes || total == 0) {
    LogEncodeError("the frames do not fit the pixel buffer");
    return false;
  }

  if (!IsCompressedTarget(encoding.targetTransferSyntax)) {
    std::vector<std::uint8_t> value(encoding.pixels, encoding.pixels + total);
    if (value.size() % 2 != 0)
      value.push_back(0x00); // values have even length
    e->SetVR(encoding.bitsStored != 8 ? "OW" : "OB");
    e->length = static_cast<std::uint32_t>(value.size());
    e->data = std::move(value);
    return true;
  }

  const bool rle = encoding.targetTransferSyntax == RLE_LOSSLESS;
  if (encoding.bitsAllocated != 8 && encoding.bitsAllocated != 16 && !(rle && encoding.bitsAllocated == 32)) {
    LogEncodeError("bits allocated " + std::to_string(encoding.bitsAllocated) + " cannot be compressed");
    return false;
  }
  if (encoding.targetTransferSyntax == JPEG_EXTENDED && (encoding.bitsStored == 8 || encoding.bitsAllocated != 16)) {
    LogEncodeError("JPEG extended needs more than 8 bits per sample");
    return false;
  }

  const std::size_t frameSize = static_cast<std::size_t>(frameBits / 8) * static_cast<std::size_t>(components);
  const bool words = encoding.bitsAllocated == 16;
  // Items are staged and inserted once every frame has encoded, so a failure
  // or an exception leaves the container as it was.
  std::vector<std::unique_ptr<DcmTag>> items;
  std::uint64_t encodedBytes = 0;
  std::vector<std::uint8_t> scaled;
  for (int f = 0; f < encoding.frames; ++f) {
    std::uint8_t *frame = encoding.pixels + static_cast<std::size_t>(f) * frameSize;
    std::vector<std::uint8_t> out;
    if (rle) {
      if (!RleEncode(frame, encoding.columns, encoding.rows, components, encoding.bitsAllocated / 8, out)) {
        LogFrameFailure("EncodePixelData", f);
        return false;
      }
    } else if (encoding.targetTransferSyntax == JPEG_LOSSLESS) {
      if (words)
        JpegEncode16({encoding.columns, encoding.rows, components}, frame, out);
      else
        JpegEncode8({encoding.columns, encoding.rows, components}, frame, JPEG_MODE_LOSSLESS, out);
    } else if (encoding.targetTransferSyntax == JPEG_BASELINE) {
      if (words) {
        scaled.resize(frameSize / 2);
        ScaleTo8Bit(scaled.data(), frame, frameSize, encoding.bitsStored, encoding.rescale);
        frame = scaled.data();
      }
      JpegEncode8({encoding.columns, encoding.rows, components}, frame, JPEG_MODE_BASELINE, out);
    } else if (encoding.targetTransferSyntax == JPEG_EXTENDED) {
      if (encoding.bitsStored != 12)
        ScaleTo12Bit(frame, frameSize, encoding.rescale);
      JpegEncode12({encoding.columns, encoding.rows, components}, frame, out);
    } else {
      if (!encoding.isColour && words)
        RescaleInPlace(frame, frameSize, encoding.rescale);
      const int rate = encoding.targetTransferSyntax == JPEG_2000_LOSSLESS ? J2K_RATE_LOSSLESS : J2K_RATE_LOSSY;
      if (!J2kEncode(frame, {encoding.columns, encoding.rows, components}, encoding.bitsAllocated, rate, out)) {
        LogFrameFailure("EncodePixelData", f);
        return false;
      }
    }
    if (out.size() > 0xFFFFFFFE - ITEM_HEADER_BYTES) {
      LogFrameFailure("EncodePixelData", f);
      return false;
    }
    encodedBytes += out.size();
    items.push_back(FrameItem(std::move(out)));
  }

  e->SetVR("OB");
  e->ReleaseValue();
  e->length = UNDEFINED_LENGTH;
  std::size_t at = index + 1;
  c.InsertAt(at++, EmptyDL(ITEM));
  for (auto &item : items)
    c.InsertAt(at++, std::move(item));
  c.InsertAt(at, EmptyDL(SEQUENCE_DELIMITER));
  index = at;

  const bool lossy = encoding.targetTransferSyntax == JPEG_BASELINE || encoding.targetTransferSyntax == JPEG_EXTENDED ||
                     encoding.targetTransferSyntax == JPEG_2000;
  if (lossy && encodedBytes != 0)
    compressionRatio = static_cast<float>(static_cast<double>(total) / static_cast<double>(encodedBytes));
  return true;
}

} // namespace fw
