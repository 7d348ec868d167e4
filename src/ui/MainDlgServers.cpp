// Servers: the catalogue and dial target, the start-up measurement with its
// background second pass, and the four controls that make one server choice.
#include <vector>

#include "ServiceEndpoints.h"
#include "resource.h"
#include "servers/NetPerfDlg.h"
#include "servers/ServerCatalogue.h"
#include "toolkit/Controls.h"
#include "ui/MainDlg.h"

using kivo::servers::CIcmpPinger;
using kivo::servers::DelayAnnotation;
using kivo::servers::EntryName;
using kivo::toolkit::ComboBox;

namespace {
// Posted by the second pass: wParam the index of the target that answered
// (kRetryFinished when the pass is over), lParam its round trip.
constexpr UINT kRetryResultMessage = WM_APP + 1;
constexpr WPARAM kRetryFinished = static_cast<WPARAM>(-1);
}  // namespace

// --- Catalogue and dial target ----------------------------------------------

void CMainDlg::FillServerCatalogue() {
  const bool zh = Chinese();
  for (const auto& server : kivo::servers::ServerCatalogue()) {
    const std::string name = zh ? server.nameChinese : server.nameEnglish;
    switch (server.group) {
      case kivo::servers::IspGroup::CT:
        m_arrGroupCT.push_back(name);
        break;
      case kivo::servers::IspGroup::CNC:
        m_arrGroupCNC.push_back(name);
        break;
      case kivo::servers::IspGroup::Other:
        m_arrGroupOther.push_back(name);
        break;
    }
    m_mapServerAddress.SetAt(name, server.address);
  }
}

int CMainDlg::GroupComboId(int group) const noexcept {
  switch (group) {
    case 1:
      return IDC_GROUP_CT;
    case 2:
      return IDC_GROUP_CNC;
    case 3:
      return IDC_GROUP_OTHER;
    default:
      return 0;
  }
}

const std::string& CMainDlg::GroupCaption(int group) const noexcept {
  switch (group) {
    case 1:
      return m_strGroupCT;
    case 2:
      return m_strGroupCNC;
    default:
      return m_strGroupOther;
  }
}

std::string CMainDlg::GetDialTarget() {
  if (m_nServerChoice == 0) return kivo::endpoints::kIntelligentHost;
  const int comboId = GroupComboId(m_nServerChoice);
  if (comboId == 0) return {};
  ComboBox combo(Item(comboId));
  const int sel = combo.CurSel();
  if (sel == CB_ERR) return {};
  const std::string name = EntryName(combo.ItemText(sel));
  std::string address;
  if (name.empty() || !m_mapServerAddress.Lookup(name, address)) return {};
  return address;
}

// --- Start-up measurement ---------------------------------------------------

void CMainDlg::StartDetection() {
  const size_t n = m_mapServerAddress.Count();
  std::vector<kivo::toolkit::WorkerThread> threads(n);
  std::vector<HANDLE> handles;
  for (auto& thread : threads) {
    if (thread.Start([this] { DetectionThreadProc(); })) handles.push_back(thread.NativeHandle());
  }
  // All at once: the window appears after the slowest single measurement.
  if (!handles.empty()) {
    ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, INFINITE);
  }
  // A thread that could not start leaves its server unclaimed: measure it
  // here so that every server gets an annotation.
  std::string address;
  while (handles.size() < n && ClaimNextServer(address)) {
    CIcmpPinger pinger;
    int roundTrip = 0;
    bool ok = pinger.Ping(address, roundTrip);
    RecordProbeResult(address, roundTrip, ok);
  }
}

void CMainDlg::DetectionThreadProc() {
  std::string address;
  if (!ClaimNextServer(address)) return;
  CIcmpPinger pinger;
  int roundTrip = 0;
  bool ok = pinger.Ping(address, roundTrip);
  RecordProbeResult(address, roundTrip, ok);
}

bool CMainDlg::ClaimNextServer(std::string& address) {
  kivo::toolkit::Lock lock(m_csResults);
  for (const auto& [name, addr] : m_mapServerAddress) {
    if (!m_mapServerDelay.Contains(addr)) {
      m_mapServerDelay.SetAt(addr, "");
      address = addr;
      return true;
    }
  }
  return false;
}

void CMainDlg::RecordProbeResult(const std::string& address, int roundTrip, bool succeeded) {
  kivo::toolkit::Lock lock(m_csResults);
  std::string text;
  if (succeeded) {
    text = DelayAnnotation(roundTrip);
  } else {
    text = m_strFailSuffix;
    m_arrProbeTargets.push_back(address);
  }
  m_mapServerDelay.SetAt(address, text);
}

void CMainDlg::FillGroupCombos() {
  const std::pair<const std::vector<std::string>*, int> groups[] = {
      {&m_arrGroupCT, IDC_GROUP_CT}, {&m_arrGroupCNC, IDC_GROUP_CNC}, {&m_arrGroupOther, IDC_GROUP_OTHER}};
  for (const auto& [names, comboId] : groups) {
    ComboBox combo(Item(comboId));
    for (const std::string& name : *names) {
      std::string address, annotation;
      m_mapServerAddress.Lookup(name, address);
      m_mapServerDelay.Lookup(address, annotation);
      combo.AddString(name + annotation);
    }
  }
}

void CMainDlg::StartRetryThread() {
  m_retryStop.Reset();
  HWND window = Hwnd();
  // The pass works on its own copy of the targets and hands every answer to
  // this thread by message: it never touches the dialog's lists or windows.
  m_retryThread.Start([this, targets = m_arrProbeTargets, window] { RetryFailedServers(targets, window); });
}

