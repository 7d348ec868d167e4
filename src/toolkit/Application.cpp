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
  std::string name = GetModulePath().fileName;
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

int Application::MessageBox(const std::string& text, UINT type) const {
  return ::MessageBoxA(nullptr, text.c_str(), Title().c_str(), type);
}

ModulePath GetModulePath() {
  char path[260] = {};
  DWORD len = ::GetModuleFileNameA(nullptr, path, sizeof(path));
  if (len >= sizeof(path)) len = sizeof(path) - 1;
  std::string full(path, len);
  size_t slash = full.rfind('\\');
  if (slash == std::string::npos) return {"", full};
  return {full.substr(0, slash + 1), full.substr(slash + 1)};
}

}  // namespace kivo::toolkit
