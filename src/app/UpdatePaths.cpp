#include "app/UpdatePaths.h"

#include <windows.h>

namespace kivo::app {

namespace {
constexpr DWORD kModulePathBufferSize = 260;
}

ModulePathParts SplitModulePath(const std::string& path) {
  const std::string::size_type slash = path.rfind('\\');
  if (slash == std::string::npos) return {std::string(), path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

bool GetRunningModulePath(std::string& path) {
  char buffer[kModulePathBufferSize] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, buffer, kModulePathBufferSize);
  // A length equal to the buffer size means the path was cut short.
  if (length == 0 || length >= kModulePathBufferSize) return false;
  path.assign(buffer, length);
  return true;
}

bool GetLocalUpdaterPath(std::string& updaterPath, std::string& exeName) {
  std::string modulePath;
  if (!GetRunningModulePath(modulePath)) return false;
  ModulePathParts parts = SplitModulePath(modulePath);
  updaterPath = parts.directory + kLocalUpdaterName;
  exeName = std::move(parts.fileName);
  return true;
}

}  // namespace kivo::app
