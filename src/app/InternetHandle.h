// Owner of a WinInet handle (session, connection, request or URL).
#pragma once

#include <windows.h>
#include <wininet.h>

#include "toolkit/Handle.h"

namespace kivo::app {

using UniqueInternetHandle = toolkit::UniqueHandle<toolkit::ClosedBy<HINTERNET, ::InternetCloseHandle>>;

// Sets a 4-byte option on a WinInet handle; false when WinInet refuses it.
inline bool SetInternetOption(HINTERNET h, DWORD option, DWORD value) noexcept {
  return ::InternetSetOptionW(h, option, &value, sizeof(value)) != FALSE;
}

// How long an update request may wait for the update host: to connect, to
// hand over the request, and between two pieces of the answer. A host that
// accepts the connection and then stays silent must not hold start-up.
inline constexpr DWORD kUpdateHostWaitMs = 5000;

// Bounds the waits of one request. The values go on the request handle
// itself: Wine 8 ignores INTERNET_OPTION_RECEIVE_TIMEOUT and
// INTERNET_OPTION_SEND_TIMEOUT on a session handle (a silent host then blocks
// HttpSendRequest for good) but honours all three options on a connection
// or request handle, where HttpSendRequest and InternetReadFile then fail
// after the time given (ERROR_INTERNET_CONNECTION_ABORTED, WSAETIMEDOUT).
// Windows honours them on every kind of handle. `includingConnect` is false
// where the session's own connect time-out is to stay in force.
inline void BoundRequestWaits(HINTERNET request, bool includingConnect) noexcept {
  if (includingConnect) SetInternetOption(request, INTERNET_OPTION_CONNECT_TIMEOUT, kUpdateHostWaitMs);
  SetInternetOption(request, INTERNET_OPTION_SEND_TIMEOUT, kUpdateHostWaitMs);
  SetInternetOption(request, INTERNET_OPTION_RECEIVE_TIMEOUT, kUpdateHostWaitMs);
}

}  // namespace kivo::app
