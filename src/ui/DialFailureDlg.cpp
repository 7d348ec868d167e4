#include "ui/DialFailureDlg.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "resource.h"
#include "toolkit/Strings.h"
#include "ui/DetailsDlg.h"
#include "vpn/DialTexts.h"
#include "vpn/L2tpPreSharedKey.h"

namespace kivo::ui {

namespace {

std::unique_ptr<diag::SystemSettings> SystemSettingsOfWindows() {
  return std::make_unique<diag::WindowsSettings>();
}

}  // namespace

const toolkit::MessageMap<CDialFailureDlg>& CDialFailureDlg::GetMessageMap() {
  using Map = toolkit::MessageMap<CDialFailureDlg>;
  static const Map map = Map()
                             .Message(kFactsMessage, &CDialFailureDlg::OnFacts)
                             .Timer(&CDialFailureDlg::OnTimer)
                             .Command(IDC_FAILURE_FIX, BN_CLICKED, &CDialFailureDlg::OnFix)
                             .Command(IDC_FAILURE_DETAILS, BN_CLICKED, &CDialFailureDlg::OnDetails);
  return map;
}

CDialFailureDlg::CDialFailureDlg(const toolkit::TextSet& texts, DWORD code, std::string server,
                                 diag::EventLog& log, diag::DiagnosisJob& job, HWND parent)
    : toolkit::Dialog(IDD_DIAL_FAILURE, parent),
      texts_(texts),
      code_(code),
      server_(std::move(server)),
      log_(log),
      job_(job) {}

BOOL CDialFailureDlg::OnInitDialog() {
  ::SetWindowTextW(Hwnd(), texts_.Text(IDS_DIAL_FAILED).c_str());
  ::SendMessageW(Item(IDC_FAILURE_ICON), STM_SETICON,
                 reinterpret_cast<WPARAM>(::LoadIconW(nullptr, IDI_ERROR)), 0);
  SetItemText(IDOK, texts_.Text(IDS_FAILURE_OK));
  SetItemText(IDC_FAILURE_FIX, texts_.Text(IDS_FAILURE_FIX));
  SetItemText(IDC_FAILURE_DETAILS, texts_.Text(IDS_FAILURE_DETAILS));
  ::ShowWindow(Item(IDC_FAILURE_FIX), SW_HIDE);
  errorText_ =
      vpn::FormatDialError(code_, texts_.Text(IDS_ERR_UNKNOWN_RAS), texts_.Text(IDS_ERR_CODE_FORMAT));
  // Today's general advice first: it stays when nothing specific is found.
  SetItemText(IDC_FAILURE_MESSAGE, vpn::FormatDialFailure(code_, texts_));
  if (diag::IsDiagnosed(code_) && StartReading()) phase_ = Phase::Diagnosing;
  Layout();
  ::SetFocus(Item(IDOK));
  return FALSE;
}

bool CDialFailureDlg::StartReading() {
  if (!job_.Start(&SystemSettingsOfWindows, server_, Hwnd(), kFactsMessage)) return false;
  ::SetTimer(Hwnd(), kBoundTimer, diag::DiagnosisJob::kBoundMs, nullptr);
  return true;
}

void CDialFailureDlg::OnTimer(UINT_PTR id) {
  if (id != kBoundTimer) return;
  // The settings did not come in time: the box stays as it is, and the
  // worker's late answer is dropped.
  ::KillTimer(Hwnd(), kBoundTimer);
  job_.Abandon();
  log_.DiagnosisLate(code_);
  if (phase_ == Phase::Verifying) {
    ShowMessage(texts_.Text(IDS_FIX_NOT_TAKEN));
    phase_ = Phase::Done;
  } else {
    phase_ = Phase::Shown;
  }
}

LRESULT CDialFailureDlg::OnFacts(WPARAM number, LPARAM) {
  diag::SystemFacts facts;
  if (!job_.Take(number, facts)) return 0;
  ::KillTimer(Hwnd(), kBoundTimer);
  diag::Findings findings = diag::Diagnose(code_, facts, vpn::kHasL2tpPreSharedKey);
  log_.Diagnosis(code_, facts, findings);

  if (phase_ == Phase::Verifying) {
    // The fix took when the settings read again want none of its changes
    // any more (a cause without a fix, such as a missing device, stays).
    bool took = true;
    for (const diag::FixAction& fix : findings_.fixes) {
      if (std::find(findings.fixes.begin(), findings.fixes.end(), fix) != findings.fixes.end()) took = false;
    }
    log_.Fix(fixResult_, took);
    ShowMessage(texts_.Text(!took                       ? IDS_FIX_NOT_TAKEN
                            : findings_.fixNeedsRestart ? IDS_FIX_TOOK_RESTART
                                                        : IDS_FIX_TOOK));
    phase_ = Phase::Done;
    return 0;
  }

  phase_ = Phase::Shown;
  findings_ = std::move(findings);
  if (!findings_.causes.empty()) ShowMessage(diag::AdviceText(findings_, texts_));
  if (findings_.Fixable()) {
    ::ShowWindow(Item(IDC_FAILURE_FIX), SW_SHOW);
    Layout();
  }
  return 0;
}

void CDialFailureDlg::OnFix() {
  if (phase_ != Phase::Shown || !findings_.Fixable()) return;
  EnableItem(IDOK, false);
  EnableItem(IDC_FAILURE_FIX, false);
  EnableItem(IDC_FAILURE_DETAILS, false);
  diag::ShellRunner runner(Hwnd());
  const diag::ElevatedRunner::Result result = diag::RunFixes(runner, findings_.fixes);
  fixResult_ = result;
  EnableItem(IDOK, true);
  EnableItem(IDC_FAILURE_DETAILS, true);
  ::ShowWindow(Item(IDC_FAILURE_FIX), SW_HIDE);
  if (result == diag::ElevatedRunner::Result::Declined) {
    // Saying no to the prompt is no error: the box just closes.
    log_.Fix(result, false);
    EndDialog(IDCANCEL);
    return;
  }
  if (Ending()) return;
  // Whether the change took: the settings read again.
  if (StartReading()) {
    phase_ = Phase::Verifying;
  } else {
    ShowMessage(texts_.Text(IDS_FIX_NOT_TAKEN));
    phase_ = Phase::Done;
  }
  Layout();
  ::SetFocus(Item(IDOK));
}

void CDialFailureDlg::OnDetails() {
  CDetailsDlg details(texts_, log_, Hwnd());
  details.DoModal();
}

void CDialFailureDlg::ShowMessage(const std::wstring& advice) {
  SetItemText(IDC_FAILURE_MESSAGE, errorText_ + L"\n" + advice);
  Layout();
}

void CDialFailureDlg::Layout() {
  // The template's rectangles at this font: margins, the text's width, the
  // buttons' size.
  RECT text = {38, 8, 252, 8};
  RECT button = {0, 0, 50, 14};
  RECT margin = {0, 0, 6, 8};
  ::MapDialogRect(Hwnd(), &text);
  ::MapDialogRect(Hwnd(), &button);
  ::MapDialogRect(Hwnd(), &margin);
  HWND message = Item(IDC_FAILURE_MESSAGE);
  const std::wstring content = ItemText(IDC_FAILURE_MESSAGE);

  RECT measured = {0, 0, text.right - text.left, 0};
  if (HDC dc = ::GetDC(message)) {
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(message, WM_GETFONT, 0, 0)));
    ::DrawTextW(dc, content.c_str(), -1, &measured, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
    ::SelectObject(dc, old);
    ::ReleaseDC(message, dc);
  }
  RECT icon = {};
  ::GetWindowRect(Item(IDC_FAILURE_ICON), &icon);
  const int textHeight = std::max<int>(measured.bottom, icon.bottom - icon.top);
  ::MoveWindow(message, text.left, text.top, text.right - text.left, textHeight, TRUE);

  // The visible buttons, right-aligned under the text: OK, Fix…, Details.
  const int buttonWidth = button.right, buttonHeight = button.bottom;
  const int top = text.top + textHeight + margin.bottom;
  const int clientWidth = text.right + margin.right;
  int x = clientWidth - margin.right;
  const int ids[] = {IDC_FAILURE_DETAILS, IDC_FAILURE_FIX, IDOK};
  for (int id : ids) {
    HWND item = Item(id);
    // The window's own flag: while the box is not shown yet no child is
    // visible.
    if ((::GetWindowLongW(item, GWL_STYLE) & WS_VISIBLE) == 0) continue;
    x -= buttonWidth;
    ::MoveWindow(item, x, top, buttonWidth, buttonHeight, TRUE);
    x -= margin.right;
  }

  RECT frame = {0, 0, clientWidth, top + buttonHeight + margin.bottom};
  ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongW(Hwnd(), GWL_STYLE)), FALSE,
                       static_cast<DWORD>(::GetWindowLongW(Hwnd(), GWL_EXSTYLE)));
  RECT now = {};
  ::GetWindowRect(Hwnd(), &now);
  ::SetWindowPos(Hwnd(), nullptr, now.left, now.top, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

}  // namespace kivo::ui
