// One line of calls.log: a function or event name followed by key=value
// fields. Values never contain blanks:
//   decimal integers       result=603
//   hexadecimal values     handle=0x5a0010 (handles and pointers)
//   texts in UTF-8         user=t:zhāng.张, password=t:pa%20ss (blanks, control
//                          characters and '%' as %XX; empty: "t:")
//   null pointers          phonebook=null
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace kivo::rasdouble {

class LogLine {
 public:
  explicit LogLine(std::string_view name);

  LogLine& Number(std::string_view key, long long value);
  LogLine& Hex(std::string_view key, unsigned long long value);
  LogLine& Pointer(std::string_view key, const void* value);
  LogLine& Text(std::string_view key, std::string_view utf8);
  // A NUL-terminated UTF-16 text read no further than `maxChars`, written as
  // UTF-8; null gives "null".
  LogLine& WideText(std::string_view key, const wchar_t* text, size_t maxChars);

  // The finished line, stamped with the monotonic clock in milliseconds (under
  // Wine the same clock as Linux's CLOCK_MONOTONIC_RAW) and the calling thread.
  std::string Stamped(double milliseconds) const;
  const std::string& Name() const { return name_; }

 private:
  LogLine& Key(std::string_view key);

  std::string name_;
  std::string fields_;
};

// Milliseconds of the performance counter.
double MonotonicMilliseconds();

}  // namespace kivo::rasdouble
