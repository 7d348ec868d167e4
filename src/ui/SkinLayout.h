// Lays out a dialog at a display scale from the skin's geometry rather than
// from its font: at scale s the client area and every control are s times
// their 100% rectangles, which the template's dialog units give with the
// skin's base units of 6x13 pixels (the units of 9-point "MS Sans Serif" at
// 96 DPI, for which the skin is drawn). Fonts that come in few sizes (the
// bitmap "MS Sans Serif") or substitutes (a Chinese system's) then change
// the texts only, never the geometry.
#pragma once

#include <windows.h>

#include <vector>

#include "toolkit/Dpi.h"
#include "toolkit/Handle.h"

namespace kivo::ui {

class SkinLayout {
 public:
  SkinLayout() = default;
  ~SkinLayout();
  SkinLayout(const SkinLayout&) = delete;
  SkinLayout& operator=(const SkinLayout&) = delete;

  // The 100% rectangle, in pixels, of a rectangle in dialog units.
  static RECT BaseRect(const RECT& units) noexcept;

  // Lays out `dialog`, made from template `templateId`, at `dpi`: client
  // area, controls, the template's font at the scale (its own font at 100%)
  // and static pictures from the skin set of the scale. With `suggested`
  // the window takes that rectangle (a move to another monitor); otherwise
  // it keeps its centre. Every control then hears
  // WM_DPICHANGED_AFTERPARENT. False when the template cannot be read or
  // does not match the dialog's controls.
  bool Apply(HWND dialog, UINT templateId, UINT dpi, const RECT* suggested = nullptr);

  kivo::toolkit::DpiScale Scale() const noexcept { return scale_; }

  // The DPI the dialog holding `window` was laid out for; the window's own
  // DPI when it was not laid out.
  static UINT DpiOf(HWND window);

 private:
  void SetFonts(HWND dialog, int pointSize);
  void SetPictures(HWND dialog, const std::vector<HWND>& controls, const std::vector<WORD>& images);

  HWND dialog_ = nullptr;
  kivo::toolkit::DpiScale scale_;
  kivo::toolkit::UniqueHandle<kivo::toolkit::ClosedBy<HFONT, ::DeleteObject>> font_;
  std::vector<kivo::toolkit::UniqueBitmap> pictures_;
};

}  // namespace kivo::ui
