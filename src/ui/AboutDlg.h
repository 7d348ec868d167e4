// The About box: a plain dialog, template 808 (Chinese) or 811 (English),
// at the display scale.
#pragma once

#include "ui/ScaledDialog.h"

class CAboutDlg : public CScaledDialog {
 public:
  CAboutDlg(UINT templateId, HWND parent) : CScaledDialog(templateId, parent) {}
};
