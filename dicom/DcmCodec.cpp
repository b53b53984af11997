// DcmCodec: element headers in the three uncompressed transfer syntaxes, the
// reading loop with sequence expansion, and the writer with nested lengths
// computed at write time.
//
// The reader works on a cursor over the stream's bytes, so a nested value is
// parsed where it lies instead of being copied into a stream of its own; what
// it builds is exactly what Expand_SQ over a copy would build.
#include "dicom/DcmCodec.h"

#include "base/Log.h"
#include "dicom/DataDictionary.h"
#include "dicom/Uids.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace fw {

namespace {

constexpr std::uint16_t COMMAND_GROUP = 0x0000;
constexpr std::uint16_t META_GROUP = 0x0002;
constexpr std::uint16_t ITEM_GROUP = 0xFFFE;
constexpr std::uint16_t ITEM = 0xE000;
constexpr std::uint16_t ITEM_DELIMITER = 0xE00D;
constexpr std::uint16_t SEQUENCE_DELIMITER = 0xE0DD;
constexpr std::uint16_t PIXEL_GROUP = 0x7FE0;
constexpr std::uint16_t PIXEL_DATA = 0x0010;
constexpr std::uint32_t MAX_SHORT_LENGTH = 0xFFFF;

bool HasNoVROnWire(std::uint16_t group) { return group == COMMAND_GROUP || group == ITEM_GROUP; }

bool HasValueBytes(std::uint32_t length) { return length != 0 && length != UNDEFINED_LENGTH; }

// "(gggg,eeee)" in upper-case hexadecimal.
std::string TagText(std::uint16_t group, std::uint16_t element) {
  char text[16];
  std::snprintf(text, sizeof(text), "(%04X,%04X)", group, element);
  return text;
}

// The VR that decides how a value is swapped: its own, or the dictionary's
// when it has none (command elements and implicit data).
std::string_view SwapVR(std::uint16_t group, std::uint16_t element, std::string_view vr) {
  if (!vr.empty()) {
    return vr;
  }
  const DictionaryEntry *row = FindDictionaryEntry(group, element);
  return row != nullptr ? std::string_view(row->vr, 2) : std::string_view();
}

void SwapInPlace(ValueBytes &data, std::size_t unit) {
  if (unit < 2) {
    return;
  }
  std::uint8_t *bytes = data.MutableData();
  for (std::size_t at = 0; at + unit <= data.size(); at += unit) {
    std::reverse(bytes + at, bytes + at + unit);
  }
}

// A read position over bytes the reader does not own. Numbers missing at the
// end read as zero, as in BufData. With an image (the owner of the bytes,
// shared), large values are taken as views of it instead of copies.
class Cursor {
public:
  Cursor(const std::uint8_t *bytes, std::size_t size, std::size_t position, bool bigEndian,
         std::shared_ptr<const void> image = nullptr)
      : bytes_(bytes), size_(size), pos_(std::min(position, size)), big_(bigEndian), image_(std::move(image)) {}

  const std::shared_ptr<const void> &Image() const { return image_; }

  std::size_t Position() const { return pos_; }
  std::size_t Size() const { return size_; }
  std::size_t Remaining() const { return size_ - pos_; }
  bool BigEndian() const { return big_; }
  const std::uint8_t *Here() const { return bytes_ + pos_; }
  void Skip(std::size_t n) { pos_ += std::min(n, Remaining()); }

  void Raw(std::uint8_t *out, std::size_t n) {
    const std::size_t count = std::min(n, Remaining());
    std::copy(bytes_ + pos_, bytes_ + pos_ + count, out);
    std::fill(out + count, out + n, std::uint8_t{0});
    pos_ += count;
    cut_ = cut_ || count < n;
  }
  // A read ran past the end since the last call (the missing bytes read as
  // zero); the flag is cleared.
  bool TakeCut() { return std::exchange(cut_, false); }
  std::uint16_t US() {
    std::uint8_t b[2];
    Raw(b, 2);
    return big_ ? static_cast<std::uint16_t>(b[0] << 8 | b[1]) : static_cast<std::uint16_t>(b[1] << 8 | b[0]);
  }
  std::uint32_t UL() {
    std::uint8_t b[4];
    Raw(b, 4);
    if (big_) {
      return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
    }
    return std::uint32_t{b[3]} << 24 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[1]} << 8 | b[0];
  }

private:
  const std::uint8_t *bytes_;
  std::size_t size_;
  std::size_t pos_;
  bool big_;
  std::shared_ptr<const void> image_;
  bool cut_ = false;
};

