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

namespace kivo::ui {

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
    : CScaledDialog(IDD_NETPERF, parent), textSet_(texts) {}

CNetPerfDlg::~CNetPerfDlg() {
  // The dialog refuses to end while testing; this covers a dialog whose
  // modal run a quit message ended. The test thread waits for nothing of
  // this thread's, and its posts to the window that has gone fail.
  testCancel_.Cancel();
  testThread_.Join();
}

void CNetPerfDlg::LoadTexts() {
  title_ = textSet_.Text(IDS_NETPERF_TITLE);
  hint_ = textSet_.Text(IDS_NETPERF_HINT);
  testAgain_ = textSet_.Text(IDS_NETPERF_TEST_AGAIN);
  stopTest_ = textSet_.Text(IDS_NETPERF_STOP_TEST);
  useSelect_ = textSet_.Text(IDS_NETPERF_USE_SELECT);
  cancel_ = textSet_.Text(IDS_NETPERF_CANCEL);
  noSelection_ = textSet_.Text(IDS_NETPERF_NO_SELECTION);
  colName_ = textSet_.Text(IDS_NETPERF_COL_NAME);
  colDelay_ = textSet_.Text(IDS_NETPERF_COL_DELAY);
  colStatus_ = textSet_.Text(IDS_NETPERF_COL_STATUS);
  colValue_ = textSet_.Text(IDS_NETPERF_COL_VALUE);
}

BOOL CNetPerfDlg::OnInitDialog() {
  CScaledDialog::OnInitDialog();
  LoadTexts();
  ::SetWindowTextW(Hwnd(), title_.c_str());
  // The hint is the dialog's only static text (id -1).
  ::SetWindowTextW(::FindWindowExW(Hwnd(), nullptr, L"Static", nullptr), hint_.c_str());
  SetItemText(IDC_TEST_AGAIN, testAgain_);
  SetItemText(IDC_STOP_TEST, stopTest_);
  SetItemText(IDOK, useSelect_);
  SetItemText(IDCANCEL, cancel_);

  kivo::toolkit::ListView list(Item(IDC_SERVER_LIST));
  list.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  const kivo::toolkit::DpiScale scale = Scale();
  list.InsertColumn(0, colName_, scale.Scale(kColumnWidths[0]), LVCFMT_CENTER);
  list.InsertColumn(1, colDelay_, scale.Scale(kColumnWidths[1]), LVCFMT_CENTER);
  list.InsertColumn(2, colStatus_, scale.Scale(kColumnWidths[2]), LVCFMT_CENTER);
  list.InsertColumn(3, colValue_, scale.Scale(kColumnWidths[3]), LVCFMT_CENTER);
  const auto& catalogue = kivo::servers::ServerCatalogue();
  for (size_t i = 0; i < catalogue.size(); ++i) {
    const int index = list.InsertItem(static_cast<int>(i), catalogue[i].Name(textSet_), static_cast<LPARAM>(i));
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
  testThread_.Join();  // the previous test has ended; release its thread
  testCancel_.Reset();
  testing_ = true;
  // The thread gets the addresses in row order and the window to post to,
  // never the dialog object.
  kivo::toolkit::ListView list(Item(IDC_SERVER_LIST));
  std::vector<std::string> addresses(static_cast<size_t>(list.Count()));
  for (size_t i = 0; i < addresses.size(); ++i) {
    if (const auto server = kivo::servers::CatalogueIndex(list.ItemData(static_cast<int>(i)))) {
      addresses[i] = kivo::servers::ServerCatalogue()[*server].address;
    }
  }
  const auto& cancel = testCancel_;
  auto test = [addresses = std::move(addresses), dialog = Hwnd(), &cancel] {
    RunTest(addresses, dialog, cancel);
  };
  if (!testThread_.Start(std::move(test))) {
    testing_ = false;
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
  testing_ = false;
  return 0;
}

void CNetPerfDlg::OnTestAgain() {
  if (testing_) return;
  kivo::toolkit::ListView list(Item(IDC_SERVER_LIST));
  const int count = list.Count();
  for (int i = 0; i < count; ++i) {
    for (int column = 1; column <= 3; ++column) list.SetItemText(i, column, L"");
  }
  StartTest();
}

void CNetPerfDlg::OnStopTest() { testCancel_.Cancel(); }

void CNetPerfDlg::OnOK() {
  if (testing_) return;
  kivo::toolkit::ListView list(Item(IDC_SERVER_LIST));
  const int selected = list.SelectedItem();
  if (selected < 0) {
    ::MessageBoxW(Hwnd(), noSelection_.c_str(), kivo::toolkit::Application::Title().c_str(), MB_OK);
    return;
  }
  chosen_ = kivo::servers::CatalogueIndex(list.ItemData(selected));
  EndDialog(IDOK);
}

void CNetPerfDlg::OnCancel() {
  if (testing_) return;
  EndDialog(IDCANCEL);
}

void CNetPerfDlg::OnClose() {
  if (testing_) return;
  EndDialog(IDCANCEL);
}

}  // namespace kivo::ui
