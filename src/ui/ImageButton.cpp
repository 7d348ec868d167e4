#include "ui/ImageButton.h"

#include "ui/SkinArt.h"
#include "ui/SkinLayout.h"

namespace kivo::ui {

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
  memDC_.Reset();
}

void CImageButton::ReleaseImage(kivo::toolkit::UniqueBitmap& image) {
  memDC_.Deselect(image.Get());
  image.Reset();
}

void CImageButton::SetBitmaps(UINT normalId, UINT hoverId, UINT disabledId) {
  normalId_ = normalId;
  hoverId_ = hoverId;
  disabledId_ = disabledId;
  LoadImages();
}

void CImageButton::LoadImages() {
  if (!memDC_.Valid()) memDC_.CreateFor(Hwnd());
  const kivo::toolkit::DpiScale scale(SkinLayout::DpiOf(Hwnd()));
  focusInset_ = scale.Scale(kFocusInset);

  ReleaseImage(bmpHover_);
  bmpHover_.Reset(LoadImageResource(hoverId_, scale));
  ReleaseImage(bmpNormal_);
  bmpNormal_.Reset(LoadImageResource(normalId_, scale));
  ReleaseImage(bmpDisabled_);
  if (disabledId_ != 0) bmpDisabled_.Reset(LoadImageResource(disabledId_, scale));

  memDC_.Select(bmpNormal_.Get());
}

LRESULT CImageButton::OnDpiChangedAfterParent(WPARAM, LPARAM) {
  // The dialog was laid out at another scale: the faces of that scale.
  if (normalId_ != 0) {
    LoadImages();
    ::InvalidateRect(Hwnd(), nullptr, FALSE);
  }
  return 0;
}

int CImageButton::ImageCount() const noexcept {
  return (bmpHover_.Valid() ? 1 : 0) + (bmpNormal_.Valid() ? 1 : 0) + (bmpDisabled_.Valid() ? 1 : 0);
}

void CImageButton::DrawItem(const DRAWITEMSTRUCT& item) {
  if (!memDC_.Valid()) return;
  kivo::toolkit::SavedDcState saved(item.hDC);

  HBITMAP image = bmpNormal_.Get();
  if ((item.itemState & ODS_DISABLED) != 0) {
    if (bmpDisabled_.Valid()) image = bmpDisabled_.Get();
  } else if (hover_) {
    image = bmpHover_.Get();
  }
  memDC_.Select(image);

  RECT rc{};
  ::GetClientRect(Hwnd(), &rc);
  ::BitBlt(item.hDC, 0, 0, rc.right - rc.left, rc.bottom - rc.top, memDC_.Get(), 0, 0, SRCCOPY);

  // The keyboard focus, unless the window hides focus marks until the user
  // reaches for the keyboard.
  if ((item.itemState & ODS_FOCUS) != 0 && (item.itemState & ODS_NOFOCUSRECT) == 0) {
    ::InflateRect(&rc, -focusInset_, -focusInset_);
    ::DrawFocusRect(item.hDC, &rc);
  }
}

void CImageButton::OnMouseMove(UINT, POINT) {
  if (!tracking_) {
    TRACKMOUSEEVENT tme{};
    tme.cbSize = sizeof(tme);
    tme.dwFlags = TME_HOVER | TME_LEAVE;
    tme.hwndTrack = Hwnd();
    tme.dwHoverTime = 1;
    tracking_ = ::TrackMouseEvent(&tme) != FALSE;
  }
  SetMsgHandled(false);
}

LRESULT CImageButton::OnMouseHover(WPARAM, LPARAM) {
  hover_ = true;
  ::InvalidateRect(Hwnd(), nullptr, FALSE);
  return 0;
}

LRESULT CImageButton::OnMouseLeave(WPARAM, LPARAM) {
  hover_ = false;
  tracking_ = false;
  ::InvalidateRect(Hwnd(), nullptr, FALSE);
  return 0;
}

}  // namespace kivo::ui
