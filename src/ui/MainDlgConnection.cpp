// The connection: Connect and redial (phonebook entry and dial), dial
// progress, the link check, hang-up and the statistics text.
#include <cstring>

#include "resource.h"
#include "toolkit/Application.h"
#include "toolkit/Strings.h"
#include "ui/MainDlg.h"
#include "vpn/DialTexts.h"
#include "vpn/Phonebook.h"
#include "vpn/RasRecords.h"

namespace {

constexpr UINT_PTR kCheckTimerId = 1;
constexpr UINT kCheckPeriodMs = 1000;
constexpr UINT_PTR kRedialTimerId = 2;
constexpr UINT kRedialPeriodMs = 3000;
constexpr int kMaxRedials = 10;
constexpr DWORD kHangUpWaitMs = 3000;
constexpr size_t kMaxCredential = 255;

}  // namespace

// --- Connect precondition ---------------------------------------------------

void CMainDlg::OnChangeUser() { UpdateConnectButton(); }
void CMainDlg::OnChangePassword() { UpdateConnectButton(); }

void CMainDlg::UpdateConnectButton() {
  const bool filled =
      ::GetWindowTextLengthA(Item(IDC_USER)) > 0 && ::GetWindowTextLengthA(Item(IDC_PASSWORD)) > 0;
  EnableItem(IDOK, filled);
}

void CMainDlg::EnableInputs(bool enable) {
  EnableItem(IDOK, enable);
  EnableItem(IDC_USER, enable);
  EnableItem(IDC_PASSWORD, enable);
}

// --- Connect and redial -----------------------------------------------------

void CMainDlg::OnOK() {
  // Enter reaches here through the dialog manager even while Connect is
  // disabled (fields empty, or a dial already under way): only a usable
  // Connect button dials.
  if (!::IsWindowEnabled(Item(IDOK)) || Ending()) return;

  m_strServerAddress = GetDialTarget();
  if (!PreparePhonebookEntry(PhonebookMode::Connect)) return;
  // A phonebook message box runs its own message loop, in which a redial
  // attempt may have started a dial (that one is not dialled over), or the
  // tray's Exit may have ended the dialog (nothing dials any more).
  if (m_hRasConn != nullptr || Ending()) return;

  m_strUserName = ItemText(IDC_USER);
  kivo::toolkit::ReadSecretText(Item(IDC_PASSWORD), m_strPassword);

  EnableInputs(false);
  DWORD error = StartDial(m_strUserName, m_strPassword);
  if (error == 0) {
    SetExitFace(ExitFace::Exit);
    return;
  }
  ReportDialFailure(error);
  EnableInputs(true);
  m_phonebook.DeleteEntryIfPresent();
  SetStatus(m_strIdle);
}

LRESULT CMainDlg::OnRedial() {
  if (Ending()) return 0;
  ++m_nRetryCount;
  // The tenth attempt is the last one. The timer stops before the attempt,
  // whose message boxes run message loops in which a further tick would
  // start an eleventh attempt.
  if (m_nRetryCount >= kMaxRedials && m_nRedialTimer != 0) {
    ::KillTimer(Hwnd(), m_nRedialTimer);
    m_nRedialTimer = 0;
  }
  if (m_hRasConn == nullptr) PreparePhonebookEntry(PhonebookMode::Redial);
  // A phonebook message box runs its own message loop, in which the next
  // tick's attempt may have started a dial (this attempt then only counts),
  // the user may have ended the series (the count is back at 0), or the
  // dialog may be ending.
  if (m_hRasConn == nullptr && m_nRetryCount > 0 && !Ending()) {
    EnableInputs(false);
    DWORD error = StartDial(m_strUserName, m_strPassword);
    if (error == 0) {
      SetExitFace(ExitFace::Exit);
    } else {
      ReportDialFailure(error);
      m_phonebook.DeleteEntryIfPresent();
      SetStatus(m_strIdle);
      // The budget is spent and nothing will dial again: give the user the
      // controls back, as a failed asynchronous attempt does.
      if (m_nRetryCount >= kMaxRedials) EnableInputs(true);
    }
  }
  return 0;
}

