// DcmFile: DICOM file write and read (preamble, file meta information, data
// set), to files and to memory.
#include "dicom/DcmFile.h"

#include "base/Log.h"
#include "dicom/DcmCodec.h"
#include "dicom/Tags.h"
#include "dicom/Uids.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fw {

namespace {

constexpr std::size_t PREAMBLE_SIZE = 128;
constexpr char PREFIX[4] = {'D', 'I', 'C', 'M'};
// Offset of the value of (0002,0000) and of the element after it, from the
// start of the file.
constexpr std::size_t GROUP_LENGTH_VALUE_AT = 140;
constexpr std::size_t AFTER_GROUP_LENGTH = 144;

void WriteMeta(BufData &stream, Tag tag, std::string_view vr, std::string_view value, char fill) {
  std::string bytes(value);
  if (bytes.size() % 2 != 0) {
    bytes.push_back(fill);
  }
  WriteElement(stream, tag, static_cast<std::uint32_t>(bytes.size()),
               reinterpret_cast<const std::uint8_t *>(bytes.data()), vr, true);
}

// Without a transfer syntax in the meta information, the data set tells its
// own encoding: two upper-case letters after its first tag are an explicit
// VR, anything else is the start of a 32-bit implicit length.
std::string_view GuessLittleEndianSyntax(const BufData &stream) {
  const std::size_t at = stream.Position();
  if (stream.Size() - at < 6) {
    return EXPLICIT_VR_LITTLE_ENDIAN;
  }
  const std::uint8_t *vr = stream.Bytes().data() + at + 4;
  const auto letter = [](std::uint8_t b) { return b >= 'A' && b <= 'Z'; };
  return letter(vr[0]) && letter(vr[1]) ? EXPLICIT_VR_LITTLE_ENDIAN : IMPLICIT_VR_LITTLE_ENDIAN;
}

// Raw deflate of bytes, appended to out. False when zlib fails.
bool Deflate(const std::vector<std::uint8_t> &bytes, BufData &out) {
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return false;
  std::vector<std::uint8_t> chunk(256 * 1024);
  z.next_in = const_cast<Bytef *>(bytes.data());
  std::size_t left = bytes.size();
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    const auto in = static_cast<uInt>(std::min<std::size_t>(left, 1u << 30));
    z.avail_in = in;
    const int flush = left == in ? Z_FINISH : Z_NO_FLUSH;
    do {
      z.next_out = chunk.data();
      z.avail_out = static_cast<uInt>(chunk.size());
      status = deflate(&z, flush);
      if (status == Z_STREAM_ERROR) {
        deflateEnd(&z);
        return false;
      }
      out.WriteBytes(chunk.data(), chunk.size() - z.avail_out);
    } while (z.avail_out == 0);
    left -= in - z.avail_in;
  }
  deflateEnd(&z);
  return true;
}

// Values of at least this many bytes are written from where they are.
constexpr std::size_t LARGE_FILE_VALUE = 16 * 1024;

} // namespace

std::size_t EncodedSizeBound(const DcmObj &c) {
  std::size_t size = 0;
  std::vector<const DcmObj *> pending{&c};
  while (!pending.empty()) {
    const DcmObj *obj = pending.back();
    pending.pop_back();
    for (std::size_t i = 0; i < obj->Count(); ++i) {
      size += 12;
      if (const DcmTag *t = obj->ElementAt(i)) {
        size += t->data.size();
      } else if (const DcmObj *n = obj->ContainerAt(i)) {
        pending.push_back(n);
      }
    }
  }
  return size;
}