// Steps 1 to 6 of reading an element: tag, VR and length.
void ReadHeaderFields(Cursor &in, DcmTag &t, bool explicitVR) {
  t.group = in.US();
  t.element = in.US();
  const bool x = explicitVR || t.group == META_GROUP;
  if (HasNoVROnWire(t.group) || !x) {
    t.length = in.UL();
    return;
  }
  std::uint8_t letters[2];
  in.Raw(letters, 2);
  if (!explicitVR) {
    // Group 0002 inside implicit data: explicit header, dictionary VR.
    LookupVR(t);
  } else if (letters[0] < 0x41 || letters[1] < 0x41) {
    // Implicit data inside explicit data.
    std::uint8_t rest[2];
    in.Raw(rest, 2);
    t.length = std::uint32_t{letters[0]} | std::uint32_t{letters[1]} << 8 | std::uint32_t{rest[0]} << 16 |
               std::uint32_t{rest[1]} << 24;
    LookupVR(t);
    return;
  } else {
    t.vr = {static_cast<char>(letters[0]), static_cast<char>(letters[1]), 0, 0};
  }
  if (HasLongExplicitLength(t.VR())) {
    in.US(); // reserved
    t.length = in.UL();
  } else {
    t.length = in.US();
  }
}

// ReadHeaderFields; false, with a log line, when the bytes end inside the
// header: a cut file must not read as complete.
bool ReadHeader(Cursor &in, DcmTag &t, bool explicitVR) {
  in.TakeCut();
  const std::size_t start = in.Position();
  ReadHeaderFields(in, t, explicitVR);
  if (!in.TakeCut()) {
    return true;
  }
  WriteLog("ERROR: element header cut short at offset " + std::to_string(start) + ", " +
           std::to_string(in.Position() - start) + " bytes left");
  return false;
}

// The length check of step 8: a value longer than what is left fails before
// anything is allocated.
bool CheckValueLength(const Cursor &in, const DcmTag &t) {
  if (t.length <= in.Remaining()) {
    return true;
  }
  WriteLog("ERROR: read bytes!=tag->length " + TagText(t.group, t.element) +
           " count=" + std::to_string(in.Remaining()) + ", tag->length=" + std::to_string(t.length));
  return false;
}

// Step 8: copies the value (lengths already checked), in memory order. A
// large value that needs no swapping stays in the image, as a view.
bool ReadValue(Cursor &in, DcmTag &t) {
  const std::size_t unit = in.BigEndian() ? SwapUnit(SwapVR(t.group, t.element, t.VR())) : 1;
  if (in.Image() != nullptr && t.length >= VIEWED_VALUE_BYTES && unit == 1) {
    t.data = ValueBytes::View(in.Image(), in.Here(), t.length);
    in.Skip(t.length);
    return true;
  }
  try {
    std::vector<std::uint8_t> value(in.Here(), in.Here() + t.length);
    t.data = std::move(value);
  } catch (const std::bad_alloc &) {
    WriteLog("ERROR: ReadTag, " + TagText(t.group, t.element) + " tag->length=" + std::to_string(t.length) +
             ", MS Size=" + std::to_string(static_cast<long long>(in.Size())) +
             ", MS Pos=" + std::to_string(static_cast<long long>(in.Position())));
    t.data.clear();
    return false;
  }
  in.Skip(t.length);
  SwapInPlace(t.data, unit);
  return true;
}

bool ReadTagAt(Cursor &in, DcmTag &t, bool explicitVR) {
  if (!ReadHeader(in, t, explicitVR)) {
    return false;
  }
  if (!HasValueBytes(t.length)) {
    return true;
  }
  if (!CheckValueLength(in, t)) {
    in.Skip(in.Remaining()); // a short read consumes what is left
    return false;
  }
  return ReadValue(in, t);
}

bool ReadLoop(Cursor &in, DcmObj &c, int depth, bool *sequenceEnded = nullptr);

// Expand_SQ over the bytes of a value: a container one level deeper.
bool ExpandAt(const std::uint8_t *bytes, std::size_t size, bool bigEndian, DcmObj &n, int depth,
              const std::shared_ptr<const void> &image) {
  if (depth > MAX_NESTING_DEPTH) {
    WriteLog("ERROR, Expand_SQ: nesting deeper than " + std::to_string(MAX_NESTING_DEPTH) + " levels");
    return false;
  }
  Cursor inner(bytes, size, 0, bigEndian, image);
  return ReadLoop(inner, n, depth);
}

