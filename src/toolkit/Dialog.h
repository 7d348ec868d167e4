// Modal dialogs built from a template resource. The dialog runs its own
// modal loop so that PreTranslateMessage sees every message first, as the
// classic frameworks do.
#pragma once

#include <windows.h>

#include "Window.h"

namespace kivo::toolkit {

class Dialog : public Window {
 public:
  Dialog(UINT templateId, HWND parent) noexcept : templateId_(templateId), parent_(parent) {}

  // Creates the dialog, runs it until EndDialog and destroys its window.
  // Returns the value given to EndDialog, or -1 when it could not be created.
  INT_PTR DoModal();
  void EndDialog(INT_PTR result);
  // True from EndDialog until the modal run returns: a handler that ran a
  // message loop (a message box) may find the dialog ending afterwards.
  bool Ending() const noexcept { return ended_; }

  HWND Item(int id) const noexcept { return ::GetDlgItem(Hwnd(), id); }
  std::wstring ItemText(int id) const { return GetText(Item(id)); }
  void SetItemText(int id, const std::wstring& text) const { ::SetDlgItemTextW(Hwnd(), id, text.c_str()); }
  void EnableItem(int id, bool enable) const { ::EnableWindow(Item(id), enable ? TRUE : FALSE); }
  // Invalidates the whole dialog without erasing and repaints it at once.
  void RepaintNow() const;

 protected:
  // Binds controls to objects; runs before OnInitDialog.
  virtual void DoDataExchange() {}
  // Returns non-zero to let the system set the keyboard focus.
  virtual BOOL OnInitDialog() { return TRUE; }
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  // Sees every message of the modal loop first; true consumes it.
  virtual bool PreTranslateMessage(MSG& msg);

 private:
  static INT_PTR CALLBACK StaticDialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  INT_PTR DialogProc(UINT msg, WPARAM wp, LPARAM lp);

  UINT templateId_;
  HWND parent_;
  bool ended_ = false;
  INT_PTR result_ = IDCANCEL;
};

}  // namespace kivo::toolkit
