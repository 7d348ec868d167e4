// The notification-area icon: a hidden window that receives the shell's
// callbacks, and one notification-icon record.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "toolkit/Window.h"

class CTrayOwner;

class CSystemTray : public kivo::toolkit::Window {
 public:
  // The icon of `owner`, which outlives the tray.
  explicit CSystemTray(CTrayOwner& owner) noexcept;
  ~CSystemTray() override;

  // Creates the hidden window "KIVO VPN" and adds the icon. False when the
  // window cannot be created or the shell refuses the icon.
  bool Create(UINT callbackMessage, const std::string& tip, HICON icon, UINT id);

  // Removes the icon and destroys the hidden window; once only.
  void Remove();

  // Shows a balloon with `title` and the statistics text of the moment.
  void ShowBalloon(const std::string& title);

  // Handles one shell callback; 1 when handled, 0 otherwise.
  virtual LRESULT OnTrayNotification(WPARAM wp, LPARAM lp);

  const NOTIFYICONDATAA& Record() const noexcept { return nid; }

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
  // The one call into the shell; tests override it to see every record.
  virtual BOOL NotifyShell(DWORD message, NOTIFYICONDATAA& record);

 private:
  void RefreshTip();
  LRESULT ShowMenu();
  void ReAdd();

  CTrayOwner& owner_;
  NOTIFYICONDATAA nid;
  UINT taskbarCreated_ = 0;
};
