#include "vpn/NetworkCheck.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <windns.h>

#include <memory>
#include <optional>
#include <vector>

#include "toolkit/Strings.h"

namespace kivo::vpn {

namespace {

struct DnsRecordsFree {
  void operator()(PDNS_RECORD records) const noexcept { ::DnsRecordListFree(records, DnsFreeRecordList); }
};
using DnsRecords = std::unique_ptr<DNS_RECORD, DnsRecordsFree>;

// An IPv4 address of `name` from the resolver cache alone.
std::optional<IPAddr> CachedAddress(const std::string& name) {
  PDNS_RECORD found = nullptr;
  if (::DnsQuery_W(toolkit::WidenAscii(name).c_str(), DNS_TYPE_A, DNS_QUERY_NO_WIRE_QUERY, nullptr, &found, nullptr) != 0) {
    return std::nullopt;
  }
  DnsRecords records(found);
  for (PDNS_RECORD record = records.get(); record != nullptr; record = record->pNext) {
    if (record->wType == DNS_TYPE_A && record->wDataLength >= sizeof(DNS_A_DATA))
      return record->Data.A.IpAddress;
  }
  return std::nullopt;
}

bool HasDefaultRoute() {
  ULONG size = 0;
  if (::GetIpForwardTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0) return false;
  std::vector<BYTE> buffer(size);
  auto* table = reinterpret_cast<PMIB_IPFORWARDTABLE>(buffer.data());
  if (::GetIpForwardTable(table, &size, FALSE) != NO_ERROR) return false;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    if (table->table[i].dwForwardDest == 0 && table->table[i].dwForwardMask == 0) return true;
  }
  return false;
}

bool HasRouteTo(IPAddr address) {
  DWORD index = 0;
  return ::GetBestInterface(address, &index) == NO_ERROR;
}

}  // namespace

bool RouteCheck::RouteTo(const std::string& server) {
  if (!server.empty()) {
    // inet_addr has no W form: the address is ASCII bytes.
    const IPAddr address = ::inet_addr(server.c_str());
    if (address != INADDR_NONE) return HasRouteTo(address);
    if (auto cached = CachedAddress(server)) return HasRouteTo(*cached);
  }
  return HasDefaultRoute();
}

}  // namespace kivo::vpn
