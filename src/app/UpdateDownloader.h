// Downloads the updater program from the update host into the directory of
// the running executable.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <string>

#include "toolkit/Thread.h"

namespace kivo::app {

// What a download has received so far, read by another thread while it
// runs, and its cancellation: a cancelled download stops at its next chunk
// and fails.
struct DownloadProgress {
  std::atomic<long long> received{0};
  std::atomic<long long> expected{0};  // the Content-Length once accepted
  std::atomic<bool> cancelled{false};
};

class CUpdateDownloader {
 public:
  CUpdateDownloader() = default;
  virtual ~CUpdateDownloader() = default;
  CUpdateDownloader(const CUpdateDownloader&) = delete;
  CUpdateDownloader& operator=(const CUpdateDownloader&) = delete;

  // True when "KivoUpdate.exe" beside the executable was written completely,
  // else false. A missing or oversized Content-Length is refused before anything
  // is written, more bytes than announced stop the download, and the whole
  // download is bounded by kDownloadBoundMs. `updaterPath` is emptied first
  // and receives the file's full path only on success; `exeName` receives
  // the running executable's file name as soon as the host has answered
  // with status 200.
  // With `progress`, the bytes received are counted there and a
  // cancellation there ends the download.
  bool Download(std::wstring& updaterPath, std::wstring& exeName,
                DownloadProgress* progress = nullptr) noexcept;
};

// The update host's download on a worker of its own, so that start-up can
// show its progress and let the user cancel it. The worker keeps within
// kDownloadBoundMs; where a cancelled WinInet call runs on (Wine), the job
// waits for it when it is destroyed, so a job lives as long as start-up.
class UpdateDownloadJob {
 public:
  UpdateDownloadJob() = default;
  UpdateDownloadJob(const UpdateDownloadJob&) = delete;
  UpdateDownloadJob& operator=(const UpdateDownloadJob&) = delete;

  // False when the worker could not be started.
  bool Start();
  // True once the worker has ended, waiting up to `ms` for it.
  bool Wait(DWORD ms) const noexcept { return thread_.Wait(ms); }
  void Cancel() noexcept { progress_.cancelled = true; }
  const DownloadProgress& Progress() const noexcept { return progress_; }
  // What Download answered: whether the updater was written. Read only once
  // Wait says the worker ended.
  bool Downloaded() const noexcept { return downloaded_; }
  const std::wstring& UpdaterPath() const noexcept { return updaterPath_; }
  const std::wstring& ExeName() const noexcept { return exeName_; }

 private:
  DownloadProgress progress_;
  bool downloaded_ = false;
  std::wstring updaterPath_;
  std::wstring exeName_;
  // Last: joined before anything it writes goes.
  toolkit::WorkerThread thread_;
};

// The expected body length from a Content-Length text, read the way atoi
// reads: leading white space, an optional sign, then decimal digits up to
// the first other character; 0 when there are none. Values beyond the
// 64-bit range are held at its limits.
long long ParseContentLength(const std::string& text) noexcept;

// The largest updater a host may announce: far above any release.
inline constexpr long long kMaxUpdaterBytes = 64ll * 1024 * 1024;
// How long a whole download may take, from the request to the last byte,
// whatever the host does. A host that sends a byte every few seconds must
// not hold start-up for good.
inline constexpr DWORD kDownloadBoundMs = 60000;

// Where a download goes and how long it may take.
struct DownloadTarget {
  std::string host;
  INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
  std::string object;
  DWORD boundMs = kDownloadBoundMs;
  DownloadProgress* progress = nullptr;
};

// Whether an announced Content-Length (as ParseContentLength reads it) is
// one the download accepts: a present, positive length of at most
// kMaxUpdaterBytes.
bool IsAcceptableUpdaterLength(long long expected) noexcept;

// The download itself, against any host; Download uses the update host.
bool DownloadUpdater(const DownloadTarget& target, std::wstring& updaterPath, std::wstring& exeName) noexcept;

}  // namespace kivo::app
