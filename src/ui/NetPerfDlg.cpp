#include "ui/NetPerfDlg.h"

#include <commctrl.h>

#include <bit>
#include <cstdint>

#include "resource.h"
#include "servers/IcmpPinger.h"
#include "servers/ServerCatalogue.h"
#include "servers/ServerMeasurement.h"
#include "toolkit/Application.h"
#include "toolkit/Controls.h"
#include "toolkit/Strings.h"

using kivo::servers::CIcmpPinger;
using kivo::servers::FormatPerformanceValue;

namespace {

// Posted by the test thread for each measured row: wParam the row (low 16
// bits) and the share answered (the bits above), lParam the bits of the
// average round trip. Plain values: a post that no dialog receives any more
// leaves nothing behind.
constexpr UINT kRowMeasuredMessage = WM_APP + 2;
// Posted by the test thread as its last step: the dialog's thread switches
// the buttons back and leaves Testing.
constexpr UINT kTestEndedMessage = WM_APP + 3;

// Column widths of the list at 100%.
constexpr int kColumnWidths[4] = {85, 105, 100, 105};

struct RowFigures {
  int row;
  int percent;
  float averageMs;
};

void PostRowFigures(HWND dialog, const RowFigures& figures) {
  const auto wp = static_cast<WPARAM>((figures.row & 0xFFFF) | (figures.percent << 16));
  const auto lp = static_cast<LPARAM>(std::bit_cast<std::uint32_t>(figures.averageMs));
  ::PostMessageW(dialog, kRowMeasuredMessage, wp, lp);
}

RowFigures ReadRowFigures(WPARAM wp, LPARAM lp) {
  return RowFigures{static_cast<int>(wp & 0xFFFF), static_cast<int>((wp >> 16) & 0xFF),
                    std::bit_cast<float>(static_cast<std::uint32_t>(lp))};
}

}  // namespace

const kivo::toolkit::MessageMap<CNetPerfDlg>& CNetPerfDlg::GetMessageMap() {
  using Map = kivo::toolkit::MessageMap<CNetPerfDlg>;
  static const Map map = Map()
                             .Close(&CNetPerfDlg::OnClose)
                             .Message(kRowMeasuredMessage, &CNetPerfDlg::OnRowMeasured)
                             .Message(kTestEndedMessage, &CNetPerfDlg::OnTestEnded)
                             .Command(IDC_TEST_AGAIN, BN_CLICKED, &CNetPerfDlg::OnTestAgain)
                             .Command(IDC_STOP_TEST, BN_CLICKED, &CNetPerfDlg::OnStopTest);
  return map;
}

CNetPerfDlg::CNetPerfDlg(const kivo::toolkit::TextSet& texts, HWND parent)
    : CScaledDialog(IDD_NETPERF, parent), m_textSet(texts) {}

CNetPerfDlg::~CNetPerfDlg() {
  // The dialog refuses to end while testing; this covers a dialog whose
  // modal run a quit message ended. The test thread waits for nothing of
  // this thread's, and its posts to the window that has gone fail.
  m_testCancel.Cancel();
  m_testThread.Join();
}

void CNetPerfDlg::LoadTexts() {
  m_strTitle = m_textSet.Text(IDS_NETPERF_TITLE);
  m_strHint = m_textSet.Text(IDS_NETPERF_HINT);
  m_strTestAgain = m_textSet.Text(IDS_NETPERF_TEST_AGAIN);
  m_strStopTest = m_textSet.Text(IDS_NETPERF_STOP_TEST);
  m_strUseSelect = m_textSet.Text(IDS_NETPERF_USE_SELECT);
  m_strCancel = m_textSet.Text(IDS_NETPERF_CANCEL);
  m_strNoSelection = m_textSet.Text(IDS_NETPERF_NO_SELECTION);
  m_strColName = m_textSet.Text(IDS_NETPERF_COL_NAME);
  m_strColDelay = m_textSet.Text(IDS_NETPERF_COL_DELAY);
  m_strColStatus = m_textSet.Text(IDS_NETPERF_COL_STATUS);
  m_strColValue = m_textSet.Text(IDS_NETPERF_COL_VALUE);
}

