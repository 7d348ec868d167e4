// Where a second copy of the client finds the running one: a message-only
// window of a class of its own, which hands the second copy's WM_COPYDATA
// to the main window. It exists from the main window's initialisation on.
#pragma once

#include <windows.h>

#include "toolkit/Window.h"

namespace kivo::ui {

class CInstanceWindow : public kivo::toolkit::Window {
 public:
  // Creates the window for `mainWindow`; false when it cannot be created.
  bool Create(HWND mainWindow);

  // The running copy's instance window in this session, or null.
  static HWND FindRunning();

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  HWND main_ = nullptr;
};

}  // namespace kivo::ui
