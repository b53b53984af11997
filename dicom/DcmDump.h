// DcmDump: a data set as text, one line per element, for the log and for
// support staff. A line reads
//
//   <"..." per level below the first>(gggg,eeee), <length>, <VR>, <name>: <value>
//
// with the length as a signed number (-1 for UNDEFINED_LENGTH). Values below
// 255 bytes are shown: FL/FD of 4 bytes as "%5.2f", SL/SS/UL/US as one
// number ("Vector!!" when longer than 4 bytes), anything else as its bytes up
// to the first zero byte, followed by " (name) " for a known UID. Sequences
// show no value. Dumping changes nothing in the data set.
#pragma once

#include "dicom/DcmObj.h"
#include "dicom/DcmTag.h"

#include <string>
#include <vector>

namespace fw {

// Appends one line per entry of c, recursing into nested containers (their
// header line first, their entries one level deeper). depth is 0 for a
// whole data set. Command elements (group 0000) are shown with their
// dictionary VR.
void Dump(const DcmObj &c, std::vector<std::string> &lines, int depth);

// The line of one element at the given depth.
std::string FormatElementLine(const DcmTag &t, int depth);

} // namespace fw
