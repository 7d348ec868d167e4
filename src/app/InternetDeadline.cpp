#include "app/InternetDeadline.h"

namespace kivo::app {

InternetDeadline::InternetDeadline(DWORD boundMs) noexcept : boundMs_(boundMs) {
  bool watching = false;
  try {
    watching = finished_.Valid() && thread_.Start([this] { Watch(); });
  } catch (...) {
  }
  // Without a watchdog nothing could end a blocked call: the exchange is
  // then refused from the start rather than left unbounded.
  if (!watching) expired_.store(true);
}

InternetDeadline::~InternetDeadline() {
  finished_.Set();
  thread_.Join();
  toolkit::Lock lock(handlesLock_);
  CloseAll();
}

HINTERNET InternetDeadline::Hold(HINTERNET handle) noexcept {
  if (handle == nullptr) return nullptr;
  toolkit::Lock lock(handlesLock_);
  if (expired_.load() || held_ == kMaxHandles) {
    ::InternetCloseHandle(handle);
    return nullptr;
  }
  handles_[held_++] = handle;
  return handle;
}

void InternetDeadline::Watch() noexcept {
  if (finished_.Wait(boundMs_)) return;
  toolkit::Lock lock(handlesLock_);
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
