#include "Thread.h"

#include <process.h>

namespace kivo::toolkit {

bool WorkerThread::Start(std::function<void()> body) {
  Join();
  body_ = std::move(body);
  unsigned id = 0;
  auto h = reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &WorkerThread::Entry, this, 0, &id));
  if (h == nullptr) {
    body_ = nullptr;
    return false;
  }
  handle_.Reset(h);
  id_ = id;
  return true;
}

unsigned __stdcall WorkerThread::Entry(void* param) {
  auto* self = static_cast<WorkerThread*>(param);
  try {
    self->body_();
  } catch (...) {
    // Whatever the body throws (the standard library's std::bad_alloc and
    // std::length_error when memory runs out; our code throws nothing of
    // its own) ends only this worker: an exception leaving a thread's entry
    // would end the process. The owner sees the work unfinished.
  }
  return 0;
}

bool WorkerThread::Running() const noexcept { return handle_.Valid() && !Wait(0); }

bool WorkerThread::Wait(DWORD ms) const noexcept {
  if (!handle_.Valid()) return true;
  return ::WaitForSingleObject(handle_.Get(), ms) == WAIT_OBJECT_0;
}

void WorkerThread::Join() noexcept {
  if (!handle_.Valid()) return;
  ::WaitForSingleObject(handle_.Get(), INFINITE);
  handle_.Reset();
  id_ = 0;
  body_ = nullptr;
}

}  // namespace kivo::toolkit
