#include "diag/Diagnosis.h"

#include "resource.h"
#include "toolkit/Strings.h"
#include "vpn/RasRecords.h"

namespace kivo::diag {

namespace {

// Later systems' names of codes the RAS headers of this build lack.
constexpr DWORD kVpnTimeout = 809;        // ERROR_VPN_TIMEOUT
constexpr DWORD kIpsecNegotiation = 789;  // ERROR_OAKLEY_GENERAL_PROCESSING
constexpr DWORD kNoCertificate = 766;     // ERROR_NO_CERTIFICATE
constexpr DWORD kEncryptionFailed = 781;  // ERROR_OAKLEY_NO_CERT
constexpr DWORD kNoPppProtocols = 720;    // ERROR_PPP_NO_PROTOCOLS_CONFIGURED
constexpr DWORD kPortDisconnected = 628;  // ERROR_PORT_DISCONNECTED

// The registry fixes, as reg.exe takes them.
const FixAction kAllowNatTraversal{L"reg.exe",
                                   L"add \"HKLM\\SYSTEM\\CurrentControlSet\\Services\\PolicyAgent\" /v "
                                   L"AssumeUDPEncapsulationContextOnSendRule /t REG_DWORD /d 2 /f"};
const FixAction kAllowIpsec{
    L"reg.exe",
    L"add \"HKLM\\SYSTEM\\CurrentControlSet\\Services\\RasMan\\Parameters\" /v ProhibitIpSec /t "
    L"REG_DWORD /d 0 /f"};

FixAction EnableService(const wchar_t* name) {
  return {L"sc.exe", std::wstring(L"config ") + name + L" start= demand"};
}
FixAction StartService(const wchar_t* name) { return {L"sc.exe", std::wstring(L"start ") + name}; }

// A service the IPsec dial needs: what is wrong with it, and its fixes.
void CheckService(const ServiceSetting& service, const wchar_t* name, Cause missing, Cause disabled,
                  Cause stopped, Findings& findings) {
  if (service.kind == ServiceSetting::Kind::NotInstalled) {
    findings.causes.push_back(missing);
    return;
  }
  if (service.Disabled()) {
    findings.causes.push_back(disabled);
    findings.fixes.push_back(EnableService(name));
    findings.fixes.push_back(StartService(name));
  } else if (service.Stopped()) {
    findings.causes.push_back(stopped);
    findings.fixes.push_back(StartService(name));
  }
}

}  // namespace

bool IsDiagnosed(DWORD code) noexcept {
  switch (code) {
    case kVpnTimeout:
    case kIpsecNegotiation:
    case kNoCertificate:
    case kEncryptionFailed:
    case kNoPppProtocols:
    case kPortDisconnected:
      return true;
    default:
      return false;
  }
}

Findings Diagnose(DWORD code, const SystemFacts& facts, bool usesIpsec) {
  Findings findings;
  if (!IsDiagnosed(code)) return findings;

  // Any build dials the L2TP miniport (the default build as one of the
  // protocols Windows tries).
  if (facts.l2tpDevice == Presence::No) findings.causes.push_back(Cause::NoL2tpDevice);
  if (!usesIpsec || code == kNoPppProtocols) return findings;

  if (facts.prohibitIpsec.Is(1)) {
    findings.causes.push_back(Cause::IpsecProhibited);
    findings.fixes.push_back(kAllowIpsec);
    findings.fixNeedsRestart = true;
  }
  CheckService(facts.ikeext, kIkeService, Cause::IkeServiceMissing, Cause::IkeServiceDisabled,
               Cause::IkeServiceStopped, findings);
  CheckService(facts.policyAgent, kPolicyAgentService, Cause::PolicyAgentMissing, Cause::PolicyAgentDisabled,
               Cause::PolicyAgentStopped, findings);
  // Behind a NAT, Windows gives up on L2TP/IPsec with 809 unless told to
  // use UDP encapsulation.
  if (code == kVpnTimeout && facts.behindNat == Presence::Yes &&
      (facts.natTraversal.kind == DwordSetting::Kind::Absent ||
       (facts.natTraversal.kind == DwordSetting::Kind::Present &&
        facts.natTraversal.value != kNatTraversalAllowed))) {
    findings.causes.push_back(Cause::NatTraversalOff);
    findings.fixes.push_back(kAllowNatTraversal);
    findings.fixNeedsRestart = true;
  }
  return findings;
}

UINT CauseTextId(Cause cause) noexcept {
  switch (cause) {
    case Cause::NoL2tpDevice:
      return IDS_CAUSE_NO_L2TP_DEVICE;
    case Cause::IpsecProhibited:
      return IDS_CAUSE_IPSEC_PROHIBITED;
    case Cause::IkeServiceDisabled:
    case Cause::PolicyAgentDisabled:
      return IDS_CAUSE_SERVICE_DISABLED;
    case Cause::IkeServiceStopped:
    case Cause::PolicyAgentStopped:
      return IDS_CAUSE_SERVICE_STOPPED;
    case Cause::IkeServiceMissing:
    case Cause::PolicyAgentMissing:
      return IDS_CAUSE_SERVICE_MISSING;
    case Cause::NatTraversalOff:
      return IDS_CAUSE_NAT_TRAVERSAL;
  }
  return 0;
}

const wchar_t* CauseService(Cause cause) noexcept {
  switch (cause) {
    case Cause::IkeServiceDisabled:
    case Cause::IkeServiceStopped:
    case Cause::IkeServiceMissing:
      return kIkeService;
    case Cause::PolicyAgentDisabled:
    case Cause::PolicyAgentStopped:
    case Cause::PolicyAgentMissing:
      return kPolicyAgentService;
    default:
      return nullptr;
  }
}

std::wstring AdviceText(const Findings& findings, const toolkit::TextSet& texts) {
  std::wstring lines;
  for (Cause cause : findings.causes) {
    const std::wstring format = texts.Text(CauseTextId(cause));
    const wchar_t* service = CauseService(cause);
    if (!lines.empty()) lines += L'\n';
    // Only the program's own string table supplies the format.
    lines += service != nullptr ? toolkit::Format(format.c_str(), service) : format;
  }
  return lines;
}

const wchar_t* CauseName(Cause cause) noexcept {
  switch (cause) {
    case Cause::NoL2tpDevice:
      return L"no L2TP device";
    case Cause::IpsecProhibited:
      return L"ProhibitIpSec is 1";
    case Cause::IkeServiceDisabled:
      return L"IKEEXT disabled";
    case Cause::IkeServiceStopped:
      return L"IKEEXT stopped";
    case Cause::IkeServiceMissing:
      return L"IKEEXT not installed";
    case Cause::PolicyAgentDisabled:
      return L"PolicyAgent disabled";
    case Cause::PolicyAgentStopped:
      return L"PolicyAgent stopped";
    case Cause::PolicyAgentMissing:
      return L"PolicyAgent not installed";
    case Cause::NatTraversalOff:
      return L"behind a NAT without AssumeUDPEncapsulationContextOnSendRule = 2";
  }
  return L"";
}

}  // namespace kivo::diag
