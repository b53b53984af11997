// PS3.5 6.2 value representations: maximum lengths in query responses
// BoundValueLengths: a query response is the peer's text, shown in the grid
// and written into every image of the acquisition; one 60 MB Patient's Name
// froze a search at 2.5 GB. Each text value longer than its VR allows is cut
// to that maximum, with one WARNING line per element, and the record stays
// usable:
//
//   VR                    maximum, in characters
//   AE CS SH DS           16 per value
//   AS                    4 per value
//   IS                    12 per value
//   LO UI                 64 per value
//   PN                    64 per component group (alphabetic=ideographic=phonetic)
//   DA TM DT              18, 28, 54 per value (the range forms of a query)
//   ST LT                 1024, 10240 for the whole value
//   others (UT, UC, ...)  left alone: no maximum, or not a text
//
// Values are split at "\" (several values), trailing spaces and NULs do not
// count. Under UTF-8 ("ISO_IR 192") characters are counted and the cut falls
// between characters; under the multi-byte ISO 2022 and Chinese character
// sets a character may take up to 4 bytes; otherwise one byte is one
// character. A nested item with its own (0008,0005) uses that one.
//
//   WARNING, <where>, (0010,0010) PN value of 5000000 bytes cut to 64 characters
#pragma once

#include "dicom/DcmObj.h"

#include <cstddef>
#include <string_view>

namespace fw {

// The maximum of the table for one value of the VR; 0 for no maximum.
std::size_t MaximumValueLength(std::string_view vr);

// Cuts every value of the data set, nested items included, to its VR's
// maximum; logs each element cut with `where` naming the caller.
void BoundValueLengths(DcmObj &dataSet, std::string_view where);

} // namespace fw
