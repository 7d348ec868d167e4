// The main window's texts in one text set, loaded once when it initialises.
#pragma once

#include <windows.h>

#include <string>

#include "toolkit/Language.h"

struct MainTexts {
  // Message boxes and the status line.
  std::string errUnknownRas, errCodeFormat, dialFailed, errSetPhonebook, errTestPhonebook, errOpenPhonebook;
  // The annotation of a server that did not answer.
  std::string failSuffix;
  // The tray: the statistics tip's format, balloons and the menu's Show item.
  std::string trayTipFormat, connected, alreadyRunning, showWindow;
  // The dialog's labels and the Intelligent radio button.
  std::string userLabel, passwordLabel, statusLabel, intelligent;
  UINT trayMenuId = 0;
  UINT aboutBoxId = 0;

  static MainTexts Load(kivo::toolkit::Language language);
};
