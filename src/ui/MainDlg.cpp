// Construction, initialisation and destruction of the main dialog.
#include "ui/MainDlg.h"

#include <cstring>

#include "resource.h"
#include "toolkit/Controls.h"
#include "toolkit/Strings.h"
#include "ui/GroupCombos.h"
#include "vpn/Phonebook.h"


namespace {
constexpr UINT kTrayCallbackMessage = WM_USER + 111;  // 1135
}  // namespace

const kivo::toolkit::MessageMap<CMainDlg>& CMainDlg::GetMessageMap() {
  using Map = kivo::toolkit::MessageMap<CMainDlg>;
  static const Map map = Map()
                             .SysCommand(&CMainDlg::OnSysCommand)
                             .QueryDragIcon(&CMainDlg::OnQueryDragIcon)
                             .Mouse(WM_LBUTTONDOWN, &CMainDlg::OnLButtonDown)
                             .CtlColor(&CMainDlg::OnCtlColor)
                             .CopyData(&CMainDlg::OnCopyData)
                             .Paint(&CMainDlg::OnPaint)
                             .Timer(&CMainDlg::OnTimer)
                             .Command(IDC_NETPERF, BN_CLICKED, &CMainDlg::OnNetworkPerformance)
                             .Command(IDC_INTELLIGENT, BN_CLICKED, &CMainDlg::OnIntelligent)
                             .Command(IDC_USER, EN_CHANGE, &CMainDlg::UpdateConnectButton)
                             .Command(IDC_PASSWORD, EN_CHANGE, &CMainDlg::UpdateConnectButton)
                             .Command(IDC_GROUP_CT, CBN_DROPDOWN, &CMainDlg::OnGroupDropDown)
                             .Command(IDC_GROUP_CT, CBN_CLOSEUP, &CMainDlg::OnGroupCloseUp)
                             .Command(IDC_GROUP_CT, CBN_SELCHANGE, &CMainDlg::OnGroupSelChange)
                             .Command(IDC_GROUP_CNC, CBN_DROPDOWN, &CMainDlg::OnGroupDropDown)
                             .Command(IDC_GROUP_CNC, CBN_CLOSEUP, &CMainDlg::OnGroupCloseUp)
                             .Command(IDC_GROUP_CNC, CBN_SELCHANGE, &CMainDlg::OnGroupSelChange)
                             .Command(IDC_GROUP_OTHER, CBN_DROPDOWN, &CMainDlg::OnGroupDropDown)
                             .Command(IDC_GROUP_OTHER, CBN_CLOSEUP, &CMainDlg::OnGroupCloseUp)
                             .Command(IDC_GROUP_OTHER, CBN_SELCHANGE, &CMainDlg::OnGroupSelChange)
                             .Command(IDC_ACCOUNT_STATUS, BN_CLICKED, &CMainDlg::OnAccountPage)
                             .Command(IDC_ACCOUNT_REGISTER, BN_CLICKED, &CMainDlg::OnAccountPage)
                             .Command(IDC_ABOUT, BN_CLICKED, &CMainDlg::OnAbout)
                             .Message(kivo::vpn::kDialEventMessage, &CMainDlg::OnDialEvent)
                             .Message(kivo::vpn::kRedialMessage, &CMainDlg::OnRedialRequest)
                             .Message(kRetryResultMessage, &CMainDlg::OnRetryResult)
                             .Message(kStartNoticeMessage, &CMainDlg::OnStartNotice)
                             .Message(WM_ENDSESSION, &CMainDlg::OnEndSession)
                             .Message(WM_POWERBROADCAST, &CMainDlg::OnPowerBroadcast)
                             .Message(WM_DPICHANGED, &CMainDlg::OnDpiChanged)
                             .Destroy(&CMainDlg::OnDestroy);
  return map;
}

CMainDlg::CMainDlg(const kivo::toolkit::TextSet& texts, HWND parent)
    : kivo::toolkit::Dialog(IDD_MAIN, parent),
      m_textSet(texts),
      m_tray(*this),
      m_rasLibrary(kivo::vpn::Phonebook::OfCurrentUser()),
      m_connection(m_rasLibrary, m_clock, m_network, *this, texts) {
  m_hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_KIVO));
}

void CMainDlg::DoDataExchange() {
  m_btnAbout.Subclass(Item(IDC_ABOUT));
  m_btnNetPerf.Subclass(Item(IDC_NETPERF));
  m_btnExit.Subclass(Item(IDCANCEL));
  m_btnConnect.Subclass(Item(IDOK));
  m_btnAccountStatus.Subclass(Item(IDC_ACCOUNT_STATUS));
  m_btnAccountRegister.Subclass(Item(IDC_ACCOUNT_REGISTER));
}

