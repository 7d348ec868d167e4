// The application object: start-up, the single-instance guard, the update
// check, and the modal run of the main dialog.
#pragma once

#include <windows.h>

#include <string>

#include "app/UpdateChecker.h"
#include "app/UpdateDownloader.h"
#include "app/UpdateFailure.h"
#include "toolkit/Application.h"
#include "toolkit/Handle.h"
#include "toolkit/Language.h"

namespace kivo::app {

class CVpnApp : public kivo::toolkit::Application {
 public:
  CVpnApp() noexcept;

  // The language of the RAS library's string resources: the language of
  // the last (name, language) pair enumerated, 0 when it has none.
  static WORD FindResourceLanguage(HMODULE module);

 protected:
  bool InitInstance() override;
  int ExitInstance() override;

 private:
  // A newer version offered and downloaded: start the updater. True when
  // start-up must end for it.
  bool RunUpdate(kivo::app::CUpdateChecker& checker, kivo::app::UpdateDownloadJob& download);

  WORD rasLangId_ = 0;
  // What the updater reported when it started this copy: a version that
  // could not be installed is not downloaded again in this run.
  kivo::app::UpdateFailure updateFailure_;
  kivo::toolkit::UniqueKernelHandle mutex_;
  // The program's one text set, chosen from the system's language when the
  // application object is made and handed to every window from here.
  kivo::toolkit::TextSet texts_;
  bool socketsStarted_ = false;
  bool comInitialised_ = false;
};

}  // namespace kivo::app
