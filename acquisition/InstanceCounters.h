// InstanceCounters: the last instance number used under each base UID.
//
// Every opening mints a new random base UID, so SOP Instance UIDs cannot
// repeat whether or not this file can be written. The record stays as a
// second guard: should a base UID ever be minted twice, numbering continues
// after the last number used under it. The numbers are kept in memory for
// the run and in a small text file in the program folder for the next run:
// one line "<base UID> <number>" per base UID, the most recently used last,
// at most CAPACITY lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fw {

inline constexpr std::string_view INSTANCE_COUNTERS_FILE = "uidcounters.txt";

class InstanceCounters {
public:
  static constexpr std::size_t CAPACITY = 400;

  // path: the file; empty keeps the numbers in memory only.
  explicit InstanceCounters(std::string path) : path_(std::move(path)) {}

  // The last number used under the base UID, 0 when none is known.
  std::int32_t Last(std::string_view baseUid) const;
  // Remembers number as the last one used (a smaller one is ignored) and
  // rewrites the file; false when the file could not be written (the number
  // is still remembered for this run).
  bool Record(std::string_view baseUid, std::int32_t number);

  // Forgets the numbers this run remembers (tests that play a restart).
  static void ForgetRun();

private:
  std::string path_;
};

} // namespace fw
