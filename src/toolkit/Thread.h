// Worker-thread start. A WorkerThread owns its thread: destroying the owner
// waits for the thread, so a worker can never outlive what it works on.
#pragma once

#include <windows.h>

#include <functional>

#include "Handle.h"

namespace kivo::toolkit {

class WorkerThread {
 public:
  WorkerThread() = default;
  ~WorkerThread() { Join(); }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts `body` on a new thread (normal priority, default stack). Returns
  // false when the thread could not be created. A thread still held is
  // waited for first.
  bool Start(std::function<void()> body);

  bool Running() const noexcept;
  // Waits up to `ms` milliseconds; true once the thread has ended (or none
  // was started).
  bool Wait(DWORD ms) const noexcept;
  // Waits for the end of the thread and releases it.
  void Join() noexcept;
  HANDLE NativeHandle() const noexcept { return handle_.Get(); }
  DWORD Id() const noexcept { return id_; }

 private:
  static unsigned __stdcall Entry(void* param);

  std::function<void()> body_;
  UniqueKernelHandle handle_;
  DWORD id_ = 0;
};

}  // namespace kivo::toolkit
