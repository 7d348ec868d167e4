#include "app/UpdateChecker.h"

#include <wininet.h>

#include <cwchar>

#include "ServiceEndpoints.h"
#include "app/InternetDeadline.h"
#include "app/InternetHandle.h"
#include "app/UpdatePaths.h"
#include "toolkit/Strings.h"

namespace kivo::app {

namespace {

constexpr DWORD_PTR kContext = 1;
constexpr DWORD kVersionLength = 5;
constexpr DWORD kPageBufferSize = 100;
constexpr DWORD kHostBufferSize = INTERNET_MAX_HOST_NAME_LENGTH + 1;
constexpr DWORD kPathBufferSize = 2048;

// Host, port and object of an http URL; false for anything else.
struct HttpTarget {
  wchar_t host[kHostBufferSize] = {};
  wchar_t path[kPathBufferSize] = {};
  INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
};

bool CrackHttpUrl(const std::string& asciiUrl, HttpTarget& target) {
  const std::wstring url = toolkit::WidenAscii(asciiUrl);
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = target.host;
  parts.dwHostNameLength = kHostBufferSize;
  parts.lpszUrlPath = target.path;
  parts.dwUrlPathLength = kPathBufferSize;
  if (url.size() >= kPathBufferSize) return false;
  if (!::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return false;
  if (parts.nScheme != INTERNET_SCHEME_HTTP || target.host[0] == L'\0') return false;
  if (target.path[0] == L'\0') std::wcscpy(target.path, L"/");
  target.port = parts.nPort;
  return true;
}

}  // namespace

std::string VersionPageUrl() {
  return std::string("http://") + endpoints::kUpdateHost + kUpdateFolder + kVersionPageName;
}

bool SkipsVersionCheck(const std::string& runningVersion) noexcept {
  if (runningVersion.empty()) return false;
  const char last = runningVersion.back();
  return last == '0' || last == '2' || last == '4' || last == '6' || last == '8';
}

std::string VersionFromPageBody(const char* body, DWORD length) {
  if (body == nullptr || length != kVersionLength) return std::string();
  return std::string(body, length);
}

bool IsNewerVersion(const std::string& latest, const std::string& running) noexcept {
  // std::char_traits<char> compares as unsigned char, like memcmp.
  return latest.compare(running) > 0;
}

bool DecideUpToDate(const std::string& runningVersion, const std::function<std::string()>& fetchLatest) {
  if (SkipsVersionCheck(runningVersion)) return true;
  const std::string latest = fetchLatest();
  if (latest.empty()) return true;
  return !IsNewerVersion(latest, runningVersion);
}

std::string FetchVersionPage(const std::string& url, DWORD boundMs) noexcept {
  try {
    HttpTarget target;
    if (!CrackHttpUrl(url, target)) return std::string();
    // From here on one deadline bounds everything; it closes the handles.
    InternetDeadline deadline(boundMs);
    HINTERNET session =
        deadline.Hold(::InternetOpenW(L"version", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (session == nullptr) return std::string();

    // The page is requested through a connection and a request of our own
    // rather than InternetOpenUrl: the same GET goes out, but the request
    // handle exists before anything is sent, so the deadline holds it and
    // its single waits can be bounded too (see BoundRequestWaits).
    HINTERNET connection = deadline.Hold(::InternetConnectW(session, target.host, target.port, nullptr,
                                                            nullptr, INTERNET_SERVICE_HTTP, 0, kContext));
    if (connection == nullptr) return std::string();
    // The newest answer or none: never a cached one, and nothing kept.
    const DWORD flags = INTERNET_FLAG_TRANSFER_ASCII | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    HINTERNET request = deadline.Hold(
        ::HttpOpenRequestW(connection, L"GET", target.path, nullptr, nullptr, nullptr, flags, kContext));
    if (request == nullptr) return std::string();
    BoundRequestWaits(request, true);
    if (!::HttpSendRequestW(request, nullptr, 0, nullptr, 0)) return std::string();

    // One read only; the status of the answer is not looked at, only the
    // length of what the first read brings.
    char body[kPageBufferSize] = {};
    DWORD read = 0;
    if (!::InternetReadFile(request, body, kPageBufferSize, &read)) return std::string();
    // Bytes that came in while the deadline closed the request do not count.
    if (deadline.Expired()) return std::string();
    return VersionFromPageBody(body, read > kPageBufferSize ? 0 : read);
  } catch (...) {
    // What the URL's and the page's strings throw (the standard library's
    // std::bad_alloc and std::length_error when memory runs out; our code
    // throws nothing of its own): the version check's worker calls this
    // noexcept function, and a page that cannot be read offers no update.
    return std::string();
  }
}

bool CUpdateChecker::IsUpToDate(std::string runningVersion) noexcept {
  std::string latestVersion;
  return IsUpToDate(std::move(runningVersion), latestVersion);
}

bool CUpdateChecker::IsUpToDate(std::string runningVersion, std::string& latestVersion) noexcept {
  try {
    latestVersion.clear();
    return DecideUpToDate(runningVersion, [this, &latestVersion] {
      latestVersion = FetchLatestVersion();
      return latestVersion;
    });
  } catch (...) {
    // What the fetch's function object and the version strings throw (the
    // standard library's std::bad_alloc and std::length_error when memory
    // runs out; our code throws nothing of its own): start-up calls this
    // noexcept check, and a check that cannot be made finds no update.
    return true;
  }
}

std::string CUpdateChecker::FetchLatestVersion() noexcept {
  try {
    // A fetch given up earlier may still be held by its host.
    if (fetchThread_.Running()) return std::string();
    fetched_.clear();
    const std::string url = VersionPageUrl();
    if (!fetchThread_.Start([this, url] { fetched_ = FetchVersionPage(url, kVersionCheckBoundMs); })) {
      return std::string();
    }
    // The worker's own deadline closes its handles at the same moment.
    if (!fetchThread_.Wait(kVersionCheckBoundMs)) return std::string();
    return fetched_;
  } catch (...) {
    // What the URL, the worker's function object and the copy of its answer
    // throw (the standard library's std::bad_alloc and std::length_error when
    // memory runs out; our code throws nothing of its own; what the worker's
    // body throws stays in the worker): the function is noexcept, and a
    // version that cannot be fetched is none.
    return std::string();
  }
}

}  // namespace kivo::app
