#include "ui/ScaledDialog.h"

namespace kivo::ui {

const kivo::toolkit::MessageMap<CScaledDialog>& CScaledDialog::GetMessageMap() {
  using Map = kivo::toolkit::MessageMap<CScaledDialog>;
  static const Map map = Map().Message(WM_DPICHANGED, &CScaledDialog::OnDpiChanged);
  return map;
}

BOOL CScaledDialog::OnInitDialog() {
  layout_.Apply(Hwnd(), templateId_, kivo::toolkit::DpiOfWindow(Hwnd()));
  OnScaleChanged();
  return TRUE;
}

LRESULT CScaledDialog::OnDpiChanged(WPARAM wp, LPARAM lp) {
  layout_.Apply(Hwnd(), templateId_, HIWORD(wp), reinterpret_cast<const RECT*>(lp));
  OnScaleChanged();
  return 0;
}

}  // namespace kivo::ui