bool CMainDlg::PreparePhonebookEntry(PhonebookMode mode) {
  const bool connect = mode == PhonebookMode::Connect;
  auto& app = *kivo::toolkit::Application::Current();
  m_phonebook.DeleteEntryIfPresent();

  kivo::vpn::EntrySizes sizes;
  if (kivo::vpn::IsEntryPresent(m_phonebook.ValidateEntry())) {
    // The entry could not be deleted: dial it as it is.
    if (!m_phonebook.QueryEntrySizes(sizes)) {
      app.MessageBox(m_strErrTestPhonebook);
      return true;
    }
    if (!m_phonebook.ReadEntry(sizes)) {
      app.MessageBox(m_strErrOpenPhonebook);
      return !connect;
    }
    return true;
  }

  if (!m_phonebook.QueryEntrySizes(sizes)) return !connect;
  if (!m_phonebook.WriteEntry(sizes, m_strServerAddress, m_wRasLangId)) {
    app.MessageBox(m_strErrSetPhonebook);
    return !connect;
  }
  return true;
}

DWORD CMainDlg::StartDial(const std::string& user, const std::string& password) {
  RASDIALPARAMSA params;
  std::memset(&params, 0, sizeof(params));
  params.dwSize = sizeof(params);
  kivo::toolkit::CopyTruncated(params.szEntryName, sizeof(params.szEntryName), kivo::vpn::kEntryName);
  kivo::toolkit::CopyTruncated(params.szUserName, kMaxCredential + 1, user);
  kivo::toolkit::CopyTruncated(params.szPassword, kMaxCredential + 1, password);

  m_hRasConn = nullptr;
  DWORD result = ::RasDialA(nullptr, m_phonebook.Path(), &params, 0,
                            reinterpret_cast<LPVOID>(m_dialSequence.NextNotifier()), &m_hRasConn);
  ::SecureZeroMemory(&params, sizeof(params));
  if (result != 0) {
    // A refused dial may still have stored a handle, which the system wants
    // hung up before it is dropped.
    if (m_hRasConn != nullptr) ::RasHangUpA(m_hRasConn);
    m_hRasConn = nullptr;
  }
  return result;
}

void CMainDlg::ReportDialFailure(DWORD code) {
  std::string text = kivo::vpn::FormatDialError(code, m_strErrUnknownRas, m_strErrCodeFormat);
  ::MessageBoxA(Hwnd(), text.c_str(), m_strDialFailed.c_str(), MB_OK | MB_ICONERROR);
}

// --- Dial progress and monitoring -------------------------------------------

LRESULT CMainDlg::DefWindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kivo::vpn::kDialEventMessage) return OnRasDialEvent(wp, lp);
  if (msg == kivo::vpn::kRedialMessage) return OnRedial();
  return kivo::toolkit::Dialog::DefWindowProc(msg, wp, lp);
}

LRESULT CMainDlg::OnRasDialEvent(WPARAM wp, LPARAM lp) {
  // A notice of a dial that was already hung up or failed, or of an earlier
  // dial than the one held, handled late: it must not hide the window,
  // start the check or hang up the dial now held.
  if (m_hRasConn == nullptr || !m_dialSequence.IsCurrent(wp)) return 0;

  const DWORD state = kivo::vpn::UnpackDialNotice(wp).state;
  const auto error = static_cast<DWORD>(lp);
  SetStatus(kivo::toolkit::LoadResString(kivo::vpn::StateTextId(state, Chinese())));

  if (error != 0) {
    std::string text = kivo::vpn::FormatDialError(error, m_strErrUnknownRas, m_strErrCodeFormat);
    if (m_nRedialTimer == 0) {
      ::MessageBoxA(Hwnd(), text.c_str(), m_strDialFailed.c_str(), MB_OK | MB_ICONERROR);
    }
    // A box runs its own message loop: the dial may have been hung up
    // meanwhile, or another one started, which this failure must not touch.
    if (m_hRasConn != nullptr && !m_dialSequence.IsCurrent(wp)) return 0;
    if (m_hRasConn != nullptr) {
      SetExitFace(ExitFace::Exit);
      HangUp();
    }
    if (m_nRedialTimer == 0 || m_nRetryCount == kMaxRedials) EnableInputs(true);
    m_phonebook.DeleteEntryIfPresent();
    StopCheckTimer();
    SetStatus(m_strIdle);
    return 0;
  }

  if ((state & RASCS_DONE) != 0) {
    SetExitFace(ExitFace::Disconnect);
    RASPPPIPA projection;
    std::memset(&projection, 0, sizeof(projection));
    projection.dwSize = sizeof(projection);
    DWORD size = sizeof(projection);
    if (::RasGetProjectionInfoA(m_hRasConn, RASP_PppIp, &projection, &size) == 0) {
      projection.szIpAddress[sizeof(projection.szIpAddress) - 1] = '\0';
      m_strIpAddress = projection.szIpAddress;
    }
    m_phonebook.DeleteEntryIfPresent();
    ::ShowWindow(Hwnd(), SW_HIDE);
    m_tray.ShowBalloon(m_strConnected);
    StopRedial();
    if (m_nCheckTimer == 0) m_nCheckTimer = ::SetTimer(Hwnd(), kCheckTimerId, kCheckPeriodMs, nullptr);
  }
  return 0;
}

