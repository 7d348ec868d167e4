// The client's main window: the login and connect dialog. It owns every
// long-lived object of the client: the skinned buttons, the tray icon, the
// server catalogue and measurements, the connection and all texts.
#pragma once

#include <windows.h>
#include "vpn/RasRecords.h"

#include <string>
#include <vector>

#include "servers/ServerCatalogue.h"
#include "toolkit/Dialog.h"
#include "toolkit/Gdi.h"
#include "toolkit/Handle.h"
#include "toolkit/MessageMap.h"
#include "toolkit/StringMap.h"
#include "toolkit/Sync.h"
#include "toolkit/Thread.h"
#include "tray/SystemTray.h"
#include "tray/TrayOwner.h"
#include "ui/ButtonFaces.h"
#include "ui/ImageButton.h"
#include "ui/InstanceWindow.h"
#include "ui/SkinLayout.h"
#include "vpn/Connection.h"
#include "vpn/ConnectionClock.h"
#include "vpn/RasDialLibrary.h"

class CMainDlg : public kivo::toolkit::Dialog, public CTrayOwner, private kivo::vpn::ConnectionEvents {
 public:
  explicit CMainDlg(HWND parent = nullptr);
  ~CMainDlg() override;

  void SetRasLanguage(WORD langId) noexcept { m_connection.SetRasLanguage(langId); }

  // CTrayOwner
  bool BuildStatusText(std::string& text) override;
  bool IsConnected() const override { return m_connection.Held(); }
  std::string GetShowWindowText() const override { return m_strShowWindow; }
  HWND OwnerWindow() const override { return Hwnd(); }

  // Language variant from a system default language id: 1 for 2052, 2 for
  // 3076, 3 for 1028, 4 for 5124, 5 for 4100, 6 for 2057, 0 otherwise.
  static int LanguageVariant(LANGID systemLanguage) noexcept;

 protected:
  void DoDataExchange() override;
  BOOL OnInitDialog() override;
  bool PreTranslateMessage(MSG& msg) override;
  LRESULT DefWindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnOK() override;
  void OnCancel() override;

 private:
  // Posted by the background measurement pass: wParam the index of the
  // target that answered (kRetryFinished once the pass is over), lParam its
  // round trip.
  static constexpr UINT kRetryResultMessage = WM_APP + 1;
  static constexpr WPARAM kRetryFinished = static_cast<WPARAM>(-1);

  bool Chinese() const noexcept { return kivo::servers::IsChineseVariant(m_nLangVariant); }
  void LoadTexts();
  void SetButtonSkins();
  // Images and window text of a skinned button, in the dialog's text set.
  void SetButtonFace(CImageButton& button, const ButtonFaces& faces);
  void SetStatus(const std::string& text);
  // Display scale: the background of the layout's scale, and a move to a
  // monitor of another DPI (wParam the new DPI, lParam the rectangle the
  // system suggests).
  void LoadBackground();
  LRESULT OnDpiChanged(WPARAM wp, LPARAM lp);

