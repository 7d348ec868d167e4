// Display scale: a window's dots per inch and the rule that turns a
// rectangle laid out at 96 DPI (100%) into the one at another scale.
//
// Windows 8.1 and 10 give every monitor its own DPI and tell a window when
// it moves to another; Windows 7 has one DPI for the whole session. The calls
// that only newer systems have are looked up at run time.
#pragma once

#include <windows.h>

// Sent to every child after its parent changed scale (Windows 10 1703); the
// program's own layout sends it as well, so it is defined here for all.
#ifndef WM_DPICHANGED_AFTERPARENT
#define WM_DPICHANGED_AFTERPARENT 0x02E3
#endif

namespace kivo::toolkit {

class DpiScale {
 public:
  static constexpr UINT kBase = 96;

  constexpr explicit DpiScale(UINT dpi = kBase) noexcept : dpi_(dpi == 0 ? kBase : dpi) {}

  constexpr UINT Dpi() const noexcept { return dpi_; }
  constexpr bool IsBase() const noexcept { return dpi_ == kBase; }

  // A length or coordinate of the 100% layout at this scale, rounded half
  // away from zero as MulDiv does.
  constexpr int Scale(int value) const noexcept {
    const long long product = static_cast<long long>(value) * dpi_;
    const long long half = kBase / 2;
    return static_cast<int>(product >= 0 ? (product + half) / kBase : -((-product + half) / kBase));
  }
  constexpr SIZE Scale(SIZE size) const noexcept { return SIZE{Scale(size.cx), Scale(size.cy)}; }
  // The corner and the size are scaled separately, so that a rectangle keeps
  // exactly the scaled size of its 100% size wherever it lies.
  constexpr RECT Scale(const RECT& rc) const noexcept {
    const int left = Scale(rc.left);
    const int top = Scale(rc.top);
    return RECT{left, top, left + Scale(rc.right - rc.left), top + Scale(rc.bottom - rc.top)};
  }

  // Pictures are drawn at 96, 144 and 192 DPI. A scale in between takes the
  // next larger set and shrinks it; one beyond 200% enlarges the largest.
  constexpr UINT ArtDpi() const noexcept {
    if (dpi_ <= kBase) return kBase;
    if (dpi_ <= kBase * 3 / 2) return kBase * 3 / 2;
    return kBase * 2;
  }

  constexpr bool operator==(const DpiScale& other) const noexcept { return dpi_ == other.dpi_; }
  constexpr bool operator!=(const DpiScale& other) const noexcept { return dpi_ != other.dpi_; }

 private:
  UINT dpi_;
};

// The DPI of the monitor a window is on (Windows 8.1 and later), else the
// session's.
UINT DpiOfWindow(HWND hwnd);

// A system metric at a DPI (Windows 10), else the session's metric scaled
// from the session's DPI.
int SystemMetricForDpi(int index, UINT dpi);

// Tells the dialog manager (Windows 10 1703 and later) to leave a dialog's
// size, fonts and controls alone when its DPI changes: the program lays it
// out itself.
void LeaveDpiChangesToProgram(HWND dialog);

// The window rectangle around a client rectangle at a DPI (Windows 10), else
// at the session's metrics.
bool AdjustWindowRectForDpi(RECT& rc, DWORD style, DWORD exStyle, UINT dpi);

}  // namespace kivo::toolkit
