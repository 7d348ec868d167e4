// The main window's texts in its text set, loaded once when it initialises.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "toolkit/Language.h"

namespace kivo::ui {

struct MainTexts {
  // Message boxes and the status line.
  std::wstring errUnknownRas, errCodeFormat, errSetPhonebook, errTestPhonebook, errOpenPhonebook;
  // The annotation of a server that did not answer.
  std::wstring failSuffix;
  // The tray: balloons and the menu's Show item (the connection formats
  // the statistics tip itself).
  std::wstring connected, alreadyRunning, showWindow;
  // The dialog's labels, the Intelligent radio button and the maker's
  // address, each with its control's id.
  std::vector<std::pair<int, std::wstring>> controls;
  UINT trayMenuId = 0;
  UINT aboutBoxId = 0;

  static MainTexts Load(const kivo::toolkit::TextSet& texts);
};

}  // namespace kivo::ui
