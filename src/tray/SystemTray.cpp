#include "tray/SystemTray.h"

#include <cstring>
#include <utility>

#include "resource.h"
#include "toolkit/Dpi.h"
#include "toolkit/Handle.h"
#include "toolkit/Strings.h"

namespace kivo::tray {

// The shell's record with the balloon fields and without the item GUID:
// 936 bytes in the 32-bit build, 952 in the 64-bit one (pointer-sized
// handles and the alignment that follows them).
#ifdef _WIN64
static_assert(NOTIFYICONDATAW_V2_SIZE == 952, "notification-icon record of 952 bytes");
#else
static_assert(NOTIFYICONDATAW_V2_SIZE == 936, "notification-icon record of 936 bytes");
#endif

namespace {
constexpr DWORD kRecordSize = NOTIFYICONDATAW_V2_SIZE;
constexpr const wchar_t* kIdleText = L"Kivoline";
}  // namespace

CSystemTray::CSystemTray() noexcept { std::memset(&nid_, 0, sizeof(nid_)); }

void CSystemTray::SetOwner(HWND owner, std::wstring showWindowText) {
  owner_ = owner;
  showWindowText_ = std::move(showWindowText);
}

void CSystemTray::SetStatusText(std::wstring text) {
  if (text == statusText_) return;
  statusText_ = std::move(text);
  if (Hwnd() != nullptr) RefreshTip();
}

CSystemTray::~CSystemTray() { Remove(); }

void CSystemTray::Remove() {
  if (Hwnd() == nullptr) return;
  nid_.uFlags = 0;
  NotifyShell(NIM_DELETE, nid_);
  Destroy();
}

bool CSystemTray::Create(UINT callbackMessage, const std::wstring& tip, HICON icon, UINT id) {
  if (!kivo::toolkit::Window::Create(0, L"KIVO VPN", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr)) return false;
  // A restarted shell broadcasts this; the icon is then added again.
  taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
  // The shell runs unelevated, this process perhaps not.
  if (taskbarCreated_ != 0) kivo::toolkit::AcceptFromLowerIntegrity(Hwnd(), taskbarCreated_);

  nid_.cbSize = kRecordSize;
  nid_.hWnd = Hwnd();
  nid_.uID = id;
  nid_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  nid_.uCallbackMessage = callbackMessage;
  nid_.hIcon = icon;
  kivo::toolkit::CopyTruncated(nid_.szTip, tip);
  return NotifyShell(NIM_ADD, nid_) != FALSE;
}

bool CSystemTray::CreateFromResource(UINT callbackMessage, const std::wstring& tip, UINT iconId, UINT id) {
  iconId_ = iconId;
  // The hidden window does not exist yet: the DPI of the primary monitor,
  // where it will be, is the session's.
  iconDpi_ = kivo::toolkit::DpiOfWindow(nullptr);
  icon_.Reset(LoadIconForDpi(iconDpi_));
  if (!Create(callbackMessage, tip, icon_.Get(), id)) return false;
  SetDpi(kivo::toolkit::DpiOfWindow(Hwnd()));
  return true;
}

HICON CSystemTray::LoadIconForDpi(UINT dpi) const {
  const int size = kivo::toolkit::SystemMetricForDpi(SM_CXSMICON, dpi);
  return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iconId_), IMAGE_ICON,
                                         size, size, LR_DEFAULTCOLOR));
}

void CSystemTray::SetDpi(UINT dpi) {
  if (iconId_ == 0 || dpi == iconDpi_) return;
  kivo::toolkit::UniqueIcon icon(LoadIconForDpi(dpi));
  if (!icon) return;
  iconDpi_ = dpi;
  nid_.hIcon = icon.Get();
  if (Hwnd() != nullptr) {
    nid_.cbSize = kRecordSize;
    nid_.uFlags = NIF_ICON;
    NotifyShell(NIM_MODIFY, nid_);
  }
  icon_ = std::move(icon);  // the shell has its own copy of the old one
}

BOOL CSystemTray::NotifyShell(DWORD message, NOTIFYICONDATAW& record) {
  return ::Shell_NotifyIconW(message, &record);
}

LRESULT CSystemTray::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == nid_.uCallbackMessage && nid_.uCallbackMessage != 0) return OnTrayNotification(wp, lp);
  if (msg == taskbarCreated_ && taskbarCreated_ != 0) {
    ReAdd();
    return 0;
  }
  if (msg == WM_DPICHANGED) {
    SetDpi(HIWORD(wp));
    return 0;
  }
  if (msg == WM_DISPLAYCHANGE || msg == WM_SETTINGCHANGE) SetDpi(kivo::toolkit::DpiOfWindow(Hwnd()));
  return kivo::toolkit::Window::WindowProc(msg, wp, lp);
}

