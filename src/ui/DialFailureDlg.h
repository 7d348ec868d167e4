// The box of a failed dial: the system's text and the code as ever, then
// the advice line. After the errors that Windows' own settings often cause
// (809, 789, 766, 781, 720, 628) it reads those settings on a worker
// (diag::DiagnosisJob, at most two seconds; the box shows at once with the
// general advice) and names the cause it found instead; where Windows has a
// fix it offers "Fix…" beside OK. "Details" shows the connection details.
//
// To a reader of the screen it is a message box: a dialog whose text is
// the static with the message-box text id, with the error icon and OK as
// its first button.
#pragma once

#include <windows.h>

#include <string>

#include "diag/Diagnosis.h"
#include "diag/DiagnosisJob.h"
#include "diag/ElevatedRunner.h"
#include "diag/EventLog.h"
#include "toolkit/Dialog.h"
#include "toolkit/Language.h"
#include "toolkit/MessageMap.h"

namespace kivo::ui {

class CDialFailureDlg : public toolkit::Dialog {
 public:
  // `texts`, `log` and `job` outlive the box; `server` is what the entry
  // dialled.
  CDialFailureDlg(const toolkit::TextSet& texts, DWORD code, std::string server, diag::EventLog& log,
                  diag::DiagnosisJob& job, HWND parent);

 protected:
  BOOL OnInitDialog() override;

 private:
  static constexpr UINT kFactsMessage = WM_APP + 10;
  static constexpr UINT_PTR kBoundTimer = 1;
  enum class Phase { Diagnosing, Shown, Verifying, Done };

  LRESULT OnFacts(WPARAM number, LPARAM);
  void OnTimer(UINT_PTR id);
  void OnFix();
  void OnDetails();
  bool StartReading();
  void ShowMessage(const std::wstring& advice);
  // Sizes the text to its lines and puts the visible buttons under it.
  void Layout();

  const toolkit::TextSet& texts_;
  DWORD code_;
  std::string server_;
  diag::EventLog& log_;
  diag::DiagnosisJob& job_;
  diag::Findings findings_;
  Phase phase_ = Phase::Shown;
  // What the tools of Fix answered.
  diag::ElevatedRunner::Result fixResult_ = diag::ElevatedRunner::Result::Done;
  // The system's text and the code: the box's first part, always.
  std::wstring errorText_;

  KIVO_DECLARE_MESSAGE_MAP(CDialFailureDlg, toolkit::Dialog)
};

}  // namespace kivo::ui
