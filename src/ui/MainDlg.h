// The client's main window: the login and connect dialog. It owns every
// long-lived object of the client: the skinned buttons, the tray icon, the
// server catalogue and measurements, the connection and all texts.
#pragma once

#include <windows.h>
#include "vpn/RasRecords.h"

#include <string>

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

class CMainDlg : public CScaledDialog, private kivo::vpn::ConnectionObserver {
 public:
  // `texts` is the text set the program chose at start; it outlives the dialog.
  explicit CMainDlg(const kivo::toolkit::TextSet& texts, HWND parent = nullptr);

  // The language of the system's RAS library, for the entries it writes.
  void SetRasLanguage(WORD langId) noexcept { m_rasLibrary.SetRasLanguage(langId); }

 protected:
  void DoDataExchange() override;
  BOOL OnInitDialog() override;
  bool PreTranslateMessage(MSG& msg) override;
  void OnOK() override;
  void OnCancel() override;

 private:
  // Posted by the background measurement pass (ServerMeasurement::StartRetry).
  static constexpr UINT kRetryResultMessage = WM_APP + 1;

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

  // Connection: the handlers hand over to m_connection, which tells the
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

  // The server choice: the commands of its controls go to m_servers.
  LRESULT OnRetryResult(WPARAM wp, LPARAM lp);
  void OnDestroy();
  void OnGroupDropDown(int comboId);
  void OnGroupCloseUp(int comboId);
  void OnGroupSelChange(int comboId);
  void OnIntelligent();
  void OnNetworkPerformance();

  // The program's text set, chosen at start.
  const kivo::toolkit::TextSet& m_textSet;
  CImageButton m_btnAbout;
  CImageButton m_btnNetPerf;
  CImageButton m_btnExit;
  CImageButton m_btnConnect;
  CImageButton m_btnAccountStatus;
  CImageButton m_btnAccountRegister;
  CSystemTray m_tray;
  CInstanceWindow m_instanceWindow;
  MainTexts m_texts;
  // The connection and what it works with: the system's dialler on the
  // user's own phonebook (which the user may write without an
  // administrator), the dialog's timers and the system's routes. Its
  // destruction hangs up a dial still held and removes the entry.
  kivo::vpn::RasDialLibrary m_rasLibrary;
  kivo::vpn::WindowClock m_clock;
  kivo::vpn::RouteCheck m_network;
  kivo::vpn::Connection m_connection;
  CSkinPicture m_background;
  HICON m_hIcon = nullptr;  // shared resource icon: not destroyed
  kivo::toolkit::UniqueIcon m_hSmallIcon;
  // Declared last: its background pass ends before the rest goes.
  kivo::ui::ServerLists m_servers;

  KIVO_DECLARE_MESSAGE_MAP(CMainDlg, CScaledDialog)
};
