// Events and the cancellation token of background work (locks are
// std::mutex).
#pragma once

#include <windows.h>

#include <atomic>

#include "Handle.h"

namespace kivo::toolkit {

// An unnamed event, manual reset unless asked otherwise.
class Event {
 public:
  explicit Event(bool manualReset = true, bool initiallySet = false) noexcept
      : handle_(::CreateEventW(nullptr, manualReset, initiallySet, nullptr)) {}

  bool Valid() const noexcept { return handle_.Valid(); }
  HANDLE Get() const noexcept { return handle_.Get(); }
  void Set() noexcept { ::SetEvent(handle_.Get()); }
  void Reset() noexcept { ::ResetEvent(handle_.Get()); }
  // True when the event is set within the given time.
  bool Wait(DWORD ms) const noexcept { return ::WaitForSingleObject(handle_.Get(), ms) == WAIT_OBJECT_0; }

 private:
  UniqueKernelHandle handle_;
};

// How the owner of background work tells the work to end: the owner cancels,
// the work checks the token or waits on it between its steps. Once cancelled
// it stays cancelled; the owner re-arms it with Reset for a new run, and only
// after it has joined the thread of the last run. Closing such work is always
// "cancel, then join".
class CancellationToken {
 public:
  CancellationToken() noexcept = default;
  CancellationToken(const CancellationToken&) = delete;
  CancellationToken& operator=(const CancellationToken&) = delete;

  void Cancel() noexcept {
    cancelled_.store(true);
    event_.Set();
  }
  void Reset() noexcept {
    event_.Reset();
    cancelled_.store(false);
  }
  bool Cancelled() const noexcept { return cancelled_.load(); }
  // Waits up to `ms` milliseconds; true as soon as the token is cancelled,
  // at once when it already was.
  bool Wait(DWORD ms) const noexcept {
    if (!event_.Valid()) {
      // No event to wait on (the system refused one): a plain pause.
      if (!Cancelled()) ::Sleep(ms);
      return Cancelled();
    }
    return event_.Wait(ms) || Cancelled();
  }

 private:
  std::atomic<bool> cancelled_{false};
  Event event_;
};

}  // namespace kivo::toolkit
