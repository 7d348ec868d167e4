// The network performance dialog: tests every catalogue server one after
// another with fifty echoes on a worker thread (each row's item data its
// catalogue index), shows delay, answer rate and
// a performance value (smaller is better), and returns the server the user
// picks.
//
// The test thread touches no window: it posts each row's figures, and then
// its end, to the dialog, whose thread writes the row and sets the buttons.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "toolkit/Language.h"
#include "toolkit/MessageMap.h"
#include "toolkit/Sync.h"
#include "toolkit/Thread.h"
#include "ui/ScaledDialog.h"

namespace kivo::ui {

class CNetPerfDlg : public CScaledDialog {
 public:
  // `texts`, the main window's text set, outlives the dialog.
  CNetPerfDlg(const kivo::toolkit::TextSet& texts, HWND parent);
  ~CNetPerfDlg() override;

  // The catalogue index of the server the user picked.
  std::optional<size_t> ChosenServer() const { return chosen_; }

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  void OnScaleChanged() override;

 private:
  void LoadTexts();
  void OnTestAgain();
  void OnStopTest();
  void OnClose();
  void StartTest();
  // On the test thread: measures the addresses in row order through
  // servers/ and posts each row's figures, then the end of the test, to
  // `dialog`.
  static void RunTest(const std::vector<std::string>& addresses, HWND dialog,
                      const kivo::toolkit::CancellationToken& cancel);
  LRESULT OnRowMeasured(WPARAM, LPARAM);
  LRESULT OnTestEnded(WPARAM, LPARAM);
  void SetButtonsTesting(bool testing);

  const kivo::toolkit::TextSet& textSet_;
  std::optional<size_t> chosen_;
  std::wstring title_, hint_, testAgain_, stopTest_, useSelect_, cancel_,
      noSelection_, colName_, colDelay_, colStatus_, colValue_;
  // Testing from before the thread starts until this thread has carried out
  // the test thread's last message.
  bool testing_ = false;
  // Stop cancels the test; the thread, declared last, ends before the token.
  kivo::toolkit::CancellationToken testCancel_;
  kivo::toolkit::WorkerThread testThread_;

  KIVO_DECLARE_MESSAGE_MAP(CNetPerfDlg, CScaledDialog)
};

}  // namespace kivo::ui
