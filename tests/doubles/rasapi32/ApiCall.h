// The frame of every exported function: where the double keeps its files,
// the control file of this call, and the line it leaves in calls.log.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "ControlFile.h"
#include "LogLine.h"
#include "Phonebook.h"
#include "RasService.h"

namespace kivo::rasdouble {

// KIVO_RAS_DIR (a Windows path, or a Unix path that is reached through
// drive Z:), or else the directory this library was loaded from; in UTF-8.
std::string RasDirectory();

class ApiCall {
 public:
  explicit ApiCall(const char* function);

  const std::string& Dir() const { return dir_; }
  LogLine& Line() { return line_; }
  Phonebook Book() const { return Phonebook(dir_); }
  // Loaded on first use, so calls that need no key do not read the file.
  const ControlFile& Control();
  ControlSource Source();
  // A key whose presence overrides what the call would otherwise return.
  std::optional<DWORD> Forced(const char* key);

  // Adds the result to the line and writes it; later calls do nothing, so a
  // function may log before it lets a dial script run.
  DWORD Finish(DWORD result);

 private:
  std::string dir_;
  LogLine line_;
  std::optional<ControlFile> control_;
  bool logged_ = false;
};

// Runs `body` in a fresh ApiCall and logs its result. No exception leaves an
// exported function: running out of memory gives ERROR_NOT_ENOUGH_MEMORY.
template <typename Body>
DWORD RunApiCall(const char* function, Body&& body) noexcept {
  try {
    ApiCall call(function);
    return call.Finish(body(call));
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // namespace kivo::rasdouble
