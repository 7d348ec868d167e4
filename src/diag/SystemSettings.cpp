#include "diag/SystemSettings.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <windns.h>

#include <memory>
#include <vector>

#include "toolkit/Strings.h"

namespace kivo::diag {

SystemFacts ReadFacts(SystemSettings& settings, const std::string& server) {
  SystemFacts facts;
  facts.natTraversal = settings.ReadDword(kNatTraversalKey, kNatTraversalValue);
  facts.prohibitIpsec = settings.ReadDword(kProhibitIpsecKey, kProhibitIpsecValue);
  facts.ikeext = settings.QueryService(kIkeService);
  facts.policyAgent = settings.QueryService(kPolicyAgentService);
  facts.l2tpDevice = settings.L2tpDevice();
  facts.behindNat = settings.BehindNat(server);
  return facts;
}

bool IsPrivateAddress(DWORD networkOrderAddress) noexcept {
  const DWORD a = ::ntohl(networkOrderAddress);
  const auto in = [a](DWORD net, int bits) { return (a >> (32 - bits)) == (net >> (32 - bits)); };
  return in(0x0A000000, 8) || in(0xAC100000, 12) || in(0xC0A80000, 16) || in(0x64400000, 10);
}

// --- The registry -------------------------------------------------------------

DwordSetting WindowsSettings::ReadDword(const wchar_t* key, const wchar_t* value) {
  HKEY handle = nullptr;
  // HKLM\SYSTEM has one view for 32-bit and 64-bit programs; the flag says
  // so explicitly.
  const LONG opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &handle);
  if (opened == ERROR_FILE_NOT_FOUND) return DwordSetting::Absent();
  if (opened != ERROR_SUCCESS) return {};
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof(data);
  const LONG read = ::RegQueryValueExW(handle, value, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  ::RegCloseKey(handle);
  if (read == ERROR_FILE_NOT_FOUND) return DwordSetting::Absent();
  if (read != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(data)) return {};
  return DwordSetting::Of(data);
}

// --- The service manager ------------------------------------------------------

namespace {

struct ServiceHandleClose {
  void operator()(SC_HANDLE handle) const noexcept { ::CloseServiceHandle(handle); }
};
using ServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleClose>;

}  // namespace

ServiceSetting WindowsSettings::QueryService(const wchar_t* name) {
  ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return {};
  ServiceHandle service(::OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
  if (!service) {
    return ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? ServiceSetting::NotInstalled()
                                                            : ServiceSetting{};
  }
  SERVICE_STATUS status = {};
  if (!::QueryServiceStatus(service.get(), &status)) return {};
  DWORD needed = 0;
  ::QueryServiceConfigW(service.get(), nullptr, 0, &needed);
  if (needed == 0) return {};
  std::vector<BYTE> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!::QueryServiceConfigW(service.get(), config, needed, &needed)) return {};
  return ServiceSetting::Of(status.dwCurrentState, config->dwStartType);
}

// --- The NAT --------------------------------------------------------------------

namespace {

// An IPv4 address of `name` from the resolver cache alone: nothing is
// looked up on the wire.
bool CachedAddress(const std::string& name, IPAddr& address) {
  PDNS_RECORD found = nullptr;
  if (::DnsQuery_W(toolkit::WidenAscii(name).c_str(), DNS_TYPE_A, DNS_QUERY_NO_WIRE_QUERY, nullptr, &found,
                   nullptr) != 0) {
    return false;
  }
  bool ok = false;
  for (PDNS_RECORD record = found; record != nullptr && !ok; record = record->pNext) {
    if (record->wType == DNS_TYPE_A && record->wDataLength >= sizeof(DNS_A_DATA)) {
      address = record->Data.A.IpAddress;
      ok = true;
    }
  }
  ::DnsRecordListFree(found, DnsFreeRecordList);
  return ok;
}

bool DefaultRouteInterface(DWORD& index) {
  ULONG size = 0;
  if (::GetIpForwardTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0) return false;
  std::vector<BYTE> buffer(size);
  auto* table = reinterpret_cast<PMIB_IPFORWARDTABLE>(buffer.data());
  if (::GetIpForwardTable(table, &size, TRUE) != NO_ERROR) return false;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    if (table->table[i].dwForwardDest == 0 && table->table[i].dwForwardMask == 0) {
      index = table->table[i].dwForwardIfIndex;
      return true;
    }
  }
  return false;
}

}  // namespace

Presence WindowsSettings::BehindNat(const std::string& server) {
  DWORD index = 0;
  bool found = false;
  if (!server.empty()) {
    // inet_addr has no W form: the address is ASCII bytes.
    IPAddr address = ::inet_addr(server.c_str());
    if (address != INADDR_NONE || CachedAddress(server, address)) {
      found = ::GetBestInterface(address, &index) == NO_ERROR;
    }
  }
  if (!found && !DefaultRouteInterface(index)) return Presence::Unknown;

  ULONG size = 0;
  if (::GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0)
    return Presence::Unknown;
  std::vector<BYTE> buffer(size);
  auto* table = reinterpret_cast<PMIB_IPADDRTABLE>(buffer.data());
  if (::GetIpAddrTable(table, &size, FALSE) != NO_ERROR) return Presence::Unknown;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_IPADDRROW& row = table->table[i];
    if (row.dwIndex != index || row.dwAddr == 0) continue;
    return IsPrivateAddress(row.dwAddr) ? Presence::Yes : Presence::No;
  }
  return Presence::Unknown;
}

}  // namespace kivo::diag
