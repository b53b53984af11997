#include "station/AccessionNumber.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <set>

namespace fw {
namespace {

constexpr char ALPHABET[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
constexpr int RANDOM_CHARACTERS = 6;
// Draws before a repeated number is given out after all (only a clock
// that stands still could get there).
constexpr int MAX_DRAWS = 64;

// 30 bits from a UUID: FNV-1a over its bytes, so a time-based UUID, whose
// changing bits are spread out, still yields distinct values.
std::uint32_t ThirtyBits(const Uuid &uuid) {
  std::uint64_t hash = 0xCBF29CE484222325ULL;
  for (const std::uint8_t byte : uuid) {
    hash = (hash ^ byte) * 0x100000001B3ULL;
  }
  return static_cast<std::uint32_t>((hash ^ (hash >> 32)) & 0x3FFFFFFF);
}

} // namespace

std::string GenerateAccessionNumber(const std::tm &now) { return GenerateAccessionNumber(now, KernelRandomBytes); }

std::string GenerateAccessionNumber(const std::tm &now, const RandomBytes &random) {
  static std::mutex mutex;
  // The numbers given out in the current minute: others cannot match a new
  // prefix.
  static std::string currentPrefix;
  static std::set<std::string> givenOut;
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "%02d%02d%02d%02d%02d", (now.tm_year + 1900) % 100, now.tm_mon + 1, now.tm_mday,
                now.tm_hour, now.tm_min);
  {
    const std::lock_guard lock(mutex);
    if (currentPrefix != prefix) {
      currentPrefix = prefix;
      givenOut.clear();
    }
  }
  std::string number;
  for (int draw = 0; draw < MAX_DRAWS; ++draw) {
    // After a repeat the clock decides: a source stuck on the same bytes
    // cannot repeat a number either.
    std::uint32_t bits = ThirtyBits(NewUuid(draw == 0 ? random : RandomBytes{}));
    number = prefix;
    for (int i = 0; i < RANDOM_CHARACTERS; ++i) {
      number += ALPHABET[bits & 31];
      bits >>= 5;
    }
    const std::lock_guard lock(mutex);
    if (givenOut.insert(number).second) {
      break;
    }
  }
  return number;
}

} // namespace fw
