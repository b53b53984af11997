// The program folder: base of "logs/", "temp/", "quillbrook.cfg" and
// "videocap.cfg". Fixed once at start-up, before any other window exists.
#pragma once

#include <chrono>
#include <string>

namespace fw {

// The folder every other part reads its files from, with a trailing "/".
// Empty until the main window has been created.
extern std::string programFolder;

struct ProgramFolderInputs {
  std::string executablePath; // full path of the running executable
  bool executableFolderWritable = false;
  std::string homeOverride; // FRAMEWELL_HOME, empty when unset
  std::string xdgDataHome;  // XDG_DATA_HOME, empty when unset
  std::string home;         // HOME
  bool installed = false;   // the install marker sits beside the executable's tree
};

// Installed beside the executable's tree by `cmake --install` and the Debian
// package, never present in a build tree: <prefix>/bin/framewell finds it as
// <prefix>/share/framewell/installed.
inline constexpr const char *kInstallMarker = "../share/framewell/installed";

// Reads the inputs from /proc/self/exe and the environment.
ProgramFolderInputs CurrentProgramFolderInputs();

// FRAMEWELL_HOME when set; else the executable's folder when it is writable
// and the station is not installed (a build tree or a copied binary); else
// $XDG_DATA_HOME/framewell/ (default ~/.local/share/framewell/). An installed
// station always uses the XDG folder: root can write to /usr/bin, so
// "writable" alone cannot tell an installation from a build tree.
// Always ends in "/".
std::string ResolveProgramFolder(const ProgramFolderInputs &inputs);

// "yyyymmdd" of a calendar date.
std::string DateText(std::chrono::year_month_day date);

// Today's local date.
std::chrono::year_month_day LocalToday();

// The start-up settings of the main window, after the caption and controls:
// creates "logs/" and "temp/" below the folder when missing (failures are
// ignored), sets the log target to logs/<yyyymmdd>_qbk.log with the listener
// "quillbrook", and returns that log path.
std::string ApplyStartupSettings(const std::string &folder, std::chrono::year_month_day today);

} // namespace fw
