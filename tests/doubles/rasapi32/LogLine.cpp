#include "LogLine.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "Utf8.h"

namespace kivo::rasdouble {

LogLine::LogLine(std::string_view name) : name_(name) {}

LogLine& LogLine::Key(std::string_view key) {
  fields_ += ' ';
  fields_ += key;
  fields_ += '=';
  return *this;
}

LogLine& LogLine::Number(std::string_view key, long long value) {
  Key(key);
  fields_ += std::to_string(value);
  return *this;
}

LogLine& LogLine::Hex(std::string_view key, unsigned long long value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", value);
  Key(key);
  fields_ += text;
  return *this;
}

LogLine& LogLine::Pointer(std::string_view key, const void* value) {
  if (value == nullptr) {
    Key(key);
    fields_ += "null";
    return *this;
  }
  return Hex(key, reinterpret_cast<uintptr_t>(value));
}

LogLine& LogLine::Text(std::string_view key, std::string_view utf8) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  Key(key);
  fields_ += "t:";
  for (unsigned char c : utf8) {
    if (c <= 0x20 || c == 0x7F || c == '%') {
      fields_ += '%';
      fields_ += kDigits[c >> 4];
      fields_ += kDigits[c & 15];
    } else {
      fields_ += static_cast<char>(c);
    }
  }
  return *this;
}

LogLine& LogLine::WideText(std::string_view key, const wchar_t* text, size_t maxChars) {
  if (text == nullptr) {
    Key(key);
    fields_ += "null";
    return *this;
  }
  return Text(key, Utf8FromWide(text, maxChars));
}

std::string LogLine::Stamped(double milliseconds) const {
  char head[64];
  std::snprintf(head, sizeof head, "%.3f ", milliseconds);
  std::string line = head;
  line += name_;
  line += " tid=" + std::to_string(::GetCurrentThreadId());
  line += fields_;
  line += '\n';
  return line;
}

double MonotonicMilliseconds() {
  LARGE_INTEGER frequency, counter;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&counter);
  // Split to keep the precision of the double for counters of any size.
  const long long seconds = counter.QuadPart / frequency.QuadPart;
  const long long rest = counter.QuadPart % frequency.QuadPart;
  return static_cast<double>(seconds) * 1000.0 + static_cast<double>(rest) * 1000.0 / frequency.QuadPart;
}

}  // namespace kivo::rasdouble
