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

namespace kivo::ui {

class CImageButton : public kivo::toolkit::Window {
 public:
  CImageButton() = default;
  ~CImageButton() override;

  // Resource ids of the three images (low 16 bits used); a disabled id of
  // 0 means none. Call after the button is bound to its control.
  void SetBitmaps(UINT normalId, UINT hoverId, UINT disabledId);

  void DrawItem(const DRAWITEMSTRUCT& item) override;

  bool IsHovering() const noexcept { return hover_; }
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

  bool hover_ = false;
  bool tracking_ = false;
  UINT normalId_ = 0;
  UINT hoverId_ = 0;
  UINT disabledId_ = 0;
  int focusInset_ = 3;  // pixels, at the scale of the images
  kivo::toolkit::UniqueBitmap bmpHover_;
  kivo::toolkit::UniqueBitmap bmpNormal_;
  kivo::toolkit::UniqueBitmap bmpDisabled_;
  // Holds the image to be shown; remembers the object it held before the
  // first image (the old-bitmap pointer of the classic design).
  kivo::toolkit::MemorySurface memDC_;

  KIVO_DECLARE_MESSAGE_MAP(CImageButton, kivo::toolkit::Window)
};

}  // namespace kivo::ui
