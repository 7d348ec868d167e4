// What a dialog template resource says about its layout: the size of the
// dialog, its font and the place of every control, in dialog units.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kivo::toolkit {

struct DialogTemplateItem {
  RECT units;  // left, top, right, bottom in dialog units
  DWORD id;    // as the template gives it (0xFFFF and beyond: none)
  DWORD style;
  WORD imageId = 0;  // a static picture's bitmap resource, else 0
};

struct DialogTemplateLayout {
  SIZE units{};  // client area in dialog units
  WORD pointSize = 0;
  WORD weight = FW_NORMAL;
  BYTE italic = 0;
  BYTE charset = DEFAULT_CHARSET;
  std::wstring face;
  std::vector<DialogTemplateItem> items;  // in template order
};

// Reads the extended template `id` of `module`. False for a missing, classic
// or malformed template; nothing is read beyond the resource.
bool ReadDialogTemplate(HMODULE module, UINT id, DialogTemplateLayout& layout);

}  // namespace kivo::toolkit
