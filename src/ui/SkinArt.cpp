#include "ui/SkinArt.h"

#include "resource.h"
#include "toolkit/Bitmaps.h"
#include "toolkit/Handle.h"

namespace kivo::ui {

namespace {
constexpr const wchar_t* kPngType = L"PNG";
}  // namespace

UINT SkinArtResourceId(UINT id, UINT artDpi) noexcept {
  if (artDpi >= 192) return id + IDB_SET_200;
  if (artDpi >= 144) return id + IDB_SET_150;
  return id;
}

HBITMAP LoadSkinBitmap(UINT id, kivo::toolkit::DpiScale scale) {
  HMODULE module = ::GetModuleHandleW(nullptr);
  const UINT artDpi = scale.ArtDpi();
  kivo::toolkit::UniqueBitmap drawn(
      artDpi == kivo::toolkit::DpiScale::kBase
          ? ::LoadBitmapW(module, MAKEINTRESOURCEW(id))
          : kivo::toolkit::LoadPngResource(module, SkinArtResourceId(id, artDpi), kPngType));
  if (!drawn || scale.Dpi() == artDpi) return drawn.Release();
  const SIZE base = kivo::toolkit::BitmapResourceSize(module, id);
  if (base.cx <= 0 || base.cy <= 0) return drawn.Release();
  HBITMAP resized = kivo::toolkit::ResizedCopy(drawn.Get(), scale.Scale(base));
  return resized != nullptr ? resized : drawn.Release();
}

}  // namespace kivo::ui
