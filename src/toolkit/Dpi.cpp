#include "Dpi.h"

namespace kivo::toolkit {

namespace {

// A function of user32.dll that older systems lack, or null.
template <typename Function>
Function User32Function(const char* name) {
  // GetProcAddress has no W form: export names are bytes.
  FARPROC proc = ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name);
  return reinterpret_cast<Function>(reinterpret_cast<void*>(proc));
}

// The DPI of a window's monitor on Windows 8.1, from shcore.dll, which the
// program loads only there; 0 where that is not known.
UINT MonitorDpi(HWND hwnd) {
  using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  static const auto getDpiForMonitor = []() -> GetDpiForMonitorFn {
    HMODULE shcore = ::LoadLibraryW(L"shcore.dll");  // stays loaded for the process
    // GetProcAddress has no W form: export names are bytes.
    FARPROC proc = shcore != nullptr ? ::GetProcAddress(shcore, "GetDpiForMonitor") : nullptr;
    return reinterpret_cast<GetDpiForMonitorFn>(reinterpret_cast<void*>(proc));
  }();
  if (getDpiForMonitor == nullptr || hwnd == nullptr) return 0;
  UINT dpiX = 0;
  UINT dpiY = 0;
  constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
  HMONITOR monitor = ::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST);
  return SUCCEEDED(getDpiForMonitor(monitor, kEffectiveDpi, &dpiX, &dpiY)) ? dpiY : 0;
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
  if (getDpiForWindow == nullptr) {
    const UINT dpi = MonitorDpi(hwnd);
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

void LeaveDpiChangesToProgram(HWND dialog) {
  using SetBehaviorFn = BOOL(WINAPI*)(HWND, int, int);
  static const auto setBehavior = User32Function<SetBehaviorFn>("SetDialogDpiChangeBehavior");
  constexpr int kDisableAll = 0x0001;  // DDC_DISABLE_ALL
  if (setBehavior != nullptr) setBehavior(dialog, kDisableAll, kDisableAll);
}

bool AdjustWindowRectForDpi(RECT& rc, DWORD style, DWORD exStyle, UINT dpi) {
  using AdjustFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = User32Function<AdjustFn>("AdjustWindowRectExForDpi");
  if (adjustForDpi != nullptr) return adjustForDpi(&rc, style, FALSE, exStyle, dpi) != FALSE;
  return ::AdjustWindowRectEx(&rc, style, FALSE, exStyle) != FALSE;
}

}  // namespace kivo::toolkit
