// Accession numbers the station makes up when the operator gives none: the
// local date and minute as "yymmddhhnn" followed by six characters drawn
// from the kernel's random source, 16 characters in all (the most an SH
// holds), for example "2403091405K7QX2M" at 14:05 on 9 March 2024.
//
// The six characters come from Crockford's base-32 alphabet (digits and
// capitals without I, L, O and U, so a number read aloud or typed back finds
// the study): 30 random bits, so numbers of different runs, processes and
// stations collide only by chance within one minute (about one in a billion
// for two numbers). Within one minute a process never gives out the same
// number twice. Without random bytes (or after a repeat) the characters come
// from a time-based UUID (Uids.h).
#pragma once

#include "dicom/Uids.h"

#include <ctime>
#include <string>

namespace fw {

// The number for the local time `now`.
std::string GenerateAccessionNumber(const std::tm &now);

// The same with the given source of random bytes.
std::string GenerateAccessionNumber(const std::tm &now, const RandomBytes &random);

} // namespace fw
