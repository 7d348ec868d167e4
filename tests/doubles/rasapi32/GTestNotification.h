// GoogleTest under mingw's win32 thread model, which has no std::mutex: its
// Notification, built on a Win32 event. Force-included ahead of GoogleTest.
#pragma once

#include "toolkit/Sync.h"

namespace testing::internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { event_.Set(); }
  void WaitForNotification() { event_.Wait(INFINITE); }

 private:
  kivo::toolkit::Event event_;
};

}  // namespace testing::internal

#define GTEST_HAS_NOTIFICATION_ 1