void CMainDlg::RetryFailedServers(const std::vector<std::string>& targets, HWND window) {
  for (size_t i = 0; i < targets.size(); ++i) {
    if (m_retryStop.Wait(0)) return;
    CIcmpPinger pinger;
    {
      kivo::toolkit::Lock lock(m_csRetry);
      m_pRetryPinger = &pinger;
    }
    int roundTrip = 0;
    bool ok = !m_retryStop.Wait(0) && pinger.PingWithRetries(targets[i], roundTrip);
    {
      kivo::toolkit::Lock lock(m_csRetry);
      m_pRetryPinger = nullptr;
    }
    if (ok) ::PostMessageA(window, kRetryResultMessage, static_cast<WPARAM>(i), static_cast<LPARAM>(roundTrip));
  }
  ::PostMessageA(window, kRetryResultMessage, kRetryFinished, 0);
}

LRESULT CMainDlg::OnRetryResult(WPARAM index, LPARAM roundTrip) {
  if (index == kRetryFinished) {
    m_arrProbeTargets.clear();
    return 0;
  }
  if (index >= m_arrProbeTargets.size()) return 0;
  const std::string& address = m_arrProbeTargets[index];
  const std::string annotation = DelayAnnotation(static_cast<int>(roundTrip));
  m_mapServerDelay.SetAt(address, annotation);
  UpdateComboEntry(address, annotation);
  return 0;
}

void CMainDlg::UpdateComboEntry(const std::string& address, const std::string& annotation) {
  for (int comboId : {IDC_GROUP_CT, IDC_GROUP_CNC, IDC_GROUP_OTHER}) {
    ComboBox combo(Item(comboId));
    const int count = combo.Count();
    for (int k = 0; k < count; ++k) {
      const std::string name = EntryName(combo.ItemText(k));
      if (name.empty()) continue;
      std::string entryAddress;
      if (m_mapServerAddress.Lookup(name, entryAddress) && entryAddress == address) {
        combo.DeleteString(k);
        combo.AddString(name + annotation);
        return;
      }
    }
  }
}

void CMainDlg::StopRetryThread() {
  m_retryStop.Set();
  {
    kivo::toolkit::Lock lock(m_csRetry);
    if (m_pRetryPinger != nullptr) m_pRetryPinger->Stop();
  }
  m_retryThread.Join();
}

// --- The server choice ------------------------------------------------------

void CMainDlg::LeaveServerChoice() {
  if (m_nServerChoice == 0) {
    ::CheckDlgButton(Hwnd(), IDC_INTELLIGENT, BST_UNCHECKED);
    return;
  }
  const int comboId = GroupComboId(m_nServerChoice);
  if (comboId == 0) return;
  ComboBox combo(Item(comboId));
  const int index = combo.AddString(GroupCaption(m_nServerChoice));
  if (index != CB_ERR) combo.SetCurSel(index);
}

void CMainDlg::SelectGroupOfServer(const std::string& name) {
  int group = 0;
  const std::vector<std::string>* lists[] = {&m_arrGroupCT, &m_arrGroupCNC, &m_arrGroupOther};
  for (int g = 1; g <= 3 && group == 0; ++g) {
    for (const std::string& entry : *lists[g - 1]) {
      if (entry == name) {
        group = g;
        break;
      }
    }
  }
  if (group == 0 || group == m_nServerChoice) return;
  LeaveServerChoice();
  m_nServerChoice = group;
}

void CMainDlg::OnGroupDropDown(int group) {
  ComboBox combo(Item(GroupComboId(group)));
  const int count = combo.Count();
  for (int i = 0; i < count; ++i) {
    if (combo.ItemText(i) == GroupCaption(group)) {
      combo.DeleteString(i);
      return;
    }
  }
}

void CMainDlg::OnGroupCloseUp(int group) {
  ComboBox combo(Item(GroupComboId(group)));
  if (combo.CurSel() != CB_ERR) return;
  const int index = combo.AddString(GroupCaption(group));
  if (index != CB_ERR) combo.SetCurSel(index);
}

void CMainDlg::OnGroupSelChange(int group) {
  ComboBox combo(Item(GroupComboId(group)));
  const int sel = combo.CurSel();
  if (sel == CB_ERR) return;
  if (combo.ItemText(sel) == GroupCaption(group)) return;
  if (m_nServerChoice == group) return;
  LeaveServerChoice();
  m_nServerChoice = group;
}

void CMainDlg::OnIntelligent() {
  if (m_nServerChoice == 0) return;
  LeaveServerChoice();
  m_nServerChoice = 0;
}

void CMainDlg::OnNetworkPerformance() {
  kivo::servers::CNetPerfDlg dialog(nullptr);
  dialog.SetCatalogue(m_mapServerAddress);
  dialog.SetLanguage(m_nLangVariant);
  if (dialog.DoModal() != IDOK) return;

  const std::string name = dialog.GetChosenName();
  SelectGroupOfServer(name);
  if (m_nServerChoice < 1 || m_nServerChoice > 3) return;
  ComboBox combo(Item(GroupComboId(m_nServerChoice)));
  const int count = combo.Count();
  for (int i = 0; i < count; ++i) {
    if (EntryName(combo.ItemText(i)) == name) {
      combo.SetCurSel(i);
      return;
    }
  }
}
