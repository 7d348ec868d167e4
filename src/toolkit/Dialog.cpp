#include "Dialog.h"

namespace kivo::toolkit {

namespace {

// Messages whose result a dialog procedure returns directly instead of
// through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT msg) {
  switch (msg) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
      return true;
    default:
      return false;
  }
}

}  // namespace

INT_PTR Dialog::DoModal() {
  ended_ = false;
  result_ = IDCANCEL;
  // The parent owns the dialog and is disabled while it runs; a dialog
  // without one (the main dialog) is a top-level window of its own.
  HWND owner = parent_;
  HWND hwnd = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), owner,
                                   &Dialog::StaticDialogProc, reinterpret_cast<LPARAM>(this));
  if (hwnd == nullptr) return -1;
  // A modal dialog is shown whether or not its template says visible
  // (the About and performance templates do not); one that ended during
  // its initialisation stays hidden.
  if (!ended_) ::ShowWindow(hwnd, SW_SHOW);

  const bool disableOwner = owner != nullptr && ::IsWindowEnabled(owner);
  if (disableOwner) ::EnableWindow(owner, FALSE);

  MSG msg;
  while (!ended_) {
    BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));  // let the outer loop see it too
      break;
    }
    if (got == -1) break;
    if (!PreTranslateMessage(msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }

  if (disableOwner) {
    ::EnableWindow(owner, TRUE);
    if (::IsWindowVisible(owner)) ::SetActiveWindow(owner);
  }
  if (Hwnd() != nullptr) ::DestroyWindow(Hwnd());
  return result_;
}

void Dialog::EndDialog(INT_PTR result) {
  result_ = result;
  ended_ = true;
  if (Hwnd() != nullptr) ::ShowWindow(Hwnd(), SW_HIDE);
  ::PostMessageW(Hwnd(), WM_NULL, 0, 0);  // wake the modal loop
}

void Dialog::RepaintNow() const {
  ::InvalidateRect(Hwnd(), nullptr, FALSE);
  ::UpdateWindow(Hwnd());
}

bool Dialog::PreTranslateMessage(MSG& msg) { return ::IsDialogMessageW(Hwnd(), &msg) != FALSE; }

INT_PTR CALLBACK Dialog::StaticDialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = static_cast<Dialog*>(FromHandle(hwnd));
  if (self == nullptr && msg == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lp);
    self->Attach(hwnd);
  }
  if (self == nullptr) return FALSE;

  INT_PTR result = FALSE;
  try {
    HandledScope scope(*self);
    result = self->DialogProc(msg, wp, lp);
  } catch (...) {
    // Whatever a handler throws (the standard library's std::bad_alloc and
    // std::length_error when memory runs out; our code throws nothing of
    // its own) may not cross into the dialog manager, which cannot unwind
    // it: the message counts as not handled.
    result = FALSE;
  }
  if (msg == WM_NCDESTROY) self->Detach();
  return result;
}

INT_PTR Dialog::DialogProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    DoDataExchange();
    return OnInitDialog();
  }

  if (msg == WM_DRAWITEM) {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
    if (Window* control = FromHandle(item->hwndItem)) {
      control->DrawItem(*item);
      ::SetWindowLongPtrW(Hwnd(), DWLP_MSGRESULT, TRUE);
      return TRUE;
    }
  }

  LRESULT result = 0;
  SetMsgHandled(true);
  bool handled = ProcessMessage(msg, wp, lp, result);

  if (!handled && msg == WM_COMMAND) {
    const int id = LOWORD(wp);
    const int code = HIWORD(wp);
    if ((id == IDOK || id == IDCANCEL) && (code == BN_CLICKED || lp == 0)) {
      if (id == IDOK) {
        OnOK();
      } else {
        OnCancel();
      }
      return TRUE;
    }
  }

  // A message without a map entry is left to the system.
  if (!handled) return FALSE;
  if (ReturnsResultDirectly(msg)) return static_cast<INT_PTR>(result);
  ::SetWindowLongPtrW(Hwnd(), DWLP_MSGRESULT, result);
  return TRUE;
}

}  // namespace kivo::toolkit
