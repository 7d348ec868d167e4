#include "RemoteMemory.h"

#include <string>

#include "Command.h"

namespace kivo::driver {

namespace {

// No record the driver exchanges comes near this; it bounds what a request
// can make the driver reserve in someone else's process.
constexpr size_t kMaxBlock = 16 << 20;

}  // namespace

UniqueKernelHandle OpenForMemory(DWORD pid, bool threads) {
  DWORD access = PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION;
  if (threads) access |= PROCESS_CREATE_THREAD | SYNCHRONIZE;
  UniqueKernelHandle process(::OpenProcess(access, FALSE, pid));
  if (!process) throw CommandError(kFailed, "cannot open process " + std::to_string(pid));
  return process;
}

RemoteBlock::RemoteBlock(HANDLE process, size_t size, DWORD protect) : process_(process), size_(size) {
  if (size == 0 || size > kMaxBlock) throw CommandError(kBadRequest, "remote block size out of range");
  base_ = ::VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, protect);
  if (base_ == nullptr) throw CommandError(kFailed, "VirtualAllocEx failed");
}

RemoteBlock::~RemoteBlock() {
  if (base_ != nullptr) ::VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
}

void RemoteBlock::CheckRange(size_t offset, size_t length) const {
  if (offset > size_ || length > size_ - offset)
    throw CommandError(kBadRequest, "range outside remote block");
}

void RemoteBlock::Write(size_t offset, const void* data, size_t length) const {
  CheckRange(offset, length);
  if (length == 0) return;
  SIZE_T done = 0;
  if (!::WriteProcessMemory(process_, static_cast<char*>(base_) + offset, data, length, &done) ||
      done != length) {
    throw CommandError(kFailed, "WriteProcessMemory failed");
  }
}

void RemoteBlock::Read(size_t offset, void* data, size_t length) const {
  CheckRange(offset, length);
  if (length == 0) return;
  SIZE_T done = 0;
  if (!::ReadProcessMemory(process_, static_cast<char*>(base_) + offset, data, length, &done) ||
      done != length) {
    throw CommandError(kFailed, "ReadProcessMemory failed");
  }
}

std::vector<uint8_t> RemoteBlock::Read(size_t offset, size_t length) const {
  std::vector<uint8_t> out(length);
  Read(offset, out.data(), length);
  return out;
}

}  // namespace kivo::driver