void CMainDlg::OnTimer(UINT_PTR id) {
  if (id == kCheckTimerId) {
    RASCONNSTATUSA status;
    std::memset(&status, 0, sizeof(status));
    status.dwSize = sizeof(status);
    DWORD result = ::RasGetConnectStatusA(m_hRasConn, &status);
    const bool dropped =
        result == ERROR_INVALID_HANDLE || (result == 0 && status.rasconnstate == RASCS_Disconnected);
    if (dropped) {
      // The system keeps a dropped link's connection object and port until
      // its handle is hung up.
      HangUp();
      SetStatus(m_strIdle);
      if (m_nCheckTimer != 0) {
        ::KillTimer(Hwnd(), m_nCheckTimer);
        m_nCheckTimer = 0;
        m_nRetryCount = 0;
        m_nRedialTimer = ::SetTimer(Hwnd(), kRedialTimerId, kRedialPeriodMs, nullptr);
      }
    }
  } else if (id == m_nRedialTimer && m_nRedialTimer != 0) {
    ::PostMessageA(Hwnd(), kivo::vpn::kRedialMessage, 0, 0);
  }
  SetMsgHandled(false);
}

void CMainDlg::HangUp() {
  if (m_hRasConn == nullptr) return;
  ::RasHangUpA(m_hRasConn);
  WaitForHangUp();
  m_hRasConn = nullptr;
}

void CMainDlg::WaitForHangUp() {
  RASCONNSTATUSA status;
  const DWORD start = ::GetTickCount();
  for (;;) {
    std::memset(&status, 0, sizeof(status));
    status.dwSize = sizeof(status);
    if (::RasGetConnectStatusA(m_hRasConn, &status) == ERROR_INVALID_HANDLE) break;
    if (::GetTickCount() - start > kHangUpWaitMs) break;
    ::Sleep(0);
  }
}

void CMainDlg::OnCancel() {
  if (m_hRasConn == nullptr) {
    kivo::toolkit::Dialog::OnCancel();
    return;
  }
  SetExitFace(ExitFace::Exit);
  HangUp();
  // The user's command ends a series of automatic redials too.
  StopRedial();
  EnableInputs(true);
  m_phonebook.DeleteEntryIfPresent();
  StopCheckTimer();
  SetStatus(m_strIdle);
}

LRESULT CMainDlg::OnEndSession(WPARAM ending, LPARAM) {
  if (ending == FALSE) return 0;  // the session goes on
  StopRedial();
  StopCheckTimer();
  HangUp();
  m_phonebook.DeleteEntryIfPresent();
  m_tray.Remove();
  // Should the system let the process run on, it ends by itself.
  EndDialog(IDCANCEL);
  return 0;
}

void CMainDlg::StopRedial() {
  if (m_nRedialTimer != 0) {
    ::KillTimer(Hwnd(), m_nRedialTimer);
    m_nRedialTimer = 0;
  }
  m_nRetryCount = 0;
  // A request the timer posted before the command goes with the series.
  MSG pending;
  while (::PeekMessageA(&pending, Hwnd(), kivo::vpn::kRedialMessage, kivo::vpn::kRedialMessage, PM_REMOVE)) {
  }
}

void CMainDlg::StopCheckTimer() {
  if (m_nCheckTimer != 0) {
    ::KillTimer(Hwnd(), m_nCheckTimer);
    m_nCheckTimer = 0;
  }
}

void CMainDlg::SetExitFace(ExitFace face) {
  SetButtonFace(m_btnExit, face == ExitFace::Exit ? kExitFaces : kDisconnectFaces);
  ::InvalidateRect(m_btnExit.Hwnd(), nullptr, FALSE);
  ::UpdateWindow(m_btnExit.Hwnd());
}

bool CMainDlg::BuildStatusText(std::string& text) {
  if (m_hRasConn == nullptr) return false;
  RAS_STATS stats;
  std::memset(&stats, 0, sizeof(stats));
  stats.dwSize = sizeof(stats);
  if (::RasGetConnectionStatistics(m_hRasConn, &stats) != 0) return false;
  text = kivo::vpn::FormatStatusText(m_strTrayTipFormat, stats.dwBps, stats.dwBytesXmited, stats.dwBytesRcved,
                                     m_strIpAddress);
  return true;
}