  // Window commands.
  void OnSysCommand(UINT id, LPARAM lp);
  void OnPaint();
  HICON OnQueryDragIcon();
  void OnLButtonDown(UINT flags, POINT pt);
  HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind);
  BOOL OnCopyData(HWND sender, COPYDATASTRUCT* data);
  void OnAccountRegister();
  void OnAccountStatus();
  void OnAbout();
  void RunAboutBox();

  // Connection: the handlers hand over to m_connection, whose events
  // change the window.
  void OnChangeUser();
  void OnChangePassword();
  void UpdateConnectButton();
  void OnTimer(UINT_PTR id);
  // Logoff or shutdown: the process may be ended any time after this
  // returns, so the link, the entry and the tray icon go now.
  LRESULT OnEndSession(WPARAM ending, LPARAM flags);
  // kivo::vpn::ConnectionEvents
  void ShowStatus(UINT textId) override;
  void SetExitFace(kivo::vpn::ExitFace face) override;
  void EnableInputs(bool enable) override;
  void ShowConnected() override;
  void ReportDialFailure(DWORD code) override;
  void ReportPhonebookFailure(kivo::vpn::PhonebookFailure failure) override;
  void ReadCredentials(std::string& user, std::string& password) override;
  bool Ending() const override { return kivo::toolkit::Dialog::Ending(); }

  // Servers.
  void FillServerCatalogue();
  std::string GetDialTarget();
  void StartDetection();
  void DetectionThreadProc();
  bool ClaimNextServer(std::string& address);
  void RecordProbeResult(const std::string& address, int roundTrip, bool succeeded);
  void FillGroupCombos();
  void StartRetryThread();
  // On the second pass's thread: measures the targets and posts each answer
  // to `window`.
  static void RetryFailedServers(const std::vector<std::string>& targets, HWND window,
                                 const kivo::toolkit::CancellationToken& cancel);
  LRESULT OnRetryResult(WPARAM wp, LPARAM lp);
  void UpdateComboEntry(const std::string& address, const std::string& annotation);
  void OnDestroy();
  void LeaveServerChoice();
  void SelectGroupOfServer(const std::string& name);
  void OnGroupDropDown(int group);
  void OnGroupCloseUp(int group);
  void OnGroupSelChange(int group);
  void OnDropDownCT() { OnGroupDropDown(1); }
  void OnDropDownCNC() { OnGroupDropDown(2); }
  void OnDropDownOther() { OnGroupDropDown(3); }
  void OnCloseUpCT() { OnGroupCloseUp(1); }
  void OnCloseUpCNC() { OnGroupCloseUp(2); }
  void OnCloseUpOther() { OnGroupCloseUp(3); }
  void OnSelChangeCT() { OnGroupSelChange(1); }
  void OnSelChangeCNC() { OnGroupSelChange(2); }
  void OnSelChangeOther() { OnGroupSelChange(3); }
  void OnIntelligent();
  void OnNetworkPerformance();
  int GroupComboId(int group) const noexcept;
  const std::string& GroupCaption(int group) const noexcept;

  CImageButton m_btnAbout;
  CImageButton m_btnNetPerf;
  CImageButton m_btnExit;
  CImageButton m_btnConnect;
  CImageButton m_btnAccountStatus;
  CImageButton m_btnAccountRegister;
  int m_nTrayMenuId = 529;
  CSystemTray m_tray;
  CInstanceWindow m_instanceWindow;
  int m_nLangVariant = 0;
  int m_nServerChoice = 0;
  // The connection and what it works with: the system's dialler on the
  // user's own phonebook (which the user may write without an
  // administrator) and the dialog's timers. Its destruction hangs up a dial
  // still held and removes the entry.
  kivo::vpn::RasDialLibrary m_rasLibrary;
  kivo::vpn::WindowClock m_clock;
  kivo::vpn::Connection m_connection;
  kivo::toolkit::StringMap m_mapServerAddress;
  kivo::toolkit::StringMap m_mapServerDelay;
  std::vector<std::string> m_arrProbeTargets;
  std::vector<std::string> m_arrGroupCT;
  std::vector<std::string> m_arrGroupCNC;
  std::vector<std::string> m_arrGroupOther;
  std::string m_strGroupCT, m_strGroupCNC, m_strGroupOther;
  std::string m_strErrUnknownRas, m_strErrCodeFormat, m_strDialFailed, m_strIdle, m_strErrSetPhonebook,
      m_strErrTestPhonebook, m_strErrOpenPhonebook, m_strFailSuffix;
  std::string m_strTrayTipFormat, m_strConnected, m_strAlreadyRunning, m_strShowWindow;
  // Places the window and its controls at the display scale.
  CSkinLayout m_layout;
  kivo::toolkit::UniqueBitmap m_pBkBitmap;
  // Holds the background image; gives back its original object before it
  // is deleted (the old-bitmap pointer of the classic design).
  kivo::toolkit::MemorySurface m_pMemDC;
  kivo::toolkit::CriticalSection m_csResults;
  HICON m_hIcon = nullptr;  // shared resource icon: not destroyed
  kivo::toolkit::UniqueIcon m_hSmallIcon;
  // Cancels the probers of both measurement passes when the window goes.
  kivo::toolkit::CancellationToken m_measureCancel;
  // The background second pass, declared last so that it ends before the
  // rest goes.
  kivo::toolkit::WorkerThread m_retryThread;

  KIVO_DECLARE_MESSAGE_MAP(CMainDlg, kivo::toolkit::Dialog)
};
