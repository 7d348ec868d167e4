// Construction, initialisation and destruction of the main dialog.
#include "ui/MainDlg.h"

#include <cstring>

#include "ServiceEndpoints.h"
#include "resource.h"
#include "toolkit/Controls.h"
#include "toolkit/Strings.h"
#include "vpn/Phonebook.h"

using kivo::toolkit::Gbk;
using kivo::toolkit::LoadResString;

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
                             .Command(IDC_USER, EN_CHANGE, &CMainDlg::OnChangeUser)
                             .Command(IDC_PASSWORD, EN_CHANGE, &CMainDlg::OnChangePassword)
                             .Command(IDC_GROUP_CT, CBN_DROPDOWN, &CMainDlg::OnDropDownCT)
                             .Command(IDC_GROUP_CT, CBN_CLOSEUP, &CMainDlg::OnCloseUpCT)
                             .Command(IDC_GROUP_CT, CBN_SELCHANGE, &CMainDlg::OnSelChangeCT)
                             .Command(IDC_GROUP_CNC, CBN_DROPDOWN, &CMainDlg::OnDropDownCNC)
                             .Command(IDC_GROUP_CNC, CBN_CLOSEUP, &CMainDlg::OnCloseUpCNC)
                             .Command(IDC_GROUP_CNC, CBN_SELCHANGE, &CMainDlg::OnSelChangeCNC)
                             .Command(IDC_GROUP_OTHER, CBN_DROPDOWN, &CMainDlg::OnDropDownOther)
                             .Command(IDC_GROUP_OTHER, CBN_CLOSEUP, &CMainDlg::OnCloseUpOther)
                             .Command(IDC_GROUP_OTHER, CBN_SELCHANGE, &CMainDlg::OnSelChangeOther)
                             .Command(IDC_ACCOUNT_STATUS, BN_CLICKED, &CMainDlg::OnAccountStatus)
                             .Command(IDC_ACCOUNT_REGISTER, BN_CLICKED, &CMainDlg::OnAccountRegister)
                             .Command(IDC_ABOUT, BN_CLICKED, &CMainDlg::OnAbout)
                             .Message(kRetryResultMessage, &CMainDlg::OnRetryResult)
                             .Message(WM_ENDSESSION, &CMainDlg::OnEndSession)
                             .Message(WM_DPICHANGED, &CMainDlg::OnDpiChanged)
                             .Destroy(&CMainDlg::OnDestroy);
  return map;
}

CMainDlg::CMainDlg(HWND parent)
    : kivo::toolkit::Dialog(IDD_MAIN, parent),
      m_tray(*this),
      m_rasLibrary(kivo::vpn::Phonebook::OfCurrentUser()),
      m_connection(m_rasLibrary, m_clock, *this) {
  m_hIcon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_KIVO));
}

CMainDlg::~CMainDlg() {
  // The second measurement pass uses the dialog's lists: it ends first.
  m_measureCancel.Cancel();
  m_retryThread.Join();
  m_pMemDC.Reset();
  m_pBkBitmap.Reset();
}

int CMainDlg::LanguageVariant(LANGID systemLanguage) noexcept {
  switch (systemLanguage) {
    case 2052:
      return 1;
    case 3076:
      return 2;
    case 1028:
      return 3;
    case 5124:
      return 4;
    case 4100:
      return 5;
    case 2057:
      return 6;
    default:
      return 0;
  }
}

void CMainDlg::DoDataExchange() {
  m_btnAbout.Subclass(Item(IDC_ABOUT));
  m_btnNetPerf.Subclass(Item(IDC_NETPERF));
  m_btnExit.Subclass(Item(IDCANCEL));
  m_btnConnect.Subclass(Item(IDOK));
  m_btnAccountStatus.Subclass(Item(IDC_ACCOUNT_STATUS));
  m_btnAccountRegister.Subclass(Item(IDC_ACCOUNT_REGISTER));
}

