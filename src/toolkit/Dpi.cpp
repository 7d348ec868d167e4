#include "Dpi.h"

namespace kivo::toolkit {

namespace {

// A function of user32.dll that older systems lack, or null.
template <typename Function>
Function User32Function(const char* name) {
  FARPROC proc = ::GetProcAddress(::GetModuleHandleA("user32.dll"), name);
  return reinterpret_cast<Function>(reinterpret_cast<void*>(proc));
}

UINT SessionDpi() {
  HDC screen = ::GetDC(nullptr);
  if (screen == nullptr) return DpiScale::kBase;
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : DpiScale::kBase;
}

}  // namespace

UINT DpiOfWindow(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  if (getDpiForWindow != nullptr && hwnd != nullptr) {
    const UINT dpi = getDpiForWindow(hwnd);
    if (dpi != 0) return dpi;
  }
  return SessionDpi();
}

int SystemMetricForDpi(int index, UINT dpi) {
  using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
  static const auto forDpi = User32Function<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
  if (forDpi != nullptr) return forDpi(index, dpi);
  const UINT session = SessionDpi();
  return ::MulDiv(::GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(session));
}

bool AdjustWindowRectForDpi(RECT& rc, DWORD style, DWORD exStyle, UINT dpi) {
  using AdjustFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = User32Function<AdjustFn>("AdjustWindowRectExForDpi");
  if (adjustForDpi != nullptr) return adjustForDpi(&rc, style, FALSE, exStyle, dpi) != FALSE;
  return ::AdjustWindowRectEx(&rc, style, FALSE, exStyle) != FALSE;
}

}  // namespace kivo::toolkit
