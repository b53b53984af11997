// DcmFile: the two halves of a DICOM file around the data set.
//
//   offset  bytes   content
//   0       128     zero bytes (preamble)
//   128     4       "DICM"
//   132     12      (0002,0000) UL, value = bytes of group 0002 after it
//   144     14      (0002,0001) OB 00 01
//   158     8 + Lc  (0002,0002) UI Media Storage SOP Class UID
//           8 + Li  (0002,0003) UI Media Storage SOP Instance UID
//           8 + Lt  (0002,0010) UI Transfer Syntax UID
//           38      (0002,0012) UI IMPLEMENTATION_CLASS_UID
//           20      (0002,0013) SH IMPLEMENTATION_VERSION_NAME + " "
//           rest    the data set in its transfer syntax
//
// Group 0002 is explicit VR little endian whatever the data set's transfer
// syntax. UIDs of odd length get one zero byte. The meta information is not
// kept in the container: it is made on writing and consumed on reading.
//
// Deflated explicit VR little endian: the data set, encoded as explicit VR
// little endian, is compressed as one raw deflate stream (no zlib header)
// that runs to the end of the file; the meta information stays plain. A
// reader inflates at most MAX_INFLATED_BYTES unless its caller allows more,
// so a small file cannot claim unbounded memory: the inflated size is
// counted before the one buffer of that size is allocated.
//
// A data set that decoded element by element is still refused when it is
// not whole or contradicts its transfer syntax (a "truncated" or
// "pixel data" line says which):
//   - the file ends inside a flat sequence, item or encapsulated pixel data,
//     before the delimitation item that closes it (a cut clip);
//   - encapsulated pixel data under an image syntax (each frame in fragments
//     of its own) has fewer fragments than Number of Frames;
//   - pixel data of defined length (native) under an encapsulated syntax.
// Inside an item or sequence of defined length a missing delimiter is still
// tolerated: the enclosing length says where the content ends, so nothing
// is lost and a cut file cannot pass for whole.
//
// Without (0002,0010) the data set's first element tells implicit from
// explicit VR little endian (a WARNING line says which was taken).
#pragma once

#include "dicom/BufData.h"
#include "dicom/DcmObj.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

// Largest deflated data set read unless the caller allows more: 256 MiB
// inflated, far beyond a data set of images stored deflated.
inline constexpr std::size_t MAX_INFLATED_BYTES = std::size_t{256} << 20;

// Writes preamble, "DICM" and group 0002 at the stream's position.
void WriteMetaHeader(BufData &stream, std::string_view sopClassUID, std::string_view sopInstanceUID,
                     std::string_view transferSyntaxUID);

// Checks "DICM" at offset 128, reads group 0002, sets c.transferSyntax (empty
// when (0002,0010) is missing) and leaves the stream at the first data set
// element. False without a log line when "DICM" is missing (the stream is then
// cleared); false after ReadTag's line when a group 0002 element is cut short.
bool ReadMetaHeader(BufData &stream, DcmObj &c);

// Inflates a raw deflate stream (no zlib header) into out. False, with an
// ERROR line, when it is damaged or cut short, or would inflate to more than
// limit bytes ("ERROR, DcmObj::Read, deflated data set larger than N bytes
// (M MiB), refused"). out is allocated once, at the inflated size, after the
// stream has been counted: no more than that, and never more than limit
// bytes, are held.
bool InflateDataSet(const std::uint8_t *bytes, std::size_t length, std::size_t limit, std::vector<std::uint8_t> &out);

// Why a data set read from a file, each of its elements decoded, is not
// whole: the file ends inside a flat sequence, item or encapsulated pixel
// data at the top level ("the file ends inside (7FE0,0010) before its
// delimitation item"), or the encapsulated pixel data has fewer fragments
// than Number of Frames under a syntax that gives every frame its own
// ("50 fragments for 136 frames of (7FE0,0010)"). Empty when neither.
std::string TruncationOf(const DcmObj &c);

} // namespace fw
