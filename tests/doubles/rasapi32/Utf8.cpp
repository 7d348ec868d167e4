#include "Utf8.h"

#include <windows.h>

#include <cwchar>

namespace kivo::rasdouble {

std::string Utf8FromWide(const wchar_t* text, size_t maxChars) {
  if (text == nullptr) return {};
  return Utf8FromWide(std::wstring_view(text, wcsnlen(text, maxChars)));
}

std::string Utf8FromWide(std::wstring_view text) {
  if (text.empty()) return {};
  const int n = static_cast<int>(text.size());
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), n, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string out(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), n, out.data(), bytes, nullptr, nullptr);
  return out;
}

std::wstring WideFromUtf8(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n = static_cast<int>(utf8.size());
  const int chars = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), n, nullptr, 0);
  if (chars <= 0) return {};
  std::wstring out(static_cast<size_t>(chars), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), n, out.data(), chars);
  return out;
}

}  // namespace kivo::rasdouble
