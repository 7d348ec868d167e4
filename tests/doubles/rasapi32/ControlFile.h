// The [ras] section of control.ini, read afresh for every call so that a test
// can change the service's behaviour while a program runs.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kivo::rasdouble {

class ControlFile {
 public:
  // A missing or unreadable file gives an empty control: every key takes its
  // default. The file is UTF-8; a byte-order mark at its start is skipped.
  // Texts are handed out as UTF-8.
  static ControlFile Load(const std::string& path);
  static ControlFile Parse(std::string_view content);

  // Keys compare case-insensitively; the first occurrence counts.
  std::optional<std::string> Text(std::string_view key) const;
  // Decimal with an optional sign, or hexadecimal with a "0x" prefix.
  // Anything else, or a value out of range, counts as absent.
  std::optional<long long> Number(std::string_view key) const;
  long long Number(std::string_view key, long long fallback) const;

 private:
  std::vector<std::pair<std::string, std::string>> values_;
};

std::optional<long long> ParseNumber(std::string_view text);

}  // namespace kivo::rasdouble
