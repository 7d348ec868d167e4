// The start-up version check: asks the update host for the latest release
// and compares it with the running one.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "toolkit/Thread.h"

namespace kivo::app {

// The version page is read on a worker thread of the checker, and the
// caller waits for it only until kVersionCheckBoundMs has passed. On Windows
// the deadline's closing of the request ends a blocked WinInet call at
// once; where it does not (Wine lets the call run on until the host stops),
// the worker goes on alone and the checker joins it when it is destroyed.
// So a checker lives as long as start-up runs, and its last step, the
// destruction, is the only one that may wait for the host.
class CUpdateChecker {
 public:
  CUpdateChecker() = default;
  virtual ~CUpdateChecker() = default;
  CUpdateChecker(const CUpdateChecker&) = delete;
  CUpdateChecker& operator=(const CUpdateChecker&) = delete;

  // False when the update host offers a newer version than `runningVersion`;
  // true otherwise (up to date, check skipped, or nothing could be fetched).
  bool IsUpToDate(std::string runningVersion) noexcept;
  // The same, and `latestVersion` receives the version the host announced
  // ("" when nothing was fetched).
  bool IsUpToDate(std::string runningVersion, std::string& latestVersion) noexcept;
  // The 5-byte latest version from the version page, or "" on any failure
  // or once kVersionCheckBoundMs has passed.
  std::string FetchLatestVersion() noexcept;

 private:
  // What the worker read; looked at only once the worker has ended.
  std::string fetched_;
  // Last: joined before anything it writes goes.
  toolkit::WorkerThread fetchThread_;
};

// The version page on the update host.
std::string VersionPageUrl();

// A running version whose last character is an even digit is never checked.
bool SkipsVersionCheck(const std::string& runningVersion) noexcept;

// The version a page body names: the body itself when it is exactly five
// bytes long, "" for any other length.
std::string VersionFromPageBody(const char* body, DWORD length);

// Byte-wise lexicographic order: the first differing byte decides (as an
// unsigned value) and a proper prefix is the smaller.
bool IsNewerVersion(const std::string& latest, const std::string& running) noexcept;

// The decision of IsUpToDate, with the fetch passed in.
bool DecideUpToDate(const std::string& runningVersion, const std::function<std::string()>& fetchLatest);

// How long the whole version check may take, from the first request to the
// decision, whatever the host does: refuse, stay silent, drip its headers or
// its body. Start-up then goes on as if no update existed.
inline constexpr DWORD kVersionCheckBoundMs = 10000;

// Reads the version page at `url` ("http://host[:port]/path") with the
// version session, within `boundMs`; "" when any step fails, the time is up
// or the body is not five bytes.
std::string FetchVersionPage(const std::string& url, DWORD boundMs = kVersionCheckBoundMs) noexcept;

}  // namespace kivo::app