BOOL CMainDlg::OnInitDialog() {
  // Dial notices and the connection's timers come to this window; a
  // second copy of the client finds it through its instance window.
  m_rasLibrary.SetNoticeWindow(Hwnd());
  m_clock.Attach(Hwnd());
  m_instanceWindow.Create(Hwnd());
  ::SetWindowTextW(Hwnd(), L"Kivoline");
  // A second copy started unelevated while this one runs elevated must
  // still reach it.
  kivo::toolkit::AcceptFromLowerIntegrity(Hwnd(), WM_COPYDATA);
  // A tool window has no task-bar button: the client lives in the tray.
  LONG_PTR exStyle = ::GetWindowLongPtrW(Hwnd(), GWL_EXSTYLE);
  ::SetWindowLongPtrW(Hwnd(), GWL_EXSTYLE, (exStyle & ~WS_EX_APPWINDOW) | WS_EX_TOOLWINDOW);
  m_layout.Apply(Hwnd(), IDD_MAIN, kivo::toolkit::DpiOfWindow(Hwnd()));

  m_texts = MainTexts::Load(m_textSet);
  for (const auto& [id, text] : m_texts.controls) SetItemText(id, text);
  ShowStatus(kivo::vpn::Connection::kIdleTextId);

  const std::wstring about = m_textSet.Text(IDS_ABOUTBOX);
  if (!about.empty()) {
    if (HMENU sysMenu = ::GetSystemMenu(Hwnd(), FALSE)) {
      ::AppendMenuW(sysMenu, MF_SEPARATOR, 0, nullptr);
      ::AppendMenuW(sysMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
    }
  }

  // A shell that refuses the icon (a start at logon before the taskbar
  // exists) does not stop the rest: the icon comes back once the taskbar
  // announces itself.
  m_tray.CreateFromResource(kTrayCallbackMessage, L"Kivoline", IDI_KIVO, m_texts.trayMenuId);

  ::SendMessageW(Hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  m_hSmallIcon.Reset(static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_KIVO),
                                                     IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR)));
  ::SendMessageW(Hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon.Get()));

  ::CheckDlgButton(Hwnd(), IDC_INTELLIGENT, BST_CHECKED);
  m_nServerChoice = 0;

  SetButtonSkins();

  m_background.Load(Hwnd(), IDB_BACKGROUND, m_layout.Scale());

  for (const GroupCombo& group : kGroupCombos) {
    kivo::toolkit::ComboBox(Item(group.comboId)).SetDroppedWidth(m_layout.Scale().Scale(80));
    ShowGroupCaption(group.comboId);
  }

  FillServerCatalogue();
  MeasureServers();
  // Shown once the window is up, not before it.
  if (!m_startNotice.empty()) ::PostMessageW(Hwnd(), kStartNoticeMessage, 0, 0);
  return TRUE;
}

LRESULT CMainDlg::OnStartNotice(WPARAM, LPARAM) {
  const std::wstring text = std::move(m_startNotice);
  m_startNotice.clear();
  if (!text.empty()) ::MessageBoxW(Hwnd(), text.c_str(), L"Kivoline", MB_OK | MB_ICONWARNING);
  return 0;
}

void CMainDlg::SetButtonSkins() {
  SetButtonFace(m_btnAccountRegister, kRegisterFaces);
  SetButtonFace(m_btnAccountStatus, kAccountStatusFaces);
  SetButtonFace(m_btnConnect, kConnectFaces);
  EnableItem(IDOK, false);
  SetButtonFace(m_btnExit, kExitFaces);
  SetButtonFace(m_btnNetPerf, kNetPerfFaces);
  SetButtonFace(m_btnAbout, kAboutFaces);
}

void CMainDlg::SetButtonFace(CImageButton& button, const ButtonFaces& faces) {
  const ButtonImages& images = faces.Of(m_textSet.Lang());
  button.SetBitmaps(images.normal, images.hover, images.disabled);
  // The button never shows its text: it is for screen readers.
  ::SetWindowTextW(button.Hwnd(), m_textSet.Text(faces.textId).c_str());
}

void CMainDlg::OnDestroy() {
  // The window goes: the second measurement pass can end while the rest of
  // the dialog is torn down (the destructor waits for it).
  m_measurement.Cancel();
  // Nor in the buffer the password field frees with its window.
  kivo::toolkit::WipeWindowText(Item(IDC_PASSWORD));
  SetMsgHandled(false);
}

LRESULT CMainDlg::OnDpiChanged(WPARAM wp, LPARAM lp) {
  // The buttons load their faces of the new scale as the layout tells them.
  m_layout.Apply(Hwnd(), IDD_MAIN, HIWORD(wp), reinterpret_cast<const RECT*>(lp));
  m_background.Load(Hwnd(), IDB_BACKGROUND, m_layout.Scale());
  RepaintNow();
  return 0;
}

void CMainDlg::SetStatus(const std::wstring& text) {
  SetItemText(IDC_STATUS, text);
  RepaintNow();
}
