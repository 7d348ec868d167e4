// Construction, initialisation and destruction of the main dialog.
#include "ui/MainDlg.h"

#include <cstring>

#include "resource.h"
#include "toolkit/Controls.h"
#include "toolkit/Strings.h"
#include "vpn/L2tpPreSharedKey.h"
#include "vpn/Phonebook.h"

namespace kivo::ui {

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
                             .Command(ID_TRAY_DETAILS, BN_CLICKED, &CMainDlg::OnDetails)
                             .Message(kivo::vpn::kDialEventMessage, &CMainDlg::OnDialEvent)
                             .Message(kRetryResultMessage, &CMainDlg::OnRetryResult)
                             .Message(kStartNoticeMessage, &CMainDlg::OnStartNotice)
                             .Message(WM_ENDSESSION, &CMainDlg::OnEndSession)
                             .Message(WM_POWERBROADCAST, &CMainDlg::OnPowerBroadcast)
                             .Destroy(&CMainDlg::OnDestroy);
  return map;
}

CMainDlg::CMainDlg(const kivo::toolkit::TextSet& texts, HWND parent)
    : CScaledDialog(IDD_MAIN, parent),
      textSet_(texts),
      details_(kivo::vpn::kHasL2tpPreSharedKey),
      recorder_(*this, details_),
      rasLibrary_(kivo::vpn::Phonebook::OfCurrentUser()),
      connection_(rasLibrary_, clock_, network_, recorder_, texts),
      servers_(texts) {
  icon_ = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_KIVO));
}

void CMainDlg::DoDataExchange() {
  btnAbout_.Subclass(Item(IDC_ABOUT));
  btnNetPerf_.Subclass(Item(IDC_NETPERF));
  btnExit_.Subclass(Item(IDCANCEL));
  btnConnect_.Subclass(Item(IDOK));
  btnAccountStatus_.Subclass(Item(IDC_ACCOUNT_STATUS));
  btnAccountRegister_.Subclass(Item(IDC_ACCOUNT_REGISTER));
}

BOOL CMainDlg::OnInitDialog() {
  // Dial notices and the connection's timers come to this window; a
  // second copy of the client finds it through its instance window.
  rasLibrary_.SetNoticeWindow(Hwnd());
  clock_.Attach(Hwnd());
  instanceWindow_.Create(Hwnd());
  ::SetWindowTextW(Hwnd(), L"Kivoline");
  // A second copy started unelevated while this one runs elevated must
  // still reach it.
  kivo::toolkit::AcceptFromLowerIntegrity(Hwnd(), WM_COPYDATA);
  // A tool window has no task-bar button: the client lives in the tray.
  LONG_PTR exStyle = ::GetWindowLongPtrW(Hwnd(), GWL_EXSTYLE);
  ::SetWindowLongPtrW(Hwnd(), GWL_EXSTYLE, (exStyle & ~WS_EX_APPWINDOW) | WS_EX_TOOLWINDOW);
  // Lays the window out at the display scale, with its background.
  CScaledDialog::OnInitDialog();

  texts_ = MainTexts::Load(textSet_);
  for (const auto& [id, text] : texts_.controls) SetItemText(id, text);
  OnStatus(kivo::vpn::Connection::kIdleTextId);

  const std::wstring about = textSet_.Text(IDS_ABOUTBOX);
  if (!about.empty()) {
    if (HMENU sysMenu = ::GetSystemMenu(Hwnd(), FALSE)) {
      ::AppendMenuW(sysMenu, MF_SEPARATOR, 0, nullptr);
      ::AppendMenuW(sysMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
    }
  }

  // A shell that refuses the icon (a start at logon before the taskbar
  // exists) does not stop the rest: the icon comes back once the taskbar
  // announces itself.
  tray_.SetOwner(Hwnd(), texts_.showWindow);
  tray_.CreateFromResource(kTrayCallbackMessage, L"Kivoline", IDI_KIVO, texts_.trayMenuId);

  ::SendMessageW(Hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  smallIcon_.Reset(static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_KIVO),
                                                     IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR)));
  ::SendMessageW(Hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.Get()));

  SetButtonSkins();
  servers_.Fill(Hwnd(), Scale().Scale(80), texts_.failSuffix, kRetryResultMessage);
  // Shown once the window is up, not before it.
  if (!startNotice_.empty()) ::PostMessageW(Hwnd(), kStartNoticeMessage, 0, 0);
  return TRUE;
}

LRESULT CMainDlg::OnStartNotice(WPARAM, LPARAM) {
  const std::wstring text = std::move(startNotice_);
  startNotice_.clear();
  if (!text.empty()) ::MessageBoxW(Hwnd(), text.c_str(), L"Kivoline", MB_OK | MB_ICONWARNING);
  return 0;
}

void CMainDlg::SetButtonSkins() {
  SetButtonFace(btnAccountRegister_, kRegisterFaces);
  SetButtonFace(btnAccountStatus_, kAccountStatusFaces);
  SetButtonFace(btnConnect_, kConnectFaces);
  EnableItem(IDOK, false);
  SetButtonFace(btnExit_, kExitFaces);
  SetButtonFace(btnNetPerf_, kNetPerfFaces);
  SetButtonFace(btnAbout_, kAboutFaces);
}

void CMainDlg::SetButtonFace(CImageButton& button, const ButtonFaces& faces) {
  const ButtonImages& images = faces.Of(textSet_.Lang());
  button.SetBitmaps(images.normal, images.hover, images.disabled);
  // The button never shows its text: it is for screen readers.
  ::SetWindowTextW(button.Hwnd(), textSet_.Text(faces.textId).c_str());
}

void CMainDlg::OnDestroy() {
  // The window goes: the second measurement pass can end while the rest of
  // the dialog is torn down (the destructor waits for it).
  servers_.Cancel();
  // Nor in the buffer the password field frees with its window.
  kivo::toolkit::WipeWindowText(Item(IDC_PASSWORD));
  SetMsgHandled(false);
}

void CMainDlg::OnScaleChanged() {
  // The buttons load their faces of the new scale as the layout tells them.
  background_.Load(Hwnd(), IDB_BACKGROUND, Scale());
  RepaintNow();
}

void CMainDlg::SetStatus(const std::wstring& text) {
  SetItemText(IDC_STATUS, text);
  RepaintNow();
}

}  // namespace kivo::ui
