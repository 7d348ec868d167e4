#include "Application.h"

#include <commctrl.h>

namespace kivo::toolkit {

Application::Application() noexcept = default;

Application::~Application() = default;

int Application::Run(HINSTANCE) {
  // Dialog templates may hold common controls (the list view). Windows has
  // their classes only once comctl32 is loaded and has registered them; no
  // other library can be relied on to have done so.
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
  // The program's windows are modal and run their own loops: once
  // InitInstance returns, the work is done.
  InitInstance();
  return ExitInstance();
}

std::wstring Application::Title() {
  std::wstring path;
  if (!GetRunningModulePath(path)) return std::wstring();
  std::wstring name = SplitModulePath(path).fileName;
  size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos) name.resize(dot);
  return name;
}

int Application::ShowMessage(const std::wstring& text, UINT type) const {
  return ::MessageBoxW(nullptr, text.c_str(), Title().c_str(), type);
}

ModulePathParts SplitModulePath(const std::wstring& path) {
  const std::wstring::size_type slash = path.rfind(L'\\');
  if (slash == std::wstring::npos) return {std::wstring(), path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

bool GetRunningModulePath(std::wstring& path) {
  // A length equal to the buffer's means the path was cut short: a larger
  // buffer then, up to the longest path the system knows.
  for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
    std::wstring buffer(size, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) return false;
    if (length < size) {
      buffer.resize(length);
      path = std::move(buffer);
      return true;
    }
  }
  return false;
}

}  // namespace kivo::toolkit