// AppendExpanded over the bytes of a value.
bool AppendExpandedAt(DcmObj &c, const DcmTag &t, std::span<const std::uint8_t> value, bool bigEndian, int depth,
                      const std::shared_ptr<const void> &image) {
  auto n = std::make_unique<DcmObj>();
  n->explicitVR = c.explicitVR;
  if (!ExpandAt(value.data(), value.size(), bigEndian, *n, depth, image)) {
    return false;
  }
  n->header.group = t.group;
  n->header.element = t.element;
  n->header.length = t.length;
  if (t.group != ITEM_GROUP && t.element != ITEM) {
    n->header.SetVR("SQ");
  }
  c.Append(std::move(n));
  return true;
}

// An element of VR UN and undefined length in explicit data is a sequence
// whose writer did not know the tag: its content is implicit VR little
// endian whatever the data set's encoding, up to its own sequence delimiter.
// It becomes an expanded sequence, so it is written back as one.
bool ReadUnknownSequence(Cursor &in, DcmObj &c, const DcmTag &t, int depth) {
  if (depth + 1 > MAX_NESTING_DEPTH) {
    WriteLog("ERROR, Expand_SQ: nesting deeper than " + std::to_string(MAX_NESTING_DEPTH) + " levels");
    return false;
  }
  auto n = std::make_unique<DcmObj>();
  n->explicitVR = false;
  n->header.group = t.group;
  n->header.element = t.element;
  n->header.length = UNDEFINED_LENGTH;
  n->header.SetVR("SQ");
  Cursor content(in.Here(), in.Remaining(), 0, false, in.Image());
  bool ended = false;
  const bool ok = ReadLoop(content, *n, depth + 1, &ended);
  in.Skip(content.Position());
  if (!ok) {
    return false;
  }
  // At the top level the bytes end where the data set ends: a sequence
  // still open there was cut. Inside an item of defined length, that length
  // bounds the content and the missing delimiter loses nothing.
  if (!ended && depth == 0) {
    WriteLog("ERROR, ReadOjb, truncated: the data set ends inside " + TagText(t.group, t.element) +
             " before its delimitation item");
    return false;
  }
  n->explicitVR = c.explicitVR;
  c.Append(std::move(n));
  return true;
}

// The loop of ReadOjb, at nesting depth `depth` (0 for the stream itself).
// With sequenceEnded the loop reads the content of a sequence of undefined
// length and ends after the (FFFE,E0DD) that closes it, setting
// *sequenceEnded; the delimiters of flat sequences, items and pixel data
// inside are counted so theirs do not end it. Levels still open at the end
// of the bytes are left for the caller to judge (TruncationOf for a file).
bool ReadLoop(Cursor &in, DcmObj &c, int depth, bool *sequenceEnded) {
  const bool untilSequenceEnd = sequenceEnded != nullptr;
  bool pixelDataSeen = false;
  int openLevels = 0;
  while (in.Position() < in.Size()) {
    auto t = std::make_unique<DcmTag>();
    if (!ReadHeader(in, *t, c.explicitVR)) {
      if (depth > 0) {
        WriteLog("ERROR, Expand_SQ: Reading tag...");
      }
      return false;
    }
    if (!c.explicitVR) {
      LookupVR(*t);
      if (t->HasVR("UN") && t->length == UNDEFINED_LENGTH) {
        t->SetVR("SQ");
      }
    } else if (t->HasVR("UN") && t->length == UNDEFINED_LENGTH && !t->Is(PIXEL_GROUP, PIXEL_DATA)) {
      if (!ReadUnknownSequence(in, c, *t, depth)) {
        return false;
      }
      continue;
    }
    if (t->group == ITEM_GROUP && (t->element == ITEM_DELIMITER || t->element == SEQUENCE_DELIMITER)) {
      if (openLevels == 0) {
        if (untilSequenceEnd && t->element == SEQUENCE_DELIMITER) {
          *sequenceEnded = true;
          return true;
        }
      } else {
        --openLevels;
      }
    } else if (t->length == UNDEFINED_LENGTH) {
      ++openLevels;
    }
    if (HasValueBytes(t->length) && !CheckValueLength(in, *t)) {
      in.Skip(in.Remaining());
      if (depth > 0) {
        WriteLog("ERROR, Expand_SQ: Reading tag...");
      }
      return false;
    }
    if (t->Is(PIXEL_GROUP, PIXEL_DATA)) {
      pixelDataSeen = true;
    } else if ((t->HasVR("SQ") || t->Is(ITEM_GROUP, ITEM)) && HasValueBytes(t->length) && !pixelDataSeen) {
      const std::uint8_t *value = in.Here();
      in.Skip(t->length);
      if (!AppendExpandedAt(c, *t, {value, t->length}, in.BigEndian(), depth + 1, in.Image())) {
        return false;
      }
      continue;
    }
    if (HasValueBytes(t->length) && !ReadValue(in, *t)) {
      if (depth > 0) {
        WriteLog("ERROR, Expand_SQ: Reading tag...");
      }
      return false;
    }
    c.Append(std::move(t));
  }
  return true;
}

