// The server catalogue, the dial target and the four controls that make
// one server choice: the Intelligent radio button and the group lists.
#include <vector>

#include "ServiceEndpoints.h"
#include "resource.h"
#include "servers/ServerCatalogue.h"
#include "toolkit/Controls.h"
#include "ui/MainDlg.h"
#include "ui/NetPerfDlg.h"

using kivo::servers::EntryName;
using kivo::toolkit::ComboBox;

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

std::string CMainDlg::GroupCaption(int group) const {
  return kivo::servers::GroupCaption(static_cast<kivo::servers::IspGroup>(group), m_language);
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
  CNetPerfDlg dialog(Hwnd());
  dialog.SetCatalogue(m_mapServerAddress);
  dialog.SetLanguage(m_language);
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
