// The About box: a plain dialog, template 808 (Chinese) or 811 (English).
#pragma once

#include "toolkit/Dialog.h"

class CAboutDlg : public kivo::toolkit::Dialog {
 public:
  CAboutDlg(UINT templateId, HWND parent) : kivo::toolkit::Dialog(templateId, parent) {}
};
