// The read after a failure, on a worker of its own: the facts come back to a
// window as a message. The window waits at most kBoundMs for them; a worker
// that takes longer is abandoned: it runs to its end on its own and its
// answer, if it still comes, names a job the window no longer waits for.
// Nothing of the window is shared with it: it carries the window's handle,
// and the facts live in a block that the worker and the job share.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "diag/SystemSettings.h"

namespace kivo::diag {

class DiagnosisJob {
 public:
  static constexpr DWORD kBoundMs = 2000;
  // Makes the settings the worker reads through (on the worker's thread).
  using SettingsFactory = std::function<std::unique_ptr<SystemSettings>()>;

  DiagnosisJob() = default;
  DiagnosisJob(const DiagnosisJob&) = delete;
  DiagnosisJob& operator=(const DiagnosisJob&) = delete;

  // Starts the read for `server`; the worker posts `message` to `window`
  // with wParam the job's number once the facts are there. False when no
  // worker could start.
  bool Start(SettingsFactory settings, std::string server, HWND window, UINT message);
  // The facts of the answer with `number`, the current job's: false for an
  // answer of an earlier, abandoned job, or when none has come.
  bool Take(WPARAM number, SystemFacts& facts) const;
  // The window stops waiting: a late answer is dropped.
  void Abandon() noexcept { ++number_; }

  // What the worker and the job share (DiagnosisJob.cpp).
  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
  WPARAM number_ = 0;
};

}  // namespace kivo::diag
