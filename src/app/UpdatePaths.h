// Where the self-update keeps its file: "KivoUpdate.exe" beside the running
// executable.
#pragma once

#include <string>

namespace kivo::app {

inline constexpr const char kLocalUpdaterName[] = "KivoUpdate.exe";

// A module path cut at its last backslash. The directory keeps the
// backslash; without one the directory is empty and the whole text is the
// file name.
struct ModulePathParts {
  std::string directory;
  std::string fileName;
};

ModulePathParts SplitModulePath(const std::string& path);

// The full path of the running executable (ANSI, at most 259 characters).
// False when it cannot be read or does not fit.
bool GetRunningModulePath(std::string& path);

// The path of the local updater file beside the running executable, and the
// executable's own file name. False when the executable's path is unknown.
bool GetLocalUpdaterPath(std::string& updaterPath, std::string& exeName);

}  // namespace kivo::app
