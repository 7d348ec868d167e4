// The start-up measurement of every server and its background second pass,
// as the group lists show them.
#include <vector>

#include "resource.h"
#include "servers/ServerCatalogue.h"
#include "toolkit/Controls.h"
#include "ui/GroupCombos.h"
#include "ui/MainDlg.h"

using kivo::servers::DelayAnnotation;
using kivo::toolkit::ComboBox;

void CMainDlg::MeasureServers() {
  const auto& catalogue = kivo::servers::ServerCatalogue();
  std::vector<std::string> addresses;
  for (const auto& server : catalogue) addresses.push_back(server.address);
  const std::vector<kivo::servers::Measured> results = m_measurement.MeasureAll(addresses);

  std::vector<std::string> unanswered;
  for (size_t i = 0; i < catalogue.size(); ++i) {
    const kivo::servers::Measured& result = results[i];
    ComboBox combo(Item(ComboOfGroup(catalogue[i].group)));
    combo.AddItem(catalogue[i].Name(m_textSet) +
                      (result.answered ? DelayAnnotation(result.roundTripMs) : m_texts.failSuffix),
                  static_cast<LPARAM>(i));
    if (!result.answered) unanswered.push_back(addresses[i]);
  }
  if (!unanswered.empty()) m_measurement.StartRetry(std::move(unanswered), Hwnd(), kRetryResultMessage);
}

LRESULT CMainDlg::OnRetryResult(WPARAM index, LPARAM roundTrip) {
  const std::string address = m_measurement.RetryTarget(index);
  const auto& catalogue = kivo::servers::ServerCatalogue();
  for (size_t i = 0; i < catalogue.size(); ++i) {
    if (!address.empty() && address == catalogue[i].address) {
      UpdateComboEntry(i, DelayAnnotation(static_cast<int>(roundTrip)));
    }
  }
  return 0;
}

void CMainDlg::UpdateComboEntry(size_t server, const std::wstring& annotation) {
  const auto& entry = kivo::servers::ServerCatalogue()[server];
  ComboBox combo(Item(ComboOfGroup(entry.group)));
  const int index = combo.FindData(static_cast<LPARAM>(server));
  // In place: a server the user has already chosen stays chosen.
  if (index != CB_ERR) combo.ReplaceString(index, entry.Name(m_textSet) + annotation);
}
