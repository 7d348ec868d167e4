// A skin picture held in a memory surface of its own, ready to be copied
// onto a window whenever it paints: the main dialog's background.
#pragma once

#include <windows.h>

#include "toolkit/Dpi.h"
#include "toolkit/Gdi.h"

namespace kivo::ui {

class SkinPicture {
 public:
  // Loads picture `id` at `scale` for painting onto `window`; the picture
  // held before is let go first.
  void Load(HWND window, UINT id, kivo::toolkit::DpiScale scale);
  // Copies the picture onto `dc` over `area`; nothing before a Load.
  void PaintOn(HDC dc, const RECT& area) const;

 private:
  kivo::toolkit::UniqueBitmap bitmap_;
  // Declared after the picture, so that it gives back its original object
  // before the picture is deleted.
  kivo::toolkit::MemorySurface surface_;
};

}  // namespace kivo::ui
