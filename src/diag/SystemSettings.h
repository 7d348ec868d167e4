// What Windows is set to, as far as an L2TP/IPsec dial depends on it: two
// registry values, two IPsec services, the L2TP device and whether the
// machine sits behind a NAT. Reading needs no administrator. WindowsSettings
// asks the system; the unit tests give a fake.
#pragma once

#include <windows.h>

#include <string>

namespace kivo::diag {

// A REG_DWORD value: not read (no access, another type), absent, or its value.
struct DwordSetting {
  enum class Kind { Unreadable, Absent, Present };
  Kind kind = Kind::Unreadable;
  DWORD value = 0;

  static DwordSetting Absent() noexcept { return {Kind::Absent, 0}; }
  static DwordSetting Of(DWORD v) noexcept { return {Kind::Present, v}; }
  bool Is(DWORD v) const noexcept { return kind == Kind::Present && value == v; }
};

// A service as the service manager describes it. `state` is the
// SERVICE_STOPPED ... SERVICE_PAUSED value, `startType` SERVICE_AUTO_START,
// SERVICE_DEMAND_START, SERVICE_DISABLED, ...
struct ServiceSetting {
  enum class Kind { Unreadable, NotInstalled, Installed };
  Kind kind = Kind::Unreadable;
  DWORD state = 0;
  DWORD startType = 0;

  static ServiceSetting NotInstalled() noexcept { return {Kind::NotInstalled, 0, 0}; }
  static ServiceSetting Of(DWORD state, DWORD startType) noexcept {
    return {Kind::Installed, state, startType};
  }
  bool Disabled() const noexcept { return kind == Kind::Installed && startType == SERVICE_DISABLED; }
  bool Stopped() const noexcept { return kind == Kind::Installed && state == SERVICE_STOPPED; }
};

// Yes, no, or could not be told.
enum class Presence { Unknown, No, Yes };

// HKLM\SYSTEM\CurrentControlSet\Services\PolicyAgent: 2 lets Windows use
// L2TP/IPsec when the client or the server is behind a NAT.
inline constexpr wchar_t kNatTraversalKey[] = L"SYSTEM\\CurrentControlSet\\Services\\PolicyAgent";
inline constexpr wchar_t kNatTraversalValue[] = L"AssumeUDPEncapsulationContextOnSendRule";
inline constexpr DWORD kNatTraversalAllowed = 2;
// HKLM\SYSTEM\CurrentControlSet\Services\RasMan\Parameters: 1 keeps the
// dialler from using IPsec for L2TP at all.
inline constexpr wchar_t kProhibitIpsecKey[] = L"SYSTEM\\CurrentControlSet\\Services\\RasMan\\Parameters";
inline constexpr wchar_t kProhibitIpsecValue[] = L"ProhibitIpSec";
// The IPsec services: "IKE and AuthIP IPsec Keying Modules" and "IPsec
// Policy Agent".
inline constexpr wchar_t kIkeService[] = L"IKEEXT";
inline constexpr wchar_t kPolicyAgentService[] = L"PolicyAgent";

// Everything the diagnosis looks at, read once after a failure.
struct SystemFacts {
  DwordSetting natTraversal;
  DwordSetting prohibitIpsec;
  ServiceSetting ikeext;
  ServiceSetting policyAgent;
  Presence l2tpDevice = Presence::Unknown;
  Presence behindNat = Presence::Unknown;
};

class SystemSettings {
 public:
  virtual ~SystemSettings() = default;
  // A value under HKEY_LOCAL_MACHINE.
  virtual DwordSetting ReadDword(const wchar_t* key, const wchar_t* value) = 0;
  virtual ServiceSetting QueryService(const wchar_t* name) = 0;
  // A VPN device of the dialler whose name holds "L2TP" (the WAN miniport,
  // named in the language of the system's RAS library).
  virtual Presence L2tpDevice() = 0;
  // `server` is what the entry dials: a dotted IPv4 address or a host name.
  virtual Presence BehindNat(const std::string& server) = 0;
};

// Reads every fact through `settings`.
SystemFacts ReadFacts(SystemSettings& settings, const std::string& server);

// Whether an IPv4 address (network byte order) is one that only a NAT
// takes to the Internet: RFC 1918 (10/8, 172.16/12, 192.168/16) or the
// carrier-grade shared range of RFC 6598 (100.64/10).
bool IsPrivateAddress(DWORD networkOrderAddress) noexcept;

// The system itself: the registry (the 64-bit view, also from the 32-bit
// program), the service manager, rasapi32 and the routing table.
class WindowsSettings : public SystemSettings {
 public:
  DwordSetting ReadDword(const wchar_t* key, const wchar_t* value) override;
  ServiceSetting QueryService(const wchar_t* name) override;
  Presence L2tpDevice() override;
  // Behind a NAT: the IPv4 address of the interface the system would send
  // to the server through (for a name the resolver cache does not hold, the
  // interface of the default route) is private. A public address there
  // means no NAT on this side; the rule reads the routing table only and
  // sends nothing.
  Presence BehindNat(const std::string& server) override;
};

}  // namespace kivo::diag
