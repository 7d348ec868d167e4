#include "Strings.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace kivo::toolkit {

std::string LoadResString(UINT id) {
  char buf[256] = {};
  int len = ::LoadStringA(::GetModuleHandleA(nullptr), id, buf, sizeof(buf));
  return std::string(buf, len > 0 ? static_cast<size_t>(len) : 0);
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (needed > 0) {
    std::vector<char> buf(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, args);
    out.assign(buf.data(), static_cast<size_t>(needed));
  }
  va_end(args);
  return out;
}

void WipeString(std::string& text) noexcept {
  // Its capacity, not only its length: an earlier, longer secret may remain
  // behind the terminator.
  text.resize(text.capacity());
  ::SecureZeroMemory(text.data(), text.size());
  text.clear();
}

void CopyTruncated(char* field, size_t size, const std::string& text) noexcept {
  if (size == 0) return;
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

}  // namespace kivo::toolkit

namespace kivo::toolkit {

std::string Gbk(const char* utf8) {
  int wide = ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  if (wide <= 0) return {};
  std::vector<wchar_t> w(static_cast<size_t>(wide));
  ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, w.data(), wide);
  int bytes = ::WideCharToMultiByte(936, 0, w.data(), -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::vector<char> out(static_cast<size_t>(bytes));
  ::WideCharToMultiByte(936, 0, w.data(), -1, out.data(), bytes, nullptr, nullptr);
  return std::string(out.data());
}

}  // namespace kivo::toolkit
