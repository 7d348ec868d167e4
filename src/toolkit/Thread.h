// A worker thread for work that must not end the program and whose owner
// waits for it with a time limit: std::jthread, a fence that keeps what the
// body throws in the thread, and an event set when the body has ended.
// Destroying the owner joins the thread, so a worker can never outlive what
// it works on. Work that needs neither the fence nor a timed wait runs on a
// plain std::jthread.
#pragma once

#include <windows.h>

#include <functional>
#include <thread>

#include "Sync.h"

namespace kivo::toolkit {

class WorkerThread {
 public:
  WorkerThread() = default;
  ~WorkerThread() { Join(); }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts `body` on a new thread. Returns false when the thread could not
  // be started. A thread still held is waited for first.
  bool Start(std::function<void()> body);

  bool Running() const noexcept { return thread_.joinable() && !ended_.Wait(0); }
  // Waits up to `ms` milliseconds; true once the body has ended (or none
  // was started).
  bool Wait(DWORD ms) const noexcept { return !thread_.joinable() || ended_.Wait(ms); }
  // Waits for the end of the thread and releases it.
  void Join() noexcept;
  // The event set when the body has ended, to wait for several workers at
  // once; set while no thread is held.
  HANDLE EndedEvent() const noexcept { return ended_.Get(); }
  bool IsCurrentThread() const noexcept { return thread_.get_id() == std::this_thread::get_id(); }

 private:
  // Before the thread: the thread, which sets it, is joined first.
  Event ended_{true, true};
  std::jthread thread_;
};

}  // namespace kivo::toolkit