BOOL CNetPerfDlg::OnInitDialog() {
  CScaledDialog::OnInitDialog();
  LoadTexts();
  ::SetWindowTextW(Hwnd(), m_strTitle.c_str());
  // The hint is the dialog's only static text (id -1).
  ::SetWindowTextW(::FindWindowExW(Hwnd(), nullptr, L"Static", nullptr), m_strHint.c_str());
  SetItemText(IDC_TEST_AGAIN, m_strTestAgain);
  SetItemText(IDC_STOP_TEST, m_strStopTest);
  SetItemText(IDOK, m_strUseSelect);
  SetItemText(IDCANCEL, m_strCancel);

  kivo::toolkit::ListView list(Item(IDC_SERVER_LIST));
  list.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  const kivo::toolkit::DpiScale scale = Scale();
  list.InsertColumn(0, m_strColName, scale.Scale(kColumnWidths[0]), LVCFMT_CENTER);
  list.InsertColumn(1, m_strColDelay, scale.Scale(kColumnWidths[1]), LVCFMT_CENTER);
  list.InsertColumn(2, m_strColStatus, scale.Scale(kColumnWidths[2]), LVCFMT_CENTER);
  list.InsertColumn(3, m_strColValue, scale.Scale(kColumnWidths[3]), LVCFMT_CENTER);
  const auto& catalogue = kivo::servers::ServerCatalogue();
  for (size_t i = 0; i < catalogue.size(); ++i) {
    const int index = list.InsertItem(static_cast<int>(i), catalogue[i].Name(m_textSet), static_cast<LPARAM>(i));
    for (int column = 1; column <= 3; ++column) list.SetItemText(index, column, L"");
  }
  StartTest();
  return TRUE;
}

void CNetPerfDlg::OnScaleChanged() {
  // Before the columns exist (the first layout) there is nothing to do.
  HWND list = Item(IDC_SERVER_LIST);
  for (int column = 0; column < 4; ++column) {
    ::SendMessageW(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column),
                   MAKELPARAM(Scale().Scale(kColumnWidths[column]), 0));
  }
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
  m_testCancel.Reset();
  m_bTesting = true;
  // The thread gets the addresses in row order and the window to post to,
  // never the dialog object.
  kivo::toolkit::ListView list(Item(IDC_SERVER_LIST));
  std::vector<std::string> addresses(static_cast<size_t>(list.Count()));
  for (size_t i = 0; i < addresses.size(); ++i) {
    if (const auto server = kivo::servers::CatalogueIndex(list.ItemData(static_cast<int>(i)))) {
      addresses[i] = kivo::servers::ServerCatalogue()[*server].address;
    }
  }
  const auto& cancel = m_testCancel;
  auto test = [addresses = std::move(addresses), dialog = Hwnd(), &cancel] {
    RunTest(addresses, dialog, cancel);
  };
  if (!m_testThread.Start(std::move(test))) {
    m_bTesting = false;
    SetButtonsTesting(false);
  }
}

void CNetPerfDlg::RunTest(const std::vector<std::string>& addresses, HWND dialog,
                          const kivo::toolkit::CancellationToken& cancel) {
  for (size_t i = 0; i < addresses.size(); ++i) {
    if (cancel.Wait(CIcmpPinger::kStopCheckMs)) break;
    const kivo::servers::Performance measured = kivo::servers::MeasurePerformance(addresses[i], cancel);
    PostRowFigures(dialog, RowFigures{static_cast<int>(i), measured.percent, measured.averageMs});
  }
  ::PostMessageW(dialog, kTestEndedMessage, 0, 0);
}

LRESULT CNetPerfDlg::OnRowMeasured(WPARAM wp, LPARAM lp) {
  const RowFigures figures = ReadRowFigures(wp, lp);
  kivo::toolkit::ListView list(Item(IDC_SERVER_LIST));
  if (figures.row >= list.Count()) return 0;
  const std::wstring delay =
      figures.percent == 0 ? L"N/A" : kivo::toolkit::Format(L"%.2f", static_cast<double>(figures.averageMs));
  list.SetItemText(figures.row, 1, delay);
  list.SetItemText(figures.row, 2, kivo::toolkit::Format(L"%d", figures.percent));
  list.SetItemText(figures.row, 3, FormatPerformanceValue(figures.averageMs, figures.percent));
  return 0;
}

LRESULT CNetPerfDlg::OnTestEnded(WPARAM, LPARAM) {
  SetButtonsTesting(false);
  m_bTesting = false;
  return 0;
}

void CNetPerfDlg::OnTestAgain() {
  if (m_bTesting) return;
  kivo::toolkit::ListView list(Item(IDC_SERVER_LIST));
  const int count = list.Count();
  for (int i = 0; i < count; ++i) {
    for (int column = 1; column <= 3; ++column) list.SetItemText(i, column, L"");
  }
  StartTest();
}

void CNetPerfDlg::OnStopTest() { m_testCancel.Cancel(); }

void CNetPerfDlg::OnOK() {
  if (m_bTesting) return;
  kivo::toolkit::ListView list(Item(IDC_SERVER_LIST));
  const int selected = list.SelectedItem();
  if (selected < 0) {
    ::MessageBoxW(Hwnd(), m_strNoSelection.c_str(), kivo::toolkit::Application::Title().c_str(), MB_OK);
    return;
  }
  m_chosen = kivo::servers::CatalogueIndex(list.ItemData(selected));
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
