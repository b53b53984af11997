#include "base/ProgramFolder.h"

#include "base/Log.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace fw {

std::string programFolder;

namespace {

std::string WithTrailingSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') {
    folder.push_back('/');
  }
  return folder;
}

std::string EnvOrEmpty(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

} // namespace

ProgramFolderInputs CurrentProgramFolderInputs() {
  ProgramFolderInputs inputs;
  std::error_code error;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    inputs.executablePath = exe.string();
    const std::string folder = exe.parent_path().string();
    inputs.executableFolderWritable = !folder.empty() && ::access(folder.c_str(), W_OK) == 0;
    inputs.installed = std::filesystem::exists(exe.parent_path() / kInstallMarker, error);
  }
  inputs.homeOverride = EnvOrEmpty("FRAMEWELL_HOME");
  inputs.xdgDataHome = EnvOrEmpty("XDG_DATA_HOME");
  inputs.home = EnvOrEmpty("HOME");
  return inputs;
}

std::string ResolveProgramFolder(const ProgramFolderInputs &inputs) {
  if (!inputs.homeOverride.empty()) {
    return WithTrailingSlash(inputs.homeOverride);
  }
  if (!inputs.executablePath.empty() && inputs.executableFolderWritable && !inputs.installed) {
    return WithTrailingSlash(std::filesystem::path(inputs.executablePath).parent_path().string());
  }
  std::string dataHome = inputs.xdgDataHome;
  if (dataHome.empty()) {
    dataHome = (inputs.home.empty() ? std::string("/tmp") : inputs.home) + "/.local/share";
  }
  return WithTrailingSlash(dataHome) + "framewell/";
}

std::string DateText(std::chrono::year_month_day date) {
  char text[16];
  std::snprintf(text, sizeof(text), "%04d%02u%02u", static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()));
  return text;
}

std::chrono::year_month_day LocalToday() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return std::chrono::year_month_day{std::chrono::year{local.tm_year + 1900},
                                     std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
                                     std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
}

std::string ApplyStartupSettings(const std::string &folder, std::chrono::year_month_day today) {
  for (const char *sub : {"logs/", "temp/"}) {
    std::error_code ignored;
    std::filesystem::create_directories(folder + sub, ignored);
  }
  const std::string logPath = folder + "logs/" + DateText(today) + "_qbk.log";
  SetLogTarget(logPath, "quillbrook", "");
  return logPath;
}

} // namespace fw
