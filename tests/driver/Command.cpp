#include "Command.h"

#include <limits>

namespace kivo::driver {

namespace {

std::string Named(const char* key, const char* what) { return std::string("'") + key + "' " + what; }

}  // namespace

const Json* Args::Get(const char* key) const {
  const Json* value = request_.Find(key);
  return (value == nullptr || value->IsNull()) ? nullptr : value;
}

int64_t Args::Integer(const char* key) const {
  const Json* value = Get(key);
  if (value == nullptr) throw CommandError(kBadRequest, Named(key, "is required"));
  if (!value->IsInteger()) throw CommandError(kBadRequest, Named(key, "must be an integer"));
  return value->AsInteger();
}

int64_t Args::Integer(const char* key, int64_t fallback) const {
  return Get(key) == nullptr ? fallback : Integer(key);
}

uint32_t Args::Bits(const char* key, uint32_t fallback) const {
  if (Get(key) == nullptr) return fallback;
  int64_t v = Integer(key);
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<uint32_t>::max()) {
    throw CommandError(kBadRequest, Named(key, "does not fit 32 bits"));
  }
  return static_cast<uint32_t>(v);
}

HWND Args::OptionalWindow(const char* key) const {
  uint32_t bits = Bits(key, 0);
  if (bits == 0) return nullptr;
  HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(bits));
  if (!::IsWindow(hwnd)) throw CommandError(kNoWindow, Named(key, "names no window"));
  return hwnd;
}

HWND Args::Window(const char* key) const {
  if (Get(key) == nullptr) throw CommandError(kBadRequest, Named(key, "is required"));
  HWND hwnd = OptionalWindow(key);
  if (hwnd == nullptr) throw CommandError(kNoWindow, Named(key, "names no window"));
  return hwnd;
}

std::vector<int64_t> Args::IntegerList(const char* key) const {
  std::vector<int64_t> out;
  const Json* value = Get(key);
  if (value == nullptr) return out;
  if (!value->IsArray()) throw CommandError(kBadRequest, Named(key, "must be a list of integers"));
  for (const Json& item : value->AsArray()) {
    if (!item.IsInteger()) throw CommandError(kBadRequest, Named(key, "must be a list of integers"));
    out.push_back(item.AsInteger());
  }
  return out;
}

bool Args::Flag(const char* key, bool fallback) const {
  const Json* value = Get(key);
  if (value == nullptr) return fallback;
  if (!value->IsBool()) throw CommandError(kBadRequest, Named(key, "must be true or false"));
  return value->AsBool();
}

std::string Args::String(const char* key) const {
  auto value = OptionalString(key);
  if (!value) throw CommandError(kBadRequest, Named(key, "is required"));
  return *value;
}

std::optional<std::string> Args::OptionalString(const char* key) const {
  const Json* value = Get(key);
  if (value == nullptr) return std::nullopt;
  if (!value->IsString()) throw CommandError(kBadRequest, Named(key, "must be a string"));
  return value->AsString();
}

DWORD Args::Timeout() const {
  int64_t ms = Integer("timeout", 5000);
  if (ms < 0 || ms > 600000) throw CommandError(kBadRequest, "'timeout' must be 0..600000 ms");
  return static_cast<DWORD>(ms);
}

Json CommandTable::Run(const std::string& name, const Args& args) const {
  auto it = handlers_.find(name);
  if (it == handlers_.end()) throw CommandError(kBadRequest, "unknown command '" + name + "'");
  return it->second(args);
}

Json CommandTable::Names() const {
  Json names = Json::MakeArray();
  for (const auto& entry : handlers_) names.Push(entry.first);
  return names;
}

}  // namespace kivo::driver
