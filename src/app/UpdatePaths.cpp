#include "app/UpdatePaths.h"

#include <windows.h>

namespace kivo::app {

bool GetLocalUpdaterPath(std::string& updaterPath, std::string& exeName) {
  std::string modulePath;
  if (!GetRunningModulePath(modulePath)) return false;
  ModulePathParts parts = SplitModulePath(modulePath);
  updaterPath = parts.directory + kLocalUpdaterName;
  exeName = std::move(parts.fileName);
  return true;
}

}  // namespace kivo::app
