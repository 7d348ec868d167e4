// A dialog laid out at the display scale of its monitor (SkinLayout), and
// laid out again when it moves to a monitor of another DPI.
#pragma once

#include "toolkit/Dialog.h"
#include "toolkit/MessageMap.h"
#include "ui/SkinLayout.h"

namespace kivo::ui {

class CScaledDialog : public kivo::toolkit::Dialog {
 public:
  CScaledDialog(UINT templateId, HWND parent) noexcept
      : kivo::toolkit::Dialog(templateId, parent), templateId_(templateId) {}

 protected:
  BOOL OnInitDialog() override;
  // After every layout: what the template cannot say (column widths).
  virtual void OnScaleChanged() {}
  kivo::toolkit::DpiScale Scale() const noexcept { return layout_.Scale(); }

 private:
  LRESULT OnDpiChanged(WPARAM wp, LPARAM lp);

  UINT templateId_;
  SkinLayout layout_;

  KIVO_DECLARE_MESSAGE_MAP(CScaledDialog, kivo::toolkit::Dialog)
};

}  // namespace kivo::ui
