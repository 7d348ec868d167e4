// Downloads the updater program from the update host into the directory of
// the running executable.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

namespace kivo::app {

class CUpdateDownloader {
 public:
  CUpdateDownloader() = default;
  virtual ~CUpdateDownloader() = default;
  CUpdateDownloader(const CUpdateDownloader&) = delete;
  CUpdateDownloader& operator=(const CUpdateDownloader&) = delete;

  // 1 when "KivoUpdate.exe" beside the executable was written completely,
  // else 0. `updaterPath` is emptied first and receives the file's full path
  // only on success; `exeName` receives the running executable's file name
  // as soon as the host has answered with status 200.
  int Download(std::string& updaterPath, std::string& exeName) noexcept;
};

// The expected body length from a Content-Length text, read the way atoi
// reads: leading white space, an optional sign, then decimal digits up to
// the first other character; 0 when there are none. Values beyond the
// 64-bit range are held at its limits.
long long ParseContentLength(const std::string& text) noexcept;

// Where a download goes and what it reports back.
struct DownloadTarget {
  std::string host;
  INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
  std::string object;
};

// The download itself, against any host; Download uses the update host.
int DownloadUpdater(const DownloadTarget& target, std::string& updaterPath, std::string& exeName) noexcept;

}  // namespace kivo::app
