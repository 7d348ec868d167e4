#include "ui/InstanceWindow.h"

namespace kivo::ui {

namespace {
constexpr const wchar_t* kClassName = L"Kivoline.Instance";
}  // namespace

bool CInstanceWindow::Create(HWND mainWindow) {
  main_ = mainWindow;
  if (!CreateMessageWindow(kClassName)) return false;
  // A second copy started unelevated while this one runs elevated must
  // still reach it.
  kivo::toolkit::AcceptFromLowerIntegrity(Hwnd(), WM_COPYDATA);
  return true;
}

HWND CInstanceWindow::FindRunning() { return ::FindWindowExW(HWND_MESSAGE, nullptr, kClassName, nullptr); }

LRESULT CInstanceWindow::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  // The main window's own thread: the record the system copied into this
  // process stays valid for the length of the call.
  if (msg == WM_COPYDATA) return ::SendMessageW(main_, WM_COPYDATA, wp, lp);
  return kivo::toolkit::Window::WindowProc(msg, wp, lp);
}

}  // namespace kivo::ui
