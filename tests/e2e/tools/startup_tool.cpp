// kivo_startup_tool: stand-ins and probes for the client's start-up tests.
// Each mode prints one JSON line per event on stdout.
//
//   kivo_startup_tool.exe hold NAME MS
//       Creates the named mutex NAME (not owned), as a first copy of the
//       client would before its window exists, and keeps it for MS ms.
//       Prints {"mutex":NAME,"existed":bool}.
//   kivo_startup_tool.exe refuse-tray MS
//       A shell tray window (class "Shell_TrayWnd", above the real one) that
//       refuses every notification-icon request for MS ms. Prints
//       {"tray":hwnd} once it exists and {"refused":message} per request.
//   kivo_startup_tool.exe sysmenu HWND
//       The items of HWND's system menu, read inside the window's process.
//       Prints {"count":n,"items":[{"id":..,"text":..,"separator":..},...]}.
//   kivo_startup_tool.exe send HWND MSG WPARAM LPARAM
//       Sends a message to HWND from a thread of the window's own process,
//       for messages Wine does not carry between processes (WM_GETICON,
//       WM_QUERYDRAGICON). Prints {"result":n}.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Command.h"
#include "Json.h"
#include "RemoteCall.h"
#include "WindowQuery.h"
#include "toolkit/Handle.h"

namespace {

using kivo::driver::Json;

void Print(const Json& value) {
  std::fputs((value.Dump() + "\n").c_str(), stdout);
  std::fflush(stdout);
}

int Usage() {
  std::fputs(
      "usage: kivo_startup_tool.exe hold NAME MS | refuse-tray MS | sysmenu HWND | send HWND MSG WP LP\n",
      stderr);
  return 2;
}

// A non-negative decimal number, or -1 when the text is not one.
long long ParseCount(const char* text) {
  char* end = nullptr;
  long long value = std::strtoll(text, &end, 10);
  return (end == text || *end != '\0' || value < 0) ? -1 : value;
}

int HoldMutex(const std::string& name, DWORD ms) {
  kivo::toolkit::UniqueKernelHandle mutex(::CreateMutexA(nullptr, FALSE, name.c_str()));
  const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
  if (!mutex) return 1;
  Json out = Json::MakeObject();
  out.Set("mutex", name);
  out.Set("existed", existed);
  Print(out);
  ::Sleep(ms);
  return 0;
}

// The shell's tray window as the shell library finds it: the first
// top-level window of its class. Answering FALSE refuses the request.
LRESULT CALLBACK RefusingTrayProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lp);
    Json out = Json::MakeObject();
    out.Set("refused", data != nullptr ? static_cast<long long>(data->dwData) : -1LL);
    Print(out);
    return FALSE;
  }
  if (msg == WM_TIMER) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcA(hwnd, msg, wp, lp);
}

int RefuseTray(DWORD ms) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = &RefusingTrayProc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = "Shell_TrayWnd";
  if (::RegisterClassA(&wc) == 0) return 1;
  // Top-most, so that it comes before the real tray window in z-order.
  HWND hwnd = ::CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, nullptr, WS_POPUP, 0, 0,
                                0, 0, nullptr, nullptr, wc.hInstance, nullptr);
  if (hwnd == nullptr) return 1;
  ::SetTimer(hwnd, 1, ms, nullptr);
  Json out = Json::MakeObject();
  out.Set("tray", kivo::driver::HandleJson(hwnd));
  Print(out);
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) ::DispatchMessageA(&msg);
  ::DestroyWindow(hwnd);
  return 0;
}

int SystemMenu(HWND hwnd) {
  if (!::IsWindow(hwnd)) {
    std::fputs("no such window\n", stderr);
    return 1;
  }
  constexpr DWORD kTimeout = 5000;
  kivo::driver::RemoteCaller caller(kivo::driver::ProcessOf(hwnd));
  const auto window = reinterpret_cast<uintptr_t>(hwnd);
  const uintptr_t menu = caller.Call("GetSystemMenu", {window, FALSE}, kTimeout);
  Json out = Json::MakeObject();
  Json items = Json::MakeArray();
  int count = menu != 0 ? static_cast<int>(caller.Call("GetMenuItemCount", {menu}, kTimeout)) : -1;
  out.Set("count", count);
  for (int pos = 0; pos < count && pos < 64; ++pos) {
    const auto where = static_cast<uintptr_t>(pos);
    const auto state = static_cast<UINT>(caller.Call("GetMenuState", {menu, where, MF_BYPOSITION}, kTimeout));
    caller.Call("GetMenuStringW",
                {menu, where, caller.TextBuffer(), kivo::driver::RemoteCaller::kTextUnits - 1, MF_BYPOSITION},
                kTimeout);
    Json item = Json::MakeObject();
    item.Set("id",
             static_cast<long long>(static_cast<int>(caller.Call("GetMenuItemID", {menu, where}, kTimeout))));
    item.Set("text", caller.Text());
    item.Set("separator", state != static_cast<UINT>(-1) && (state & MF_SEPARATOR) != 0);
    items.Push(std::move(item));
  }
  out.Set("items", std::move(items));
  Print(out);
  return 0;
}

int SendInside(HWND hwnd, uint32_t msg, uint32_t wp, uint32_t lp) {
  if (!::IsWindow(hwnd)) {
    std::fputs("no such window\n", stderr);
    return 1;
  }
  kivo::driver::RemoteCaller caller(kivo::driver::ProcessOf(hwnd));
  const auto window = reinterpret_cast<uintptr_t>(hwnd);
  Json out = Json::MakeObject();
  out.Set("result", static_cast<long long>(caller.Call("SendMessageW", {window, msg, wp, lp}, 5000)));
  Print(out);
  return 0;
}

int Run(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string mode = argv[1];
  if (mode == "hold" && argc == 4) {
    long long ms = ParseCount(argv[3]);
    return ms < 0 || ms > 600000 ? Usage() : HoldMutex(argv[2], static_cast<DWORD>(ms));
  }
  if (mode == "refuse-tray" && argc == 3) {
    long long ms = ParseCount(argv[2]);
    return ms <= 0 || ms > 600000 ? Usage() : RefuseTray(static_cast<DWORD>(ms));
  }
  if (mode == "sysmenu" && argc == 3) {
    long long handle = ParseCount(argv[2]);
    return handle <= 0 || handle > 0xFFFFFFFFLL
               ? Usage()
               : SystemMenu(reinterpret_cast<HWND>(static_cast<uintptr_t>(handle)));
  }
  if (mode == "send" && argc == 6) {
    long long values[4];
    for (int i = 0; i < 4; ++i) {
      values[i] = ParseCount(argv[2 + i]);
      if (values[i] < 0 || values[i] > 0xFFFFFFFFLL || (i == 0 && values[i] == 0)) return Usage();
    }
    return SendInside(reinterpret_cast<HWND>(static_cast<uintptr_t>(values[0])),
                      static_cast<uint32_t>(values[1]), static_cast<uint32_t>(values[2]),
                      static_cast<uint32_t>(values[3]));
  }
  return Usage();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const kivo::driver::CommandError& error) {
    std::fprintf(stderr, "%s: %s\n", error.code().c_str(), error.what());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
  }
  return 1;
}
