#include "WindowQuery.h"

#include "Command.h"

namespace kivo::driver {

namespace {

// Longest text the driver reads from a window: far above anything the
// client shows, and small enough that a bogus length cannot exhaust memory.
constexpr LRESULT kMaxTextLength = 1 << 20;

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  return TRUE;
}

Json RectJson(const RECT& r) { return Json(Json::Array{r.left, r.top, r.right, r.bottom}); }

}  // namespace

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) throw CommandError(kBadRequest, "text is not valid UTF-8");
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const wchar_t* text, size_t length) {
  if (length == 0) return {};
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

LRESULT SendWithTimeout(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, DWORD timeout) {
  DWORD_PTR result = 0;
  if (!::SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG | SMTO_BLOCK, timeout, &result)) {
    if (!::IsWindow(hwnd)) throw CommandError(kNoWindow, "the window went away");
    throw CommandError(kTimeout, "the window did not answer message " + std::to_string(msg));
  }
  return static_cast<LRESULT>(result);
}

std::string ClassName(HWND hwnd) {
  wchar_t name[256] = {};
  int n = ::GetClassNameW(hwnd, name, 256);
  return Narrow(name, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string Caption(HWND hwnd) {
  // InternalGetWindowText reads the stored caption without a message.
  wchar_t buf[1024] = {};
  int n = ::InternalGetWindowText(hwnd, buf, 1024);
  return Narrow(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string MessageText(HWND hwnd, DWORD timeout) {
  LRESULT length = SendWithTimeout(hwnd, WM_GETTEXTLENGTH, 0, 0, timeout);
  if (length <= 0) return {};
  if (length > kMaxTextLength) length = kMaxTextLength;
  std::wstring buf(static_cast<size_t>(length) + 1, L'\0');
  LRESULT copied =
      SendWithTimeout(hwnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), timeout);
  if (copied < 0) copied = 0;
  if (copied > length) copied = length;
  return Narrow(buf.data(), static_cast<size_t>(copied));
}

DWORD ProcessOf(HWND hwnd) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  return pid;
}

Json Describe(HWND hwnd, DWORD timeout, bool withText) {
  Json d = Json::MakeObject();
  DWORD pid = 0;
  DWORD tid = ::GetWindowThreadProcessId(hwnd, &pid);
  RECT rect = {};
  ::GetWindowRect(hwnd, &rect);
  RECT client = {};
  ::GetClientRect(hwnd, &client);
  POINT origin = {0, 0};
  ::ClientToScreen(hwnd, &origin);
  LONG style = ::GetWindowLongW(hwnd, GWL_STYLE);
  d.Set("hwnd", HandleJson(hwnd));
  d.Set("title", Caption(hwnd));
  d.Set("class", ClassName(hwnd));
  d.Set("id", (style & WS_CHILD) ? static_cast<long long>(::GetDlgCtrlID(hwnd)) : 0LL);
  d.Set("style", static_cast<long long>(static_cast<DWORD>(style)));
  d.Set("exstyle", static_cast<long long>(static_cast<DWORD>(::GetWindowLongW(hwnd, GWL_EXSTYLE))));
  d.Set("visible", ::IsWindowVisible(hwnd) != FALSE);
  d.Set("enabled", ::IsWindowEnabled(hwnd) != FALSE);
  d.Set("rect", RectJson(rect));
  d.Set("client", Json(Json::Array{origin.x, origin.y, origin.x + client.right, origin.y + client.bottom}));
  d.Set("parent",
        HandleJson(::GetAncestor(hwnd, GA_PARENT) == ::GetDesktopWindow() ? nullptr
                                                                          : ::GetAncestor(hwnd, GA_PARENT)));
  d.Set("owner", HandleJson(::GetWindow(hwnd, GW_OWNER)));
  d.Set("pid", static_cast<long long>(pid));
  d.Set("tid", static_cast<long long>(tid));
  // Whether the window's thread runs the system's move or size loop.
  GUITHREADINFO gui = {};
  gui.cbSize = sizeof(gui);
  d.Set("moving", tid != 0 && ::GetGUIThreadInfo(tid, &gui) && (gui.flags & GUI_INMOVESIZE) != 0);
  if (withText) d.Set("text", MessageText(hwnd, timeout));
  return d;
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> out;
  ::EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&out));
  return out;
}

std::vector<HWND> ChildWindows(HWND parent, bool deep) {
  std::vector<HWND> all;
  ::EnumChildWindows(parent, &CollectWindow, reinterpret_cast<LPARAM>(&all));
  if (deep) return all;
  std::vector<HWND> direct;
  for (HWND h : all) {
    if (::GetAncestor(h, GA_PARENT) == parent) direct.push_back(h);
  }
  return direct;
}

}  // namespace kivo::driver