void CSystemTray::ReAdd() {
  // The new shell knows nothing of us: add the icon with the tip it had.
  nid_.cbSize = kRecordSize;
  nid_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  NotifyShell(NIM_ADD, nid_);
}

LRESULT CSystemTray::OnTrayNotification(WPARAM wp, LPARAM lp) {
  if (static_cast<UINT>(wp) != nid_.uID) return 0;
  HWND main = owner_;

  switch (LOWORD(lp)) {
    case WM_MOUSEMOVE:
      RefreshTip();
      return 1;
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
      if (main != nullptr) {
        ::ShowWindow(main, SW_SHOW);
        ::SetForegroundWindow(main);
      }
      return 1;
    case WM_RBUTTONUP:
      return ShowMenu();
    default:
      return 1;
  }
}

void CSystemTray::RefreshTip() {
  nid_.uFlags = NIF_TIP;
  kivo::toolkit::CopyTruncated(nid_.szTip, statusText_.empty() ? std::wstring(kIdleText) : statusText_);
  NotifyShell(NIM_MODIFY, nid_);
}

LRESULT CSystemTray::ShowMenu() {
  kivo::toolkit::UniqueMenu menu(::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(LOWORD(nid_.uID))));
  if (!menu) return 0;
  HMENU popup = ::GetSubMenu(menu.Get(), 0);
  if (popup == nullptr) return 0;

  POINT pt{};
  ::GetCursorPos(&pt);
  HWND main = owner_;
  const bool connected = connectionActive_;
  constexpr UINT kGrey = MF_GRAYED | MF_DISABLED;
  ::EnableMenuItem(popup, ID_TRAY_DISCONNECT, MF_BYCOMMAND | (connected ? MF_ENABLED : kGrey));
  ::EnableMenuItem(popup, ID_TRAY_EXIT, MF_BYCOMMAND | (connected ? kGrey : MF_ENABLED));
  if (main != nullptr && !::IsWindowVisible(main)) {
    ::ModifyMenuW(popup, ID_TRAY_MINIMIZE, MF_BYCOMMAND | MF_STRING, ID_TRAY_MINIMIZE, showWindowText_.c_str());
  }
  ::EnableMenuItem(popup, ID_TRAY_MINIMIZE, MF_BYCOMMAND | MF_ENABLED);
  ::EnableMenuItem(popup, ID_TRAY_DETAILS, MF_BYCOMMAND | MF_ENABLED);
  ::EnableMenuItem(popup, ID_TRAY_ABOUT, MF_BYCOMMAND | MF_ENABLED);

  // Without the owner in the foreground the menu would not close when the
  // user clicks elsewhere; the message afterwards lets it close cleanly.
  if (main != nullptr) ::SetForegroundWindow(main);
  UINT command =
      static_cast<UINT>(::TrackPopupMenu(popup, TPM_RETURNCMD | TPM_VERTICAL, pt.x, pt.y, 0, main, nullptr));
  if (main != nullptr) ::PostMessageW(main, WM_NULL, 0, 0);

  switch (command) {
    case ID_TRAY_DISCONNECT:
    case ID_TRAY_EXIT:
      ::SendMessageW(main, WM_COMMAND, IDCANCEL, 0);
      break;
    case ID_TRAY_MINIMIZE:
      if (::IsWindowVisible(main)) {
        ::SendMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
      } else {
        ::ShowWindow(main, SW_SHOW);
      }
      break;
    case ID_TRAY_ABOUT:
      ::SendMessageW(main, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
      break;
    case ID_TRAY_DETAILS:
      // The connection details window, as the menu's own command.
      ::SendMessageW(main, WM_COMMAND, ID_TRAY_DETAILS, 0);
      break;
    default:
      break;
  }
  return 1;
}

void CSystemTray::ShowBalloon(const std::wstring& title) {
  const std::wstring body = statusText_.empty() ? std::wstring(kIdleText) : statusText_;
  nid_.cbSize = kRecordSize;
  nid_.uFlags = NIF_INFO;
  kivo::toolkit::CopyTruncated(nid_.szInfo, body);
  kivo::toolkit::CopyTruncated(nid_.szInfoTitle, title);
  nid_.uTimeout = 5000;
  nid_.dwInfoFlags = NIIF_INFO;
  NotifyShell(NIM_MODIFY, nid_);
}

}  // namespace kivo::tray
