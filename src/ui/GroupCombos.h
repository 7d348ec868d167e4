// Which of the main dialog's combo boxes lists which server group, and the
// server choice those lists and the Intelligent radio button make.
#pragma once

#include <windows.h>

#include <optional>

#include "resource.h"
#include "servers/ServerCatalogue.h"

namespace kivo::ui {

// Intelligent (the service's own host picks the server), or a provider
// group whose list's selection names the server.
using ServerChoice = std::optional<kivo::servers::IspGroup>;

// The item data of a group's caption in its list; a server's item holds
// its catalogue index.
inline constexpr LPARAM kCaptionItem = -1;

struct GroupCombo {
  kivo::servers::IspGroup group;
  int comboId;
};

inline constexpr GroupCombo kGroupCombos[] = {{kivo::servers::IspGroup::CT, IDC_GROUP_CT},
                                              {kivo::servers::IspGroup::CNC, IDC_GROUP_CNC},
                                              {kivo::servers::IspGroup::Other, IDC_GROUP_OTHER}};

constexpr int ComboOfGroup(kivo::servers::IspGroup group) noexcept {
  for (const GroupCombo& entry : kGroupCombos) {
    if (entry.group == group) return entry.comboId;
  }
  return 0;
}

// The group a combo box lists (the handlers name only the three).
constexpr kivo::servers::IspGroup GroupOfCombo(int comboId) noexcept {
  for (const GroupCombo& entry : kGroupCombos) {
    if (entry.comboId == comboId) return entry.group;
  }
  return kivo::servers::IspGroup::Other;
}

}  // namespace kivo::ui
