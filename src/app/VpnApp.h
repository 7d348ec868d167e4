// The application object: start-up, the single-instance guard, the update
// check, and the modal run of the main dialog.
#pragma once

#include <windows.h>

#include <string>

#include "app/UpdateChecker.h"
#include "toolkit/Application.h"
#include "toolkit/Handle.h"

class CVpnApp : public kivo::toolkit::Application {
 public:
  CVpnApp() = default;

  // The language of the RAS library's string resources: the language of
  // the last (name, language) pair enumerated, 0 when it has none.
  static WORD FindResourceLanguage(HMODULE module);

 protected:
  bool InitInstance() override;
  int ExitInstance() override;

 private:
  // A newer version offered and downloaded: start the updater. True when
  // start-up must end for it.
  bool RunUpdate(kivo::app::CUpdateChecker& checker);

  WORD m_wRasLangId = 0;
  kivo::toolkit::UniqueKernelHandle m_hMutex;
  std::string m_strAlreadyRunningMsg;
  std::string m_strSocketFailedMsg;
  bool m_bSocketsStarted = false;
  bool m_bComInitialised = false;
};
