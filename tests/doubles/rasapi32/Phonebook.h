// The default phonebook: one pair of files per entry under <dir>\phonebook,
// "<name>.entry" with the exact bytes of the RASENTRYW record as it was
// written and "<name>.devinfo" with the device-specific bytes. A test may
// plant or inspect them directly.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kivo::rasdouble {

// Largest record or device-info block the phonebook accepts.
inline constexpr size_t kMaxRecordBytes = 64 * 1024;
// Longest entry name, as the system allows.
inline constexpr size_t kMaxEntryName = 256;

class Phonebook {
 public:
  explicit Phonebook(const std::string& rasDir);

  // Names are UTF-8 here. A usable entry name: 1 to 256 UTF-16 characters,
  // no control characters, none of \ / : * ? " < > |, not starting with '.'
  // and not ending in a blank or '.'.
  static bool IsValidName(std::string_view name);

  bool Contains(std::string_view name) const;
  std::optional<std::string> ReadEntry(std::string_view name) const;
  std::optional<std::string> ReadDeviceInfo(std::string_view name) const;
  bool Write(std::string_view name, std::string_view entry, std::string_view deviceInfo);
  // True when there was an entry and it is gone.
  bool Remove(std::string_view name);

 private:
  std::string PathOf(std::string_view name, const char* suffix) const;

  std::string dir_;
};

}  // namespace kivo::rasdouble
