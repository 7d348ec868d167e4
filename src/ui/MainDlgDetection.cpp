// The start-up measurement of every server and its background second pass,
// as the group lists show them.
#include <vector>

#include "resource.h"
#include "servers/ServerCatalogue.h"
#include "toolkit/Controls.h"
#include "ui/MainDlg.h"

using kivo::servers::DelayAnnotation;
using kivo::servers::EntryName;
using kivo::toolkit::ComboBox;

void CMainDlg::MeasureServers() {
  std::vector<std::string> addresses;
  for (const auto& [name, address] : m_mapServerAddress) addresses.push_back(address);
  const std::vector<kivo::servers::Measured> results = m_measurement.MeasureAll(addresses);

  kivo::toolkit::StringMap annotations;
  std::vector<std::string> unanswered;
  for (size_t i = 0; i < addresses.size(); ++i) {
    annotations.SetAt(addresses[i],
                      results[i].answered ? DelayAnnotation(results[i].roundTripMs) : m_texts.failSuffix);
    if (!results[i].answered) unanswered.push_back(addresses[i]);
  }
  FillGroupCombos(annotations);
  if (!unanswered.empty()) m_measurement.StartRetry(std::move(unanswered), Hwnd(), kRetryResultMessage);
}

void CMainDlg::FillGroupCombos(const kivo::toolkit::StringMap& annotations) {
  const std::pair<const std::vector<std::string>*, int> groups[] = {
      {&m_arrGroupCT, IDC_GROUP_CT}, {&m_arrGroupCNC, IDC_GROUP_CNC}, {&m_arrGroupOther, IDC_GROUP_OTHER}};
  for (const auto& [names, comboId] : groups) {
    ComboBox combo(Item(comboId));
    for (const std::string& name : *names) {
      std::string address, annotation;
      m_mapServerAddress.Lookup(name, address);
      annotations.Lookup(address, annotation);
      combo.AddString(name + annotation);
    }
  }
}

LRESULT CMainDlg::OnRetryResult(WPARAM index, LPARAM roundTrip) {
  const std::string address = m_measurement.RetryTarget(index);
  if (!address.empty()) UpdateComboEntry(address, DelayAnnotation(static_cast<int>(roundTrip)));
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
