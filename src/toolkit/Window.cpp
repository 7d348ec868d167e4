#include "Window.h"

#include <vector>

#include "Strings.h"

namespace kivo::toolkit {

namespace {
constexpr const wchar_t* kObjectProp = L"Kivo.Window";
constexpr const wchar_t* kClassName = L"KivoWindow";
}  // namespace

Window::~Window() { Destroy(); }

Window* Window::FromHandle(HWND hwnd) {
  return hwnd ? static_cast<Window*>(::GetPropW(hwnd, kObjectProp)) : nullptr;
}

void Window::Attach(HWND hwnd) {
  hwnd_ = hwnd;
  ::SetPropW(hwnd, kObjectProp, this);
}

void Window::Detach() {
  if (hwnd_ == nullptr) return;
  if (original_ != nullptr) {
    ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
    original_ = nullptr;
  }
  ::RemovePropW(hwnd_, kObjectProp);
  hwnd_ = nullptr;
}

bool Window::Subclass(HWND hwnd) {
  if (hwnd == nullptr || hwnd_ != nullptr || FromHandle(hwnd) != nullptr) return false;
  Attach(hwnd);
  original_ = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Window::StaticProc)));
  return true;
}

const wchar_t* Window::RegisteredClass(const wchar_t* name) {
  // Registering twice is harmless: the second call fails with "class exists".
  WNDCLASSW wc{};
  wc.lpfnWndProc = &Window::StaticProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = name;
  ::RegisterClassW(&wc);
  return name;
}

bool Window::Create(DWORD exStyle, const wchar_t* title, DWORD style, int x, int y, int cx, int cy, HWND parent,
                    HMENU menu) {
  if (hwnd_ != nullptr) return false;
  HWND hwnd = ::CreateWindowExW(exStyle, RegisteredClass(kClassName), title, style, x, y, cx, cy, parent,
                                menu, ::GetModuleHandleW(nullptr), this);
  return hwnd != nullptr;
}

bool Window::CreateMessageWindow(const wchar_t* className) {
  if (hwnd_ != nullptr) return false;
  HWND hwnd = ::CreateWindowExW(0, RegisteredClass(className), nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ::GetModuleHandleW(nullptr), this);
  return hwnd != nullptr;
}

void Window::Destroy() {
  if (hwnd_ == nullptr) return;
  if (original_ != nullptr) {
    // A control belongs to its dialog: give it back rather than destroy it.
    Detach();
    return;
  }
  ::DestroyWindow(hwnd_);  // WM_NCDESTROY detaches
  hwnd_ = nullptr;
}

void Window::DrawItem(const DRAWITEMSTRUCT&) {}

LRESULT Window::DefaultProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (original_ != nullptr) return ::CallWindowProcW(original_, hwnd_, msg, wp, lp);
  return ::DefWindowProcW(hwnd_, msg, wp, lp);
}

bool Window::ProcessMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

LRESULT Window::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT result = 0;
  msgHandled_ = true;
  if (ProcessMessage(msg, wp, lp, result)) return result;
  return DefaultProc(msg, wp, lp);
}

LRESULT CALLBACK Window::StaticProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Window* self = FromHandle(hwnd);
  if (self == nullptr && msg == WM_NCCREATE) {
    self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    if (self != nullptr) self->Attach(hwnd);
  }
  if (self == nullptr) return ::DefWindowProcW(hwnd, msg, wp, lp);

  LRESULT result = 0;
  try {
    HandledScope scope(*self);
    result = self->WindowProc(msg, wp, lp);
  } catch (...) {
    // Whatever a handler throws (the standard library's std::bad_alloc and
    // std::length_error when memory runs out; our code throws nothing of
    // its own) may not cross into the system's code, which cannot unwind
    // it: the message gets the system's default handling instead.
    result = self->DefaultProc(msg, wp, lp);
  }
  if (msg == WM_NCDESTROY) {
    self->original_ = nullptr;  // the window is gone: nothing to restore
    ::RemovePropW(hwnd, kObjectProp);
    self->hwnd_ = nullptr;
  }
  return result;
}

void ReadSecretText(HWND hwnd, std::wstring& text) {
  WipeString(text);
  const int len = ::GetWindowTextLengthW(hwnd);
  if (len <= 0) return;
  text.resize(static_cast<size_t>(len) + 1);
  const int got = ::GetWindowTextW(hwnd, text.data(), len + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);  // shrinks in place
}

void WipeWindowText(HWND hwnd) {
  const int len = ::GetWindowTextLengthW(hwnd);
  if (len > 0) ::SetWindowTextW(hwnd, std::wstring(static_cast<size_t>(len), L'*').c_str());
  ::SetWindowTextW(hwnd, L"");
}

std::wstring GetText(HWND hwnd) {
  int len = ::GetWindowTextLengthW(hwnd);
  if (len <= 0) return {};
  std::vector<wchar_t> buf(static_cast<size_t>(len) + 1);
  int got = ::GetWindowTextW(hwnd, buf.data(), len + 1);
  return std::wstring(buf.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

bool AcceptFromLowerIntegrity(HWND hwnd, UINT message) {
  // Windows 7 and later; looked up so that the program still starts without it.
  using FilterFunction = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  constexpr DWORD kAllow = 1;  // MSGFLT_ALLOW
  // GetProcAddress has no W form: export names are bytes.
  FARPROC proc = ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "ChangeWindowMessageFilterEx");
  if (proc == nullptr) return false;
  auto filter = reinterpret_cast<FilterFunction>(reinterpret_cast<void*>(proc));
  return filter(hwnd, message, kAllow, nullptr) != FALSE;
}

}  // namespace kivo::toolkit
