// kivo_sample_window.exe: a small dialog titled "Kivoline" that the rig's
// own tests drive instead of the client. Every control reports what reached
// it in the status line (control 1003), so a test can tell that a message
// arrived and how it was understood:
//   user:<text>  combo:<index>  check:<state>  list:<index>  message:<button>
//   menu:<command>  tray:<0|1>  tray-event:<mouse message>  hover:<0|1>
//   command:<id>:<code>
// The static 1041 shows "lang:<system default language id>".
// "/exit=<n>" sets the process exit code used when Exit (IDCANCEL) ends it.
#include "sample_window.h"

#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

#include "toolkit/Handle.h"

namespace {

constexpr COLORREF kBackground = RGB(32, 96, 160);
constexpr COLORREF kPadIdle = RGB(200, 0, 0);
constexpr COLORREF kPadHover = RGB(0, 200, 0);
constexpr UINT kTrayCallback = WM_APP + 1;
constexpr wchar_t kHoverClass[] = L"KivoHoverPad";
constexpr wchar_t kHiddenClass[] = L"KivoSampleHidden";

using kivo::toolkit::UniqueHandle;

struct WindowTraits {
  using Type = HWND;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::DestroyWindow(h); }
};

struct LocalMemoryTraits {
  using Type = LPWSTR*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::LocalFree(h); }
};

using UniqueBrush = UniqueHandle<kivo::toolkit::GdiObjectTraits>;

void SetStatus(HWND dialog, const std::wstring& text) { ::SetDlgItemTextW(dialog, IDC_STATUS, text.c_str()); }

// A child that is red, and green while the pointer is over it.
class HoverPad {
 public:
  static bool Register(HINSTANCE instance) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &HoverPad::Proc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kHoverClass;
    return ::RegisterClassW(&wc) != 0;
  }

 private:
  static bool Hovered(HWND hwnd) { return ::GetWindowLongPtrW(hwnd, GWLP_USERDATA) != 0; }

  static void SetHovered(HWND hwnd, bool hovered) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, hovered ? 1 : 0);
    ::InvalidateRect(hwnd, nullptr, FALSE);
    SetStatus(::GetParent(hwnd), hovered ? L"hover:1" : L"hover:0");
  }

  static void Paint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd, &ps);
    RECT r;
    ::GetClientRect(hwnd, &r);
    UniqueBrush brush(::CreateSolidBrush(Hovered(hwnd) ? kPadHover : kPadIdle));
    ::FillRect(dc, &r, static_cast<HBRUSH>(brush.Get()));
    ::EndPaint(hwnd, &ps);
  }

  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
      case WM_PAINT:
        Paint(hwnd);
        return 0;
      case WM_MOUSEMOVE:
        if (!Hovered(hwnd)) {
          TRACKMOUSEEVENT tme = {sizeof tme, TME_LEAVE, hwnd, 0};
          ::TrackMouseEvent(&tme);
          SetHovered(hwnd, true);
        }
        return 0;
      case WM_MOUSELEAVE:
        SetHovered(hwnd, false);
        return 0;
      default:
        return ::DefWindowProcW(hwnd, msg, wp, lp);
    }
  }
};

class SampleDialog {
 public:
  SampleDialog(HINSTANCE instance, UINT exitCode) : instance_(instance), exitCode_(exitCode) {}
  SampleDialog(const SampleDialog&) = delete;
  SampleDialog& operator=(const SampleDialog&) = delete;

