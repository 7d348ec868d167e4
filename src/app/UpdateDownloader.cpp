#include "app/UpdateDownloader.h"

#include <climits>

#include "ServiceEndpoints.h"
#include "app/InternetDeadline.h"
#include "app/InternetHandle.h"
#include "app/UpdatePaths.h"
#include "toolkit/Handle.h"
#include "toolkit/Strings.h"

namespace kivo::app {

namespace {

constexpr DWORD_PTR kContext = 1;
constexpr DWORD kConnectTimeoutMs = 30000;
constexpr DWORD kConnectBackoffMs = 1000;
constexpr DWORD kConnectRetries = 1;
constexpr DWORD kChunkSize = 1024;
constexpr DWORD kHttpOk = 200;

DWORD QueryStatusCode(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
    return 0;
  }
  return status;
}

// The Content-Length header as text; empty when the answer has none.
// HttpQueryInfoW counts the buffer and the answer in bytes.
std::string QueryContentLengthText(HINTERNET request) {
  wchar_t small[64] = {};
  DWORD size = sizeof(small) - sizeof(wchar_t);
  if (::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, small, &size, nullptr)) {
    const size_t units = size < sizeof(small) ? size / sizeof(wchar_t) : 0;
    return toolkit::ToUtf8(std::wstring_view(small, units));
  }
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0 || size > 65536) return std::string();
  // An absurdly long header value: fetch it whole, the parse decides.
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  DWORD length = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (!::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text.data(), &length, nullptr))
    return std::string();
  text.resize(length / sizeof(wchar_t) < text.size() ? length / sizeof(wchar_t) : 0);
  return toolkit::ToUtf8(text);
}

bool WriteAll(HANDLE file, const char* data, DWORD length) {
  while (length > 0) {
    DWORD written = 0;
    if (!::WriteFile(file, data, length, &written, nullptr) || written == 0 || written > length) return false;
    data += written;
    length -= written;
  }
  return true;
}

}  // namespace

long long ParseContentLength(const std::string& text) noexcept {
  std::string::size_type i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (value > (LLONG_MAX - digit) / 10) return negative ? LLONG_MIN : LLONG_MAX;
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

bool IsAcceptableUpdaterLength(long long expected) noexcept {
  return expected > 0 && expected <= kMaxUpdaterBytes;
}

namespace {

// Sends the GET for the updater and hands back the request once the host
// has answered with status 200; null otherwise. The deadline holds the
// session, the connection and the request.
HINTERNET RequestUpdater(InternetDeadline& deadline, const DownloadTarget& target) {
  HINTERNET session =
      deadline.Hold(::InternetOpenW(L"KivoDownload", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (session == nullptr) return nullptr;
  SetInternetOption(session, INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs);
  SetInternetOption(session, INTERNET_OPTION_CONNECT_BACKOFF, kConnectBackoffMs);
  SetInternetOption(session, INTERNET_OPTION_CONNECT_RETRIES, kConnectRetries);
  HINTERNET connection = deadline.Hold(::InternetConnectW(session, toolkit::WidenAscii(target.host).c_str(), target.port, nullptr,
                                                          nullptr, INTERNET_SERVICE_HTTP, 0, kContext));
  if (connection == nullptr) return nullptr;
  // The updater always comes fresh from the host and never fills the cache.
  const DWORD flags = INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
  HINTERNET request = deadline.Hold(::HttpOpenRequestW(connection, L"GET", toolkit::WidenAscii(target.object).c_str(), nullptr,
                                                       nullptr, nullptr, flags, kContext));
  if (request == nullptr) return nullptr;
  // The session's 30 s connect time-out stays; each wait of sending and
  // reading is bounded here, and the whole download by the deadline.
  BoundRequestWaits(request, false);
  ::HttpAddRequestHeadersW(request, L"Accept: */*\r\n", static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  ::HttpAddRequestHeadersW(request, L"User-Agent: KivoVpn\r\n", static_cast<DWORD>(-1),
                           HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  if (!::HttpSendRequestW(request, nullptr, 0, nullptr, 0)) return nullptr;
  if (QueryStatusCode(request) != kHttpOk) return nullptr;
  return request;
}

// Copies the answer's body into `file`: true when exactly `expected` bytes
// came. A dripping host is ended by the deadline, which closes the request.
bool CopyBody(HINTERNET request, HANDLE file, long long expected, DownloadProgress* progress) {
  char chunk[kChunkSize];
  long long total = 0;
  for (;;) {
    if (progress != nullptr && progress->cancelled) return false;
    // A read waits until it has all it asked for, so it asks only for what
    // has arrived. Waiting for the next bytes is bounded by the receive
    // time-out; none available means the body has ended.
    DWORD available = 0;
    if (!::InternetQueryDataAvailable(request, &available, 0, 0)) return false;
    if (available == 0) break;
    DWORD read = 0;
    if (!::InternetReadFile(request, chunk, available < kChunkSize ? available : kChunkSize, &read)) {
      return false;
    }
    if (read == 0) break;
    // More than announced: the answer is not the file it claims to be.
    if (read > kChunkSize || read > expected - total) return false;
    if (!WriteAll(file, chunk, read)) return false;
    total += read;
    if (progress != nullptr) progress->received = total;
  }
  return total == expected;
}

}  // namespace

bool DownloadUpdater(const DownloadTarget& target, std::wstring& updaterPath, std::wstring& exeName) noexcept {
  try {
    updaterPath.clear();
    InternetDeadline deadline(target.boundMs);
    HINTERNET request = RequestUpdater(deadline, target);
    if (request == nullptr) return false;

    std::wstring targetPath;
    if (!GetLocalUpdaterPath(targetPath, exeName)) return false;
    // Nothing is written for an answer that does not say how much follows,
    // or announces more than any updater can be.
    const long long expected = ParseContentLength(QueryContentLengthText(request));
    if (!IsAcceptableUpdaterLength(expected)) return false;
    if (target.progress != nullptr) target.progress->expected = expected;

    toolkit::UniqueFileHandle file(::CreateFileW(targetPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    const bool complete = CopyBody(request, file.Get(), expected, target.progress);
    // Closing flushes; a file that cannot be closed cleanly is not complete.
    if (!::CloseHandle(file.Release()) || !complete || deadline.Expired()) return false;
    updaterPath = std::move(targetPath);
    return true;
  } catch (...) {
    // What building the request's texts and the updater's path throws (the
    // standard library's std::bad_alloc and std::length_error when memory
    // runs out; our code throws nothing of its own): the download's worker
    // calls this noexcept function, and the download fails.
    updaterPath.clear();
    return false;
  }
}

bool CUpdateDownloader::Download(std::wstring& updaterPath, std::wstring& exeName,
                                 DownloadProgress* progress) noexcept {
  return DownloadUpdater(
      DownloadTarget{endpoints::kUpdateHost, INTERNET_DEFAULT_HTTP_PORT,
                     std::string(kUpdateFolder) + kLocalUpdaterName, kDownloadBoundMs, progress},
      updaterPath, exeName);
}

bool UpdateDownloadJob::Start() {
  return thread_.Start([this] {
    CUpdateDownloader downloader;
    downloaded_ = downloader.Download(updaterPath_, exeName_, &progress_);
  });
}

}  // namespace kivo::app
