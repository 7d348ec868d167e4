// The main dialog's side of the server choice: its commands hand over to
// m_servers, and the performance test's pick becomes the choice.
#include "resource.h"
#include "ui/MainDlg.h"
#include "ui/NetPerfDlg.h"

void CMainDlg::OnGroupDropDown(int comboId) { m_servers.OnDropDown(comboId); }

void CMainDlg::OnGroupCloseUp(int comboId) { m_servers.OnCloseUp(comboId); }

void CMainDlg::OnGroupSelChange(int comboId) { m_servers.OnSelChange(comboId); }

void CMainDlg::OnIntelligent() { m_servers.OnIntelligent(); }

LRESULT CMainDlg::OnRetryResult(WPARAM index, LPARAM roundTrip) {
  m_servers.OnRetryResult(index, roundTrip);
  return 0;
}

void CMainDlg::OnNetworkPerformance() {
  CNetPerfDlg dialog(m_textSet, Hwnd());
  if (dialog.DoModal() != IDOK) return;
  if (const auto server = dialog.ChosenServer()) m_servers.ChooseServer(*server);
}
