// Drawing surfaces and the guard that restores what was selected into one.
#pragma once

#include <windows.h>

#include "Handle.h"

namespace kivo::toolkit {

// Borrowed screen surface of a window, released on destruction.
class WindowDc {
 public:
  explicit WindowDc(HWND hwnd) noexcept : hwnd_(hwnd), dc_(::GetDC(hwnd)) {}
  ~WindowDc() {
    if (dc_ != nullptr) ::ReleaseDC(hwnd_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC Get() const noexcept { return dc_; }

 private:
  HWND hwnd_;
  HDC dc_;
};

// BeginPaint/EndPaint.
class PaintDc {
 public:
  explicit PaintDc(HWND hwnd) noexcept : hwnd_(hwnd) { dc_ = ::BeginPaint(hwnd, &ps_); }
  ~PaintDc() { ::EndPaint(hwnd_, &ps_); }
  PaintDc(const PaintDc&) = delete;
  PaintDc& operator=(const PaintDc&) = delete;
  HDC Get() const noexcept { return dc_; }

 private:
  HWND hwnd_;
  PAINTSTRUCT ps_{};
  HDC dc_;
};

// A memory surface that keeps the object it held before the first
// selection and puts it back before it is deleted, so that whatever bitmap
// was selected can be freed afterwards.
class MemorySurface {
 public:
  MemorySurface() = default;
  ~MemorySurface() { Reset(); }
  MemorySurface(const MemorySurface&) = delete;
  MemorySurface& operator=(const MemorySurface&) = delete;

  // Creates the surface compatible with a window's screen surface.
  bool CreateFor(HWND hwnd) {
    Reset();
    WindowDc screen(hwnd);
    dc_.Reset(::CreateCompatibleDC(screen.Get()));
    return dc_.Valid();
  }
  bool Valid() const noexcept { return dc_.Valid(); }
  HDC Get() const noexcept { return dc_.Get(); }

  // Selects a bitmap; a null or unusable bitmap leaves the previous image.
  void Select(HBITMAP bitmap) {
    if (!dc_.Valid() || bitmap == nullptr) return;
    HGDIOBJ previous = ::SelectObject(dc_.Get(), bitmap);
    if (previous == nullptr || previous == HGDI_ERROR) return;
    if (!haveOriginal_) {
      original_ = previous;
      haveOriginal_ = true;
    }
    selected_ = bitmap;
  }
  // Takes `bitmap` out of the surface if it is selected there.
  void Deselect(HBITMAP bitmap) {
    if (dc_.Valid() && haveOriginal_ && selected_ == bitmap && bitmap != nullptr) {
      ::SelectObject(dc_.Get(), original_);
      selected_ = nullptr;
    }
  }
  HBITMAP Selected() const noexcept { return selected_; }

  void Reset() {
    if (dc_.Valid() && haveOriginal_) ::SelectObject(dc_.Get(), original_);
    dc_.Reset();
    haveOriginal_ = false;
    original_ = nullptr;
    selected_ = nullptr;
  }

 private:
  UniqueMemoryDc dc_;
  HGDIOBJ original_ = nullptr;
  bool haveOriginal_ = false;
  HBITMAP selected_ = nullptr;
};

// Saves a surface's state and restores it on destruction.
class SavedDcState {
 public:
  explicit SavedDcState(HDC dc) noexcept : dc_(dc), state_(::SaveDC(dc)) {}
  ~SavedDcState() {
    if (state_ != 0) ::RestoreDC(dc_, state_);
  }
  SavedDcState(const SavedDcState&) = delete;
  SavedDcState& operator=(const SavedDcState&) = delete;

 private:
  HDC dc_;
  int state_;
};

}  // namespace kivo::toolkit
