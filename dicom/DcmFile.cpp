// DcmFile: DICOM file write and read (preamble, file meta information, data
// set), to files and to memory.
#include "dicom/DcmFile.h"

#include "app/base/Log.h"
#include "dicom/DcmCodec.h"
#include "dicom/Uids.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
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

void WriteMeta(BufData &stream, std::uint16_t element, std::string_view vr, std::string_view value, char fill) {
  std::string bytes(value);
  if (bytes.size() % 2 != 0) {
    bytes.push_back(fill);
  }
  WriteElement(stream, 0x0002, element, static_cast<std::uint32_t>(bytes.size()),
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
  WriteElement(stream, 0x0002, 0x0000, 4, placeholder, "UL", true);
  const std::uint8_t version[2] = {0x00, 0x01};
  WriteElement(stream, 0x0002, 0x0001, 2, version, "OB", true);
  WriteMeta(stream, 0x0002, "UI", sopClassUID, '\0');
  WriteMeta(stream, 0x0003, "UI", sopInstanceUID, '\0');
  WriteMeta(stream, 0x0010, "UI", transferSyntaxUID, '\0');
  WriteMeta(stream, 0x0012, "UI", IMPLEMENTATION_CLASS_UID, '\0');
  WriteMeta(stream, 0x0013, "SH", IMPLEMENTATION_VERSION_NAME, ' ');
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
    if (t.Is(0x0002, 0x0010)) {
      c.transferSyntax = t.GetText();
    }
  }
  stream.bigEndian = bigEndian;
  return ok;
}

void DcmObj::WriteTo(BufData &stream) {
  stream.bigEndian = false;
  if (transferSyntax == DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN) {
    WriteMetaHeader(stream, FindText(0x0008, 0x0016), FindText(0x0008, 0x0018), transferSyntax);
    BufData plain(false);
    plain.Reserve(EncodedSizeBound(*this));
    WriteObj(plain, *this);
    if (!Deflate(plain.Bytes(), stream))
      WriteLog("ERROR, DcmObj::Write, the data set could not be deflated");
    return;
  }
  stream.Reserve(1024 + EncodedSizeBound(*this));
  WriteMetaHeader(stream, FindText(0x0008, 0x0016), FindText(0x0008, 0x0018), transferSyntax);
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
  WriteMetaHeader(stream, FindText(0x0008, 0x0016), FindText(0x0008, 0x0018), transferSyntax);
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

bool InflateDataSet(const std::uint8_t *bytes, std::size_t length, std::size_t limit, std::vector<std::uint8_t> &out) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
    return false;
  const std::uint8_t *in = bytes;
  std::size_t left = length;
  out.clear();
  // Grown as needed, from a guess a few times the input.
  out.resize(std::min<std::size_t>(std::max<std::size_t>(left * 4, 4096), limit));
  if (out.empty())
    out.resize(1); // room to see that even one byte is too many
  std::size_t produced = 0;
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    if (produced == out.size()) {
      if (out.size() >= limit) {
        inflateEnd(&z);
        WriteLog("ERROR, DcmObj::Read, deflated data set larger than " + std::to_string(limit) + " bytes");
        return false;
      }
      out.resize(std::min(out.size() * 2, limit));
    }
    const auto inChunk = static_cast<uInt>(std::min<std::size_t>(left, 1u << 30));
    z.next_in = const_cast<Bytef *>(in);
    z.avail_in = inChunk;
    const auto outChunk = static_cast<uInt>(std::min<std::size_t>(out.size() - produced, 1u << 30));
    z.next_out = out.data() + produced;
    z.avail_out = outChunk;
    status = inflate(&z, Z_NO_FLUSH);
    in += inChunk - z.avail_in;
    left -= inChunk - z.avail_in;
    produced += outChunk - z.avail_out;
    if (status == Z_BUF_ERROR && left == 0 && z.avail_out != 0)
      status = Z_DATA_ERROR; // the stream ends before its last block
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
      inflateEnd(&z);
      WriteLog("ERROR, DcmObj::Read, the deflated data set does not inflate");
      return false;
    }
  }
  inflateEnd(&z);
  out.resize(produced);
  return true;
}

namespace {

// The meta information and the data set of a whole file in stream. With
// shareImage the stream's bytes become an image the data set's large values
// view (the stream is left empty). dicom is false when "DICM" is missing.
bool ReadPart10(BufData &stream, DcmObj &c, bool shareImage, bool &dicom) {
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
  if (c.transferSyntax == DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN) {
    std::vector<std::uint8_t> inflated;
    if (!InflateDataSet(stream.Bytes().data() + stream.Position(), stream.Remaining(), MAX_INFLATED_BYTES, inflated))
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

} // namespace

bool DcmObj::ReadFrom(BufData &stream) {
  bool dicom = true;
  return ReadPart10(stream, *this, false, dicom);
}

bool DcmObj::ReadFrom(std::vector<std::uint8_t> file) {
  BufData stream(std::move(file), false);
  bool dicom = true;
  return ReadPart10(stream, *this, true, dicom);
}

bool DcmObj::Read(const std::string &path) {
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
  const bool ok = ReadPart10(stream, *this, true, dicom);
  // A file without "DICM" is refused without a log line.
  if (!ok && dicom) {
    WriteLog("ERROR: DcmObj::Read, " + path);
  }
  return ok;
}

} // namespace fw
