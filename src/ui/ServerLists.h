// The main dialog's server choice: the Intelligent radio button and the
// three group lists, whose server items hold their catalogue index as item
// data; the start-up measurement that fills the lists and the background
// second pass that updates them; the address the choice dials.
#pragma once

#include <windows.h>

#include <string>

#include "servers/ServerMeasurement.h"
#include "toolkit/Language.h"
#include "ui/GroupCombos.h"

namespace kivo::ui {

class ServerLists {
 public:
  // `texts`, the dialog's text set, outlives the lists.
  explicit ServerLists(const toolkit::TextSet& texts) noexcept : texts_(texts) {}

  // Intelligent chosen, each list showing its caption at `droppedWidth`,
  // then the start-up pass (`failSuffix` marks a server that did not
  // answer) and the second pass for those, whose answers come to `dialog`
  // as `retryMessage`.
  void Fill(HWND dialog, int droppedWidth, const std::wstring& failSuffix, UINT retryMessage);
  // The window goes: the second pass ends before its next attempt.
  void Cancel() noexcept { measurement_.Cancel(); }

  // The address the choice dials; empty when a list has no server chosen.
  std::string DialTarget() const;

  // A retry-pass message (wParam the target's index, lParam its round trip).
  void OnRetryResult(WPARAM index, LPARAM roundTrip);
  void OnDropDown(int comboId);
  void OnCloseUp(int comboId);
  void OnSelChange(int comboId);
  void OnIntelligent() { Choose(std::nullopt); }
  // The server the performance test picked: its group, and it in its list.
  void ChooseServer(size_t server);

 private:
  HWND List(int comboId) const { return ::GetDlgItem(dialog_, comboId); }
  // The list of the choice left shows its caption again.
  void Choose(ServerChoice choice);
  // Adds the group's caption to its list and selects it.
  void ShowCaption(int comboId);
  std::wstring Caption(servers::IspGroup group) const;

  const toolkit::TextSet& texts_;
  HWND dialog_ = nullptr;
  ServerChoice choice_;
  // Declared last: its background pass ends before the rest goes.
  servers::ServerMeasurement measurement_;
};

}  // namespace kivo::ui
