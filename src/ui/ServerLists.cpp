#include "ui/ServerLists.h"

#include <vector>

#include "ServiceEndpoints.h"
#include "resource.h"
#include "servers/ServerCatalogue.h"
#include "toolkit/Controls.h"

namespace kivo::ui {

using servers::CatalogueIndex;
using servers::DelayAnnotation;
using servers::IspGroup;
using servers::ServerCatalogue;
using toolkit::ComboBox;

void ServerLists::Fill(HWND dialog, int droppedWidth, const std::wstring& failSuffix, UINT retryMessage) {
  dialog_ = dialog;
  ::CheckDlgButton(dialog_, IDC_INTELLIGENT, BST_CHECKED);
  choice_ = std::nullopt;
  for (const GroupCombo& group : kGroupCombos) {
    ComboBox(List(group.comboId)).SetDroppedWidth(droppedWidth);
    ShowCaption(group.comboId);
  }

  const auto& catalogue = ServerCatalogue();
  std::vector<std::string> addresses;
  for (const auto& server : catalogue) addresses.push_back(server.address);
  const std::vector<servers::Measured> results = measurement_.MeasureAll(addresses);

  std::vector<std::string> unanswered;
  for (size_t i = 0; i < catalogue.size(); ++i) {
    const servers::Measured& result = results[i];
    ComboBox(List(ComboOfGroup(catalogue[i].group)))
        .AddItem(catalogue[i].Name(texts_) + (result.answered ? DelayAnnotation(result.roundTripMs) : failSuffix),
                 static_cast<LPARAM>(i));
    if (!result.answered) unanswered.push_back(addresses[i]);
  }
  if (!unanswered.empty()) measurement_.StartRetry(std::move(unanswered), dialog_, retryMessage);
}

std::string ServerLists::DialTarget() const {
  if (!choice_) return endpoints::kIntelligentHost;
  ComboBox combo(List(ComboOfGroup(*choice_)));
  const int sel = combo.CurSel();
  if (sel == CB_ERR) return {};
  const auto server = CatalogueIndex(combo.ItemData(sel));
  return server ? ServerCatalogue()[*server].address : std::string();
}

void ServerLists::OnRetryResult(WPARAM index, LPARAM roundTrip) {
  const std::string address = measurement_.RetryTarget(index);
  const auto& catalogue = ServerCatalogue();
  for (size_t i = 0; i < catalogue.size(); ++i) {
    if (address.empty() || address != catalogue[i].address) continue;
    ComboBox combo(List(ComboOfGroup(catalogue[i].group)));
    const int item = combo.FindData(static_cast<LPARAM>(i));
    // In place: a server the user has already chosen stays chosen.
    if (item != CB_ERR) {
      combo.ReplaceString(item, catalogue[i].Name(texts_) + DelayAnnotation(static_cast<int>(roundTrip)));
    }
  }
}

void ServerLists::Choose(ServerChoice choice) {
  if (choice == choice_) return;
  if (!choice_) {
    ::CheckDlgButton(dialog_, IDC_INTELLIGENT, BST_UNCHECKED);
  } else {
    ShowCaption(ComboOfGroup(*choice_));
  }
  choice_ = choice;
}

void ServerLists::OnDropDown(int comboId) {
  ComboBox combo(List(comboId));
  const int index = combo.FindData(kCaptionItem);
  if (index != CB_ERR) combo.DeleteString(index);
}

void ServerLists::OnCloseUp(int comboId) {
  if (ComboBox(List(comboId)).CurSel() == CB_ERR) ShowCaption(comboId);
}

void ServerLists::ShowCaption(int comboId) {
  ComboBox combo(List(comboId));
  const int index = combo.AddItem(Caption(GroupOfCombo(comboId)), kCaptionItem);
  if (index != CB_ERR) combo.SetCurSel(index);
}

void ServerLists::OnSelChange(int comboId) {
  ComboBox combo(List(comboId));
  const int sel = combo.CurSel();
  if (sel == CB_ERR || !CatalogueIndex(combo.ItemData(sel))) return;
  Choose(GroupOfCombo(comboId));
}

void ServerLists::ChooseServer(size_t server) {
  const IspGroup group = ServerCatalogue()[server].group;
  Choose(group);
  ComboBox combo(List(ComboOfGroup(group)));
  const int index = combo.FindData(static_cast<LPARAM>(server));
  if (index != CB_ERR) combo.SetCurSel(index);
}

std::wstring ServerLists::Caption(IspGroup group) const { return texts_.Text(servers::GroupCaptionId(group)); }

}  // namespace kivo::ui
