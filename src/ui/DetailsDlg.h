// The connection details (diag::EventLog), read-only, with Copy (to the
// clipboard as Unicode text) and Close. The tray's "Connection details" and
// the failure box's "Details" open it.
#pragma once

#include <windows.h>

#include "diag/EventLog.h"
#include "toolkit/Dialog.h"
#include "toolkit/Language.h"
#include "toolkit/MessageMap.h"

namespace kivo::ui {

class CDetailsDlg : public toolkit::Dialog {
 public:
  // `texts` and `log` outlive the window.
  CDetailsDlg(const toolkit::TextSet& texts, const diag::EventLog& log, HWND parent);

 protected:
  BOOL OnInitDialog() override;

 private:
  void OnCopy();

  const toolkit::TextSet& texts_;
  const diag::EventLog& log_;

  KIVO_DECLARE_MESSAGE_MAP(CDetailsDlg, toolkit::Dialog)
};

}  // namespace kivo::ui