  INT_PTR Run() {
    return ::DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_SAMPLE), nullptr, &SampleDialog::Proc,
                             reinterpret_cast<LPARAM>(this));
  }

 private:
  static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) ::SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    auto* self = reinterpret_cast<SampleDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (self == nullptr) return FALSE;
    try {
      return self->Handle(hwnd, msg, wp, lp);
    } catch (...) {
      return FALSE;
    }
  }

  INT_PTR Handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
      case WM_INITDIALOG:
        dialog_ = hwnd;
        Init();
        return TRUE;
      case WM_CTLCOLORDLG:
        return reinterpret_cast<INT_PTR>(background_.Get());
      case WM_COMMAND:
        OnCommand(LOWORD(wp), HIWORD(wp));
        return TRUE;
      case WM_NOTIFY:
        OnNotify(reinterpret_cast<const NMHDR*>(lp));
        return TRUE;
      case kTrayCallback:
        // The last mouse message the shell relayed from the tray icon.
        if (LOWORD(lp) != WM_MOUSEMOVE) SetStatus(dialog_, L"tray-event:" + std::to_wstring(LOWORD(lp)));
        return TRUE;
      case WM_DESTROY:
        RemoveTrayIcon();
        return TRUE;
      default:
        return FALSE;
    }
  }

  void Init() {
    background_.Reset(::CreateSolidBrush(kBackground));
    HWND combo = ::GetDlgItem(dialog_, IDC_COMBO);
    for (const wchar_t* item : {L"Intelligent", L"CT1(--35ms)", L"电信2(--失败)"})
      ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    ::SendMessageW(combo, CB_SETCURSEL, 0, 0);
    FillList();
    ::SetDlgItemTextW(dialog_, IDC_LANG, (L"lang:" + std::to_wstring(::GetSystemDefaultLangID())).c_str());
    // A top-level window that is never shown, like a tray's message window.
    hidden_.Reset(::CreateWindowExW(0, kHiddenClass, L"KIVO VPN", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                    instance_, nullptr));
  }

  void FillList() {
    HWND list = ::GetDlgItem(dialog_, IDC_LIST);
    const wchar_t* headings[] = {L"Server", L"Delay", L"Rate"};
    for (int c = 0; c < 3; ++c) {
      LVCOLUMNW col = {};
      col.mask = LVCF_TEXT | LVCF_WIDTH;
      col.cx = 100;
      col.pszText = const_cast<wchar_t*>(headings[c]);
      ::SendMessageW(list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&col));
    }
    const wchar_t* rows[][3] = {{L"CT1", L"35ms", L"100%"}, {L"网通1", L"N/A", L"0%"}};
    for (int r = 0; r < 2; ++r) {
      LVITEMW item = {};
      item.mask = LVIF_TEXT;
      item.iItem = r;
      item.pszText = const_cast<wchar_t*>(rows[r][0]);
      ::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
      for (int c = 1; c < 3; ++c) {
        item.iSubItem = c;
        item.pszText = const_cast<wchar_t*>(rows[r][c]);
        ::SendMessageW(list, LVM_SETITEMTEXTW, r, reinterpret_cast<LPARAM>(&item));
      }
    }
  }

  void OnCommand(WORD id, WORD code) {
    switch (id) {
      case IDC_USER:
        if (code == EN_CHANGE) {
          wchar_t text[256] = {};
          ::GetDlgItemTextW(dialog_, IDC_USER, text, 256);
          SetStatus(dialog_, std::wstring(L"user:") + text);
        }
        return;
      case IDC_PASS:
        return;
      case IDC_COMBO:
        if (code == CBN_SELCHANGE) {
          LRESULT sel = ::SendDlgItemMessageW(dialog_, IDC_COMBO, CB_GETCURSEL, 0, 0);
          SetStatus(dialog_, L"combo:" + std::to_wstring(sel));
        }
        return;
      case IDC_CHECK:
        SetStatus(dialog_, L"check:" + std::to_wstring(::IsDlgButtonChecked(dialog_, IDC_CHECK)));
        return;
      case IDC_MESSAGE: {
        int result =
            ::MessageBoxW(dialog_, L"Unable to connect.\n无法连接。", L"拨号失败", MB_OK | MB_ICONERROR);
        SetStatus(dialog_, L"message:" + std::to_wstring(result));
        return;
      }
      case IDC_MENU:
        SetStatus(dialog_, L"menu:" + std::to_wstring(TrackMenu()));
        return;
      case IDC_TRAY:
        SetStatus(dialog_, AddTrayIcon() ? L"tray:1" : L"tray:0");
        return;
      case IDCANCEL:
        ::EndDialog(dialog_, static_cast<INT_PTR>(exitCode_));
        return;
      default:
        SetStatus(dialog_, L"command:" + std::to_wstring(id) + L":" + std::to_wstring(code));
    }
  }

  void OnNotify(const NMHDR* header) {
    if (header == nullptr || header->idFrom != IDC_LIST || header->code != LVN_ITEMCHANGED) return;
    const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
    if ((change->uNewState & LVIS_SELECTED) && !(change->uOldState & LVIS_SELECTED))
      SetStatus(dialog_, L"list:" + std::to_wstring(change->iItem));
  }

  // Tracks the sample menu below the Menu button; returns the chosen command.
  int TrackMenu() {
    kivo::toolkit::UniqueMenu menu(::LoadMenuW(instance_, MAKEINTRESOURCEW(IDM_SAMPLE)));
    if (!menu) return -1;
    RECT r;
    ::GetWindowRect(::GetDlgItem(dialog_, IDC_MENU), &r);
    int command = static_cast<int>(::TrackPopupMenu(::GetSubMenu(menu.Get(), 0), TPM_RETURNCMD | TPM_VERTICAL,
                                                    r.left, r.bottom, 0, dialog_, nullptr));
    return command;
  }

  bool AddTrayIcon() {
    NOTIFYICONDATAW nid = {};
    nid.cbSize = sizeof nid;
    nid.hWnd = dialog_;
    nid.uID = 530;
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = kTrayCallback;
    nid.hIcon = ::LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    lstrcpynW(nid.szTip, L"Kivoline 样例", 64);
    if (!trayAdded_) trayAdded_ = ::Shell_NotifyIconW(NIM_ADD, &nid) != FALSE;
    if (!trayAdded_) return false;
    nid.uFlags = NIF_INFO;
    lstrcpynW(nid.szInfo, L"Sample balloon 气球", 256);
    lstrcpynW(nid.szInfoTitle, L"Connected", 64);
    nid.uTimeout = 5000;
    nid.dwInfoFlags = NIIF_INFO;
    return ::Shell_NotifyIconW(NIM_MODIFY, &nid) != FALSE;
  }

  void RemoveTrayIcon() {
    if (!trayAdded_) return;
    NOTIFYICONDATAW nid = {};
    nid.cbSize = sizeof nid;
    nid.hWnd = dialog_;
    nid.uID = 530;
    ::Shell_NotifyIconW(NIM_DELETE, &nid);
    trayAdded_ = false;
  }

  HINSTANCE instance_;
  UINT exitCode_;
  HWND dialog_ = nullptr;
  UniqueHandle<WindowTraits> hidden_;
  UniqueBrush background_;
  bool trayAdded_ = false;
};

UINT ExitCodeFromCommandLine() {
  int argc = 0;
  UniqueHandle<LocalMemoryTraits> argv(::CommandLineToArgvW(::GetCommandLineW(), &argc));
  UINT code = 0;
  for (int i = 1; argv && i < argc; ++i) {
    std::wstring arg = argv.Get()[i];
    if (arg.rfind(L"/exit=", 0) == 0) code = static_cast<UINT>(std::wcstoul(arg.c_str() + 6, nullptr, 0));
  }
  return code;
}

bool RegisterHiddenClass(HINSTANCE instance) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = ::DefWindowProcW;
  wc.hInstance = instance;
  wc.lpszClassName = kHiddenClass;
  return ::RegisterClassW(&wc) != 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&icc);
  if (!HoverPad::Register(instance) || !RegisterHiddenClass(instance)) return 2;
  SampleDialog dialog(instance, ExitCodeFromCommandLine());
  return static_cast<int>(dialog.Run());
}
