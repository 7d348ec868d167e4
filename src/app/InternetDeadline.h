// One deadline over a whole WinInet exchange, whatever the host does.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "toolkit/Sync.h"

namespace kivo::app {

// The exchange's handles are handed to the deadline, which owns them from
// then on. A watchdog thread closes them all when the time is up: on
// Windows, closing a handle from another thread makes a WinInet call that
// blocks on it return at once with an error (Wine only fails the calls made
// after it; see CUpdateChecker). The per-wait time-outs of a request start
// again with every byte, so a host that drips its answer could otherwise
// hold the exchange as long as it likes. Whatever is still open when the
// deadline ends is closed then, the last handed over first.
class InternetDeadline {
 public:
  explicit InternetDeadline(DWORD boundMs) noexcept;
  ~InternetDeadline();
  InternetDeadline(const InternetDeadline&) = delete;
  InternetDeadline& operator=(const InternetDeadline&) = delete;

  // Takes `handle` over and returns it; null when it is null, when the
  // deadline has passed (the handle is then closed at once), or when more
  // handles than an exchange uses are handed over.
  HINTERNET Hold(HINTERNET handle) noexcept;
  // True once the watchdog has closed the handles.
  bool Expired() const noexcept { return expired_.load(); }

 private:
  void Watch() noexcept;
  // Closes the handles held, the last handed over first. Called with
  // handlesLock_ held.
  void CloseAll() noexcept;

  // A session, its connection and one request.
  static constexpr int kMaxHandles = 3;

  const DWORD boundMs_;
  std::mutex handlesLock_;
  HINTERNET handles_[kMaxHandles] = {};
  int held_ = 0;
  std::atomic<bool> expired_{false};
  toolkit::Event finished_;
  // Last, so that it is joined before anything it uses goes.
  std::jthread thread_;
};

}  // namespace kivo::app
