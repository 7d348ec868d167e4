// The start-up measurement of every server and its background second pass,
// as the group lists show them.
#include <vector>

#include "resource.h"
#include "servers/ServerCatalogue.h"
#include "toolkit/Controls.h"
#include "ui/GroupCombos.h"
#include "ui/MainDlg.h"

using kivo::servers::DelayAnnotation;
using kivo::servers::EntryName;
using kivo::toolkit::ComboBox;

void CMainDlg::MeasureServers() {
  const auto& catalogue = kivo::servers::ServerCatalogue();
  std::vector<std::string> addresses;
  for (const auto& server : catalogue) addresses.push_back(server.address);
  const std::vector<kivo::servers::Measured> results = m_measurement.MeasureAll(addresses);

  std::vector<std::string> unanswered;
  for (size_t i = 0; i < catalogue.size(); ++i) {
    const kivo::servers::Measured& result = results[i];
    ComboBox combo(Item(ComboOfGroup(static_cast<int>(catalogue[i].group))));
    combo.AddString(catalogue[i].Name(m_textSet) +
                    (result.answered ? DelayAnnotation(result.roundTripMs) : m_texts.failSuffix));
    if (!result.answered) unanswered.push_back(addresses[i]);
  }
  if (!unanswered.empty()) m_measurement.StartRetry(std::move(unanswered), Hwnd(), kRetryResultMessage);
}

LRESULT CMainDlg::OnRetryResult(WPARAM index, LPARAM roundTrip) {
  const std::string address = m_measurement.RetryTarget(index);
  if (!address.empty()) UpdateComboEntry(address, DelayAnnotation(static_cast<int>(roundTrip)));
  return 0;
}

void CMainDlg::UpdateComboEntry(const std::string& address, const std::wstring& annotation) {
  for (const GroupCombo& group : kGroupCombos) {
    ComboBox combo(Item(group.comboId));
    const int count = combo.Count();
    for (int k = 0; k < count; ++k) {
      const std::wstring name = EntryName(combo.ItemText(k));
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
