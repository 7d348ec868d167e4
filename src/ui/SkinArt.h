// The skin's pictures at a display scale. The 100% set is the bitmap
// resources; the 150% and 200% sets are PNG resources at the same id plus
// IDB_SET_150 or IDB_SET_200 (res/resource.h).
#pragma once

#include <windows.h>

#include "toolkit/Dpi.h"

namespace kivo::ui {

// The resource id and type of picture `id` (a 100% bitmap id) in the set
// drawn for `artDpi` (96, 144 or 192).
UINT SkinArtResourceId(UINT id, UINT artDpi) noexcept;

// Picture `id` at the scale `scale`: its set when one is drawn for that
// scale, else the next larger set resized once to the scaled 100% size.
// Null when the picture does not exist.
HBITMAP LoadSkinBitmap(UINT id, kivo::toolkit::DpiScale scale);

}  // namespace kivo::ui
