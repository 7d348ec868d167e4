#include "app/InternetDeadline.h"

#include <new>
#include <system_error>

namespace kivo::app {

InternetDeadline::InternetDeadline(DWORD boundMs) noexcept : boundMs_(boundMs) {
  bool watching = false;
  if (finished_.Valid()) {
    try {
      thread_ = std::jthread([this] { Watch(); });
      watching = true;
    } catch (const std::system_error&) {
      // The system refused the thread.
    } catch (const std::bad_alloc&) {
      // No memory for the thread's state.
    }
  }
  // Without a watchdog nothing could end a blocked call: the exchange is
  // then refused from the start rather than left unbounded.
  if (!watching) expired_.store(true);
}

InternetDeadline::~InternetDeadline() {
  finished_.Set();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(handlesLock_);
  CloseAll();
}

HINTERNET InternetDeadline::Hold(HINTERNET handle) noexcept {
  if (handle == nullptr) return nullptr;
  std::lock_guard lock(handlesLock_);
  if (expired_.load() || held_ == kMaxHandles) {
    ::InternetCloseHandle(handle);
    return nullptr;
  }
  handles_[held_++] = handle;
  return handle;
}

void InternetDeadline::Watch() noexcept {
  if (finished_.Wait(boundMs_)) return;
  std::lock_guard lock(handlesLock_);
  expired_.store(true);
  CloseAll();
}

void InternetDeadline::CloseAll() noexcept {
  while (held_ > 0) {
    ::InternetCloseHandle(handles_[--held_]);
    handles_[held_] = nullptr;
  }
}

}  // namespace kivo::app
