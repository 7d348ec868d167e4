#include "ui/UpdateProgressDlg.h"

#include <commctrl.h>

#include <utility>

#include "resource.h"
#include "toolkit/Strings.h"

namespace kivo::ui {

namespace {
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 100;
}  // namespace

const kivo::toolkit::MessageMap<CUpdateProgressDlg>& CUpdateProgressDlg::GetMessageMap() {
  using Map = kivo::toolkit::MessageMap<CUpdateProgressDlg>;
  static const Map map = Map().Timer(&CUpdateProgressDlg::OnTimer).CopyData(&CUpdateProgressDlg::OnCopyData);
  return map;
}

CUpdateProgressDlg::CUpdateProgressDlg(const kivo::toolkit::TextSet& texts, std::wstring version,
                                       const UpdateProgressSource& source)
    : kivo::toolkit::Dialog(IDD_UPDATE_PROGRESS, nullptr),
      texts_(texts),
      version_(std::move(version)),
      source_(source) {}

int CUpdateProgressDlg::BarPosition(long long received, long long expected) noexcept {
  if (expected <= 0 || received <= 0) return 0;
  if (received >= expected) return kBarRange;
  return static_cast<int>(received * kBarRange / expected);
}

BOOL CUpdateProgressDlg::OnInitDialog() {
  ::SetWindowTextW(Hwnd(), L"Kivoline");
  const std::wstring line = texts_.Text(IDS_UPDATE_DOWNLOADING);
  SetItemText(IDC_UPDATE_TEXT, kivo::toolkit::Format(line.c_str(), version_.c_str()));
  SetItemText(IDCANCEL, texts_.Text(IDS_UPDATE_CANCEL));
  ::SendMessageW(Item(IDC_UPDATE_BAR), PBM_SETRANGE32, 0, kBarRange);
  // A second copy started now finds this window instead of nothing.
  instanceWindow_.Create(Hwnd());
  kivo::toolkit::AcceptFromLowerIntegrity(Hwnd(), WM_COPYDATA);
  Refresh();
  ::SetTimer(Hwnd(), kRefreshTimer, kRefreshMs, nullptr);
  return TRUE;
}

void CUpdateProgressDlg::OnTimer(UINT_PTR id) {
  if (id == kRefreshTimer) Refresh();
}

void CUpdateProgressDlg::Refresh() {
  ::SendMessageW(Item(IDC_UPDATE_BAR), PBM_SETPOS,
                 static_cast<WPARAM>(BarPosition(source_.BytesReceived(), source_.BytesExpected())), 0);
  if (source_.Finished() && !Ending()) {
    ::KillTimer(Hwnd(), kRefreshTimer);
    EndDialog(IDOK);
  }
}

BOOL CUpdateProgressDlg::OnCopyData(HWND, COPYDATASTRUCT*) {
  // A second copy is starting: this window comes to the front.
  ::ShowWindow(Hwnd(), IsIconic(Hwnd()) ? SW_RESTORE : SW_SHOW);
  ::SetForegroundWindow(Hwnd());
  ::BringWindowToTop(Hwnd());
  return TRUE;
}

}  // namespace kivo::ui