void CMainDlg::LoadTexts() {
  const bool zh = Chinese();
  // Message texts: Chinese entry = English entry - 1.
  auto text = [zh](UINT english) { return LoadResString(zh ? english - 1 : english); };

  m_strGroupCT = zh ? Gbk("电信") : "CT";
  m_strGroupCNC = zh ? Gbk("网通") : "CNC";
  m_strGroupOther = zh ? Gbk("其它") : "Other";
  m_strTrayTipFormat =
      zh ? Gbk("Kivoline 连接\n速度: %.2f Mbps\n发送: %u 字节\n收到: %u 字节\nIP:   %s\n")
         : "Kivoline Connection\nSpeed: %.2f Mbps\nSend: %u byte\nReceive: %u byte\nIP:   %s\n";
  m_strConnected = zh ? Gbk("连接成功") : "Connected";
  m_strAlreadyRunning = zh ? Gbk("已经运行") : "Alreadly Running";
  m_strShowWindow = zh ? Gbk("显示窗口...") : "Show...";
  m_strErrUnknownRas = text(173);
  m_strErrCodeFormat = text(176);
  m_strDialFailed = text(179);
  m_strIdle = text(182);
  m_strErrSetPhonebook = text(185);
  m_strErrTestPhonebook = text(188);
  m_strErrOpenPhonebook = text(191);
  m_strFailSuffix = text(194);
  m_nTrayMenuId = zh ? IDR_TRAY_MENU_ZH : IDR_TRAY_MENU_EN;

  SetItemText(IDC_USER_LABEL, zh ? Gbk("用 户：") : "User :");
  SetItemText(IDC_PASSWORD_LABEL, zh ? Gbk("密 码：") : "Password :");
  SetItemText(IDC_STATUS_LABEL, zh ? Gbk("状 态：") : "Status :");
  SetItemText(IDC_INTELLIGENT, zh ? Gbk("智能检测") : "Intelligent");
  SetItemText(IDC_WEB_ADDRESS, kivo::endpoints::kMakerUrl);
}

BOOL CMainDlg::OnInitDialog() {
  // Dial notices and the connection's timers come to this window; a
  // second copy of the client finds it through its instance window.
  m_rasLibrary.SetNoticeWindow(Hwnd());
  m_clock.Attach(Hwnd());
  m_instanceWindow.Create(Hwnd());
  ::SetWindowTextA(Hwnd(), "Kivoline");
  // A second copy started unelevated while this one runs elevated must
  // still reach it.
  kivo::toolkit::AcceptFromLowerIntegrity(Hwnd(), WM_COPYDATA);
  // A tool window has no task-bar button: the client lives in the tray.
  LONG_PTR exStyle = ::GetWindowLongPtrA(Hwnd(), GWL_EXSTYLE);
  ::SetWindowLongPtrA(Hwnd(), GWL_EXSTYLE, (exStyle & ~WS_EX_APPWINDOW) | WS_EX_TOOLWINDOW);
  m_layout.Apply(Hwnd(), IDD_MAIN, kivo::toolkit::DpiOfWindow(Hwnd()));

  m_nLangVariant = LanguageVariant(::GetSystemDefaultLangID());
  LoadTexts();
  m_connection.SetChinese(Chinese());
  SetStatus(m_strIdle);

  std::string about = LoadResString(IDS_ABOUTBOX);
  if (!about.empty()) {
    if (HMENU sysMenu = ::GetSystemMenu(Hwnd(), FALSE)) {
      ::AppendMenuA(sysMenu, MF_SEPARATOR, 0, nullptr);
      ::AppendMenuA(sysMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
    }
  }

  // A shell that refuses the icon (a start at logon before the taskbar
  // exists) does not stop the rest: the icon comes back once the taskbar
  // announces itself.
  m_tray.CreateFromResource(kTrayCallbackMessage, "Kivoline", IDI_KIVO, static_cast<UINT>(m_nTrayMenuId));

  ::SendMessageA(Hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  m_hSmallIcon.Reset(static_cast<HICON>(::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_KIVO),
                                                     IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR)));
  ::SendMessageA(Hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon.Get()));

  ::CheckDlgButton(Hwnd(), IDC_INTELLIGENT, BST_CHECKED);
  m_nServerChoice = 0;

  SetButtonSkins();

  LoadBackground();

  const int combos[] = {IDC_GROUP_CT, IDC_GROUP_CNC, IDC_GROUP_OTHER};
  for (int group = 1; group <= 3; ++group) {
    kivo::toolkit::ComboBox combo(Item(combos[group - 1]));
    combo.SetDroppedWidth(80);
    combo.AddString(GroupCaption(group));
    combo.SetCurSel(0);
  }

  FillServerCatalogue();
  StartDetection();
  FillGroupCombos();
  if (!m_arrProbeTargets.empty()) StartRetryThread();
  return TRUE;
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
  const bool zh = Chinese();
  const ButtonFace& face = zh ? faces.chinese : faces.english;
  button.SetBitmaps(face.normal, face.hover, face.disabled);
  // The template's texts are Chinese whatever the language, and the button
  // never shows its text: it is for screen readers.
  ::SetWindowTextA(button.Hwnd(), zh ? Gbk(face.text).c_str() : face.text);
}

void CMainDlg::OnDestroy() {
  // The window goes: the second measurement pass can end while the rest of
  // the dialog is torn down (the destructor waits for it).
  m_measureCancel.Cancel();
  // Nor in the buffer the password field frees with its window.
  kivo::toolkit::WipeWindowText(Item(IDC_PASSWORD));
  SetMsgHandled(false);
}

void CMainDlg::SetStatus(const std::string& text) {
  SetItemText(IDC_STATUS, text);
  RepaintNow();
}
