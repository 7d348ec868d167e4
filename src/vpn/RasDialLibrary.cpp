#include "vpn/RasDialLibrary.h"

#include <cstring>
#include <iterator>

#include "toolkit/Strings.h"
#include "vpn/DialNotifier.h"
#include "vpn/RasRecords.h"

namespace kivo::vpn {

namespace {
constexpr size_t kMaxCredential = 255;
constexpr DWORD kNotifierType = 2;  // RASDIALFUNC2: it receives the callback id
}  // namespace

DWORD RasDialLibrary::Dial(const std::wstring& user, const std::wstring& password, unsigned slot,
                           HRASCONN& handle) {
  RASDIALPARAMSW params;
  std::memset(&params, 0, sizeof(params));
  params.dwSize = sizeof(params);
  toolkit::CopyTruncated(params.szEntryName, kEntryName);
  toolkit::CopyTruncated(params.szUserName, kMaxCredential + 1, user);
  toolkit::CopyTruncated(params.szPassword, kMaxCredential + 1, password);
  params.dwCallbackId = reinterpret_cast<ULONG_PTR>(noticeWindow_);

  handle = nullptr;
  DWORD result = ::RasDialW(nullptr, phonebook_.Path(), &params, kNotifierType,
                            reinterpret_cast<LPVOID>(NotifierOfSlot(slot)), &handle);
  ::SecureZeroMemory(&params, sizeof(params));
  return result;
}

void RasDialLibrary::HangUp(HRASCONN handle) { ::RasHangUpW(handle); }

DWORD RasDialLibrary::ConnectStatus(HRASCONN handle, DWORD& state) {
  RASCONNSTATUSW status;
  std::memset(&status, 0, sizeof(status));
  status.dwSize = sizeof(status);
  const DWORD result = ::RasGetConnectStatusW(handle, &status);
  state = static_cast<DWORD>(status.rasconnstate);
  return result;
}

bool RasDialLibrary::ProjectedAddress(HRASCONN handle, std::wstring& address) {
  RASPPPIPW projection;
  std::memset(&projection, 0, sizeof(projection));
  projection.dwSize = sizeof(projection);
  DWORD size = sizeof(projection);
  if (::RasGetProjectionInfoW(handle, RASP_PppIp, &projection, &size) != 0) return false;
  projection.szIpAddress[std::size(projection.szIpAddress) - 1] = L'\0';
  address = projection.szIpAddress;
  return true;
}

bool RasDialLibrary::Statistics(HRASCONN handle, LinkStatistics& statistics) {
  RAS_STATS stats;
  std::memset(&stats, 0, sizeof(stats));
  stats.dwSize = sizeof(stats);
  if (::RasGetConnectionStatistics(handle, &stats) != 0) return false;
  statistics = {stats.dwBps, stats.dwBytesXmited, stats.dwBytesRcved};
  return true;
}

}  // namespace kivo::vpn
