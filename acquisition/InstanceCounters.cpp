// The last instance number per base UID, in memory and in a file.
#include "acquisition/InstanceCounters.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <utility>
#include <vector>

namespace fw {
namespace {

struct Entry {
  std::string baseUid;
  std::int32_t number = 0;
};

// Oldest first.
using Entries = std::vector<Entry>;

std::mutex runMutex;
Entries &RunEntries() {
  static Entries entries;
  return entries;
}

// Longest line accepted from the file: a UID of 64 characters, a space and
// a number, with room to spare.
constexpr std::size_t MAX_LINE = 128;

Entries ReadEntries(const std::string &path) {
  Entries entries;
  if (path.empty()) {
    return entries;
  }
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (entries.size() < InstanceCounters::CAPACITY * 2 && std::getline(in, line)) {
    if (line.size() > MAX_LINE) {
      continue;
    }
    std::istringstream fields(line);
    Entry entry;
    long long number = 0;
    if (fields >> entry.baseUid >> number && number > 0 && number <= INT32_MAX) {
      entry.number = static_cast<std::int32_t>(number);
      entries.push_back(std::move(entry));
    }
  }
  return entries;
}

std::int32_t Find(const Entries &entries, std::string_view baseUid) {
  std::int32_t last = 0;
  for (const Entry &entry : entries) {
    if (entry.baseUid == baseUid) {
      last = std::max(last, entry.number);
    }
  }
  return last;
}

// Moves the base UID to the end with the larger of the two numbers and keeps
// the most recent CAPACITY entries.
void Update(Entries &entries, std::string_view baseUid, std::int32_t number) {
  const std::int32_t last = std::max(Find(entries, baseUid), number);
  std::erase_if(entries, [&](const Entry &entry) { return entry.baseUid == baseUid; });
  entries.push_back({std::string(baseUid), last});
  if (entries.size() > InstanceCounters::CAPACITY) {
    entries.erase(entries.begin(), entries.end() - static_cast<std::ptrdiff_t>(InstanceCounters::CAPACITY));
  }
}

} // namespace

std::int32_t InstanceCounters::Last(std::string_view baseUid) const {
  std::int32_t last = Find(ReadEntries(path_), baseUid);
  const std::lock_guard lock(runMutex);
  return std::max(last, Find(RunEntries(), baseUid));
}

bool InstanceCounters::Record(std::string_view baseUid, std::int32_t number) {
  {
    const std::lock_guard lock(runMutex);
    Update(RunEntries(), baseUid, number);
  }
  if (path_.empty()) {
    return true;
  }
  Entries entries = ReadEntries(path_);
  Update(entries, baseUid, number);
  // A new file renamed over the old one: a crash leaves one or the other
  // whole.
  const std::string temporary = path_ + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    for (const Entry &entry : entries) {
      out << entry.baseUid << ' ' << entry.number << '\n';
    }
    out.flush();
    if (!out) {
      std::error_code error;
      std::filesystem::remove(temporary, error);
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path_, error);
  return !error;
}

void InstanceCounters::ForgetRun() {
  const std::lock_guard lock(runMutex);
  RunEntries().clear();
}

} // namespace fw
