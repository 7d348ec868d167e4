#include "diag/DiagnosisJob.h"

#include <process.h>

#include <utility>

#include "toolkit/Sync.h"

namespace kivo::diag {

struct DiagnosisJob::Shared {
  toolkit::CriticalSection lock;
  bool done = false;
  SystemFacts facts;
  // What the worker needs, moved to it.
  SettingsFactory settings;
  std::string server;
  HWND window = nullptr;
  UINT message = 0;
  WPARAM number = 0;
};

namespace {

unsigned __stdcall Work(void* param) {
  // The worker holds its own reference: the block outlives the job if the
  // window gave up on it.
  std::unique_ptr<std::shared_ptr<DiagnosisJob::Shared>> own(
      static_cast<std::shared_ptr<DiagnosisJob::Shared>*>(param));
  DiagnosisJob::Shared& shared = **own;
  SystemFacts facts;
  try {
    if (std::unique_ptr<SystemSettings> settings = shared.settings())
      facts = ReadFacts(*settings, shared.server);
  } catch (...) {
    // Nothing of the system's answers may end the program: the facts stay
    // unknown, which names no cause.
    facts = SystemFacts{};
  }
  {
    toolkit::Lock guard(shared.lock);
    shared.facts = facts;
    shared.done = true;
  }
  // A window that is gone takes no message; nothing else is touched.
  ::PostMessageW(shared.window, shared.message, shared.number, 0);
  return 0;
}

}  // namespace

bool DiagnosisJob::Start(SettingsFactory settings, std::string server, HWND window, UINT message) {
  auto shared = std::make_shared<Shared>();
  shared->settings = std::move(settings);
  shared->server = std::move(server);
  shared->window = window;
  shared->message = message;
  shared->number = ++number_;
  auto* param = new std::shared_ptr<Shared>(shared);
  const uintptr_t thread = ::_beginthreadex(nullptr, 0, &Work, param, 0, nullptr);
  if (thread == 0) {
    delete param;
    return false;
  }
  // Detached: the job never waits for it.
  ::CloseHandle(reinterpret_cast<HANDLE>(thread));
  shared_ = std::move(shared);
  return true;
}

bool DiagnosisJob::Take(WPARAM number, SystemFacts& facts) const {
  if (!shared_ || number != number_ || shared_->number != number_) return false;
  toolkit::Lock guard(shared_->lock);
  if (!shared_->done) return false;
  facts = shared_->facts;
  return true;
}

}  // namespace kivo::diag
