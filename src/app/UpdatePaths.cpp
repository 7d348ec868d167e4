#include "app/UpdatePaths.h"

#include <windows.h>

namespace kivo::app {

bool GetLocalUpdaterPath(std::wstring& updaterPath, std::wstring& exeName) {
  std::wstring modulePath;
  if (!GetRunningModulePath(modulePath)) return false;
  ModulePathParts parts = SplitModulePath(modulePath);
  updaterPath = parts.directory + kLocalUpdaterFile;
  exeName = std::move(parts.fileName);
  return true;
}

}  // namespace kivo::app
