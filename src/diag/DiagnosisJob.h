// The read after a failure, on a worker of its own: the facts come back to a
// window as a message. The window waits at most kBoundMs for them; after
// that it stops waiting, and the worker's answer, if it still comes, names
// a job the window no longer waits for. Nothing of the window is shared with
// it: it carries the window's handle, and the facts live in a block that the
// worker and the job share. The job lives as long as the main window, which
// makes one box after another use it: a worker is joined when the job goes,
// and a box never waits for one (while an earlier read has not ended, a new
// box keeps its general advice).
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "diag/SystemSettings.h"
#include "toolkit/Thread.h"

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
  // worker could start, or an earlier one is still reading.
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
  // Last: joined before the rest goes.
  toolkit::WorkerThread worker_;
};

}  // namespace kivo::diag
