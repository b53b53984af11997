// The temporary files of a replacing write (SaveStreamToFile): the bytes go
// to a hidden file beside the target, renamed over it when complete,
//
//   "." + target file name + "." + writer's process id + "-" + number + ".tmp"
//   e.g. ".KW1.dcm.4711-0.tmp"
//
// A writer killed in the middle leaves its temporary behind. The name says
// whose it is, so such a partial file can be told from every other file of
// a folder and removed once its writer no longer runs.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace fw {

std::string TemporaryFileName(std::string_view targetName, pid_t writer, unsigned long number);

struct TemporaryFileNameParts {
  std::string targetName; // the file name the write was to replace
  pid_t writer = 0;
};

// The parts of a temporary's file name (no folder); nullopt for any other
// name.
std::optional<TemporaryFileNameParts> ParseTemporaryFileName(std::string_view name);

// Removes from `folder` (not below it) the regular files named as
// temporaries of targets ending in `targetSuffix` whose writer no longer
// runs; this process counts as running, so its own writes are never
// touched. Logs one WARNING line per file removed and returns their names.
std::vector<std::string> RemoveAbandonedTemporaries(const std::string &folder, std::string_view targetSuffix);

} // namespace fw
