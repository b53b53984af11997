#include "acquisition/AccessionNumber.h"

#include <cstdio>

namespace fw {

std::string GenerateAccessionNumber(const std::tm &now, std::int32_t &counter) {
  if (counter > 9999 || counter < 0)
    counter = 0;
  char text[32];
  std::snprintf(text, sizeof text, "%02d%02d%02d%02d%02d%d", (now.tm_year + 1900) % 100, now.tm_mon + 1, now.tm_mday,
                now.tm_hour, now.tm_min, counter);
  ++counter;
  return text;
}

} // namespace fw
