#include "LogLine.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

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

LogLine& LogLine::Bytes(std::string_view key, std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  Key(key);
  fields_ += "b:";
  for (unsigned char c : bytes) {
    fields_ += kDigits[c >> 4];
    fields_ += kDigits[c & 15];
  }
  return *this;
}

LogLine& LogLine::String(std::string_view key, const char* text, size_t maxBytes) {
  if (text == nullptr) {
    Key(key);
    fields_ += "null";
    return *this;
  }
  return Bytes(key, std::string_view(text, strnlen(text, maxBytes)));
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
