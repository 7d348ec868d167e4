// The fix: the system's own tools (reg.exe, sc.exe) started through the UAC
// prompt. Kivoline itself never runs elevated and ships no helper of its
// own. ShellRunner calls ShellExecuteExW; the unit tests record the calls.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "diag/Diagnosis.h"

namespace kivo::diag {

class ElevatedRunner {
 public:
  enum class Result { Done, Declined, Failed };
  virtual ~ElevatedRunner() = default;
  // Starts `program` (a full path) with `parameters`, elevated, and waits
  // for its end; Declined when the user said no to the prompt.
  virtual Result Run(const std::wstring& program, const std::wstring& parameters) = 0;
};

// ShellExecuteExW, verb "runas", SEE_MASK_NOCLOSEPROCESS; the wait for the
// tool is bounded and keeps the calling thread's messages flowing, so the
// windows stay drawn.
class ShellRunner : public ElevatedRunner {
 public:
  static constexpr DWORD kToolWaitMs = 20000;
  explicit ShellRunner(HWND owner) noexcept : owner_(owner) {}
  Result Run(const std::wstring& program, const std::wstring& parameters) override;

 private:
  HWND owner_;
};

// The full path of a tool in the system folder (System32).
std::wstring SystemToolPath(const std::wstring& tool);

// Runs every action in order; stops at the first that is declined or fails.
ElevatedRunner::Result RunFixes(ElevatedRunner& runner, const std::vector<FixAction>& fixes);

}  // namespace kivo::diag
