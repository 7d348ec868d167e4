#include "diag/ElevatedRunner.h"

#include <shellapi.h>

#include "toolkit/Handle.h"

namespace kivo::diag {

std::wstring SystemToolPath(const std::wstring& tool) {
  // The 32-bit program gets the 32-bit tools of SysWOW64: the keys they
  // write (under HKLM\SYSTEM) and the services they change are the same
  // for both.
  wchar_t folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return tool;
  return std::wstring(folder, length) + L"\\" + tool;
}

ElevatedRunner::Result ShellRunner::Run(const std::wstring& program, const std::wstring& parameters) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.hwnd = owner_;
  info.lpVerb = L"runas";
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_HIDE;
  if (!::ShellExecuteExW(&info)) {
    return ::GetLastError() == ERROR_CANCELLED ? Result::Declined : Result::Failed;
  }
  const toolkit::UniqueKernelHandle process(info.hProcess);
  if (!process) return Result::Failed;

  // The tool's end, bounded; the thread's windows keep their messages.
  const DWORD start = ::GetTickCount();
  DWORD exitCode = 1;
  bool ended = false;
  for (;;) {
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= kToolWaitMs) break;
    const DWORD wait =
        ::MsgWaitForMultipleObjects(1, &info.hProcess, FALSE, kToolWaitMs - elapsed, QS_ALLINPUT);
    if (wait == WAIT_OBJECT_0) {
      ended = true;
      break;
    }
    if (wait != WAIT_OBJECT_0 + 1) break;
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // The quit belongs to the loop further out.
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        return Result::Failed;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  if (ended) ::GetExitCodeProcess(process.Get(), &exitCode);
  return ended && exitCode == 0 ? Result::Done : Result::Failed;
}

ElevatedRunner::Result RunFixes(ElevatedRunner& runner, const std::vector<FixAction>& fixes) {
  for (const FixAction& fix : fixes) {
    const ElevatedRunner::Result result = runner.Run(SystemToolPath(fix.tool), fix.parameters);
    if (result != ElevatedRunner::Result::Done) return result;
  }
  return ElevatedRunner::Result::Done;
}

}  // namespace kivo::diag
