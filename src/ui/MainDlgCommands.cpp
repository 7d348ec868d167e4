// Window behaviour of the main dialog: system menu, painting, dragging,
// transparent labels, the About box, the account pages and the answer to a
// second copy of the client.
#include <algorithm>

#include "ServiceEndpoints.h"
#include "resource.h"
#include "toolkit/Gdi.h"
#include "toolkit/Strings.h"
#include "ui/ScaledDialog.h"
#include "ui/MainDlg.h"

namespace kivo::ui {

void CMainDlg::OnAbout() {
  // A plain dialog at the display scale: the template of the text set.
  CScaledDialog about(texts_.aboutBoxId, Hwnd());
  about.DoModal();
}

void CMainDlg::OnSysCommand(UINT id, LPARAM) {
  if ((id & 0xFFF0) == IDM_ABOUTBOX || (id & 0xFFF0) == SC_CONTEXTHELP) {
    OnAbout();
  } else if (id == SC_CLOSE) {
    ::ShowWindow(Hwnd(), SW_HIDE);
  } else {
    SetMsgHandled(false);
  }
}

void CMainDlg::OnPaint() {
  if (::IsIconic(Hwnd())) {
    kivo::toolkit::PaintDc dc(Hwnd());
    ::SendMessageW(Hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.Get()), 0);
    RECT rc{};
    ::GetClientRect(Hwnd(), &rc);
    int x = (rc.right - rc.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (rc.bottom - rc.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc.Get(), x, y, icon_);
    return;
  }
  RECT rc{};
  ::GetClientRect(Hwnd(), &rc);
  kivo::toolkit::PaintDc dc(Hwnd());
  background_.PaintOn(dc.Get(), rc);
}

HICON CMainDlg::OnQueryDragIcon() { return icon_; }

void CMainDlg::OnLButtonDown(UINT, POINT pt) {
  SetMsgHandled(false);  // the default processing runs as well
  // Grabbing the background moves the caption-less window.
  ::PostMessageW(Hwnd(), WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(pt.x, pt.y));
}

HBRUSH CMainDlg::OnCtlColor(HDC dc, HWND control, UINT) {
  // The labels and the status line are drawn over the skin.
  static constexpr int kTransparent[] = {IDC_STATUS,       IDC_USER_LABEL,  IDC_PASSWORD_LABEL,
                                         IDC_STATUS_LABEL, IDC_INTELLIGENT, IDC_WEB_ADDRESS};
  if (control != Hwnd() && std::ranges::count(kTransparent, ::GetDlgCtrlID(control)) > 0) {
    ::SetBkMode(dc, TRANSPARENT);
    return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
  }
  SetMsgHandled(false);
  return nullptr;
}

BOOL CMainDlg::OnCopyData(HWND, COPYDATASTRUCT*) {
  // A second copy of the client is starting: tell the user we run already,
  // with the statistics of this moment while connected.
  connection_.RefreshStatistics();
  tray_.ShowBalloon(texts_.alreadyRunning);
  return FALSE;
}

void CMainDlg::OnAccountPage(int buttonId) {
  const std::wstring page = kivo::toolkit::WidenAscii(
      buttonId == IDC_ACCOUNT_REGISTER ? kivo::endpoints::kRegisterUrl : kivo::endpoints::kStatusUrl);
  ::ShellExecuteW(nullptr, L"open", page.c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED);
}

bool CMainDlg::PreTranslateMessage(MSG& msg) {
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
    ::ShowWindow(Hwnd(), SW_HIDE);
    return true;
  }
  return kivo::toolkit::Dialog::PreTranslateMessage(msg);
}

}  // namespace kivo::ui
