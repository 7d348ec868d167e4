// What a dial does, as control.ini describes it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::rasdouble {

class ControlFile;

struct DialStep {
  DWORD state = 0;
  DWORD delayMs = 0;  // waited before the state is reported
};

struct DialPlan {
  std::vector<DialStep> steps;
  // When set, the dial fails at this state with `errorCode` and stops.
  std::optional<DWORD> errorState;
  DWORD errorCode = 0;
};

inline constexpr size_t kMaxDialSteps = 256;
inline constexpr DWORD kMaxStepDelayMs = 600000;

// "state:delay_ms,state:delay_ms,...": states and delays in decimal or 0x
// hexadecimal; a state without ":delay" waits 0 ms. Malformed items are
// skipped; at most kMaxDialSteps are kept; delays are capped.
std::vector<DialStep> ParseDialSteps(std::string_view text);
// Port opened, device connected, authenticated, connected: a few seconds in all.
std::vector<DialStep> DefaultDialSteps();

// Reads the keys states, error_state and error_code. With an error state that
// the steps never reach, the last step is replaced by it, so such a dial fails
// where it would otherwise have ended. error_code defaults to 800.
DialPlan ReadDialPlan(const ControlFile& control);

// "691=Text;800=Other text": the text for `code`, if the table has one.
std::optional<std::string> FindErrorText(std::string_view table, long long code);

}  // namespace kivo::rasdouble
