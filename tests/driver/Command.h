// The driver's command table and the typed view of a request's arguments.
// A handler reads its arguments through Args, which rejects missing or
// ill-typed values with a CommandError, and returns its result as JSON.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Json.h"

namespace kivo::driver {

// A failure that is reported to the caller as {"ok":false,"code":...}.
class CommandError : public std::runtime_error {
 public:
  CommandError(std::string code, const std::string& message)
      : std::runtime_error(message), code_(std::move(code)) {}
  const std::string& code() const noexcept { return code_; }

 private:
  std::string code_;
};

// Error codes a caller can act on.
inline constexpr char kBadRequest[] = "bad_request";
inline constexpr char kNoWindow[] = "no_window";
inline constexpr char kTimeout[] = "timeout";
inline constexpr char kFailed[] = "failed";

class Args {
 public:
  explicit Args(const Json& request) : request_(request) {}

  bool Has(const char* key) const { return Get(key) != nullptr; }
  // A window handle that must name an existing window.
  HWND Window(const char* key) const;
  // A window handle that may be absent or 0 (nullptr then).
  HWND OptionalWindow(const char* key) const;
  int64_t Integer(const char* key) const;
  int64_t Integer(const char* key, int64_t fallback) const;
  // A 32-bit message parameter: any value from -2^31 to 2^32-1, kept as bits.
  uint32_t Bits(const char* key, uint32_t fallback) const;
  // A list of integers; empty when absent.
  std::vector<int64_t> IntegerList(const char* key) const;
  bool Flag(const char* key, bool fallback) const;
  std::string String(const char* key) const;
  std::optional<std::string> OptionalString(const char* key) const;
  // "timeout" in milliseconds for calls into other processes (default 5000).
  DWORD Timeout() const;

 private:
  const Json* Get(const char* key) const;

  const Json& request_;
};

using Handler = std::function<Json(const Args&)>;

class CommandTable {
 public:
  void Add(const std::string& name, Handler handler) { handlers_[name] = std::move(handler); }
  // Runs the named command; throws CommandError for unknown names.
  Json Run(const std::string& name, const Args& args) const;
  Json Names() const;

 private:
  std::map<std::string, Handler> handlers_;
};

}  // namespace kivo::driver
