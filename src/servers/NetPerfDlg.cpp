#include "servers/NetPerfDlg.h"

#include <commctrl.h>

#include "resource.h"
#include "toolkit/Application.h"
#include "toolkit/Controls.h"
#include "toolkit/Strings.h"

namespace kivo::servers {

using toolkit::Gbk;

namespace {

// Sent by the test thread as its last step: the dialog's thread switches the
// buttons back and leaves Testing.
constexpr UINT kTestEndedMessage = WM_APP + 1;

}  // namespace

std::string FormatPerformanceValue(float averageMs, int percent) {
  if (percent == 0) return "N/A";
  const int loss = 100 - percent;
  const double d = averageMs;
  double value;
  if ((loss == 0 || loss == 1) && d <= 50.0f) {
    value = d * static_cast<double>(0.2f);
  } else if (loss <= 5 && d <= 100.0f) {
    value = loss * static_cast<double>(1.5f) + d * static_cast<double>(0.075f) + 10.0f;
  } else {
    value = loss * static_cast<double>(0.6f) + d * static_cast<double>(0.015f) + 25.0f;
  }
  return toolkit::Format("%.2f", value);
}

const toolkit::MessageMap<CNetPerfDlg>& CNetPerfDlg::GetMessageMap() {
  using Map = toolkit::MessageMap<CNetPerfDlg>;
  static const Map map = Map()
                             .Close(&CNetPerfDlg::OnClose)
                             .Message(kTestEndedMessage, &CNetPerfDlg::OnTestEnded)
                             .Command(IDC_TEST_AGAIN, BN_CLICKED, &CNetPerfDlg::OnTestAgain)
                             .Command(IDC_STOP_TEST, BN_CLICKED, &CNetPerfDlg::OnStopTest);
  return map;
}

CNetPerfDlg::CNetPerfDlg(HWND parent) : toolkit::Dialog(IDD_NETPERF, parent) {}

CNetPerfDlg::~CNetPerfDlg() {
  // The dialog refuses to end while testing; this covers a dialog that
  // never ran its loop to the end (a quit message). The thread may be inside
  // a message sent to this thread: answer those while waiting, or neither
  // thread could go on.
  OnStopTest();
  while (m_testThread.Running()) {
    const HANDLE thread = m_testThread.NativeHandle();
    ::MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
    MSG msg;
    ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  m_testThread.Join();
}

void CNetPerfDlg::SetCatalogue(const toolkit::StringMap& catalogue) {
  for (const auto& [name, address] : catalogue) m_mapServerAddress.SetAt(name, address);
}

void CNetPerfDlg::LoadTexts() {
  const bool english = !ShowsChinese();
  m_strTitle = english ? "Velmar network performance" : Gbk("Velmar网络性能");
  m_strHint = english ? "All network list, please select the suitable network connection"
                      : Gbk("所有网络列表,请选择合适的网络连接(推荐使用综合值小的网络)");
  m_strTestAgain = english ? "Test Again" : Gbk("重新测试");
  m_strStopTest = english ? "Stop Test" : Gbk("停止测试");
  m_strUseSelect = english ? "Use select" : Gbk("使用所选");
  m_strCancel = english ? "Cancel" : Gbk("返 回");
  m_strNoSelection = english ? "No selected network, please select!" : Gbk("没有选择网络,请选择!");
  m_strColName = english ? "Network Name" : Gbk("网络名称");
  m_strColDelay = english ? "Network Delay(ms)" : Gbk("网络延时(ms)");
  m_strColStatus = english ? "Network Status(%)" : Gbk("网络状态(%)");
  m_strColValue = english ? "Performance Value" : Gbk("综合值");
}

BOOL CNetPerfDlg::OnInitDialog() {
  LoadTexts();
  ::SetWindowTextA(Hwnd(), m_strTitle.c_str());
  // The hint is the dialog's only static text (id -1).
  ::SetWindowTextA(::FindWindowExA(Hwnd(), nullptr, "Static", nullptr), m_strHint.c_str());
  SetItemText(IDC_TEST_AGAIN, m_strTestAgain);
  SetItemText(IDC_STOP_TEST, m_strStopTest);
  SetItemText(IDOK, m_strUseSelect);
  SetItemText(IDCANCEL, m_strCancel);

  toolkit::ListView list(Item(IDC_SERVER_LIST));
  list.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  list.InsertColumn(0, m_strColName, 85, LVCFMT_CENTER);
  list.InsertColumn(1, m_strColDelay, 105, LVCFMT_CENTER);
  list.InsertColumn(2, m_strColStatus, 100, LVCFMT_CENTER);
  list.InsertColumn(3, m_strColValue, 105, LVCFMT_CENTER);
  int row = 0;
  for (const auto& [name, address] : m_mapServerAddress) {
    int index = list.InsertItem(row++, name);
    list.SetItemText(index, 0, name);
    for (int column = 1; column <= 3; ++column) list.SetItemText(index, column, "");
  }
  StartTest();
  return TRUE;
}

void CNetPerfDlg::SetButtonsTesting(bool testing) {
  EnableItem(IDC_TEST_AGAIN, !testing);
  EnableItem(IDOK, !testing);
  EnableItem(IDCANCEL, !testing);
  EnableItem(IDC_STOP_TEST, testing);
}

void CNetPerfDlg::StartTest() {
  SetButtonsTesting(true);
  m_testThread.Join();  // the previous test has ended; release its thread
  m_bTesting = true;
  // The thread works with the handles of this moment, never with the
  // dialog's own, which the window's destruction clears.
  HWND dialog = Hwnd();
  HWND list = Item(IDC_SERVER_LIST);
  if (!m_testThread.Start([this, dialog, list] { RunTest(dialog, list); })) {
    m_bTesting = false;
    SetButtonsTesting(false);
  }
}

// On the test thread. Rows and buttons change through messages that the
// dialog's thread carries out.
void CNetPerfDlg::RunTest(HWND dialog, HWND listWindow) {
  toolkit::ListView list(listWindow);
  const int count = list.Count();
  HANDLE stopEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  {
    toolkit::Lock lock(m_csTest);
    m_hStopTestEvent.Reset(stopEvent);
  }
  for (int i = 0; i < count; ++i) {
    if (stopEvent != nullptr && ::WaitForSingleObject(stopEvent, 5) == WAIT_OBJECT_0) break;
    const std::string name = list.ItemText(i, 0);
    std::string address;
    m_mapServerAddress.Lookup(name, address);

    float average = 0;
    int percent = 0;
    {
      CIcmpPinger pinger;
      {
        toolkit::Lock lock(m_csTest);
        m_pCurrentPinger = &pinger;
      }
      pinger.Measure(address, average, percent);
      {
        toolkit::Lock lock(m_csTest);
        m_pCurrentPinger = nullptr;
      }
    }
    const std::string value = FormatPerformanceValue(average, percent);
    const std::string delay = percent == 0 ? "N/A" : toolkit::Format("%.2f", static_cast<double>(average));
    list.SetItemText(i, 1, delay);
    list.SetItemText(i, 2, toolkit::Format("%d", percent));
    list.SetItemText(i, 3, value);
  }
  {
    toolkit::Lock lock(m_csTest);
    m_hStopTestEvent.Reset();
  }
  ::SendMessageA(dialog, kTestEndedMessage, 0, 0);
}

LRESULT CNetPerfDlg::OnTestEnded(WPARAM, LPARAM) {
  SetButtonsTesting(false);
  m_bTesting = false;
  return 0;
}

void CNetPerfDlg::OnTestAgain() {
  if (m_bTesting) return;
  toolkit::ListView list(Item(IDC_SERVER_LIST));
  const int count = list.Count();
  for (int i = 0; i < count; ++i) {
    for (int column = 1; column <= 3; ++column) list.SetItemText(i, column, "");
  }
  StartTest();
}

void CNetPerfDlg::OnStopTest() {
  toolkit::Lock lock(m_csTest);
  if (m_pCurrentPinger != nullptr) m_pCurrentPinger->Stop();
  if (m_hStopTestEvent) ::SetEvent(m_hStopTestEvent.Get());
}

void CNetPerfDlg::OnOK() {
  if (m_bTesting) return;
  toolkit::ListView list(Item(IDC_SERVER_LIST));
  const int selected = list.SelectedItem();
  if (selected < 0) {
    const auto* app = toolkit::Application::Current();
    const std::string caption = app != nullptr ? app->Title() : std::string();
    ::MessageBoxA(Hwnd(), m_strNoSelection.c_str(), caption.c_str(), MB_OK);
    return;
  }
  m_strChosenName = list.ItemText(selected, 0);
  EndDialog(IDOK);
}

void CNetPerfDlg::OnCancel() {
  if (m_bTesting) return;
  EndDialog(IDCANCEL);
}

void CNetPerfDlg::OnClose() {
  if (m_bTesting) return;
  EndDialog(IDCANCEL);
}

}  // namespace kivo::servers
