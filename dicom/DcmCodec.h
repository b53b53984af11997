// DcmCodec: containers to bytes and bytes to containers, in the three
// uncompressed transfer syntaxes.
//
//   transfer syntax UID               explicitVR  stream bigEndian
//   1.2.840.10008.1.2   implicit LE   false       false
//   1.2.840.10008.1.2.1 explicit LE   true        false
//   1.2.840.10008.1.2.2 explicit BE   true        true
//   any other UID                     as explicit VR little endian
//
// Element headers, numbers in the stream's byte order:
//
//   group 0000 or FFFE, or implicit VR   g(2) e(2) L(4)
//   explicit, VR OB OD OF OL OV OW SQ    g(2) e(2) VR(2) 0000 L(4)
//             SV UC UN UR UT UV
//   explicit, any other VR               g(2) e(2) VR(2) L(2)
//
// The value follows unless L is 0 or UNDEFINED_LENGTH. Group 0002 is always
// read as explicit VR. An element in explicit data whose VR bytes are not
// letters (below "A") is implicit data inside explicit data: those two bytes
// and the next two are its 32-bit little-endian length, its VR comes from the
// dictionary.
//
// Values in memory are always little endian. In a big-endian stream the
// binary values (US SS UL SL FL FD AT OW OF OD OL OV SV UV) are swapped by
// their VR's unit size on the way in and on the way out; texts, OB, UN and
// fragments are bytes and stay as they are.
//
// Sequences. The reader expands a sequence or item of defined length into a
// nested container (Expand_SQ), recursively, except after (7FE0,0010) at the
// same level, so the fragments of encapsulated pixel data stay elements. Items
// and sequences of undefined length stay flat, as read. Nesting deeper than
// MAX_NESTING_DEPTH containers fails like a read error. The writer writes a
// nested container with the length of its content, computed at write time.
//
// Input is untrusted: a value length is checked against the bytes left before
// anything is allocated or copied.
//
// Reading from a shared image (a file's bytes) keeps values of
// VIEWED_VALUE_BYTES or more, pixel data and fragments above all, as views of
// it instead of copies (ValueBytes.h); the data set then shares the image's
// ownership. Writing into pieces leaves values of a given size where they
// are, at any depth, so a data set read from a file goes out without a copy
// of its large values.
#pragma once

#include "dicom/BufData.h"
#include "dicom/DcmObj.h"
#include "dicom/DcmTag.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace fw {

// Deepest nesting of containers (sequences and items each count) the reader
// builds.
inline constexpr int MAX_NESTING_DEPTH = 64;

// Values at least this long are kept as views when read from a shared image.
// Values in a big-endian stream that are swapped are always copies.
inline constexpr std::size_t VIEWED_VALUE_BYTES = 16 * 1024;

// Writes one element (header as above, then the value unless the length is 0
// or UNDEFINED_LENGTH). An empty VR in explicit data is taken from the
// dictionary. A value longer than 65535 bytes whose VR has the 16-bit length
// form is written with the 32-bit form as "UN", with a WARNING line.
void WriteElement(BufData &stream, Tag tag, std::uint32_t length, const std::uint8_t *value, std::string_view vr,
                  bool explicitVR);

// Reads one element into t (expected empty). False on a value longer than the
// bytes left, with the line "ERROR: read bytes!=tag->length (...", and on
// bytes that end inside the element's header ("ERROR: element header cut
// short ...").
bool ReadTag(BufData &stream, DcmTag &t, bool explicitVR);

// Writes every entry of c. Sets the stream big-endian when c's transfer
// syntax is explicit VR big endian. Nested containers take c's explicitVR and
// are left with their encoded length in their header, without a value.
void WriteObj(BufData &stream, DcmObj &c);

// A piece of an encoded data set: size bytes either of the encoding stream
// from offset (external null) or of a value held by the data set (external).
// A piece marked produced is the value of the element WriteObjPieces was
// told to leave to a producer: size bytes that are not in memory at all.
struct EncodedPiece {
  std::size_t offset = 0;
  std::size_t size = 0;
  const std::uint8_t *external = nullptr;
  bool produced = false;
};

// WriteObj that leaves the values of elements (at any depth) of largeValue
// bytes or more where they are (not in a big-endian encoding): their headers go into stream, and pieces lists
// stream's bytes and those values in encoding order, so that the encoding
// is the pieces one after another. The pieces stay valid while c and its
// values are unchanged (offsets survive stream growing).
// The top-level element whose key (group << 16 | element) is producedKey, if
// any, gets a produced piece of its length, whatever it holds.
void WriteObjPieces(BufData &stream, DcmObj &c, std::size_t largeValue, std::vector<EncodedPiece> &pieces,
                    std::uint32_t producedKey = 0);

// At least the bytes WriteObj takes for c (12 bytes per header, the largest
// form), so a large data set is encoded without regrowing the stream.
std::size_t EncodedSizeBound(const DcmObj &c);

// Reads elements from the current position to the end of the stream into c,
// with c.explicitVR and the stream's byte order. False on a read error (a
// value or an element header cut short included); the entries read before it
// stay in c.
bool ReadOjb(BufData &stream, DcmObj &c);
// ReadOjb from position to the end of image, which c may go on sharing:
// values of VIEWED_VALUE_BYTES or more become views of it.
bool ReadOjb(const std::shared_ptr<const std::vector<std::uint8_t>> &image, std::size_t position, bool bigEndian,
             DcmObj &c);

// Turns the value of the sequence or item element t, read from a stream of
// the given byte order, into the entries of n.
bool Expand_SQ(DcmObj &n, const DcmTag &t, bool bigEndian);
// Appends to c a nested container made from t by Expand_SQ, with t's tag and
// length in its header (VR "SQ" unless t is an item).
bool AppendExpanded(DcmObj &c, const DcmTag &t, bool bigEndian);

// Encodes the entries of n (each nested container taking n.explicitVR) and
// makes them the value of n.header, with its length.
void EncodeNested(DcmObj &n, bool bigEndian);

// Where the elements of a data set before a given tag end, found from their
// headers alone, without reading a value.
struct TagScan {
  enum class End {
    AtTag,      // offset: where the first top-level element of stopKey or greater starts
    EndOfBytes, // no such element: offset is the end of the bytes
    CutShort,   // an element (or an open sequence) runs past the bytes;
                // needed: the bytes it takes at least, from the start
  };
  End end = End::EndOfBytes;
  std::size_t offset = 0;
  std::size_t needed = 0;
};

// Scans bytes[position, size) as ReadOjb would read them (explicitVR, byte
// order) up to the first top-level element whose key (group << 16 |
// element) is stopKey or greater. An element of undefined length is
// followed, through its nested headers, to the delimiter that closes it (the
// content of an explicit UN sequence as implicit VR, as the reader takes
// it). Adds no log line: a cut is a result, not an error, for a caller that
// holds only the head of a file.
TagScan ScanToTag(const std::uint8_t *bytes, std::size_t size, std::size_t position, bool explicitVR, bool bigEndian,
                  std::uint32_t stopKey);

// True for the VRs whose explicit header has the reserved field and the
// 32-bit length.
bool HasLongExplicitLength(std::string_view vr);

// Size of the numbers a value of this VR is made of, for byte swapping: 2, 4
// or 8, and 1 for VRs whose values are bytes or texts.
std::size_t SwapUnit(std::string_view vr);

} // namespace fw
