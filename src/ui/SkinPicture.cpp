#include "ui/SkinPicture.h"

#include "ui/SkinArt.h"

void CSkinPicture::Load(HWND window, UINT id, kivo::toolkit::DpiScale scale) {
  // The surface lets go of the old picture before it is replaced.
  m_hSurface.Reset();
  m_hBitmap.Reset(LoadSkinBitmap(id, scale));
  m_hSurface.CreateFor(window);
  m_hSurface.Select(m_hBitmap.Get());
}

void CSkinPicture::PaintOn(HDC dc, const RECT& area) const {
  // Without a surface (initialisation stopped early) there is nothing to copy.
  if (!m_hSurface.Valid()) return;
  ::BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, m_hSurface.Get(), 0, 0,
           SRCCOPY);
}
