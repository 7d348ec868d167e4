// The notification-area icon: a hidden window that receives the shell's
// callbacks, and one notification-icon record.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "toolkit/Handle.h"
#include "toolkit/Window.h"

namespace kivo::tray {

class CSystemTray : public kivo::toolkit::Window {
 public:
  CSystemTray() noexcept;
  ~CSystemTray() override;

  // The window that the icon shows and hides, that owns the menu and that
  // receives its commands (WM_COMMAND IDCANCEL, WM_SYSCOMMAND), and the
  // label of the menu item that shows it while hidden.
  void SetOwner(HWND owner, std::wstring showWindowText);
  // What the tray is told of the connection: the text of the tip, which
  // the shell gets at once, and of the balloons (empty: the plain name);
  // and whether a link is held or wanted
  // (the menu offers Disconnect, else Exit).
  void SetStatusText(std::wstring text);
  void SetConnectionActive(bool active) noexcept { connectionActive_ = active; }

  // Creates the hidden window "KIVO VPN" and adds the icon. False when the
  // window cannot be created or the shell refuses the icon.
  bool Create(UINT callbackMessage, const std::wstring& tip, HICON icon, UINT id);
  // As Create, with the program's icon resource `iconId` in the size the
  // shell shows at the tray's DPI (the small-icon metric: 16 pixels at
  // 100%, 24 at 150%), loaded again whenever that DPI changes.
  bool CreateFromResource(UINT callbackMessage, const std::wstring& tip, UINT iconId, UINT id);

  // Loads the icon resource for `dpi` and hands it to the shell.
  void SetDpi(UINT dpi);

  // Removes the icon and destroys the hidden window; once only.
  void Remove();

  // Shows a balloon with `title` and the status text of the moment.
  void ShowBalloon(const std::wstring& title);

  // Handles one shell callback; 1 when handled, 0 otherwise.
  virtual LRESULT OnTrayNotification(WPARAM wp, LPARAM lp);

  const NOTIFYICONDATAW& Record() const noexcept { return nid_; }

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
  // The one call into the shell; tests override it to see every record.
  virtual BOOL NotifyShell(DWORD message, NOTIFYICONDATAW& record);

 private:
  void RefreshTip();
  LRESULT ShowMenu();
  void ReAdd();
  HICON LoadIconForDpi(UINT dpi) const;

  HWND owner_ = nullptr;
  std::wstring showWindowText_;
  std::wstring statusText_;
  bool connectionActive_ = false;
  NOTIFYICONDATAW nid_;
  UINT taskbarCreated_ = 0;
  UINT iconId_ = 0;  // 0: the icon was given, not loaded here
  UINT iconDpi_ = 0;
  kivo::toolkit::UniqueIcon icon_;
};

}  // namespace kivo::tray
