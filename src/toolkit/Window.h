// The window base: ties a C++ object to a window, either one we create from
// a class of our own or an existing control we subclass, and routes its
// messages through the object's message map.
#pragma once

#include <windows.h>

#include <string>

namespace kivo::toolkit {

class Window {
 public:
  Window() = default;
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  HWND Hwnd() const noexcept { return hwnd_; }

  // Routes the messages of an existing window (a dialog control) through
  // this object. Fails when the window is already attached to an object.
  bool Subclass(HWND hwnd);

  // Creates a window of a class registered by the toolkit (class style 0, no
  // cursor, background or icon).
  bool Create(DWORD exStyle, const wchar_t* title, DWORD style, int x, int y, int cx, int cy, HWND parent,
              HMENU menu);
  // Creates a message-only window of the class `className`, registered by
  // the toolkit like the one above: it receives messages and is never shown.
  // FindWindowExW with HWND_MESSAGE finds it by that class.
  bool CreateMessageWindow(const wchar_t* className);
  void Destroy();

  // The object attached to a window, or null.
  static Window* FromHandle(HWND hwnd);

  // Owner-drawn controls are painted through this when their parent
  // reflects WM_DRAWITEM to them.
  virtual void DrawItem(const DRAWITEMSTRUCT& item);

  // Inside a handler: false asks for the message's default processing too.
  void SetMsgHandled(bool handled) noexcept { msgHandled_ = handled; }

 protected:
  // Default processing for the current message: the subclassed window's
  // original procedure, or the system's default procedure.
  LRESULT DefaultProc(UINT msg, WPARAM wp, LPARAM lp);
  virtual LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp);
  // Message-map hook (see KIVO_DECLARE_MESSAGE_MAP); the base maps nothing.
  virtual bool ProcessMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
  bool& MsgHandledFlag() noexcept { return msgHandled_; }

  // Keeps a message's handled flag while a handler causes other messages to
  // the same window (hiding it sends several): each message has its own
  // flag, and the outer one finds its value again afterwards.
  class HandledScope {
   public:
    explicit HandledScope(Window& window) noexcept : window_(window), saved_(window.msgHandled_) {}
    ~HandledScope() { window_.msgHandled_ = saved_; }
    HandledScope(const HandledScope&) = delete;
    HandledScope& operator=(const HandledScope&) = delete;

   private:
    Window& window_;
    bool saved_;
  };

  // For Dialog, which attaches during WM_INITDIALOG.
  void Attach(HWND hwnd);
  void Detach();

 private:
  static LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static const wchar_t* RegisteredClass(const wchar_t* name);

  HWND hwnd_ = nullptr;
  WNDPROC original_ = nullptr;  // set while subclassing
  bool msgHandled_ = true;
};

// Lets `message` reach the window from processes of a lower integrity level
// (the window's own process runs elevated): Windows 7 and later drop such
// messages otherwise. False where the system has no message filter.
bool AcceptFromLowerIntegrity(HWND hwnd, UINT message);

// Text of a window.
std::wstring GetText(HWND hwnd);

// A secret (a password) read straight into `text`, whose earlier content is
// wiped first: no other copy of it is made.
void ReadSecretText(HWND hwnd, std::wstring& text);
// Replaces a window's text with filler of the same length before emptying
// it, so that the buffer the control frees no longer holds the secret.
void WipeWindowText(HWND hwnd);

}  // namespace kivo::toolkit
