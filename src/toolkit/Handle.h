// Owning wrappers for Win32 handles. An owner closes what it holds exactly
// once and cannot be copied; ownership moves explicitly.
#pragma once

#include <windows.h>

#include <utility>

namespace kivo::toolkit {

// Traits describe one kind of handle: its type, the value that means
// "nothing held" and how to release it.
template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Type h) noexcept : handle_(h) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~UniqueHandle() { Reset(); }

  Type Get() const noexcept { return handle_; }
  bool Valid() const noexcept { return handle_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return Valid(); }

  // Gives up ownership without closing.
  Type Release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

  void Reset(Type h = Traits::Invalid()) noexcept {
    Type old = std::exchange(handle_, h);
    if (old != Traits::Invalid()) Traits::Close(old);
  }

 private:
  Type handle_ = Traits::Invalid();
};

// Traits of a handle type whose "nothing held" value is null and which one
// function releases: UniqueHandle<ClosedBy<HANDLE, ::CloseHandle>>. The
// release may also be a lambda for calls that take more arguments.
template <typename T, auto CloseFn>
struct ClosedBy {
  using Type = T;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { CloseFn(h); }
};

using KernelHandleTraits = ClosedBy<HANDLE, ::CloseHandle>;
using GdiObjectTraits = ClosedBy<HGDIOBJ, ::DeleteObject>;
using BitmapTraits = ClosedBy<HBITMAP, ::DeleteObject>;
using MemoryDcTraits = ClosedBy<HDC, ::DeleteDC>;
using MenuTraits = ClosedBy<HMENU, ::DestroyMenu>;
using IconTraits = ClosedBy<HICON, ::DestroyIcon>;

// CreateFile and a few others report failure as INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueBitmap = UniqueHandle<BitmapTraits>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;
using UniqueMenu = UniqueHandle<MenuTraits>;
using UniqueIcon = UniqueHandle<IconTraits>;

}  // namespace kivo::toolkit
