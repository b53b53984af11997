// Accession numbers the station makes up when the operator gives none:
// the date and minute as "yymmddhhnn" followed by a run-wide counter in
// decimal, which wraps to 0 after 9999 (24030914050 is the first number of a
// run at 14:05 on 9 March 2024).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace fw {

// Returns the number for the local time `now` and advances `counter`.
std::string GenerateAccessionNumber(const std::tm &now, std::int32_t &counter);

} // namespace fw
