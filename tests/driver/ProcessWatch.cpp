#include "ProcessWatch.h"

#include <string>

#include "Command.h"

namespace kivo::driver {

bool ProcessWatch::Watch(DWORD pid) { return Find(pid) != nullptr; }

HANDLE ProcessWatch::Find(DWORD pid) {
  auto it = processes_.find(pid);
  if (it != processes_.end()) return it->second.Get();
  toolkit::UniqueKernelHandle process(
      ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return nullptr;
  HANDLE h = process.Get();
  processes_.emplace(pid, std::move(process));
  return h;
}

Json ProcessWatch::ExitCode(DWORD pid) {
  HANDLE process = Find(pid);
  if (process == nullptr) throw CommandError(kFailed, "process " + std::to_string(pid) + " is not known");
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) throw CommandError(kFailed, "GetExitCodeProcess failed");
  bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  Json out = Json::MakeObject();
  out.Set("running", running);
  out.Set("code", running ? Json() : Json(static_cast<long long>(code)));
  return out;
}

bool ProcessWatch::Wait(DWORD pid, DWORD ms) {
  HANDLE process = Find(pid);
  if (process == nullptr) throw CommandError(kFailed, "process " + std::to_string(pid) + " is not known");
  return ::WaitForSingleObject(process, ms) == WAIT_OBJECT_0;
}

}  // namespace kivo::driver
