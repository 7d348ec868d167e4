// The server catalogue, the dial target and the four controls that make
// one server choice: the Intelligent radio button and the group lists.
#include "ServiceEndpoints.h"
#include "resource.h"
#include "servers/ServerCatalogue.h"
#include "toolkit/Controls.h"
#include "ui/GroupCombos.h"
#include "ui/MainDlg.h"
#include "ui/NetPerfDlg.h"

using kivo::servers::EntryName;
using kivo::toolkit::ComboBox;

// --- Catalogue and dial target ----------------------------------------------

void CMainDlg::FillServerCatalogue() {
  for (const auto& server : kivo::servers::ServerCatalogue()) {
    m_mapServerAddress.SetAt(server.Name(m_textSet), server.address);
  }
}

std::wstring CMainDlg::GroupCaption(int group) const {
  return m_textSet.Text(kivo::servers::GroupCaptionId(static_cast<kivo::servers::IspGroup>(group)));
}

std::string CMainDlg::GetDialTarget() {
  if (m_nServerChoice == 0) return kivo::endpoints::kIntelligentHost;
  const int comboId = ComboOfGroup(m_nServerChoice);
  if (comboId == 0) return {};
  ComboBox combo(Item(comboId));
  const int sel = combo.CurSel();
  if (sel == CB_ERR) return {};
  const std::wstring name = EntryName(combo.ItemText(sel));
  std::string address;
  if (name.empty() || !m_mapServerAddress.Lookup(name, address)) return {};
  return address;
}

// --- The server choice ------------------------------------------------------

void CMainDlg::ChooseGroup(int group) {
  if (group == m_nServerChoice) return;
  // The list of the choice left shows its caption again.
  if (m_nServerChoice == 0) {
    ::CheckDlgButton(Hwnd(), IDC_INTELLIGENT, BST_UNCHECKED);
  } else if (const int comboId = ComboOfGroup(m_nServerChoice)) {
    ShowGroupCaption(comboId);
  }
  m_nServerChoice = group;
}

void CMainDlg::OnGroupDropDown(int comboId) {
  ComboBox combo(Item(comboId));
  const std::wstring caption = GroupCaption(GroupOfCombo(comboId));
  const int index = combo.FindIf([&](const std::wstring& text) { return text == caption; });
  if (index != CB_ERR) combo.DeleteString(index);
}

void CMainDlg::OnGroupCloseUp(int comboId) {
  if (ComboBox(Item(comboId)).CurSel() == CB_ERR) ShowGroupCaption(comboId);
}

void CMainDlg::ShowGroupCaption(int comboId) {
  ComboBox combo(Item(comboId));
  const int index = combo.AddString(GroupCaption(GroupOfCombo(comboId)));
  if (index != CB_ERR) combo.SetCurSel(index);
}

void CMainDlg::OnGroupSelChange(int comboId) {
  ComboBox combo(Item(comboId));
  const int sel = combo.CurSel();
  if (sel == CB_ERR) return;
  const int group = GroupOfCombo(comboId);
  if (combo.ItemText(sel) == GroupCaption(group)) return;
  ChooseGroup(group);
}

void CMainDlg::OnIntelligent() { ChooseGroup(0); }

void CMainDlg::OnNetworkPerformance() {
  CNetPerfDlg dialog(m_textSet, Hwnd());
  dialog.SetCatalogue(m_mapServerAddress);
  if (dialog.DoModal() != IDOK) return;

  const std::wstring name = dialog.GetChosenName();
  for (const auto& server : kivo::servers::ServerCatalogue()) {
    if (name == server.Name(m_textSet)) ChooseGroup(static_cast<int>(server.group));
  }
  const int comboId = ComboOfGroup(m_nServerChoice);
  if (comboId == 0) return;
  ComboBox combo(Item(comboId));
  const int index = combo.FindIf([&](const std::wstring& text) { return EntryName(text) == name; });
  if (index != CB_ERR) combo.SetCurSel(index);
}