// The VR written in explicit data: the element's own, or the dictionary's.
std::string_view WrittenVR(std::uint16_t group, std::uint16_t element, std::string_view vr) {
  if (!vr.empty()) {
    return vr;
  }
  const DictionaryEntry *row = FindDictionaryEntry(group, element);
  return row != nullptr ? std::string_view(row->vr, 2) : std::string_view("UN");
}

} // namespace

void WriteElementHeader(BufData &stream, std::uint16_t group, std::uint16_t element, std::uint32_t length,
                        std::string_view vr, bool explicitVR);

namespace {

// Where the writer puts its bytes: all into the stream, or, when pieces are
// listed, large values left where they are and listed between the stream's
// runs. Writes only ever go to the end of the stream, except the length of a
// nested container, patched in place before anything is handed on.
struct PieceSink {
  BufData &stream;
  std::vector<EncodedPiece> *pieces = nullptr;
  std::size_t largeValue = 0;
  // Start of the stream's bytes not yet listed.
  std::size_t ownFrom = 0;
  // Bytes listed as values held elsewhere.
  std::size_t referenced = 0;

  // Position in the whole encoding.
  std::size_t Position() const { return stream.Position() + referenced; }
  bool Takes(const DcmTag &t) const {
    return pieces != nullptr && !stream.bigEndian && HasValueBytes(t.length) && t.length >= largeValue &&
           t.data.size() >= t.length;
  }
  void CloseOwn() {
    if (pieces != nullptr && stream.Size() > ownFrom) {
      pieces->push_back({ownFrom, stream.Size() - ownFrom, nullptr});
    }
    ownFrom = stream.Size();
  }
  void Reference(const std::uint8_t *bytes, std::size_t size, bool produced = false) {
    CloseOwn();
    pieces->push_back({0, size, bytes, produced});
    referenced += size;
  }
};

void WriteEntries(PieceSink &sink, DcmObj &c, bool explicitVR);

// Writes a nested container: header, then content, then the header's length
// set to the size of the content.
void WriteNested(PieceSink &sink, DcmObj &n) {
  BufData &stream = sink.stream;
  DcmTag &h = n.header;
  const bool longLength =
      HasNoVROnWire(h.group) || !n.explicitVR || HasLongExplicitLength(WrittenVR(h.group, h.element, h.VR()));
  if (!longLength) {
    // A 16-bit length cannot be patched in blindly: encode first.
    EncodeNested(n, stream.bigEndian);
    WriteElement(stream, {h.group, h.element}, h.length, h.data.data(), h.VR(), n.explicitVR);
    h.ReleaseValue();
    return;
  }
  WriteElement(stream, {h.group, h.element}, 0, nullptr, h.VR(), n.explicitVR);
  const std::size_t lengthAt = stream.Position() - 4;
  const std::size_t contentFrom = sink.Position();
  WriteEntries(sink, n, n.explicitVR);
  const std::size_t end = stream.Position();
  // Content of 4 GB or more cannot be described; it is not held in memory.
  h.length = static_cast<std::uint32_t>(sink.Position() - contentFrom);
  h.ReleaseValue();
  stream.Seek(lengthAt);
  stream.WriteUL(h.length);
  stream.Seek(end);
}

void WriteEntryAt(PieceSink &sink, DcmObj &c, std::size_t i, bool explicitVR) {
  BufData &stream = sink.stream;
  if (const DcmTag *t = c.ElementAt(i)) {
    if (sink.Takes(*t)) {
      // The value goes out from where it is; only its header is encoded.
      WriteElementHeader(stream, t->group, t->element, t->length, t->VR(), explicitVR);
      sink.Reference(t->data.data(), t->length);
    } else if (HasValueBytes(t->length) && t->data.size() < t->length) {
      // Never read past a value that lost bytes: the missing ones are zero.
      std::vector<std::uint8_t> padded = t->data.ToVector();
      padded.resize(t->length, 0);
      WriteElement(stream, {t->group, t->element}, t->length, padded.data(), t->VR(), explicitVR);
    } else {
      WriteElement(stream, {t->group, t->element}, t->length, t->data.data(), t->VR(), explicitVR);
    }
  } else if (DcmObj *n = c.ContainerAt(i)) {
    n->explicitVR = explicitVR;
    WriteNested(sink, *n);
  }
}

void WriteEntries(PieceSink &sink, DcmObj &c, bool explicitVR) {
  for (std::size_t i = 0; i < c.Count(); ++i) {
    WriteEntryAt(sink, c, i, explicitVR);
  }
}

void WriteEntries(BufData &stream, DcmObj &c, bool explicitVR) {
  PieceSink sink{stream};
  WriteEntries(sink, c, explicitVR);
}

} // namespace

