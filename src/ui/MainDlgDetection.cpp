// The start-up measurement of every server and its background second pass.
#include <vector>

#include "resource.h"
#include "servers/IcmpPinger.h"
#include "servers/ServerCatalogue.h"
#include "toolkit/Controls.h"
#include "ui/MainDlg.h"

using kivo::servers::CIcmpPinger;
using kivo::servers::DelayAnnotation;
using kivo::servers::EntryName;
using kivo::toolkit::ComboBox;

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
    CIcmpPinger pinger(m_measureCancel);
    int roundTrip = 0;
    bool ok = pinger.Ping(address, roundTrip);
    RecordProbeResult(address, roundTrip, ok);
  }
}

void CMainDlg::DetectionThreadProc() {
  std::string address;
  if (!ClaimNextServer(address)) return;
  CIcmpPinger pinger(m_measureCancel);
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
  HWND window = Hwnd();
  // The pass works on its own copy of the targets and hands every answer to
  // this thread by message: it never touches the dialog's lists or windows.
  const auto& cancel = m_measureCancel;
  m_retryThread.Start(
      [targets = m_arrProbeTargets, window, &cancel] { RetryFailedServers(targets, window, cancel); });
}

void CMainDlg::RetryFailedServers(const std::vector<std::string>& targets, HWND window,
                                  const kivo::toolkit::CancellationToken& cancel) {
  for (size_t i = 0; i < targets.size(); ++i) {
    if (cancel.Cancelled()) return;
    CIcmpPinger pinger(cancel);
    int roundTrip = 0;
    if (pinger.PingWithRetries(targets[i], roundTrip))
      ::PostMessageA(window, kRetryResultMessage, static_cast<WPARAM>(i), static_cast<LPARAM>(roundTrip));
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
        // In place: a server the user has already chosen stays chosen.
        combo.ReplaceString(k, name + annotation);
        return;
      }
    }
  }
}
