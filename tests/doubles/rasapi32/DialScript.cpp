#include "DialScript.h"

#include "vpn/RasRecords.h"

#include <algorithm>

#include "ControlFile.h"

namespace kivo::rasdouble {
namespace {

// Splits off the text up to `separator`; the rest stays in `text`.
std::string_view NextItem(std::string_view& text, char separator) {
  const size_t at = text.find(separator);
  std::string_view item = text.substr(0, at);
  text = at == std::string_view::npos ? std::string_view{} : text.substr(at + 1);
  return item;
}

std::optional<DWORD> ParseDword(std::string_view text) {
  auto value = ParseNumber(text);
  if (!value || *value < 0 || *value > 0xFFFFFFFFLL) return std::nullopt;
  return static_cast<DWORD>(*value);
}

}  // namespace

std::vector<DialStep> ParseDialSteps(std::string_view text) {
  std::vector<DialStep> steps;
  while (!text.empty() && steps.size() < kMaxDialSteps) {
    std::string_view item = NextItem(text, ',');
    std::string_view statePart = NextItem(item, ':');
    auto state = ParseDword(statePart);
    if (!state) continue;
    DWORD delay = 0;
    if (!item.empty()) {
      auto parsed = ParseDword(item);
      if (!parsed) continue;
      delay = std::min(*parsed, kMaxStepDelayMs);
    }
    steps.push_back({*state, delay});
  }
  return steps;
}

std::vector<DialStep> DefaultDialSteps() {
  return {{RASCS_OpenPort, 250},
          {RASCS_PortOpened, 200},
          {RASCS_ConnectDevice, 300},
          {RASCS_DeviceConnected, 250},
          {RASCS_AllDevicesConnected, 200},
          {RASCS_Authenticate, 400},
          {RASCS_Authenticated, 300},
          {RASCS_Connected, 350}};
}

DialPlan ReadDialPlan(const ControlFile& control) {
  DialPlan plan;
  auto stepsText = control.Text("states");
  plan.steps = stepsText ? ParseDialSteps(*stepsText) : DefaultDialSteps();
  if (auto errorState = control.Number("error_state"); errorState && *errorState >= 0) {
    plan.errorState = static_cast<DWORD>(*errorState);
    plan.errorCode = static_cast<DWORD>(control.Number("error_code", 800));
    const bool reached = std::any_of(plan.steps.begin(), plan.steps.end(),
                                     [&](const DialStep& s) { return s.state == *plan.errorState; });
    if (!reached) {
      if (plan.steps.empty()) plan.steps.push_back({});
      plan.steps.back().state = *plan.errorState;
    }
  }
  return plan;
}

std::optional<std::string> FindErrorText(std::string_view table, long long code) {
  while (!table.empty()) {
    std::string_view item = NextItem(table, ';');
    if (item.find('=') == std::string_view::npos) continue;
    std::string_view codePart = NextItem(item, '=');
    auto parsed = ParseNumber(codePart);
    if (parsed && *parsed == code) return std::string(item);
  }
  return std::nullopt;
}

}  // namespace kivo::rasdouble
