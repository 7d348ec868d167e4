#include "ui/ImageButton.h"

#include "ui/SkinArt.h"
#include "ui/SkinLayout.h"

namespace {

// Distance of the focus mark from the edge of the face, in pixels at 100%.
constexpr int kFocusInset = 3;

HBITMAP LoadImageResource(UINT id, kivo::toolkit::DpiScale scale) {
  return LoadSkinBitmap(LOWORD(id), scale);
}

}  // namespace

const kivo::toolkit::MessageMap<CImageButton>& CImageButton::GetMessageMap() {
  static const kivo::toolkit::MessageMap<CImageButton> map =
      kivo::toolkit::MessageMap<CImageButton>()
          .Mouse(WM_MOUSEMOVE, &CImageButton::OnMouseMove)
          .Message(WM_MOUSELEAVE, &CImageButton::OnMouseLeave)
          .Message(WM_MOUSEHOVER, &CImageButton::OnMouseHover)
          .Message(WM_DPICHANGED_AFTERPARENT, &CImageButton::OnDpiChangedAfterParent);
  return map;
}

CImageButton::~CImageButton() {
  // The surface gives back its original object before the images go.
  m_hMemDC.Reset();
}

void CImageButton::ReleaseImage(kivo::toolkit::UniqueBitmap& image) {
  m_hMemDC.Deselect(image.Get());
  image.Reset();
}

void CImageButton::SetBitmaps(UINT normalId, UINT hoverId, UINT disabledId) {
  m_nNormalId = normalId;
  m_nHoverId = hoverId;
  m_nDisabledId = disabledId;
  LoadImages();
}

void CImageButton::LoadImages() {
  if (!m_hMemDC.Valid()) m_hMemDC.CreateFor(Hwnd());
  const kivo::toolkit::DpiScale scale(CSkinLayout::DpiOf(Hwnd()));
  m_nFocusInset = scale.Scale(kFocusInset);

  ReleaseImage(m_hBmpHover);
  m_hBmpHover.Reset(LoadImageResource(m_nHoverId, scale));
  ReleaseImage(m_hBmpNormal);
  m_hBmpNormal.Reset(LoadImageResource(m_nNormalId, scale));
  ReleaseImage(m_hBmpDisabled);
  if (m_nDisabledId != 0) m_hBmpDisabled.Reset(LoadImageResource(m_nDisabledId, scale));

  m_hMemDC.Select(m_hBmpNormal.Get());
}

LRESULT CImageButton::OnDpiChangedAfterParent(WPARAM, LPARAM) {
  // The dialog was laid out at another scale: the faces of that scale.
  if (m_nNormalId != 0) {
    LoadImages();
    ::InvalidateRect(Hwnd(), nullptr, FALSE);
  }
  return 0;
}

int CImageButton::ImageCount() const noexcept {
  return (m_hBmpHover.Valid() ? 1 : 0) + (m_hBmpNormal.Valid() ? 1 : 0) + (m_hBmpDisabled.Valid() ? 1 : 0);
}

void CImageButton::DrawItem(const DRAWITEMSTRUCT& item) {
  if (!m_hMemDC.Valid()) return;
  kivo::toolkit::SavedDcState saved(item.hDC);

  HBITMAP image = m_hBmpNormal.Get();
  if ((item.itemState & ODS_DISABLED) != 0) {
    if (m_hBmpDisabled.Valid()) image = m_hBmpDisabled.Get();
  } else if (m_bHover) {
    image = m_hBmpHover.Get();
  }
  m_hMemDC.Select(image);

  RECT rc{};
  ::GetClientRect(Hwnd(), &rc);
  ::BitBlt(item.hDC, 0, 0, rc.right - rc.left, rc.bottom - rc.top, m_hMemDC.Get(), 0, 0, SRCCOPY);

  // The keyboard focus, unless the window hides focus marks until the user
  // reaches for the keyboard.
  if ((item.itemState & ODS_FOCUS) != 0 && (item.itemState & ODS_NOFOCUSRECT) == 0) {
    ::InflateRect(&rc, -m_nFocusInset, -m_nFocusInset);
    ::DrawFocusRect(item.hDC, &rc);
  }
}

void CImageButton::OnMouseMove(UINT, POINT) {
  if (!m_bTracking) {
    TRACKMOUSEEVENT tme{};
    tme.cbSize = sizeof(tme);
    tme.dwFlags = TME_HOVER | TME_LEAVE;
    tme.hwndTrack = Hwnd();
    tme.dwHoverTime = 1;
    m_bTracking = ::TrackMouseEvent(&tme) != FALSE;
  }
  SetMsgHandled(false);
}

LRESULT CImageButton::OnMouseHover(WPARAM, LPARAM) {
  m_bHover = true;
  ::InvalidateRect(Hwnd(), nullptr, FALSE);
  return 0;
}

LRESULT CImageButton::OnMouseLeave(WPARAM, LPARAM) {
  m_bHover = false;
  m_bTracking = false;
  ::InvalidateRect(Hwnd(), nullptr, FALSE);
  return 0;
}
