#include "Phonebook.h"

#include "FileIo.h"

namespace kivo::rasdouble {

Phonebook::Phonebook(const std::string& rasDir) : dir_(rasDir + "\\phonebook") {}

bool Phonebook::IsValidName(std::string_view name) {
  // UTF-16 characters, as the system counts them: a UTF-8 sequence of four
  // bytes is a surrogate pair, continuation bytes add nothing.
  size_t characters = 0;
  for (unsigned char c : name) characters += (c & 0xC0) == 0x80 ? 0 : (c >= 0xF0 ? 2 : 1);
  if (name.empty() || characters > kMaxEntryName) return false;
  if (name.front() == '.' || name.back() == ' ' || name.back() == '.') return false;
  for (unsigned char c : name) {
    if (c < 0x20 || std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

std::string Phonebook::PathOf(std::string_view name, const char* suffix) const {
  std::string path = dir_;
  path += '\\';
  path += name;
  path += suffix;
  return path;
}

bool Phonebook::Contains(std::string_view name) const {
  return IsValidName(name) && FileExists(PathOf(name, ".entry"));
}

std::optional<std::string> Phonebook::ReadEntry(std::string_view name) const {
  if (!IsValidName(name)) return std::nullopt;
  return ReadWholeFile(PathOf(name, ".entry"), kMaxRecordBytes);
}

std::optional<std::string> Phonebook::ReadDeviceInfo(std::string_view name) const {
  if (!IsValidName(name)) return std::nullopt;
  return ReadWholeFile(PathOf(name, ".devinfo"), kMaxRecordBytes);
}

bool Phonebook::Write(std::string_view name, std::string_view entry, std::string_view deviceInfo) {
  if (!IsValidName(name) || !EnsureDirectory(dir_)) return false;
  // The device info first: a reader that sees the entry sees its device info.
  return ReplaceWholeFile(PathOf(name, ".devinfo"), deviceInfo) && ReplaceWholeFile(PathOf(name, ".entry"), entry);
}

bool Phonebook::Remove(std::string_view name) {
  if (!Contains(name)) return false;
  const bool removed = RemoveFile(PathOf(name, ".entry"));
  RemoveFile(PathOf(name, ".devinfo"));
  return removed;
}

}  // namespace kivo::rasdouble