void WriteMetaHeader(BufData &stream, std::string_view sopClassUID, std::string_view sopInstanceUID,
                     std::string_view transferSyntaxUID) {
  const bool bigEndian = stream.bigEndian;
  stream.bigEndian = false;
  const std::size_t start = stream.Position();
  const std::uint8_t preamble[PREAMBLE_SIZE] = {};
  stream.WriteBytes(preamble, sizeof(preamble));
  stream.WriteBytes(PREFIX, sizeof(PREFIX));
  const std::uint8_t placeholder[4] = {};
  WriteElement(stream, tag::FileMetaInformationGroupLength, 4, placeholder, "UL", true);
  const std::uint8_t version[2] = {0x00, 0x01};
  WriteElement(stream, tag::FileMetaInformationVersion, 2, version, "OB", true);
  WriteMeta(stream, tag::MediaStorageSOPClassUID, "UI", sopClassUID, '\0');
  WriteMeta(stream, tag::MediaStorageSOPInstanceUID, "UI", sopInstanceUID, '\0');
  WriteMeta(stream, tag::TransferSyntaxUID, "UI", transferSyntaxUID, '\0');
  WriteMeta(stream, tag::ImplementationClassUID, "UI", IMPLEMENTATION_CLASS_UID, '\0');
  WriteMeta(stream, tag::ImplementationVersionName, "SH", IMPLEMENTATION_VERSION_NAME, ' ');
  const std::size_t end = stream.Position();
  stream.Seek(start + GROUP_LENGTH_VALUE_AT);
  stream.WriteUL(static_cast<std::uint32_t>(end - start - AFTER_GROUP_LENGTH));
  stream.Seek(end);
  stream.bigEndian = bigEndian;
}

bool ReadMetaHeader(BufData &stream, DcmObj &c) {
  stream.Seek(PREAMBLE_SIZE);
  char prefix[sizeof(PREFIX)] = {};
  if (stream.ReadBytes(prefix, sizeof(prefix)) != sizeof(prefix) || std::memcmp(prefix, PREFIX, sizeof(PREFIX)) != 0) {
    stream.Clear();
    return false;
  }
  const bool bigEndian = stream.bigEndian;
  stream.bigEndian = false;
  c.transferSyntax.clear();
  bool ok = true;
  while (stream.Position() < stream.Size()) {
    const std::size_t p = stream.Position();
    // The data set may be big endian or implicit: its first element is not
    // read with the meta information's rules, only recognised by its group.
    const std::uint16_t group = stream.ReadUS();
    stream.Seek(p);
    if (group > 0x0002) {
      break;
    }
    DcmTag t;
    if (!ReadTag(stream, t, true)) {
      ok = false;
      break;
    }
    if (t.Is(tag::TransferSyntaxUID)) {
      c.transferSyntax = t.GetText();
    }
  }
  stream.bigEndian = bigEndian;
  return ok;
}

void DcmObj::WriteTo(BufData &stream) {
  stream.bigEndian = false;
  if (transferSyntax == DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN) {
    WriteMetaHeader(stream, FindText(tag::SOPClassUID), FindText(tag::SOPInstanceUID), transferSyntax);
    BufData plain(false);
    plain.Reserve(EncodedSizeBound(*this));
    WriteObj(plain, *this);
    if (!Deflate(plain.Bytes(), stream))
      WriteLog("ERROR, DcmObj::Write, the data set could not be deflated");
    return;
  }
  stream.Reserve(1024 + EncodedSizeBound(*this));
  WriteMetaHeader(stream, FindText(tag::SOPClassUID), FindText(tag::SOPInstanceUID), transferSyntax);
  WriteObj(stream, *this);
}

bool DcmObj::Write(const std::string &path) {
  if (transferSyntax == DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN) {
    BufData stream(false);
    WriteTo(stream);
    return stream.SaveToFile(path);
  }
  return Write(path, 0, 0, nullptr);
}

