#include "diag/EventLog.h"

#include <iterator>
#include <utility>
#include <vector>

#include "KivoVersion.h"
#include "diag/DiagnosisJob.h"
#include "resource.h"
#include "toolkit/Strings.h"
#include "vpn/Phonebook.h"

namespace kivo::diag {

namespace {

using toolkit::Format;

const wchar_t* StateName(vpn::ConnectionState state) {
  using S = vpn::ConnectionState;
  switch (state) {
    case S::Idle:
      return L"idle";
    case S::Dialling:
      return L"dialling";
    case S::Connected:
      return L"connected";
    case S::WaitingToRedial:
      return L"waiting to redial";
    case S::WaitingForNetwork:
      return L"waiting for the network";
    case S::HangingUp:
      return L"hanging up";
  }
  return L"?";
}

// The dial states in the order of their texts (IDS_STATE_FIRST on).
constexpr const wchar_t* kDialStateNames[] = {L"RASCS_OpenPort",
                                              L"RASCS_PortOpened",
                                              L"RASCS_ConnectDevice",
                                              L"RASCS_DeviceConnected",
                                              L"RASCS_AllDevicesConnected",
                                              L"RASCS_Authenticate",
                                              L"RASCS_AuthNotify",
                                              L"RASCS_AuthRetry",
                                              L"RASCS_AuthCallback",
                                              L"RASCS_AuthChangePassword",
                                              L"RASCS_AuthProject",
                                              L"RASCS_AuthLinkSpeed",
                                              L"RASCS_AuthAck",
                                              L"RASCS_ReAuthenticate",
                                              L"RASCS_Authenticated",
                                              L"RASCS_PrepareForCallback",
                                              L"RASCS_WaitForModemReset",
                                              L"RASCS_WaitForCallback",
                                              L"RASCS_Interactive",
                                              L"RASCS_RetryAuthentication",
                                              L"RASCS_CallbackSetByCaller",
                                              L"RASCS_PasswordExpired",
                                              L"RASCS_Connected",
                                              L"RASCS_Disconnected"};

std::wstring DwordText(const DwordSetting& setting) {
  switch (setting.kind) {
    case DwordSetting::Kind::Absent:
      return L"absent";
    case DwordSetting::Kind::Present:
      return Format(L"%lu", static_cast<unsigned long>(setting.value));
    case DwordSetting::Kind::Unreadable:
      break;
  }
  return L"not readable";
}

std::wstring ServiceText(const ServiceSetting& service) {
  if (service.kind == ServiceSetting::Kind::NotInstalled) return L"not installed";
  if (service.kind == ServiceSetting::Kind::Unreadable) return L"not readable";
  const wchar_t* state = service.state == SERVICE_RUNNING   ? L"running"
                         : service.state == SERVICE_STOPPED ? L"stopped"
                                                            : L"starting or stopping";
  const wchar_t* start = service.startType == SERVICE_AUTO_START     ? L"automatic"
                         : service.startType == SERVICE_DEMAND_START ? L"manual"
                         : service.startType == SERVICE_DISABLED     ? L"disabled"
                                                                     : L"other";
  return Format(L"%ls, start %ls", state, start);
}

const wchar_t* PresenceText(Presence presence, const wchar_t* yes, const wchar_t* no) {
  return presence == Presence::Yes ? yes : presence == Presence::No ? no : L"unknown";
}

const wchar_t* StrategyName(DWORD strategy) {
  constexpr const wchar_t* kNames[] = {L"VS_Default", L"VS_PptpOnly", L"VS_PptpFirst", L"VS_L2tpOnly",
                                       L"VS_L2tpFirst"};
  return strategy < std::size(kNames) ? kNames[strategy] : L"other";
}

const wchar_t* EncryptionName(DWORD type) {
  constexpr const wchar_t* kNames[] = {L"ET_None", L"ET_Require", L"ET_RequireMax", L"ET_Optional"};
  return type < std::size(kNames) ? kNames[type] : L"other";
}

}  // namespace

std::wstring WindowsVersionText() {
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  auto get = ntdll == nullptr ? nullptr
                              : reinterpret_cast<RtlGetVersionFunction>(
                                    reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")));
  if (get == nullptr || get(&version) != 0) return L"Windows (version unknown)";
  BOOL wow64 = FALSE;
  ::IsWow64Process(::GetCurrentProcess(), &wow64);
#ifdef _WIN64
  const wchar_t* bits = L"64-bit program";
#else
  const wchar_t* bits = wow64 ? L"32-bit program on 64-bit Windows" : L"32-bit program";
#endif
  return Format(L"Windows %lu.%lu build %lu (%ls)", static_cast<unsigned long>(version.dwMajorVersion),
                static_cast<unsigned long>(version.dwMinorVersion),
                static_cast<unsigned long>(version.dwBuildNumber), bits);
}

EventLog::EventLog(bool preSharedKey) {
  header_ = L"Kivoline " + toolkit::WidenAscii(KIVO_VERSION_TEXT) + L"\r\n" + WindowsVersionText() + L"\r\n";
  // The entry's options as the phonebook writes them, from the same record.
  const std::vector<BYTE> record =
      vpn::BuildEntryRecord(vpn::kEntryBufferSize, std::string(), 0, preSharedKey);
  const auto& entry = *reinterpret_cast<const RASENTRYW*>(record.data());
  header_ += Format(L"Entry: strategy %ls, encryption %ls, options 0x%08lx, options2 0x%08lx\r\n",
                    StrategyName(entry.dwVpnStrategy), EncryptionName(entry.dwEncryptionType),
                    static_cast<unsigned long>(entry.dwfOptions), static_cast<unsigned long>(entry.dwfOptions2));
}

void EventLog::Add(std::wstring line) {
  SYSTEMTIME now = {};
  ::GetLocalTime(&now);
  if (events_.size() >= kCapacity) events_.pop_front();
  events_.push_back(Format(L"%02u:%02u:%02u.%03u  ", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds) +
                    line);
}

void EventLog::State(vpn::ConnectionState state) { Add(Format(L"state: %ls", StateName(state))); }

void EventLog::DialStatus(UINT textId) {
  if (textId < IDS_STATE_FIRST || textId >= IDS_STATE_FIRST + std::size(kDialStateNames)) return;
  Add(Format(L"dial state: %ls", kDialStateNames[textId - IDS_STATE_FIRST]));
}

void EventLog::DialError(DWORD code) { Add(Format(L"dial error %lu", static_cast<unsigned long>(code))); }

void EventLog::FailureShown(DWORD code) {
  Add(Format(L"failure box for error %lu", static_cast<unsigned long>(code)));
}

void EventLog::PhonebookFailure(vpn::PhonebookFailure failure) {
  using F = vpn::PhonebookFailure;
  Add(Format(L"phonebook failure: %ls", failure == F::Test   ? L"test"
                                        : failure == F::Open ? L"open"
                                                             : L"set"));
}

void EventLog::Diagnosis(DWORD code, const SystemFacts& facts, const Findings& findings) {
  Add(
      Format(L"diagnosis of error %lu: %ls %ls; %ls %ls; IKEEXT %ls; PolicyAgent %ls; L2TP device %ls; "
             L"behind a NAT: %ls",
             static_cast<unsigned long>(code), kNatTraversalValue, DwordText(facts.natTraversal).c_str(),
             kProhibitIpsecValue, DwordText(facts.prohibitIpsec).c_str(), ServiceText(facts.ikeext).c_str(),
             ServiceText(facts.policyAgent).c_str(), PresenceText(facts.l2tpDevice, L"present", L"missing"),
             PresenceText(facts.behindNat, L"yes", L"no")));
  if (findings.causes.empty()) {
    Add(L"cause: none found");
    return;
  }
  for (Cause cause : findings.causes) Add(Format(L"cause: %ls", CauseName(cause)));
}

void EventLog::DiagnosisLate(DWORD code) {
  Add(Format(L"diagnosis of error %lu: no answer within %lu ms", static_cast<unsigned long>(code),
             static_cast<unsigned long>(DiagnosisJob::kBoundMs)));
}

void EventLog::Fix(ElevatedRunner::Result result, bool took) {
  const wchar_t* ran = result == ElevatedRunner::Result::Done       ? L"the tools ran"
                       : result == ElevatedRunner::Result::Declined ? L"the administrator prompt was declined"
                                                                    : L"a tool failed";
  Add(Format(L"fix: %ls; the change %ls", ran, took ? L"took" : L"did not take"));
}

std::wstring EventLog::Text() const {
  std::wstring text = header_;
  for (const std::wstring& line : events_) {
    text += line;
    text += L"\r\n";
  }
  return text;
}

// --- The connection's events ----------------------------------------------------

void RecordingObserver::OnState(vpn::ConnectionState state) {
  log_.State(state);
  inner_.OnState(state);
}

void RecordingObserver::OnStatus(UINT textId) {
  log_.DialStatus(textId);
  inner_.OnStatus(textId);
}

void RecordingObserver::OnDialError(DWORD code) {
  log_.DialError(code);
  inner_.OnDialError(code);
}

void RecordingObserver::ReportDialFailure(DWORD code) {
  log_.FailureShown(code);
  inner_.ReportDialFailure(code);
}

void RecordingObserver::ReportPhonebookFailure(vpn::PhonebookFailure failure) {
  log_.PhonebookFailure(failure);
  inner_.ReportPhonebookFailure(failure);
}

}  // namespace kivo::diag
