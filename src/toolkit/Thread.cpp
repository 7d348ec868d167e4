#include "Thread.h"

#include <new>
#include <system_error>

namespace kivo::toolkit {

bool WorkerThread::Start(std::function<void()> body) {
  Join();
  // Without the event nobody could tell when the body has ended.
  if (!ended_.Valid()) return false;
  ended_.Reset();
  try {
    thread_ = std::jthread([this, body = std::move(body)] {
      try {
        body();
      } catch (...) {
        // Whatever the body throws (the standard library's std::bad_alloc and
        // std::length_error when memory runs out; our code throws nothing of
        // its own) ends only this worker: an exception leaving a thread's
        // function would end the process. The owner sees the work unfinished.
      }
      ended_.Set();
    });
  } catch (const std::system_error&) {
    // The system refused the thread.
    ended_.Set();
    return false;
  } catch (const std::bad_alloc&) {
    // No memory for the thread's copy of the body.
    ended_.Set();
    return false;
  }
  return true;
}

void WorkerThread::Join() noexcept {
  if (thread_.joinable()) thread_.join();
}

}  // namespace kivo::toolkit