bool HasLongExplicitLength(std::string_view vr) {
  static constexpr std::string_view LONG_VRS[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                                                  "SV", "UC", "UN", "UR", "UT", "UV"};
  return std::find(std::begin(LONG_VRS), std::end(LONG_VRS), vr) != std::end(LONG_VRS);
}

std::size_t SwapUnit(std::string_view vr) {
  if (vr.size() != 2) {
    return 1;
  }
  static constexpr struct {
    std::string_view vr;
    std::size_t unit;
  } UNITS[] = {{"US", 2}, {"SS", 2}, {"OW", 2}, {"AT", 2}, {"UL", 4}, {"SL", 4}, {"FL", 4},
               {"OF", 4}, {"OL", 4}, {"FD", 8}, {"OD", 8}, {"OV", 8}, {"SV", 8}, {"UV", 8}};
  for (const auto &u : UNITS) {
    if (u.vr == vr) {
      return u.unit;
    }
  }
  return 1;
}

void WriteElementHeader(BufData &stream, std::uint16_t group, std::uint16_t element, std::uint32_t length,
                        std::string_view vr, bool explicitVR) {
  stream.WriteUS(group);
  stream.WriteUS(element);
  std::string_view written = vr;
  if (!HasNoVROnWire(group) && explicitVR) {
    written = WrittenVR(group, element, vr);
    if (!HasLongExplicitLength(written) && length > MAX_SHORT_LENGTH) {
      WriteLog("WARNING, WriteElement, " + TagText(group, element) + " " + std::string(written) + " value of " +
               std::to_string(length) + " bytes does not fit a 16-bit length, written as UN");
      written = "UN";
    }
    const char letters[2] = {written.size() > 0 ? written[0] : ' ', written.size() > 1 ? written[1] : ' '};
    stream.WriteBytes(letters, 2);
    if (HasLongExplicitLength(written)) {
      stream.WriteUS(0);
      stream.WriteUL(length);
    } else {
      stream.WriteUS(static_cast<std::uint16_t>(length));
    }
  } else {
    stream.WriteUL(length);
  }
}

void WriteElement(BufData &stream, Tag tag, std::uint32_t length, const std::uint8_t *value, std::string_view vr,
                  bool explicitVR) {
  const auto [group, element] = tag;
  WriteElementHeader(stream, group, element, length, vr, explicitVR);
  if (!HasValueBytes(length)) {
    return;
  }
  std::size_t unit = 1;
  if (stream.bigEndian) {
    // Swapped by the element's own VR, also when it was written as UN.
    unit = SwapUnit(SwapVR(group, element, vr));
  }
  stream.WriteBytesSwapped(value, length, unit);
}

