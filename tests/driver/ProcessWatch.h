// Handles to processes a test wants the full 32-bit exit code of. A process
// object outlives its process only while someone holds a handle, so a test
// asks the driver to watch a process while it still runs.
#pragma once

#include <windows.h>

#include <map>

#include "Json.h"
#include "toolkit/Handle.h"

namespace kivo::driver {

class ProcessWatch {
 public:
  // Opens and keeps a handle; true when the process could be opened.
  bool Watch(DWORD pid);
  // {"running": bool, "code": exit code or null}; opens the process first
  // when it is not watched yet.
  Json ExitCode(DWORD pid);
  // Waits up to `ms` for the end of a process; true once it has ended.
  bool Wait(DWORD pid, DWORD ms);

 private:
  HANDLE Find(DWORD pid);

  std::map<DWORD, toolkit::UniqueKernelHandle> processes_;
};

}  // namespace kivo::driver
