#include "RemoteCall.h"

#include <windows.h>
// after windows.h
#include <tlhelp32.h>

#include <cstring>
#include <vector>

#include "Command.h"
#include "WindowQuery.h"

namespace kivo::driver {

namespace {

// Layout of the block in the target process: pointer-sized slots.
constexpr size_t kSlot = sizeof(uintptr_t);
constexpr size_t kFunction = 0;      // address of the function to call
constexpr size_t kArgCount = kSlot;  // number of arguments (0..8)
constexpr size_t kArgs = 2 * kSlot;  // eight arguments
constexpr size_t kMaxArgs = 8;
constexpr size_t kResult = kArgs + kMaxArgs * kSlot;  // the function's result
constexpr size_t kCode = 128;                         // the thread procedure below
constexpr size_t kText = 256;                         // scratch text buffer
constexpr size_t kBlockSize = kText + RemoteCaller::kTextUnits * 2;
static_assert(kResult + kSlot <= kCode, "call record overlaps the thread code");

#ifdef _WIN64
// The thread procedure, DWORD WINAPI proc(Block* b) with b in rcx: loads
// all eight argument slots (four registers, four stack slots above the
// shadow space; surplus ones are ignored by the callee), calls the function
// and stores its result.
//   push rbx / sub rsp,0x50 / mov rbx,rcx
//   mov rax,[rbx+0x38] / mov [rsp+0x20],rax ... (arguments 5 to 8)
//   mov rcx,[rbx+0x10] / mov rdx,[rbx+0x18] / mov r8,[rbx+0x20] / mov r9,[rbx+0x28]
//   call [rbx] / mov [rbx+0x50],rax / add rsp,0x50 / pop rbx / ret
constexpr uint8_t kThreadCode[] = {0x53, 0x48, 0x83, 0xEC, 0x50, 0x48, 0x89, 0xCB,        //
                                   0x48, 0x8B, 0x43, 0x30, 0x48, 0x89, 0x44, 0x24, 0x20,  //
                                   0x48, 0x8B, 0x43, 0x38, 0x48, 0x89, 0x44, 0x24, 0x28,  //
                                   0x48, 0x8B, 0x43, 0x40, 0x48, 0x89, 0x44, 0x24, 0x30,  //
                                   0x48, 0x8B, 0x43, 0x48, 0x48, 0x89, 0x44, 0x24, 0x38,  //
                                   0x48, 0x8B, 0x4B, 0x10, 0x48, 0x8B, 0x53, 0x18,        //
                                   0x4C, 0x8B, 0x43, 0x20, 0x4C, 0x8B, 0x4B, 0x28,        //
                                   0xFF, 0x13, 0x48, 0x89, 0x43, 0x50, 0x48, 0x83, 0xC4, 0x50, 0x5B, 0xC3};
static_assert(kArgs == 0x10 && kResult == 0x50, "the thread code's offsets");
#else
// The thread procedure, DWORD WINAPI proc(Block* b): pushes the arguments
// last to first, calls the (stdcall) function and stores its result.
//   push ebp / mov ebp,esp / push ebx / mov ebx,[ebp+8] / mov ecx,[ebx+4]
//   loop: test ecx,ecx / jz call / push [ebx+ecx*4+4] / dec ecx / jmp loop
//   call: call [ebx] / mov [ebx+40],eax / pop ebx / pop ebp / ret 4
constexpr uint8_t kThreadCode[] = {0x55, 0x89, 0xE5, 0x53, 0x8B, 0x5D, 0x08, 0x8B, 0x4B, 0x04, 0x85,
                                   0xC9, 0x74, 0x07, 0xFF, 0x74, 0x8B, 0x04, 0x49, 0xEB, 0xF5, 0xFF,
                                   0x13, 0x89, 0x43, 0x28, 0x5B, 0x5D, 0xC2, 0x04, 0x00};
static_assert(kArgs == 8 && kResult == 40, "the thread code's offsets");
#endif
static_assert(kCode + sizeof kThreadCode <= kText, "thread code overlaps the text buffer");

}  // namespace

RemoteCaller::RemoteCaller(DWORD pid)
    : pid_(pid),
      process_(OpenForMemory(pid, true)),
      block_(process_.Get(), kBlockSize, PAGE_EXECUTE_READWRITE) {
  block_.Write(kCode, kThreadCode, sizeof kThreadCode);
  user32_ = RemoteUser32();
}

uintptr_t RemoteCaller::RemoteUser32() const {
  toolkit::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid_));
  if (!snapshot) throw CommandError(kFailed, "cannot list the modules of process " + std::to_string(pid_));
  MODULEENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Module32FirstW(snapshot.Get(), &entry); more;
       more = ::Module32NextW(snapshot.Get(), &entry)) {
    if (_wcsicmp(entry.szModule, L"user32.dll") == 0) return reinterpret_cast<uintptr_t>(entry.modBaseAddr);
  }
  throw CommandError(kFailed, "process " + std::to_string(pid_) + " has no user32.dll");
}

uintptr_t RemoteCaller::Call(const char* function, std::initializer_list<uintptr_t> args, DWORD timeout) {
  if (args.size() > kMaxArgs) throw CommandError(kBadRequest, "too many arguments for a remote call");
  HMODULE local = ::GetModuleHandleW(L"user32.dll");
  FARPROC proc = ::GetProcAddress(local, function);
  if (proc == nullptr) throw CommandError(kFailed, std::string("user32 has no ") + function);
  // The same DLL, so the same offset from its base in both processes.
  uintptr_t target = user32_ + (reinterpret_cast<uintptr_t>(proc) - reinterpret_cast<uintptr_t>(local));
  uintptr_t header[2 + kMaxArgs] = {target, args.size()};
  std::copy(args.begin(), args.end(), header + 2);
  block_.Write(kFunction, header, sizeof header);
  uintptr_t zero = 0;
  block_.Write(kResult, &zero, sizeof zero);
  auto start = reinterpret_cast<LPTHREAD_START_ROUTINE>(block_.Address() + kCode);
  UniqueKernelHandle thread(::CreateRemoteThread(process_.Get(), nullptr, 0, start,
                                                 reinterpret_cast<void*>(block_.Address()), 0, nullptr));
  if (!thread) throw CommandError(kFailed, "CreateRemoteThread failed");
  if (::WaitForSingleObject(thread.Get(), timeout) != WAIT_OBJECT_0) {
    ::TerminateThread(thread.Get(), 1);
    ::WaitForSingleObject(thread.Get(), 1000);
    throw CommandError(kTimeout, std::string("remote call of ") + function + " did not end");
  }
  uintptr_t result = 0;
  block_.Read(kResult, &result, sizeof result);
  return result;
}

uintptr_t RemoteCaller::TextBuffer() const { return block_.Address() + kText; }

std::string RemoteCaller::Text() const {
  std::vector<wchar_t> text(kTextUnits, L'\0');
  block_.Read(kText, text.data(), text.size() * sizeof(wchar_t));
  text.back() = L'\0';
  return Narrow(text.data(), wcsnlen(text.data(), text.size()));
}

}  // namespace kivo::driver
