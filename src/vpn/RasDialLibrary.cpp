#include "vpn/RasDialLibrary.h"

#include <cstring>

#include "toolkit/Strings.h"
#include "vpn/DialNotifier.h"
#include "vpn/RasRecords.h"

namespace kivo::vpn {

namespace {
constexpr size_t kMaxCredential = 255;
constexpr DWORD kNotifierType = 2;  // RASDIALFUNC2: it receives the callback id
}  // namespace

DWORD RasDialLibrary::Dial(const std::string& user, const std::string& password, unsigned slot,
                           HRASCONN& handle) {
  RASDIALPARAMSA params;
  std::memset(&params, 0, sizeof(params));
  params.dwSize = sizeof(params);
  toolkit::CopyTruncated(params.szEntryName, sizeof(params.szEntryName), kEntryName);
  toolkit::CopyTruncated(params.szUserName, kMaxCredential + 1, user);
  toolkit::CopyTruncated(params.szPassword, kMaxCredential + 1, password);
  params.dwCallbackId = reinterpret_cast<ULONG_PTR>(noticeWindow_);

  handle = nullptr;
  DWORD result = ::RasDialA(nullptr, phonebook_.Path(), &params, kNotifierType,
                            reinterpret_cast<LPVOID>(NotifierOfSlot(slot)), &handle);
  ::SecureZeroMemory(&params, sizeof(params));
  return result;
}

void RasDialLibrary::HangUp(HRASCONN handle) { ::RasHangUpA(handle); }

DWORD RasDialLibrary::ConnectStatus(HRASCONN handle, DWORD& state) {
  RASCONNSTATUSA status;
  std::memset(&status, 0, sizeof(status));
  status.dwSize = sizeof(status);
  const DWORD result = ::RasGetConnectStatusA(handle, &status);
  state = static_cast<DWORD>(status.rasconnstate);
  return result;
}

bool RasDialLibrary::ProjectedAddress(HRASCONN handle, std::string& address) {
  RASPPPIPA projection;
  std::memset(&projection, 0, sizeof(projection));
  projection.dwSize = sizeof(projection);
  DWORD size = sizeof(projection);
  if (::RasGetProjectionInfoA(handle, RASP_PppIp, &projection, &size) != 0) return false;
  projection.szIpAddress[sizeof(projection.szIpAddress) - 1] = '\0';
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
