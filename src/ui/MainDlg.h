// The client's main window: the login and connect dialog. It owns every
// long-lived object of the client: the skinned buttons, the tray icon, the
// server catalogue and measurements, the connection and all texts.
#pragma once

#include <windows.h>
#include "vpn/RasRecords.h"

#include <string>
#include <utility>

#include "servers/ServerMeasurement.h"
#include "toolkit/Dialog.h"
#include "toolkit/Handle.h"
#include "toolkit/Language.h"
#include "toolkit/MessageMap.h"
#include "toolkit/StringMap.h"
#include "tray/SystemTray.h"
#include "tray/TrayOwner.h"
#include "ui/ButtonFaces.h"
#include "ui/ImageButton.h"
#include "ui/InstanceWindow.h"
#include "ui/MainTexts.h"
#include "ui/SkinLayout.h"
#include "ui/SkinPicture.h"
#include "vpn/Connection.h"
#include "vpn/ConnectionClock.h"
#include "vpn/NetworkCheck.h"
#include "vpn/RasDialLibrary.h"

class CMainDlg : public kivo::toolkit::Dialog, public CTrayOwner, private kivo::vpn::ConnectionEvents {
 public:
  // `texts` is the text set the program chose at start; it outlives the dialog.
  explicit CMainDlg(const kivo::toolkit::TextSet& texts, HWND parent = nullptr);

  void SetRasLanguage(WORD langId) noexcept { m_connection.SetRasLanguage(langId); }
  // A message shown once, over the window, as soon as it is up (the
  // updater's report of an update it could not install); "" for none.
  void SetStartNotice(std::wstring text) { m_startNotice = std::move(text); }

  // CTrayOwner
  bool BuildStatusText(std::wstring& text) override;
  // A wait for the network too: the tray's Disconnect ends it.
  bool IsConnected() const override { return m_connection.Held() || m_connection.WaitingForNetwork(); }
  std::wstring GetShowWindowText() const override { return m_texts.showWindow; }
  HWND OwnerWindow() const override { return Hwnd(); }

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
  // A move to a monitor of another DPI (wParam the new DPI, lParam the
  // rectangle the system suggests).
  LRESULT OnDpiChanged(WPARAM wp, LPARAM lp);

  // Window commands.
  void OnSysCommand(UINT id, LPARAM lp);
  void OnPaint();
  HICON OnQueryDragIcon();
  void OnLButtonDown(UINT flags, POINT pt);
  HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind);
  BOOL OnCopyData(HWND sender, COPYDATASTRUCT* data);
  void OnAccountPage(int buttonId);
  void OnAbout();

  // Connection: the handlers hand over to m_connection, whose events
  // change the window.
  void UpdateConnectButton();
  LRESULT OnDialEvent(WPARAM notice, LPARAM error);
  LRESULT OnRedialRequest(WPARAM, LPARAM);
  void OnTimer(UINT_PTR id);
  // Logoff or shutdown: the process may be ended any time after this
  // returns, so the link, the entry and the tray icon go now.
  LRESULT OnEndSession(WPARAM ending, LPARAM flags);
  // Sleep and wake of the system.
  LRESULT OnPowerBroadcast(WPARAM event, LPARAM data);
  // kivo::vpn::ConnectionEvents
  void ShowStatus(UINT textId) override;
  void SetExitFace(kivo::vpn::ExitFace face) override;
  void EnableInputs(bool enable) override;
  void ShowConnected() override;
  void ReportDialFailure(DWORD code) override;
  void ReportPhonebookFailure(kivo::vpn::PhonebookFailure failure) override;
  void ReadCredentials(std::wstring& user, std::wstring& password) override;
  bool Ending() const override { return kivo::toolkit::Dialog::Ending(); }

  // Servers.
  void FillServerCatalogue();
  std::string GetDialTarget();
  // The start-up pass, the lists filled with its results, and the second
  // pass started for the servers that did not answer.
  void MeasureServers();
  LRESULT OnRetryResult(WPARAM wp, LPARAM lp);
  LRESULT OnStartNotice(WPARAM, LPARAM);
  void UpdateComboEntry(const std::string& address, const std::wstring& annotation);
  void OnDestroy();
  // Makes `group` (0 Intelligent, else an IspGroup) the server choice; the
  // list of the choice left shows its caption again.
  void ChooseGroup(int group);
  void OnGroupDropDown(int comboId);
  void OnGroupCloseUp(int comboId);
  // Adds the group's caption to its list and selects it.
  void ShowGroupCaption(int comboId);
  void OnGroupSelChange(int comboId);
  void OnIntelligent();
  void OnNetworkPerformance();
  std::wstring GroupCaption(int group) const;

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
  int m_nServerChoice = 0;
  // The connection and what it works with: the system's dialler on the
  // user's own phonebook (which the user may write without an
  // administrator), the dialog's timers and the system's routes. Its
  // destruction hangs up a dial still held and removes the entry.
  kivo::vpn::RasDialLibrary m_rasLibrary;
  kivo::vpn::WindowClock m_clock;
  kivo::vpn::RouteCheck m_network;
  kivo::vpn::Connection m_connection;
  // Server name in the dialog's text set to its address.
  kivo::toolkit::OrderedMap<std::wstring, std::string> m_mapServerAddress;
  // Places the window and its controls at the display scale.
  CSkinLayout m_layout;
  CSkinPicture m_background;
  HICON m_hIcon = nullptr;  // shared resource icon: not destroyed
  std::wstring m_startNotice;
  kivo::toolkit::UniqueIcon m_hSmallIcon;
  // Declared last: its background pass ends before the rest goes.
  kivo::servers::ServerMeasurement m_measurement;

  KIVO_DECLARE_MESSAGE_MAP(CMainDlg, kivo::toolkit::Dialog)
};
