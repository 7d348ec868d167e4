// Which of the main dialog's combo boxes lists which server group.
#pragma once

#include "resource.h"
#include "servers/ServerCatalogue.h"

struct GroupCombo {
  kivo::servers::IspGroup group;
  int comboId;
};

inline constexpr GroupCombo kGroupCombos[] = {{kivo::servers::IspGroup::CT, IDC_GROUP_CT},
                                              {kivo::servers::IspGroup::CNC, IDC_GROUP_CNC},
                                              {kivo::servers::IspGroup::Other, IDC_GROUP_OTHER}};

// The combo box of a group (1 to 3, as IspGroup counts); 0 for any other.
constexpr int ComboOfGroup(int group) noexcept {
  for (const GroupCombo& entry : kGroupCombos) {
    if (static_cast<int>(entry.group) == group) return entry.comboId;
  }
  return 0;
}

// The group a combo box lists; 0 for any other control.
constexpr int GroupOfCombo(int comboId) noexcept {
  for (const GroupCombo& entry : kGroupCombos) {
    if (entry.comboId == comboId) return static_cast<int>(entry.group);
  }
  return 0;
}
