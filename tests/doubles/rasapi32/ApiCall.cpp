#include "ApiCall.h"

#include "Utf8.h"
#include "WinPath.h"

namespace kivo::rasdouble {
namespace {

HMODULE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

}  // namespace

std::string RasDirectory() {
  wchar_t buffer[4 * MAX_PATH];
  constexpr DWORD kChars = sizeof buffer / sizeof buffer[0];
  DWORD n = ::GetEnvironmentVariableW(L"KIVO_RAS_DIR", buffer, kChars);
  if (n > 0 && n < kChars) return ToWindowsPath(Utf8FromWide(std::wstring_view(buffer, n)));
  n = ::GetModuleFileNameW(ThisModule(), buffer, kChars);
  if (n == 0 || n >= kChars) return ".";
  std::string path = Utf8FromWide(std::wstring_view(buffer, n));
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

ApiCall::ApiCall(const char* function) : dir_(RasDirectory()), line_(function) {}

const ControlFile& ApiCall::Control() {
  if (!control_) control_ = ControlFile::Load(dir_ + "\\control.ini");
  return *control_;
}

ControlSource ApiCall::Source() {
  return [this]() -> const ControlFile& { return Control(); };
}

std::optional<DWORD> ApiCall::Forced(const char* key) {
  auto value = Control().Number(key);
  if (!value) return std::nullopt;
  return static_cast<DWORD>(*value);
}

DWORD ApiCall::Finish(DWORD result) {
  if (logged_) return result;
  logged_ = true;
  line_.Number("result", result);
  RasService::Instance().Log(dir_, line_);
  return result;
}

}  // namespace kivo::rasdouble
