// Memory inside another process, for messages whose lParam points at a
// record the target fills in (list views, tooltips, menus). The block is
// freed when its owner goes out of scope.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "toolkit/Handle.h"

namespace kivo::driver {

using toolkit::UniqueKernelHandle;

// Opens a process for reading and writing its memory (and, with
// `threads`, for starting threads in it); throws CommandError.
UniqueKernelHandle OpenForMemory(DWORD pid, bool threads = false);

class RemoteBlock {
 public:
  // Reserves and commits `size` bytes (at least one page) in `process`.
  RemoteBlock(HANDLE process, size_t size, DWORD protect = PAGE_READWRITE);
  ~RemoteBlock();
  RemoteBlock(const RemoteBlock&) = delete;
  RemoteBlock& operator=(const RemoteBlock&) = delete;

  uintptr_t Address() const noexcept { return reinterpret_cast<uintptr_t>(base_); }
  size_t Size() const noexcept { return size_; }
  // Copies bytes in or out at `offset`; both check the range and throw
  // CommandError when the range or the copy fails.
  void Write(size_t offset, const void* data, size_t length) const;
  void Read(size_t offset, void* data, size_t length) const;
  std::vector<uint8_t> Read(size_t offset, size_t length) const;

 private:
  void CheckRange(size_t offset, size_t length) const;

  HANDLE process_;
  void* base_ = nullptr;
  size_t size_ = 0;
};

}  // namespace kivo::driver
