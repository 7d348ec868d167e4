// An owner-drawn push button that shows images instead of its face: a
// normal image, a hover image while the pointer rests on it, and an optional
// disabled image. No pressed image; a dotted focus mark inset on the face
// while the button has the keyboard focus. Its window text, which screen
// readers read, is the owner's to set: the text of the face.
//
// The images come from the skin set of the scale the dialog was laid out
// for, and are loaded again when the layout changes scale.
#pragma once

#include "toolkit/Gdi.h"
#include "toolkit/Handle.h"
#include "toolkit/MessageMap.h"
#include "toolkit/Window.h"

class CImageButton : public kivo::toolkit::Window {
 public:
  CImageButton() = default;
  ~CImageButton() override;

  // Resource ids of the three images (low 16 bits used); a disabled id of
  // 0 means none. Call after the button is bound to its control.
  void SetBitmaps(UINT normalId, UINT hoverId, UINT disabledId);

  void DrawItem(const DRAWITEMSTRUCT& item) override;

  bool IsHovering() const noexcept { return m_bHover; }
  // Number of images held (at most three).
  int ImageCount() const noexcept;

 private:
  void OnMouseMove(UINT flags, POINT pt);
  LRESULT OnMouseHover(WPARAM wp, LPARAM lp);
  LRESULT OnMouseLeave(WPARAM wp, LPARAM lp);
  LRESULT OnDpiChangedAfterParent(WPARAM wp, LPARAM lp);
  void LoadImages();
  // Releases an image, taking it out of the surface first.
  void ReleaseImage(kivo::toolkit::UniqueBitmap& image);

  bool m_bHover = false;
  bool m_bTracking = false;
  UINT m_nNormalId = 0;
  UINT m_nHoverId = 0;
  UINT m_nDisabledId = 0;
  int m_nFocusInset = 3;  // pixels, at the scale of the images
  kivo::toolkit::UniqueBitmap m_hBmpHover;
  kivo::toolkit::UniqueBitmap m_hBmpNormal;
  kivo::toolkit::UniqueBitmap m_hBmpDisabled;
  // Holds the image to be shown; remembers the object it held before the
  // first image (the old-bitmap pointer of the classic design).
  kivo::toolkit::MemorySurface m_hMemDC;

  KIVO_DECLARE_MESSAGE_MAP(CImageButton, kivo::toolkit::Window)
};
