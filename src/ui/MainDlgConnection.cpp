// The dialog's side of the connection: the Connect precondition, the
// handlers that hand over to connection_, and what it tells the window.
#include "resource.h"
#include "toolkit/Application.h"
#include "toolkit/Strings.h"
#include "ui/DetailsDlg.h"
#include "ui/DialFailureDlg.h"
#include "ui/MainDlg.h"
#include "vpn/DialTexts.h"
#include "vpn/RasRecords.h"

namespace kivo::ui {

// --- Connect precondition ---------------------------------------------------

void CMainDlg::UpdateConnectButton() {
  const bool filled =
      ::GetWindowTextLengthW(Item(IDC_USER)) > 0 && ::GetWindowTextLengthW(Item(IDC_PASSWORD)) > 0;
  EnableItem(IDOK, filled);
}

// --- Handlers ---------------------------------------------------------------

void CMainDlg::OnOK() {
  // Enter reaches here through the dialog manager even while Connect is
  // disabled (fields empty, or a dial already under way): only a usable
  // Connect button dials.
  if (!::IsWindowEnabled(Item(IDOK)) || Ending()) return;
  kivo::vpn::Credentials credentials;
  credentials.user = ItemText(IDC_USER);
  kivo::toolkit::ReadSecretText(Item(IDC_PASSWORD), credentials.password);
  connection_.Connect(credentials, servers_.DialTarget());
  kivo::toolkit::WipeString(credentials.password);
}

void CMainDlg::OnCancel() {
  // Idle, Exit ends the program; in any other state Disconnect ends the
  // link, the dial or the series.
  if (!connection_.Cancel()) kivo::toolkit::Dialog::OnCancel();
}

LRESULT CMainDlg::OnDialEvent(WPARAM notice, LPARAM error) {
  connection_.OnNotice(kivo::vpn::UnpackDialNotice(notice), static_cast<DWORD>(error));
  return 0;
}

void CMainDlg::OnTimer(UINT_PTR id) {
  if (auto timer = kivo::vpn::WindowClock::TimerOfId(id)) connection_.OnTimer(*timer);
  SetMsgHandled(false);
}

LRESULT CMainDlg::OnEndSession(WPARAM ending, LPARAM) {
  if (ending == FALSE) return 0;  // the session goes on
  connection_.EndSession();
  tray_.Remove();
  // Should the system let the process run on, it ends by itself.
  EndDialog(IDCANCEL);
  return 0;
}

LRESULT CMainDlg::OnPowerBroadcast(WPARAM event, LPARAM) {
  connection_.OnPowerEvent(static_cast<UINT>(event));
  return TRUE;
}

// --- Connection events ------------------------------------------------------

void CMainDlg::OnState(kivo::vpn::ConnectionState state) {
  using kivo::vpn::ConnectionState;
  const bool idle = state == ConnectionState::Idle;
  SetButtonFace(btnExit_, idle ? kExitFaces : kDisconnectFaces);
  ::InvalidateRect(btnExit_.Hwnd(), nullptr, FALSE);
  ::UpdateWindow(btnExit_.Hwnd());
  EnableItem(IDC_USER, idle);
  EnableItem(IDC_PASSWORD, idle);
  if (idle) {
    UpdateConnectButton();
  } else {
    EnableItem(IDOK, false);
  }
  tray_.SetConnectionActive(!idle);
  if (state == ConnectionState::Connected) {
    // The statistics came just before: the balloon carries them.
    ::ShowWindow(Hwnd(), SW_HIDE);
    tray_.ShowBalloon(texts_.connected);
  } else {
    tray_.SetStatusText(state == ConnectionState::WaitingForNetwork
                             ? textSet_.Text(kivo::vpn::Connection::kWaitingTextId)
                             : std::wstring());
  }
}

void CMainDlg::OnStatus(UINT textId) { SetStatus(textSet_.Text(textId)); }

void CMainDlg::OnStatistics(const std::wstring& text) { tray_.SetStatusText(text); }

void CMainDlg::ReportDialFailure(DWORD code) {
  // The box reads Windows' settings behind the errors they often cause,
  // names the cause and offers its fix; the details show what happened.
  kivo::ui::CDialFailureDlg box(textSet_, code, servers_.DialTarget(), details_, diagnosis_, Hwnd());
  box.DoModal();
}

void CMainDlg::OnDetails() {
  kivo::ui::CDetailsDlg details(textSet_, details_, Hwnd());
  details.DoModal();
}

void CMainDlg::ReportPhonebookFailure(kivo::vpn::PhonebookFailure failure) {
  using kivo::vpn::PhonebookFailure;
  const std::wstring& text = failure == PhonebookFailure::Test   ? texts_.errTestPhonebook
                            : failure == PhonebookFailure::Open ? texts_.errOpenPhonebook
                                                                : texts_.errSetPhonebook;
  ::MessageBoxW(Hwnd(), text.c_str(), kivo::toolkit::Application::Title().c_str(), MB_OK);
}

}  // namespace kivo::ui
