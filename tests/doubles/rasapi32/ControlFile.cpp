#include "ControlFile.h"

#include "FileIo.h"

namespace kivo::rasdouble {
namespace {

constexpr size_t kMaxControlBytes = 256 * 1024;
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

ControlFile ControlFile::Load(const std::string& path) {
  auto content = ReadWholeFile(path, kMaxControlBytes);
  if (!content) return ControlFile{};
  return Parse(*content);
}

ControlFile ControlFile::Parse(std::string_view content) {
  ControlFile control;
  if (content.substr(0, kUtf8Bom.size()) == kUtf8Bom) content.remove_prefix(kUtf8Bom.size());
  bool inRas = false;
  while (!content.empty()) {
    const size_t end = content.find('\n');
    std::string_view line = Trim(content.substr(0, end));
    content = end == std::string_view::npos ? std::string_view{} : content.substr(end + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      inRas = close != std::string_view::npos && EqualsNoCase(Trim(line.substr(1, close - 1)), "ras");
      continue;
    }
    const size_t eq = line.find('=');
    if (!inRas || eq == std::string_view::npos) continue;
    std::string_view key = Trim(line.substr(0, eq));
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    if (key.empty()) continue;
    control.values_.emplace_back(std::string(key), std::string(value));
  }
  return control;
}

std::optional<std::string> ControlFile::Text(std::string_view key) const {
  for (const auto& [k, v] : values_) {
    if (EqualsNoCase(k, key)) return v;
  }
  return std::nullopt;
}

std::optional<long long> ControlFile::Number(std::string_view key) const {
  auto text = Text(key);
  if (!text) return std::nullopt;
  return ParseNumber(*text);
}

long long ControlFile::Number(std::string_view key, long long fallback) const {
  return Number(key).value_or(fallback);
}

std::optional<long long> ParseNumber(std::string_view text) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  // Up to 2^40 is plenty for any code, size, delay or counter, and keeps the
  // arithmetic far from overflow.
  constexpr unsigned long long kLimit = 1ULL << 40;
  unsigned long long value = 0;
  for (char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    if (digit >= base) return std::nullopt;
    value = value * base + digit;
    if (value > kLimit) return std::nullopt;
  }
  const auto signedValue = static_cast<long long>(value);
  return negative ? -signedValue : signedValue;
}

}  // namespace kivo::rasdouble
