// The main dialog at the display scale: its background, and a move to a
// monitor of another DPI.
#include "resource.h"
#include "ui/MainDlg.h"
#include "ui/SkinArt.h"

void CMainDlg::LoadBackground() {
  // The surface lets go of the old picture before it is replaced.
  m_hMemDC.Reset();
  m_hBkBitmap.Reset(LoadSkinBitmap(IDB_BACKGROUND, m_layout.Scale()));
  m_hMemDC.CreateFor(Hwnd());
  m_hMemDC.Select(m_hBkBitmap.Get());
}

LRESULT CMainDlg::OnDpiChanged(WPARAM wp, LPARAM lp) {
  // The buttons load their faces of the new scale as the layout tells them.
  m_layout.Apply(Hwnd(), IDD_MAIN, HIWORD(wp), reinterpret_cast<const RECT*>(lp));
  LoadBackground();
  RepaintNow();
  return 0;
}
