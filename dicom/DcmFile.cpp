// DcmFile: DICOM file write and read (preamble, file meta information, data
// set), to files and to memory.
#include "dicom/DcmFile.h"

#include "app/base/Log.h"
#include "dicom/DcmCodec.h"
#include "dicom/Uids.h"

#include <cstring>
#include <filesystem>
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

// At least the bytes the data set takes once encoded (12 bytes per header,
// the largest form), so a large file is written without regrowing the stream.
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

} // namespace

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
  stream.Reserve(1024 + EncodedSizeBound(*this));
  WriteMetaHeader(stream, FindText(0x0008, 0x0016), FindText(0x0008, 0x0018), transferSyntax);
  WriteObj(stream, *this);
}

bool DcmObj::Write(const std::string &path) {
  BufData stream(false);
  WriteTo(stream);
  return stream.SaveToFile(path);
}

bool DcmObj::ReadFrom(BufData &stream) {
  stream.bigEndian = false;
  if (!ReadMetaHeader(stream, *this)) {
    return false;
  }
  // The data set of a deflated file is a zlib stream: read as plain explicit
  // VR it would be garbage. Refused here, in the one place a file's syntax
  // decides how its data set is read.
  if (transferSyntax == DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN) {
    WriteLog("ERROR: DcmObj::ReadFrom, deflated explicit VR little endian (" + transferSyntax +
             ") is not supported, the data set is not read");
    return false;
  }
  explicitVR = transferSyntax != IMPLICIT_VR_LITTLE_ENDIAN;
  stream.bigEndian = transferSyntax == EXPLICIT_VR_BIG_ENDIAN;
  return ReadOjb(stream, *this);
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
  const bool ok = ReadFrom(stream);
  // A stream without "DICM" was cleared: that refusal is not logged.
  if (!ok && stream.Size() > 0) {
    WriteLog("ERROR: DcmObj::Read, " + path);
  }
  return ok;
}

} // namespace fw
