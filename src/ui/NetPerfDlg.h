// The network performance dialog: tests every catalogue server one after
// another with fifty echoes on a worker thread, shows delay, answer rate and
// a performance value (smaller is better), and returns the server the user
// picks.
//
// The test thread touches no window: it posts each row's figures, and then
// its end, to the dialog, whose thread writes the row and sets the buttons.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "toolkit/Language.h"
#include "toolkit/MessageMap.h"
#include "toolkit/StringMap.h"
#include "toolkit/Sync.h"
#include "toolkit/Thread.h"
#include "ui/ScaledDialog.h"

class CNetPerfDlg : public CScaledDialog {
 public:
  explicit CNetPerfDlg(HWND parent);
  ~CNetPerfDlg() override;

  void SetCatalogue(const kivo::toolkit::StringMap& catalogue);
  // The main window's text set.
  void SetLanguage(kivo::toolkit::Language language) noexcept { m_language = language; }
  bool ShowsChinese() const noexcept { return m_language == kivo::toolkit::Language::Chinese; }
  std::string GetChosenName() const { return m_strChosenName; }

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
  // On the test thread: measures the addresses in row order and posts each
  // row's figures, then the end of the test, to `dialog`.
  static void RunTest(const std::vector<std::string>& addresses, HWND dialog,
                      const kivo::toolkit::CancellationToken& cancel);
  LRESULT OnRowMeasured(WPARAM, LPARAM);
  LRESULT OnTestEnded(WPARAM, LPARAM);
  void SetButtonsTesting(bool testing);

  std::string m_strChosenName;
  kivo::toolkit::StringMap m_mapServerAddress;
  kivo::toolkit::Language m_language = kivo::toolkit::Language::English;
  std::string m_strTitle, m_strHint, m_strTestAgain, m_strStopTest, m_strUseSelect, m_strCancel,
      m_strNoSelection, m_strColName, m_strColDelay, m_strColStatus, m_strColValue;
  // Testing from before the thread starts until this thread has carried out
  // the test thread's last message.
  bool m_bTesting = false;
  // Stop cancels the test; the thread, declared last, ends before the token.
  kivo::toolkit::CancellationToken m_testCancel;
  kivo::toolkit::WorkerThread m_testThread;

  KIVO_DECLARE_MESSAGE_MAP(CNetPerfDlg, CScaledDialog)
};
