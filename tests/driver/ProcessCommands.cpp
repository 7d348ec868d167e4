// processes, process_env, watch, exit_code, wait_process, lang, info.
#include <windows.h>
// after windows.h
#include <tlhelp32.h>
#include <winternl.h>

#include <cstring>

#include "Commands.h"
#include "ProcessWatch.h"
#include "RemoteMemory.h"
#include "WindowQuery.h"

namespace kivo::driver {

namespace {

// The longest environment block the driver reads from another process.
constexpr size_t kMaxEnvironment = 1 << 20;

// PEB.ProcessParameters and RTL_USER_PROCESS_PARAMETERS.Environment in a
// process of the driver's own bitness (the tests run programs of one).
#ifdef _WIN64
constexpr size_t kPebProcessParameters = 0x20;
constexpr size_t kParamsEnvironment = 0x80;
#else
constexpr size_t kPebProcessParameters = 0x10;
constexpr size_t kParamsEnvironment = 0x48;
#endif

std::string ImagePath(DWORD pid) {
  UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return {};
  wchar_t path[MAX_PATH * 2] = {};
  DWORD size = MAX_PATH * 2;
  if (!::QueryFullProcessImageNameW(process.Get(), 0, path, &size)) return {};
  return Narrow(path, size);
}

Json Processes(const Args&) {
  toolkit::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) throw CommandError(kFailed, "CreateToolhelp32Snapshot failed");
  Json out = Json::MakeArray();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    Json p = Json::MakeObject();
    p.Set("pid", static_cast<long long>(entry.th32ProcessID));
    p.Set("ppid", static_cast<long long>(entry.th32ParentProcessID));
    p.Set("exe", Narrow(entry.szExeFile, wcsnlen(entry.szExeFile, MAX_PATH)));
    p.Set("path", ImagePath(entry.th32ProcessID));
    p.Set("threads", static_cast<long long>(entry.cntThreads));
    out.Push(std::move(p));
  }
  return out;
}

// Reads a process's environment block through its PEB, bounded by the
// memory region that holds it.
std::wstring EnvironmentBlock(DWORD pid) {
  UniqueKernelHandle process = OpenForMemory(pid);
  PROCESS_BASIC_INFORMATION info{};
  ULONG length = 0;
  if (::NtQueryInformationProcess(process.Get(), ProcessBasicInformation, &info, sizeof info, &length) != 0)
    throw CommandError(kFailed, "NtQueryInformationProcess failed");
  auto readPointer = [&](uintptr_t at) {
    uintptr_t value = 0;
    SIZE_T done = 0;
    if (!::ReadProcessMemory(process.Get(), reinterpret_cast<void*>(at), &value, sizeof value, &done) ||
        done != sizeof value)
      throw CommandError(kFailed, "cannot read the process parameters");
    return value;
  };
  uintptr_t params = readPointer(reinterpret_cast<uintptr_t>(info.PebBaseAddress) + kPebProcessParameters);
  uintptr_t env = readPointer(params + kParamsEnvironment);
  MEMORY_BASIC_INFORMATION region{};
  if (env == 0 || ::VirtualQueryEx(process.Get(), reinterpret_cast<void*>(env), &region, sizeof region) == 0)
    throw CommandError(kFailed, "cannot locate the environment");
  size_t available = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize - env;
  size_t bytes = std::min(available, kMaxEnvironment) & ~size_t{1};
  std::wstring block(bytes / 2, L'\0');
  SIZE_T done = 0;
  ::ReadProcessMemory(process.Get(), reinterpret_cast<void*>(env), block.data(), bytes, &done);
  block.resize(done / 2);
  size_t end = block.find(std::wstring(L"\0\0", 2));
  if (end != std::wstring::npos) block.resize(end + 1);
  return block;
}

Json ProcessEnv(const Args& args) {
  std::wstring block = EnvironmentBlock(static_cast<DWORD>(args.Integer("pid")));
  Json out = Json::MakeObject();
  size_t pos = 0;
  while (pos < block.size()) {
    size_t end = block.find(L'\0', pos);
    if (end == std::wstring::npos) end = block.size();
    std::wstring entry = block.substr(pos, end - pos);
    // Entries such as "=C:=C:\dir" start with '='; the name ends at the next one.
    size_t eq = entry.find(L'=', 1);
    if (!entry.empty() && eq != std::wstring::npos)
      out.Set(Narrow(entry.substr(0, eq)), Narrow(entry.substr(eq + 1)));
    pos = end + 1;
  }
  return out;
}

LANGID DefaultUiLanguage() {
  using Fn = LANGID(WINAPI*)();
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetUserDefaultUILanguage")));
  return fn != nullptr ? fn() : 0;
}

Json Lang(const Args&) {
  Json out = Json::MakeObject();
  out.Set("system_langid", static_cast<long long>(::GetSystemDefaultLangID()));
  out.Set("user_langid", static_cast<long long>(::GetUserDefaultLangID()));
  out.Set("system_lcid", static_cast<long long>(::GetSystemDefaultLCID()));
  out.Set("user_lcid", static_cast<long long>(::GetUserDefaultLCID()));
  out.Set("ui_langid", static_cast<long long>(DefaultUiLanguage()));
  out.Set("acp", static_cast<long long>(::GetACP()));
  out.Set("oemcp", static_cast<long long>(::GetOEMCP()));
  return out;
}

Json Info(const Args&) {
  Json out = Json::MakeObject();
  out.Set("pid", static_cast<long long>(::GetCurrentProcessId()));
  using WineVersion = const char*(__cdecl*)();
  auto fn = reinterpret_cast<WineVersion>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
  out.Set("wine", fn != nullptr ? Json(fn()) : Json());
  out.Set("screen", Json(Json::Array{::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)}));
  out.Set("desktop", HandleJson(::GetDesktopWindow()));
  out.Set("pointer_bytes", static_cast<long long>(sizeof(void*)));
  return out;
}

}  // namespace

void AddProcessCommands(CommandTable& table, ProcessWatch& watch) {
  table.Add("processes", Processes);
  table.Add("process_env", ProcessEnv);
  table.Add("lang", Lang);
  table.Add("info", Info);
  table.Add("watch",
            [&watch](const Args& args) { return watch.Watch(static_cast<DWORD>(args.Integer("pid"))); });
  table.Add("exit_code",
            [&watch](const Args& args) { return watch.ExitCode(static_cast<DWORD>(args.Integer("pid"))); });
  table.Add("wait_process", [&watch](const Args& args) {
    return watch.Wait(static_cast<DWORD>(args.Integer("pid")), args.Timeout());
  });
}

}  // namespace kivo::driver
