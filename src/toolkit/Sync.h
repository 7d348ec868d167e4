// Locks and events.
#pragma once

#include <windows.h>

#include "Handle.h"

namespace kivo::toolkit {

class CriticalSection {
 public:
  CriticalSection() noexcept { ::InitializeCriticalSection(&cs_); }
  ~CriticalSection() { ::DeleteCriticalSection(&cs_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter() noexcept { ::EnterCriticalSection(&cs_); }
  void Leave() noexcept { ::LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

// Holds a critical section for the lifetime of the guard.
class Lock {
 public:
  explicit Lock(CriticalSection& cs) noexcept : cs_(cs) { cs_.Enter(); }
  ~Lock() { cs_.Leave(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  CriticalSection& cs_;
};

// An unnamed event, manual reset unless asked otherwise.
class Event {
 public:
  explicit Event(bool manualReset = true, bool initiallySet = false) noexcept
      : handle_(::CreateEventA(nullptr, manualReset, initiallySet, nullptr)) {}

  bool Valid() const noexcept { return handle_.Valid(); }
  HANDLE Get() const noexcept { return handle_.Get(); }
  void Set() noexcept { ::SetEvent(handle_.Get()); }
  void Reset() noexcept { ::ResetEvent(handle_.Get()); }
  // True when the event is set within the given time.
  bool Wait(DWORD ms) const noexcept { return ::WaitForSingleObject(handle_.Get(), ms) == WAIT_OBJECT_0; }

 private:
  UniqueKernelHandle handle_;
};

}  // namespace kivo::toolkit
