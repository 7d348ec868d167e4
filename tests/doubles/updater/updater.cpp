// Stand-in for the service's updater program. Started by the client after a
// self-update download, it records how it was started into
// "updater_record.json" beside itself (its own path, its working folder, its
// argv and the raw command line, all as UTF-8) and exits.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>

#include "toolkit/Handle.h"

namespace {

std::string Utf8(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string out(static_cast<std::string::size_type>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.resize(static_cast<std::string::size_type>(size - 1));
  return out;
}

std::string Json(const std::string& utf8) {
  std::string out = "\"";
  for (const unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      static const char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wchar_t self[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  const wchar_t* commandLine = ::GetCommandLineW();

  wchar_t folder[MAX_PATH + 1] = {};
  if (::GetCurrentDirectoryW(MAX_PATH, folder) == 0) folder[0] = L'\0';

  std::string record = "{\"exe\":" + Json(Utf8(self)) + ",\"cwd\":" + Json(Utf8(folder)) +
                       ",\"command_line\":" + Json(Utf8(commandLine)) + ",\"argv\":[";
  int argc = 0;
  if (LPWSTR* argv = ::CommandLineToArgvW(commandLine, &argc)) {
    for (int i = 0; i < argc; ++i) {
      if (i > 0) record += ',';
      record += Json(Utf8(argv[i]));
    }
    ::LocalFree(argv);
  }
  record += "]}\n";

  std::wstring recordPath(self);
  recordPath.resize(recordPath.rfind(L'\\') + 1);
  recordPath += L"updater_record.json";
  kivo::toolkit::UniqueFileHandle file(::CreateFileW(recordPath.c_str(), GENERIC_WRITE, 0, nullptr,
                                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 1;
  DWORD written = 0;
  const BOOL ok =
      ::WriteFile(file.Get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  return ok && written == record.size() ? 0 : 1;
}
