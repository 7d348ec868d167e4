#include "diag/DiagnosisJob.h"

#include <exception>
#include <mutex>
#include <utility>

namespace kivo::diag {

struct DiagnosisJob::Shared {
  std::mutex lock;
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

// The worker holds its own reference to the block.
void Work(const std::shared_ptr<DiagnosisJob::Shared>& shared) noexcept {
  SystemFacts facts;
  try {
    if (std::unique_ptr<SystemSettings> settings = shared->settings())
      facts = ReadFacts(*settings, shared->server);
  } catch (const std::exception&) {
    // The standard library's std::bad_alloc and std::length_error when
    // memory runs out (our code throws nothing of its own): the facts stay
    // unknown, which names no cause.
    facts = SystemFacts{};
  }
  {
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->facts = facts;
    shared->done = true;
  }
  // A window that is gone takes no message; nothing else is touched.
  ::PostMessageW(shared->window, shared->message, shared->number, 0);
}

}  // namespace

bool DiagnosisJob::Start(SettingsFactory settings, std::string server, HWND window, UINT message) {
  // A read that has not ended holds its worker; the window does not wait
  // for it.
  if (worker_.Running()) return false;
  worker_.Join();
  auto shared = std::make_shared<Shared>();
  shared->settings = std::move(settings);
  shared->server = std::move(server);
  shared->window = window;
  shared->message = message;
  shared->number = ++number_;
  // No thread: the box keeps its general advice.
  if (!worker_.Start([shared] { Work(shared); })) return false;
  shared_ = std::move(shared);
  return true;
}

bool DiagnosisJob::Take(WPARAM number, SystemFacts& facts) const {
  if (!shared_ || number != number_ || shared_->number != number_) return false;
  std::lock_guard<std::mutex> guard(shared_->lock);
  if (!shared_->done) return false;
  facts = shared_->facts;
  return true;
}

}  // namespace kivo::diag