TagScan ScanToTag(const std::uint8_t *bytes, std::size_t size, std::size_t position, bool explicitVR, bool bigEndian,
                  std::uint32_t stopKey) {
  TagScan scan;
  // The explicit-VR flag of each open level (sequence or item of undefined
  // length); any delimiter closes the innermost one, as the reader counts.
  std::vector<bool> open;
  std::size_t at = std::min(position, size);
  std::size_t topElement = at; // start of the top-level element being scanned
  while (at < size) {
    const bool levelExplicit = open.empty() ? explicitVR : open.back();
    Cursor in(bytes, size, at, bigEndian);
    DcmTag t;
    ReadHeaderFields(in, t, levelExplicit);
    if (in.TakeCut()) {
      return {TagScan::End::CutShort, open.empty() ? at : topElement, at + 12};
    }
    if (open.empty()) {
      if (t.Key() >= stopKey) {
        return {TagScan::End::AtTag, at, 0};
      }
      topElement = at;
    }
    const std::size_t valueAt = in.Position();
    if (t.group == ITEM_GROUP && (t.element == ITEM_DELIMITER || t.element == SEQUENCE_DELIMITER)) {
      if (!open.empty()) {
        open.pop_back();
      }
    } else if (t.length == UNDEFINED_LENGTH) {
      // Explicit UN of undefined length holds implicit VR (ReadUnknownSequence).
      const bool unknownSequence = levelExplicit && t.HasVR("UN") && !t.Is(PIXEL_GROUP, PIXEL_DATA);
      open.push_back(levelExplicit && !unknownSequence);
      at = valueAt;
      continue;
    }
    if (!HasValueBytes(t.length)) {
      at = valueAt;
      continue;
    }
    if (t.length > size - valueAt) {
      return {TagScan::End::CutShort, topElement, valueAt + t.length};
    }
    at = valueAt + t.length;
  }
  if (!open.empty()) {
    return {TagScan::End::CutShort, topElement, size + 1};
  }
  scan.offset = size;
  return scan;
}

bool ReadTag(BufData &stream, DcmTag &t, bool explicitVR) {
  Cursor in(stream.Bytes().data(), stream.Size(), stream.Position(), stream.bigEndian);
  const bool ok = ReadTagAt(in, t, explicitVR);
  stream.Seek(in.Position());
  return ok;
}

void WriteObj(BufData &stream, DcmObj &c) {
  if (c.transferSyntax == EXPLICIT_VR_BIG_ENDIAN) {
    stream.bigEndian = true;
  }
  WriteEntries(stream, c, c.explicitVR);
}

void WriteObjPieces(BufData &stream, DcmObj &c, std::size_t largeValue, std::vector<EncodedPiece> &pieces,
                    std::uint32_t producedKey) {
  if (c.transferSyntax == EXPLICIT_VR_BIG_ENDIAN) {
    stream.bigEndian = true;
  }
  PieceSink sink{stream, &pieces, largeValue, stream.Size()};
  for (std::size_t i = 0; i < c.Count(); ++i) {
    const DcmTag *t = c.ElementAt(i);
    if (t != nullptr && producedKey != 0 && t->Key() == producedKey && HasValueBytes(t->length)) {
      WriteElementHeader(stream, t->group, t->element, t->length, t->VR(), c.explicitVR);
      sink.Reference(nullptr, t->length, true);
      continue;
    }
    WriteEntryAt(sink, c, i, c.explicitVR);
  }
  sink.CloseOwn();
}

bool ReadOjb(BufData &stream, DcmObj &c) {
  Cursor in(stream.Bytes().data(), stream.Size(), stream.Position(), stream.bigEndian);
  const bool ok = ReadLoop(in, c, 0);
  stream.Seek(in.Position());
  return ok;
}

bool ReadOjb(const std::shared_ptr<const std::vector<std::uint8_t>> &image, std::size_t position, bool bigEndian,
             DcmObj &c) {
  if (image == nullptr) {
    return true;
  }
  Cursor in(image->data(), image->size(), position, bigEndian, image);
  return ReadLoop(in, c, 0);
}

bool Expand_SQ(DcmObj &n, const DcmTag &t, bool bigEndian) {
  return ExpandAt(t.data.data(), std::min<std::size_t>(t.data.size(), t.length), bigEndian, n, 1, t.data.Image());
}

bool AppendExpanded(DcmObj &c, const DcmTag &t, bool bigEndian) {
  return AppendExpandedAt(c, t, {t.data.data(), std::min<std::size_t>(t.data.size(), t.length)}, bigEndian, 1,
                          t.data.Image());
}

void EncodeNested(DcmObj &n, bool bigEndian) {
  BufData content(bigEndian);
  WriteEntries(content, n, n.explicitVR);
  n.header.length = static_cast<std::uint32_t>(content.Size());
  n.header.data = content.Release();
}

} // namespace fw
