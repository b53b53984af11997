#include "dicom/TemporaryFiles.h"

#include "base/Log.h"

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <limits>

#include <signal.h>
#include <unistd.h>

namespace fw {
namespace {

constexpr std::string_view TEMPORARY_SUFFIX = ".tmp";

bool AllDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool WriterRuns(pid_t writer) {
  if (writer == ::getpid()) {
    return true;
  }
  // EPERM: a process of another user holds the id, so it runs.
  return ::kill(writer, 0) == 0 || errno != ESRCH;
}

} // namespace

std::string TemporaryFileName(std::string_view targetName, pid_t writer, unsigned long number) {
  std::string name(".");
  name.append(targetName)
      .append(".")
      .append(std::to_string(writer))
      .append("-")
      .append(std::to_string(number))
      .append(TEMPORARY_SUFFIX);
  return name;
}

std::optional<TemporaryFileNameParts> ParseTemporaryFileName(std::string_view name) {
  if (name.size() < 1 + TEMPORARY_SUFFIX.size() || name.front() != '.' || !name.ends_with(TEMPORARY_SUFFIX)) {
    return std::nullopt;
  }
  name = name.substr(1, name.size() - 1 - TEMPORARY_SUFFIX.size()); // "<target>.<pid>-<number>"
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) {
    return std::nullopt;
  }
  const std::string_view writerAndNumber = name.substr(dot + 1);
  const std::size_t dash = writerAndNumber.find('-');
  if (dash == std::string_view::npos || !AllDigits(writerAndNumber.substr(0, dash)) ||
      !AllDigits(writerAndNumber.substr(dash + 1))) {
    return std::nullopt;
  }
  long long writer = 0;
  const auto [end, error] = std::from_chars(writerAndNumber.data(), writerAndNumber.data() + dash, writer);
  if (error != std::errc() || writer <= 0 || writer > std::numeric_limits<pid_t>::max()) {
    return std::nullopt;
  }
  return TemporaryFileNameParts{std::string(name.substr(0, dot)), static_cast<pid_t>(writer)};
}

std::vector<std::string> RemoveAbandonedTemporaries(const std::string &folder, std::string_view targetSuffix) {
  std::vector<std::string> removed;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    const auto parts = ParseTemporaryFileName(name);
    if (!parts || !parts->targetName.ends_with(targetSuffix)) {
      continue;
    }
    // A link or a folder of that name is not a write of ours.
    std::error_code statusError;
    if (!std::filesystem::is_regular_file(it->symlink_status(statusError)) || WriterRuns(parts->writer)) {
      continue;
    }
    std::error_code removeError;
    if (std::filesystem::remove(it->path(), removeError)) {
      WriteLog("WARNING, removed a partial file left by an interrupted write: " + it->path().string());
      removed.push_back(name);
    }
  }
  return removed;
}

} // namespace fw
