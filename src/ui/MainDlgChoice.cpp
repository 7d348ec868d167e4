// The main dialog's side of the server choice: its commands hand over to
// servers_, and the performance test's pick becomes the choice.
#include "resource.h"
#include "ui/MainDlg.h"
#include "ui/NetPerfDlg.h"

namespace kivo::ui {

void CMainDlg::OnGroupDropDown(int comboId) { servers_.OnDropDown(comboId); }

void CMainDlg::OnGroupCloseUp(int comboId) { servers_.OnCloseUp(comboId); }

void CMainDlg::OnGroupSelChange(int comboId) { servers_.OnSelChange(comboId); }

void CMainDlg::OnIntelligent() { servers_.OnIntelligent(); }

LRESULT CMainDlg::OnRetryResult(WPARAM index, LPARAM roundTrip) {
  servers_.OnRetryResult(index, roundTrip);
  return 0;
}

void CMainDlg::OnNetworkPerformance() {
  CNetPerfDlg dialog(textSet_, Hwnd());
  if (dialog.DoModal() != IDOK) return;
  if (const auto server = dialog.ChosenServer()) servers_.ChooseServer(*server);
}

}  // namespace kivo::ui