bool DcmObj::Write(const std::string &path, std::uint16_t group, std::uint16_t element, const ValueProducer &produce) {
  const std::uint32_t producedKey = produce ? (std::uint32_t{group} << 16 | element) : 0;
  if (producedKey != 0 && transferSyntax == DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN) {
    WriteLog("ERROR, DcmObj::Write, a produced value cannot be deflated");
    return false;
  }
  // Headers and small values are encoded; large values (pixel data,
  // fragments) go to the file from where they are, without a copy.
  BufData stream(false);
  WriteMetaHeader(stream, FindText(tag::SOPClassUID), FindText(tag::SOPInstanceUID), transferSyntax);
  std::vector<EncodedPiece> pieces{{0, stream.Size(), nullptr}};
  WriteObjPieces(stream, *this, LARGE_FILE_VALUE, pieces, producedKey);
  return SaveStreamToFile(path, [&](const SliceWriter &write) {
    std::vector<ByteSlice> slices;
    for (const EncodedPiece &piece : pieces) {
      if (!piece.produced) {
        slices.push_back(
            {piece.external != nullptr ? piece.external : stream.Bytes().data() + piece.offset, piece.size});
        continue;
      }
      if (!write(slices.data(), slices.size())) {
        return false;
      }
      slices.clear();
      std::size_t delivered = 0;
      const bool ok = produce([&](const std::uint8_t *bytes, std::size_t size) {
        if (size > piece.size - delivered) {
          return false; // more than the element's length
        }
        delivered += size;
        const ByteSlice slice{bytes, size};
        return write(&slice, 1);
      });
      if (!ok || delivered != piece.size) {
        WriteLog("ERROR, DcmObj::Write, a produced value was not delivered whole: " + std::to_string(delivered) +
                 " of " + std::to_string(piece.size) + " bytes");
        return false;
      }
    }
    return write(slices.data(), slices.size());
  });
}

namespace {

// Runs a raw inflate of bytes, handing each piece of output to take (false
// from take stops it). Z_STREAM_END when the stream ended where it should,
// Z_DATA_ERROR when it is damaged or cut short, Z_BUF_ERROR when take
// stopped it.
template <typename Take> int RunInflate(const std::uint8_t *bytes, std::size_t length, Take &&take) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
    return Z_MEM_ERROR;
  std::uint8_t chunk[64 * 1024];
  const std::uint8_t *in = bytes;
  std::size_t left = length;
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    const auto inChunk = static_cast<uInt>(std::min<std::size_t>(left, 1u << 30));
    z.next_in = const_cast<Bytef *>(in);
    z.avail_in = inChunk;
    z.next_out = chunk;
    z.avail_out = sizeof(chunk);
    status = inflate(&z, Z_NO_FLUSH);
    in += inChunk - z.avail_in;
    left -= inChunk - z.avail_in;
    const std::size_t produced = sizeof(chunk) - z.avail_out;
    if (status == Z_BUF_ERROR && produced == 0)
      status = Z_DATA_ERROR; // no progress: the stream ends before its last block
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
      status = Z_DATA_ERROR;
      break;
    }
    if (produced > 0 && !take(chunk, produced)) {
      status = Z_BUF_ERROR;
      break;
    }
  }
  inflateEnd(&z);
  return status;
}

} // namespace

bool InflateDataSet(const std::uint8_t *bytes, std::size_t length, std::size_t limit, std::vector<std::uint8_t> &out) {
  out.clear();
  // The inflated size is not written anywhere: it is counted first, so that
  // the one buffer is allocated at its size, never regrown (a regrown
  // buffer holds old and new at once), and a stream that runs past the
  // limit is refused having held nothing but a chunk.
  std::size_t total = 0;
  int status = RunInflate(bytes, length, [&](const std::uint8_t *, std::size_t size) {
    if (size > limit - total) {
      total = limit + 1;
      return false;
    }
    total += size;
    return true;
  });
  if (total > limit) {
    WriteLog("ERROR, DcmObj::Read, deflated data set larger than " + std::to_string(limit) + " bytes (" +
             std::to_string(limit >> 20) + " MiB), refused");
    return false;
  }
  if (status != Z_STREAM_END) {
    WriteLog("ERROR, DcmObj::Read, the deflated data set does not inflate");
    return false;
  }
  std::vector<std::uint8_t> inflated;
  try {
    inflated.resize(total);
  } catch (const std::bad_alloc &) {
    WriteLog("ERROR, DcmObj::Read, no memory for the " + std::to_string(total) + " bytes of the deflated data set");
    return false;
  }
  std::size_t at = 0;
  status = RunInflate(bytes, length, [&](const std::uint8_t *piece, std::size_t size) {
    if (size > total - at)
      return false;
    std::memcpy(inflated.data() + at, piece, size);
    at += size;
    return true;
  });
  if (status != Z_STREAM_END || at != total) {
    WriteLog("ERROR, DcmObj::Read, the deflated data set does not inflate");
    return false;
  }
  out = std::move(inflated);
  return true;
}

