// What the tray icon needs of the window it belongs to, which hands itself
// to the tray when it creates it: the client's main window implements this.
#pragma once

#include <windows.h>

#include <string>

class CTrayOwner {
 public:
  virtual ~CTrayOwner() = default;
  // The connection statistics text; false when there is none.
  virtual bool BuildStatusText(std::wstring& text) = 0;
  // True while a connection handle is held (dialling or connected).
  virtual bool IsConnected() const = 0;
  // Label of the menu item that shows the hidden window.
  virtual std::wstring GetShowWindowText() const = 0;
  // The window that the icon shows and hides, that owns the menu and that
  // receives its commands (WM_COMMAND IDCANCEL, WM_SYSCOMMAND).
  virtual HWND OwnerWindow() const = 0;
};
