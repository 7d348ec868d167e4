#include "ApiCall.h"

#include "WinPath.h"

namespace kivo::rasdouble {
namespace {

HMODULE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
}

}  // namespace

std::string RasDirectory() {
  char buffer[4 * MAX_PATH];
  DWORD n = ::GetEnvironmentVariableA("KIVO_RAS_DIR", buffer, sizeof buffer);
  if (n > 0 && n < sizeof buffer) return ToWindowsPath(std::string(buffer, n));
  n = ::GetModuleFileNameA(ThisModule(), buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return ".";
  std::string path(buffer, n);
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
