#include "FileIo.h"

#include <windows.h>

#include <algorithm>

#include "Utf8.h"
#include "toolkit/Handle.h"

namespace kivo::rasdouble {

using toolkit::UniqueFileHandle;

namespace {

// Paths are UTF-8 inside the double and reach the system in UTF-16.
std::wstring W(const std::string& path) { return WideFromUtf8(path); }

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path, size_t maxBytes) {
  UniqueFileHandle file(::CreateFileW(W(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::string content;
  char chunk[4096];
  while (content.size() < maxBytes) {
    const DWORD want = static_cast<DWORD>(std::min(sizeof chunk, maxBytes - content.size()));
    DWORD got = 0;
    if (!::ReadFile(file.Get(), chunk, want, &got, nullptr)) return std::nullopt;
    if (got == 0) break;
    content.append(chunk, got);
  }
  return content;
}

namespace {

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1 << 20));
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

}  // namespace

bool ReplaceWholeFile(const std::string& path, std::string_view bytes) {
  const std::string temporary = path + ".tmp" + std::to_string(::GetCurrentThreadId());
  {
    UniqueFileHandle file(::CreateFileW(W(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    if (!WriteAll(file.Get(), bytes)) {
      file.Reset();
      ::DeleteFileW(W(temporary).c_str());
      return false;
    }
  }
  if (!::MoveFileExW(W(temporary).c_str(), W(path).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    ::DeleteFileW(W(temporary).c_str());
    return false;
  }
  return true;
}

bool AppendToFile(const std::string& path, std::string_view bytes) {
  UniqueFileHandle file(::CreateFileW(W(path).c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  return WriteAll(file.Get(), bytes);
}

bool FileExists(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(W(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(W(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RemoveFile(const std::string& path) { return ::DeleteFileW(W(path).c_str()) != 0; }

bool EnsureDirectory(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = ::GetFileAttributesW(W(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const size_t slash = path.find_last_of('\\');
  // Stop at the drive ("Z:") rather than recursing past it.
  if (slash != std::string::npos && slash > 2) EnsureDirectory(path.substr(0, slash));
  return ::CreateDirectoryW(W(path).c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace kivo::rasdouble
