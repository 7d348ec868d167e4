// The client's main window: the login and connect dialog. It owns every
// long-lived object of the client: the skinned buttons, the tray icon, the
// server catalogue and measurements, the connection and all texts.
#pragma once

#include <windows.h>
#include "vpn/RasRecords.h"

#include <string>
#include <utility>

#include "diag/DiagnosisJob.h"
#include "diag/EventLog.h"
#include "toolkit/Dialog.h"
#include "toolkit/Handle.h"
#include "toolkit/Language.h"
#include "toolkit/MessageMap.h"
#include "tray/SystemTray.h"
#include "ui/ButtonFaces.h"
#include "ui/ImageButton.h"
#include "ui/InstanceWindow.h"
#include "ui/MainTexts.h"
#include "ui/ScaledDialog.h"
#include "ui/ServerLists.h"
#include "ui/SkinPicture.h"
#include "vpn/Connection.h"
#include "vpn/ConnectionClock.h"
#include "vpn/NetworkCheck.h"
#include "vpn/RasDialLibrary.h"

namespace kivo::ui {

class CMainDlg : public CScaledDialog, private kivo::vpn::ConnectionObserver {
 public:
  // `texts` is the text set the program chose at start; it outlives the dialog.
  explicit CMainDlg(const kivo::toolkit::TextSet& texts, HWND parent = nullptr);

  // The language of the system's RAS library, for the entries it writes.
  void SetRasLanguage(WORD langId) noexcept { rasLibrary_.SetRasLanguage(langId); }
  // A message shown once, over the window, as soon as it is up (the
  // updater's report of an update it could not install); "" for none.
  void SetStartNotice(std::wstring text) { startNotice_ = std::move(text); }

 protected:
  void DoDataExchange() override;
  BOOL OnInitDialog() override;
  bool PreTranslateMessage(MSG& msg) override;
  void OnOK() override;
  void OnCancel() override;

 private:
  // Posted by the background measurement pass (ServerMeasurement::StartRetry).
  static constexpr UINT kRetryResultMessage = WM_APP + 1;
  // Posted by OnInitDialog when there is a start notice.
  static constexpr UINT kStartNoticeMessage = WM_APP + 4;

  void SetButtonSkins();
  // Images and window text of a skinned button, in the dialog's text set.
  void SetButtonFace(CImageButton& button, const ButtonFaces& faces);
  void SetStatus(const std::wstring& text);
  // After each layout at a display scale: the background of that scale.
  void OnScaleChanged() override;

  // Window commands.
  void OnSysCommand(UINT id, LPARAM lp);
  void OnPaint();
  HICON OnQueryDragIcon();
  void OnLButtonDown(UINT flags, POINT pt);
  HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind);
  BOOL OnCopyData(HWND sender, COPYDATASTRUCT* data);
  void OnAccountPage(int buttonId);
  void OnAbout();
  // The connection details window, from the tray's menu.
  void OnDetails();

  // Connection: the handlers hand over to connection_, which tells the
  // window each change.
  void UpdateConnectButton();
  LRESULT OnDialEvent(WPARAM notice, LPARAM error);
  void OnTimer(UINT_PTR id);
  // Logoff or shutdown: the process may be ended any time after this
  // returns, so the link, the entry and the tray icon go now.
  LRESULT OnEndSession(WPARAM ending, LPARAM flags);
  // Sleep and wake of the system.
  LRESULT OnPowerBroadcast(WPARAM event, LPARAM data);
  // kivo::vpn::ConnectionObserver: the Exit/Disconnect face, the inputs
  // and the tray's menu all follow the one state.
  void OnState(kivo::vpn::ConnectionState state) override;
  void OnStatus(UINT textId) override;
  void OnStatistics(const std::wstring& text) override;
  void ReportDialFailure(DWORD code) override;
  void ReportPhonebookFailure(kivo::vpn::PhonebookFailure failure) override;
  bool Ending() const override { return kivo::toolkit::Dialog::Ending(); }

  // The server choice: the commands of its controls go to servers_.
  LRESULT OnRetryResult(WPARAM wp, LPARAM lp);
  LRESULT OnStartNotice(WPARAM, LPARAM);
  void OnDestroy();
  void OnGroupDropDown(int comboId);
  void OnGroupCloseUp(int comboId);
  void OnGroupSelChange(int comboId);
  void OnIntelligent();
  void OnNetworkPerformance();

  // The program's text set, chosen at start.
  const kivo::toolkit::TextSet& textSet_;
  CImageButton btnAbout_;
  CImageButton btnNetPerf_;
  CImageButton btnExit_;
  CImageButton btnConnect_;
  CImageButton btnAccountStatus_;
  CImageButton btnAccountRegister_;
  kivo::tray::CSystemTray tray_;
  CInstanceWindow instanceWindow_;
  MainTexts texts_;
  // The connection and what it works with: the system's dialler on the
  // user's own phonebook (which the user may write without an
  // administrator), the dialog's timers and the system's routes. Its
  // destruction hangs up a dial still held and removes the entry.
  // The connection details of this run, in memory only: the connection's
  // events reach this window through recorder_, which writes them there.
  kivo::diag::EventLog details_;
  kivo::diag::RecordingObserver recorder_;
  // The failure boxes' read of the system's settings, one after another.
  kivo::diag::DiagnosisJob diagnosis_;
  kivo::vpn::RasDialLibrary rasLibrary_;
  kivo::vpn::WindowClock clock_;
  kivo::vpn::RouteCheck network_;
  kivo::vpn::Connection connection_;
  SkinPicture background_;
  HICON icon_ = nullptr;  // shared resource icon: not destroyed
  kivo::toolkit::UniqueIcon smallIcon_;
  std::wstring startNotice_;
  // Declared last: its background pass ends before the rest goes.
  kivo::ui::ServerLists servers_;

  KIVO_DECLARE_MESSAGE_MAP(CMainDlg, CScaledDialog)
};

}  // namespace kivo::ui
