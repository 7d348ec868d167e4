// Text of the program: UTF-16 (std::wstring) wherever it is shown or handed
// to Windows; UTF-8 only where bytes come from outside (a build setting).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace kivo::toolkit {

// The string-table entry `id` of the program in the table of `language`;
// empty when that table has no such entry.
std::wstring LoadResString(UINT id, LANGID language);

// printf-style formatting into a string of any length. Strings are passed
// as wchar_t* and written %ls (the only form that means wide text in every
// C runtime that mingw-w64 links).
std::wstring Format(const wchar_t* format, ...);

// Copies `text` into a fixed field of `size` characters, cut to size - 1
// and always terminated.
void CopyTruncated(wchar_t* field, size_t size, std::wstring_view text) noexcept;
template <size_t N>
void CopyTruncated(wchar_t (&field)[N], std::wstring_view text) noexcept {
  CopyTruncated(field, N, text);
}

// Overwrites the whole buffer of a string that held a secret, then empties
// it.
void WipeString(std::wstring& text) noexcept;

// UTF-8 to UTF-16 and back. Invalid sequences become U+FFFD; nothing is
// ever read beyond the view.
std::wstring FromUtf8(std::string_view utf8);
std::string ToUtf8(std::wstring_view text);

// Text that is ASCII by definition (an IPv4 address, a URL of a build
// setting) widened character by character.
std::wstring WidenAscii(std::string_view ascii);

}  // namespace kivo::toolkit
