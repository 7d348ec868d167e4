// Whole-file reads and writes for the double's files. Paths are UTF-8.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kivo::rasdouble {

// The file's bytes, at most `maxBytes` of them; nothing when it cannot be opened.
std::optional<std::string> ReadWholeFile(const std::string& path, size_t maxBytes);
// Writes a sibling file and moves it into place, so that a reader sees either
// the old content or the new, never a half-written file.
bool ReplaceWholeFile(const std::string& path, std::string_view bytes);
// Appends in one write; the file is created when missing.
bool AppendToFile(const std::string& path, std::string_view bytes);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
bool RemoveFile(const std::string& path);
// Creates the directory and its missing parents.
bool EnsureDirectory(const std::string& path);

}  // namespace kivo::rasdouble
