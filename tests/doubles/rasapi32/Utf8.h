// UTF-16 from the RAS calls and the system, UTF-8 inside the double: in its
// files, its control texts and calls.log.
#pragma once

#include <string>
#include <string_view>

namespace kivo::rasdouble {

// The NUL-terminated text at `text`, read no further than `maxChars`
// characters; a lone surrogate becomes U+FFFD.
std::string Utf8FromWide(const wchar_t* text, size_t maxChars);
std::string Utf8FromWide(std::wstring_view text);
// Invalid UTF-8 sequences become U+FFFD.
std::wstring WideFromUtf8(std::string_view utf8);

}  // namespace kivo::rasdouble
