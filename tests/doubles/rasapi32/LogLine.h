// One line of calls.log: a function or event name followed by key=value
// fields. Values never contain blanks:
//   decimal integers       result=603
//   hexadecimal values     handle=0x5a0010 (handles and pointers)
//   byte strings as hex    user=b:616c696365 (empty: "b:")
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
  LogLine& Bytes(std::string_view key, std::string_view bytes);
  // A NUL-terminated string read no further than `maxBytes`; null gives "null".
  LogLine& String(std::string_view key, const char* text, size_t maxBytes);

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
