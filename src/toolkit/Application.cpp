#include "Application.h"

#include <commctrl.h>

namespace kivo::toolkit {

Application::Application() noexcept = default;

Application::~Application() = default;

int Application::Run(HINSTANCE) {
  // Dialog templates may hold common controls (the list view). Windows has
  // their classes only once comctl32 is loaded and has registered them; no
  // other library can be relied on to have done so.
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&controls);
  if (!InitInstance()) return ExitInstance();
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  exitCode_ = static_cast<int>(msg.wParam);
  return ExitInstance();
}

std::string Application::Title() {
  std::string path;
  if (!GetRunningModulePath(path)) return std::string();
  std::string name = SplitModulePath(path).fileName;
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

int Application::ShowMessage(const std::string& text, UINT type) const {
  return ::MessageBoxA(nullptr, text.c_str(), Title().c_str(), type);
}

ModulePathParts SplitModulePath(const std::string& path) {
  const std::string::size_type slash = path.rfind('\\');
  if (slash == std::string::npos) return {std::string(), path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

bool GetRunningModulePath(std::string& path) {
  char buffer[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  // A length equal to the buffer size means the path was cut short.
  if (length == 0 || length >= MAX_PATH) return false;
  path.assign(buffer, length);
  return true;
}

}  // namespace kivo::toolkit
