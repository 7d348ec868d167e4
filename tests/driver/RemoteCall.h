// Calls of user32 functions inside another process, for state that the
// platform keeps per process and offers no message for. Under Wine 8 a
// menu handle means nothing outside the process that made it, so the items
// of another program's popup menu can only be read from within that
// program: a short thread started there runs one call and ends.
#pragma once

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "RemoteMemory.h"

namespace kivo::driver {

class RemoteCaller {
 public:
  // Prepares calls into process `pid`; throws CommandError.
  explicit RemoteCaller(DWORD pid);

  // Runs user32!`function` with up to 8 pointer-sized arguments on a new
  // thread of the target (of the driver's own bitness) and returns its
  // result; throws CommandError on failure or when the call does not end
  // within `timeout` ms.
  uintptr_t Call(const char* function, std::initializer_list<uintptr_t> args, DWORD timeout);

  // A scratch buffer in the target for text results, kTextUnits long.
  static constexpr size_t kTextUnits = 512;
  uintptr_t TextBuffer() const;
  std::string Text() const;

 private:
  uintptr_t RemoteUser32() const;

  DWORD pid_;
  UniqueKernelHandle process_;
  RemoteBlock block_;
  uintptr_t user32_ = 0;
};

}  // namespace kivo::driver
