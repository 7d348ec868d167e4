// The dialog's side of the connection: the Connect precondition, the
// handlers that hand over to m_connection, and what its events change.
#include "resource.h"
#include "toolkit/Application.h"
#include "toolkit/Strings.h"
#include "ui/MainDlg.h"

#include <utility>
#include "vpn/DialTexts.h"
#include "vpn/RasRecords.h"

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
  m_connection.Connect(std::move(credentials), m_servers.DialTarget());
}

void CMainDlg::OnCancel() {
  // Idle, Exit ends the program; in any other state Disconnect ends the
  // link, the dial or the series.
  if (!m_connection.Cancel()) kivo::toolkit::Dialog::OnCancel();
}

LRESULT CMainDlg::OnDialEvent(WPARAM notice, LPARAM error) {
  m_connection.OnNotice(kivo::vpn::UnpackDialNotice(notice), static_cast<DWORD>(error));
  return 0;
}

void CMainDlg::OnTimer(UINT_PTR id) {
  if (auto timer = kivo::vpn::WindowClock::TimerOfId(id)) m_connection.OnTimer(*timer);
  SetMsgHandled(false);
}

LRESULT CMainDlg::OnEndSession(WPARAM ending, LPARAM) {
  if (ending == FALSE) return 0;  // the session goes on
  m_connection.EndSession();
  m_tray.Remove();
  // Should the system let the process run on, it ends by itself.
  EndDialog(IDCANCEL);
  return 0;
}

LRESULT CMainDlg::OnPowerBroadcast(WPARAM event, LPARAM) {
  m_connection.OnPowerEvent(static_cast<UINT>(event));
  return TRUE;
}

// --- Connection events ------------------------------------------------------

void CMainDlg::OnState(kivo::vpn::ConnectionState state) {
  using kivo::vpn::ConnectionState;
  const bool idle = state == ConnectionState::Idle;
  SetButtonFace(m_btnExit, idle ? kExitFaces : kDisconnectFaces);
  ::InvalidateRect(m_btnExit.Hwnd(), nullptr, FALSE);
  ::UpdateWindow(m_btnExit.Hwnd());
  EnableItem(IDC_USER, idle);
  EnableItem(IDC_PASSWORD, idle);
  if (idle) {
    UpdateConnectButton();
  } else {
    EnableItem(IDOK, false);
  }
  m_tray.SetConnectionActive(!idle);
  if (state == ConnectionState::Connected) {
    // The statistics came just before: the balloon carries them.
    ::ShowWindow(Hwnd(), SW_HIDE);
    m_tray.ShowBalloon(m_texts.connected);
  } else {
    m_tray.SetStatusText(state == ConnectionState::WaitingForNetwork
                             ? m_textSet.Text(kivo::vpn::Connection::kWaitingTextId)
                             : std::wstring());
  }
}

void CMainDlg::OnStatus(UINT textId) { SetStatus(m_textSet.Text(textId)); }

void CMainDlg::OnStatistics(const std::wstring& text) { m_tray.SetStatusText(text); }

void CMainDlg::ReportDialFailure(DWORD code) {
  const std::wstring text = kivo::vpn::FormatDialFailure(code, m_textSet);
  ::MessageBoxW(Hwnd(), text.c_str(), m_texts.dialFailed.c_str(), MB_OK | MB_ICONERROR);
}

void CMainDlg::ReportPhonebookFailure(kivo::vpn::PhonebookFailure failure) {
  using kivo::vpn::PhonebookFailure;
  const std::wstring& text = failure == PhonebookFailure::Test   ? m_texts.errTestPhonebook
                            : failure == PhonebookFailure::Open ? m_texts.errOpenPhonebook
                                                                : m_texts.errSetPhonebook;
  ::MessageBoxW(Hwnd(), text.c_str(), kivo::toolkit::Application::Title().c_str(), MB_OK);
}
