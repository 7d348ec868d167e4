#include "Strings.h"

#include <cstdio>
#include <cwchar>
#include <vector>

namespace kivo::toolkit {

std::wstring LoadResString(UINT id, LANGID language) {
  // A string table is kept in blocks of sixteen entries, block n holding ids
  // 16 (n - 1) to 16 n - 1; each entry is its length, then its characters.
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC found = ::FindResourceExW(module, MAKEINTRESOURCEW(6) /* RT_STRING */,
                                  MAKEINTRESOURCEW(id / 16 + 1), language);
  if (found == nullptr) return {};
  HGLOBAL loaded = ::LoadResource(module, found);
  const auto* data = static_cast<const WCHAR*>(loaded != nullptr ? ::LockResource(loaded) : nullptr);
  const DWORD units = ::SizeofResource(module, found) / sizeof(WCHAR);
  if (data == nullptr) return {};
  DWORD at = 0;
  for (UINT entry = 0; entry < 16 && at < units; ++entry) {
    const DWORD length = data[at++];
    if (length > units - at) return {};  // a block that lies about its size
    if (entry == id % 16) return std::wstring(data + at, length);
    at += length;
  }
  return {};
}

std::wstring Format(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::vector<wchar_t> buf(256);
  for (;;) {
    va_list copy;
    va_copy(copy, args);
    const int written = std::vswprintf(buf.data(), buf.size(), format, copy);
    va_end(copy);
    if (written >= 0 && static_cast<size_t>(written) < buf.size()) {
      va_end(args);
      return std::wstring(buf.data(), static_cast<size_t>(written));
    }
    // vswprintf says only that the text did not fit: try a larger buffer,
    // up to a bound no text of the program comes near.
    if (buf.size() >= 65536) break;
    buf.resize(buf.size() * 4);
  }
  va_end(args);
  return {};
}

void WipeString(std::wstring& text) noexcept {
  // Its capacity, not only its length: an earlier, longer secret may remain
  // behind the terminator.
  text.resize(text.capacity());
  ::SecureZeroMemory(text.data(), text.size() * sizeof(wchar_t));
  text.clear();
}

void CopyTruncated(wchar_t* field, size_t size, std::wstring_view text) noexcept {
  if (size == 0) return;
  const size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::wmemcpy(field, text.data(), n);
  field[n] = L'\0';
}

std::wstring FromUtf8(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > 0x7FFFFFFF) return {};
  const int length = static_cast<int>(utf8.size());
  const int units = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  if (units <= 0) return {};
  std::wstring out(static_cast<size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, out.data(), units);
  return out;
}

std::string ToUtf8(std::wstring_view text) {
  if (text.empty() || text.size() > 0x7FFFFFFF) return {};
  const int length = static_cast<int>(text.size());
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string out(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), bytes, nullptr, nullptr);
  return out;
}

std::wstring WidenAscii(std::string_view ascii) {
  std::wstring out;
  out.reserve(ascii.size());
  for (char c : ascii) out.push_back(static_cast<unsigned char>(c) < 0x80 ? static_cast<wchar_t>(c) : L'?');
  return out;
}

}  // namespace kivo::toolkit
