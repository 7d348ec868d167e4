// The network performance dialog: tests every catalogue server one after
// another with fifty echoes on a worker thread, shows delay, answer rate and
// a performance value (smaller is better), and returns the server the user
// picks.
#pragma once

#include <atomic>
#include <string>

#include "servers/IcmpPinger.h"
#include "servers/ServerCatalogue.h"
#include "toolkit/Dialog.h"
#include "toolkit/MessageMap.h"
#include "toolkit/StringMap.h"
#include "toolkit/Sync.h"
#include "toolkit/Thread.h"

namespace kivo::servers {

// "N/A" for no answer, else the performance value with two decimals.
std::string FormatPerformanceValue(float averageMs, int percent);

class CNetPerfDlg : public toolkit::Dialog {
 public:
  explicit CNetPerfDlg(HWND parent);
  ~CNetPerfDlg() override;

  void SetCatalogue(const toolkit::StringMap& catalogue);
  void SetLanguage(int variant) noexcept { m_nLangVariant = variant; }
  // The main window's text set: Chinese for variants 1 and 5 only. (The GBK
  // texts would be nonsense on the Traditional Chinese systems, code page
  // 950, whose main window is English.)
  bool ShowsChinese() const noexcept { return IsChineseVariant(m_nLangVariant); }
  std::string GetChosenName() const { return m_strChosenName; }

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;

 private:
  void LoadTexts();
  void OnTestAgain();
  void OnStopTest();
  void OnClose();
  void StartTest();
  void RunTest(HWND dialog, HWND list);
  LRESULT OnTestEnded(WPARAM, LPARAM);
  void SetButtonsTesting(bool testing);

  // The prober of the server under test and the stop event, published and
  // withdrawn under m_csTest so that a stop never signals either after the
  // test thread has finished with it.
  toolkit::CriticalSection m_csTest;
  toolkit::UniqueKernelHandle m_hStopTestEvent;
  CIcmpPinger* m_pCurrentPinger = nullptr;
  std::string m_strChosenName;
  toolkit::StringMap m_mapServerAddress;
  int m_nLangVariant = 1;
  std::string m_strTitle, m_strHint, m_strTestAgain, m_strStopTest, m_strUseSelect, m_strCancel,
      m_strNoSelection, m_strColName, m_strColDelay, m_strColStatus, m_strColValue;
  // Testing from before the thread starts until the dialog's thread has
  // carried out the test thread's last message.
  std::atomic<bool> m_bTesting{false};
  toolkit::WorkerThread m_testThread;

  KIVO_DECLARE_MESSAGE_MAP(CNetPerfDlg, toolkit::Dialog)
};

}  // namespace kivo::servers
