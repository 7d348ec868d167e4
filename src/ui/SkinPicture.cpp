#include "ui/SkinPicture.h"

#include "ui/SkinArt.h"

namespace kivo::ui {

void SkinPicture::Load(HWND window, UINT id, kivo::toolkit::DpiScale scale) {
  // The surface lets go of the old picture before it is replaced.
  surface_.Reset();
  bitmap_.Reset(LoadSkinBitmap(id, scale));
  surface_.CreateFor(window);
  surface_.Select(bitmap_.Get());
}

void SkinPicture::PaintOn(HDC dc, const RECT& area) const {
  // Without a surface (initialisation stopped early) there is nothing to copy.
  if (!surface_.Valid()) return;
  ::BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, surface_.Get(), 0, 0,
           SRCCOPY);
}

}  // namespace kivo::ui