namespace {

// Transfer syntaxes whose pixel data is encapsulated (fragments).
bool IsEncapsulatedSyntax(std::string_view uid) {
  return uid.starts_with("1.2.840.10008.1.2.4.") || uid == RLE_LOSSLESS;
}

// Encapsulated syntaxes of video streams (MPEG-2, MPEG-4, HEVC), whose
// frames share one stream: their fragments do not count frames.
bool IsVideoSyntax(std::string_view uid) {
  if (!uid.starts_with("1.2.840.10008.1.2.4.1"))
    return false;
  const std::string_view last = uid.substr(std::string_view("1.2.840.10008.1.2.4.").size());
  return last.size() == 3 && last >= "100" && last <= "108";
}

// Number of Frames, 1 when missing; 0 when it is no number.
std::uint64_t NumberOfFrames(const DcmObj &c) {
  const DcmTag *t = c.FindElement(tag::NumberOfFrames);
  if (t == nullptr)
    return 1;
  std::string_view text(reinterpret_cast<const char *>(t->data.data()), t->data.size());
  while (!text.empty() && (text.front() == ' ' || text.front() == '+'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
    text.remove_suffix(1);
  if (text.empty())
    return 1;
  std::uint64_t frames = 0;
  for (const char digit : text) {
    if (digit < '0' || digit > '9' || frames > 0xFFFFFFFFull)
      return 0;
    frames = frames * 10 + static_cast<std::uint64_t>(digit - '0');
  }
  return frames;
}

std::string TagText(std::uint16_t group, std::uint16_t element) {
  char text[16];
  std::snprintf(text, sizeof(text), "(%04X,%04X)", group, element);
  return text;
}

// Native pixel data under an encapsulated syntax: no decoder could read it,
// and a receiver would take it for fragments.
bool NativeUnderEncapsulatedSyntax(const DcmObj &c) {
  const DcmTag *pixel = c.FindElement(tag::PixelData);
  return pixel != nullptr && pixel->length != UNDEFINED_LENGTH && IsEncapsulatedSyntax(c.transferSyntax);
}

// The meta information and the data set of a whole file in stream. With
// shareImage the stream's bytes become an image the data set's large values
// view (the stream is left empty). dicom is false when "DICM" is missing.
bool ReadDataSet(BufData &stream, DcmObj &c, bool shareImage, std::size_t maxInflatedBytes) {
  if (c.transferSyntax == DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN) {
    std::vector<std::uint8_t> inflated;
    if (!InflateDataSet(stream.Bytes().data() + stream.Position(), stream.Remaining(), maxInflatedBytes, inflated))
      return false;
    // The inflated bytes are this reader's own: large values may view them.
    return ReadOjb(std::make_shared<const std::vector<std::uint8_t>>(std::move(inflated)), 0, false, c);
  }
  if (!shareImage) {
    return ReadOjb(stream, c);
  }
  const std::size_t position = stream.Position();
  const bool bigEndian = stream.bigEndian;
  return ReadOjb(std::make_shared<const std::vector<std::uint8_t>>(stream.Release()), position, bigEndian, c);
}

bool ReadPart10(BufData &stream, DcmObj &c, bool shareImage, bool &dicom,
                std::size_t maxInflatedBytes = MAX_INFLATED_BYTES) {
  stream.bigEndian = false;
  dicom = true;
  if (!ReadMetaHeader(stream, c)) {
    dicom = stream.Size() > 0; // a stream without "DICM" was cleared
    return false;
  }
  if (c.transferSyntax.empty() && stream.Remaining() > 0) {
    c.transferSyntax = GuessLittleEndianSyntax(stream);
    WriteLog("WARNING, DcmObj::Read, no transfer syntax in the file meta information, data set read as " +
             std::string(c.transferSyntax == IMPLICIT_VR_LITTLE_ENDIAN ? "implicit" : "explicit") +
             " VR little endian");
  }
  c.explicitVR = c.transferSyntax != IMPLICIT_VR_LITTLE_ENDIAN;
  stream.bigEndian = c.transferSyntax == EXPLICIT_VR_BIG_ENDIAN;
  if (!ReadDataSet(stream, c, shareImage, maxInflatedBytes))
    return false;
  // Every element decoded; a file cut between two of them still is no whole
  // data set, and must not be sent or converted as one.
  if (const std::string truncation = TruncationOf(c); !truncation.empty()) {
    WriteLog("ERROR, DcmObj::Read, truncated: " + truncation);
    return false;
  }
  if (NativeUnderEncapsulatedSyntax(c)) {
    WriteLog("ERROR, DcmObj::Read, pixel data of defined length under the encapsulated transfer syntax " +
             c.transferSyntax);
    return false;
  }
  return true;
}

} // namespace

std::string TruncationOf(const DcmObj &c) {
  // Top-level levels as ReadOjb counts them: every element of undefined
  // length opens one, each delimiter closes one.
  int open = 0;
  const DcmTag *outermost = nullptr;
  const DcmTag *pixel = nullptr;
  std::size_t pixelAt = 0;
  for (std::size_t i = 0; i < c.Count(); ++i) {
    const DcmTag *t = c.ElementAt(i);
    if (t == nullptr)
      continue;
    if (t->group == 0xFFFE && (t->element == 0xE00D || t->element == 0xE0DD)) {
      if (open > 0 && --open == 0)
        outermost = nullptr;
      continue;
    }
    if (open == 0 && t->Is(tag::PixelData)) {
      pixel = t;
      pixelAt = i;
    }
    if (t->length == UNDEFINED_LENGTH && open++ == 0)
      outermost = t;
  }
  if (outermost != nullptr)
    return "the file ends inside " + TagText(outermost->group, outermost->element) + " before its delimitation item";
  if (pixel == nullptr || pixel->length != UNDEFINED_LENGTH || !IsEncapsulatedSyntax(c.transferSyntax) ||
      IsVideoSyntax(c.transferSyntax))
    return {};
  // The first item is the basic offset table; each frame has fragments of
  // its own after it.
  std::uint64_t items = 0;
  for (std::size_t i = pixelAt + 1; i < c.Count(); ++i) {
    const DcmTag *t = c.ElementAt(i);
    if (t == nullptr || !t->Is(tag::Item))
      break;
    ++items;
  }
  const std::uint64_t fragments = items > 0 ? items - 1 : 0;
  const std::uint64_t frames = NumberOfFrames(c);
  if (fragments >= frames)
    return {};
  return std::to_string(fragments) + " fragments for " + std::to_string(frames) + " frames of (7FE0,0010)";
}

bool DcmObj::ReadFrom(BufData &stream) {
  bool dicom = true;
  return ReadPart10(stream, *this, false, dicom);
}

bool DcmObj::ReadFrom(std::vector<std::uint8_t> file) {
  BufData stream(std::move(file), false);
  bool dicom = true;
  return ReadPart10(stream, *this, true, dicom);
}

bool DcmObj::Read(const std::string &path) { return Read(path, MAX_INFLATED_BYTES); }

namespace {

// The bytes of a file read from its start as far as needed, no further.
class FileHead {
public:
  explicit FileHead(const std::string &path) : in_(path, std::ios::binary) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    size_ = error ? 0 : static_cast<std::size_t>(size);
  }
  bool Open() const { return static_cast<bool>(in_); }
  bool Whole() const { return bytes_.size() == size_; }
  std::vector<std::uint8_t> &Bytes() { return bytes_; }

  // Holds at least the first count bytes (all there are when fewer).
  bool LoadTo(std::size_t count) {
    count = std::min(count, size_);
    if (count <= bytes_.size()) {
      return true;
    }
    const std::size_t held = bytes_.size();
    bytes_.resize(count);
    in_.read(reinterpret_cast<char *>(bytes_.data() + held), static_cast<std::streamsize>(count - held));
    bytes_.resize(held + static_cast<std::size_t>(in_.gcount()));
    return bytes_.size() == count;
  }

  // ScanToTag over the head, loaded further while the scan runs past it;
  // false when it runs past the end of the file.
  bool Scan(std::size_t position, bool explicitVR, bool bigEndian, std::uint32_t stopKey, TagScan &scan) {
    for (;;) {
      scan = ScanToTag(bytes_.data(), bytes_.size(), position, explicitVR, bigEndian, stopKey);
      const bool more = scan.end == TagScan::End::CutShort || scan.end == TagScan::End::EndOfBytes;
      if (!more || Whole()) {
        return scan.end != TagScan::End::CutShort;
      }
      if (!LoadTo(std::max(scan.needed, 2 * bytes_.size()))) {
        return false;
      }
    }
  }

private:
  std::ifstream in_;
  std::size_t size_ = 0;
  std::vector<std::uint8_t> bytes_;
};

// Bytes read first: the meta information and the first groups of most files.
constexpr std::size_t HEAD_BYTES = 64 * 1024;
// Tag keys: the first after the meta information group.
constexpr std::uint32_t AFTER_META = 0x00030000;

} // namespace

bool DcmObj::ReadUpTo(const std::string &path, std::uint16_t group, std::uint16_t element) {
  FileHead head(path);
  if (!head.Open() || !head.LoadTo(HEAD_BYTES)) {
    return false;
  }
  const std::vector<std::uint8_t> &bytes = head.Bytes();
  const std::size_t dataSetAt = PREAMBLE_SIZE + sizeof(PREFIX);
  if (bytes.size() < dataSetAt || std::memcmp(bytes.data() + PREAMBLE_SIZE, PREFIX, sizeof(PREFIX)) != 0) {
    return false;
  }
  TagScan meta;
  if (!head.Scan(dataSetAt, true, false, AFTER_META, meta)) {
    return false;
  }
  BufData metaStream(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(meta.offset)),
                     false);
  if (!ReadMetaHeader(metaStream, *this) || transferSyntax.empty() ||
      transferSyntax == DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN) {
    return false;
  }
  explicitVR = transferSyntax != IMPLICIT_VR_LITTLE_ENDIAN;
  const bool bigEndian = transferSyntax == EXPLICIT_VR_BIG_ENDIAN;
  TagScan dataSet;
  if (!head.Scan(meta.offset, explicitVR, bigEndian, std::uint32_t{group} << 16 | element, dataSet)) {
    return false;
  }
  // Every element before the tag lies whole within the bytes up to it.
  std::vector<std::uint8_t> before = std::move(head.Bytes());
  before.resize(dataSet.offset);
  return ReadOjb(std::make_shared<const std::vector<std::uint8_t>>(std::move(before)), meta.offset, bigEndian, *this) &&
         TruncationOf(*this).empty();
}

bool DcmObj::Read(const std::string &path, std::size_t maxInflatedBytes) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    return false;
  }
  BufData stream(false);
  if (!stream.LoadFromFile(path)) {
    return false;
  }
  // The file's bytes are held once: pixel data and fragments stay in them.
  bool dicom = true;
  const bool ok = ReadPart10(stream, *this, true, dicom, maxInflatedBytes);
  // A file without "DICM" is refused without a log line.
  if (!ok && dicom) {
    WriteLog("ERROR: DcmObj::Read, " + path);
  }
  return ok;
}

} // namespace fw
