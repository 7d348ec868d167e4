// The single-instance guard's reading of CreateMutexA.
#pragma once

#include <windows.h>

namespace kivo::app {

// Whether another copy holds the mutex, given what CreateMutexA returned and
// the last error it left. A copy running elevated owns a mutex that an
// unelevated one may not open: it gets no handle and access denied.
constexpr bool IsAnotherCopyRunning(bool gotHandle, DWORD lastError) noexcept {
  return lastError == ERROR_ALREADY_EXISTS || (!gotHandle && lastError == ERROR_ACCESS_DENIED);
}

}  // namespace kivo::app
