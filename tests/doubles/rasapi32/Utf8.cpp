#include "Utf8.h"

#include <cwchar>

#include "toolkit/Strings.h"

namespace kivo::rasdouble {

std::string Utf8FromWide(const wchar_t* text, size_t maxChars) {
  if (text == nullptr) return {};
  return toolkit::ToUtf8(std::wstring_view(text, wcsnlen(text, maxChars)));
}

std::string Utf8FromWide(std::wstring_view text) { return toolkit::ToUtf8(text); }

std::wstring WideFromUtf8(std::string_view utf8) { return toolkit::FromUtf8(utf8); }

}  // namespace kivo::rasdouble
