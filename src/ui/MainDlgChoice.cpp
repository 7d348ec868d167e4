// The dial target and the four controls that make one server choice: the
// Intelligent radio button and the group lists, whose items hold catalogue
// indices.
#include "ServiceEndpoints.h"
#include "resource.h"
#include "servers/ServerCatalogue.h"
#include "toolkit/Controls.h"
#include "ui/GroupCombos.h"
#include "ui/MainDlg.h"
#include "ui/NetPerfDlg.h"

using kivo::servers::CatalogueIndex;
using kivo::servers::IspGroup;
using kivo::toolkit::ComboBox;

// --- Dial target -------------------------------------------------------------

std::wstring CMainDlg::GroupCaption(IspGroup group) const {
  return m_textSet.Text(kivo::servers::GroupCaptionId(group));
}

std::string CMainDlg::GetDialTarget() {
  if (!m_choice) return kivo::endpoints::kIntelligentHost;
  ComboBox combo(Item(ComboOfGroup(*m_choice)));
  const int sel = combo.CurSel();
  if (sel == CB_ERR) return {};
  const auto server = CatalogueIndex(combo.ItemData(sel));
  if (!server) return {};
  return kivo::servers::ServerCatalogue()[*server].address;
}

// --- The server choice ------------------------------------------------------

void CMainDlg::Choose(ServerChoice choice) {
  if (choice == m_choice) return;
  // The list of the choice left shows its caption again.
  if (!m_choice) {
    ::CheckDlgButton(Hwnd(), IDC_INTELLIGENT, BST_UNCHECKED);
  } else {
    ShowGroupCaption(ComboOfGroup(*m_choice));
  }
  m_choice = choice;
}

void CMainDlg::OnGroupDropDown(int comboId) {
  ComboBox combo(Item(comboId));
  const int index = combo.FindData(kCaptionItem);
  if (index != CB_ERR) combo.DeleteString(index);
}

void CMainDlg::OnGroupCloseUp(int comboId) {
  if (ComboBox(Item(comboId)).CurSel() == CB_ERR) ShowGroupCaption(comboId);
}

void CMainDlg::ShowGroupCaption(int comboId) {
  ComboBox combo(Item(comboId));
  const int index = combo.AddItem(GroupCaption(GroupOfCombo(comboId)), kCaptionItem);
  if (index != CB_ERR) combo.SetCurSel(index);
}

void CMainDlg::OnGroupSelChange(int comboId) {
  ComboBox combo(Item(comboId));
  const int sel = combo.CurSel();
  if (sel == CB_ERR || !CatalogueIndex(combo.ItemData(sel))) return;
  Choose(GroupOfCombo(comboId));
}

void CMainDlg::OnIntelligent() { Choose(std::nullopt); }

void CMainDlg::OnNetworkPerformance() {
  CNetPerfDlg dialog(m_textSet, Hwnd());
  if (dialog.DoModal() != IDOK) return;
  const auto server = dialog.ChosenServer();
  if (!server) return;
  const IspGroup group = kivo::servers::ServerCatalogue()[*server].group;
  Choose(group);
  ComboBox combo(Item(ComboOfGroup(group)));
  const int index = combo.FindData(static_cast<LPARAM>(*server));
  if (index != CB_ERR) combo.SetCurSel(index);
}
