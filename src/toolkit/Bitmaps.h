// Bitmaps from resources beyond what LoadBitmap reads: PNG pictures decoded
// at load, the size of a bitmap resource, and a smoothly resized copy.
#pragma once

#include <windows.h>

namespace kivo::toolkit {

// Decodes the PNG resource `id` of type `type` into a 24-bit DIB section;
// null when it is missing or cannot be decoded.
HBITMAP LoadPngResource(HMODULE module, UINT id, const wchar_t* type);

// The width and height of bitmap resource `id` (from its header, without
// loading it); 0x0 when there is none.
SIZE BitmapResourceSize(HMODULE module, UINT id);

// A copy of `source` at `size`, resampled once with HALFTONE; null on failure.
HBITMAP ResizedCopy(HBITMAP source, SIZE size);

}  // namespace kivo::toolkit
