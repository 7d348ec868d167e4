// The RAS calls the client makes, in their UTF-16 forms, answered from the
// phonebook files, the dial scripts and control.ini. Every call leaves one
// line in calls.log, its texts in UTF-8.
#include "vpn/RasRecords.h"
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>
#include <string_view>

#include "ApiCall.h"
#include "DialScript.h"
#include "FileIo.h"
#include "Phonebook.h"
#include "RasService.h"
#include "Utf8.h"

using kivo::rasdouble::ApiCall;
using kivo::rasdouble::DialNotifier;
using kivo::rasdouble::DialNotifier2;
using kivo::rasdouble::kMaxEntryName;
using kivo::rasdouble::kMaxRecordBytes;
using kivo::rasdouble::LogLine;
using kivo::rasdouble::Notifier;
using kivo::rasdouble::Phonebook;
using kivo::rasdouble::RasService;
using kivo::rasdouble::RunApiCall;
using kivo::rasdouble::Utf8FromWide;
using kivo::rasdouble::WideFromUtf8;

namespace {

// Record sizes the dialler accepts: the NT4 layout, ours, and the one with
// dwIfIndex of later systems.
constexpr DWORD kDialParamsNt4 = offsetof(RASDIALPARAMSW, dwSubEntry);
constexpr DWORD kDialParamsVista = sizeof(RASDIALPARAMSW) + sizeof(DWORD);

// The records of the client, as the system of its WINVER lays them out.
static_assert(sizeof(RASENTRYW) == 5616, "RASENTRYW");
#ifdef _WIN64
static_assert(sizeof(RASDIALPARAMSW) == 2108, "RASDIALPARAMSW of a 64-bit caller");
#else
static_assert(sizeof(RASDIALPARAMSW) == 2104, "RASDIALPARAMSW of a 32-bit caller");
#endif
static_assert(kDialParamsNt4 == 2096, "RASDIALPARAMSW of NT4");
static_assert(sizeof(RASCONNSTATUSW) == 564, "RASCONNSTATUSW");
static_assert(sizeof(RASPPPIPW) == 80, "RASPPPIPW");
static_assert(sizeof(RASCREDENTIALSW) == 1068, "RASCREDENTIALSW");
static_assert(sizeof(RAS_STATS) == 60, "RAS_STATS");

// A texts table the system would describe; error_texts in control.ini,
// even an empty one, replaces it.
constexpr char kDefaultErrorTexts[] =
    "629=The connection was terminated by the remote computer before it could be completed.;"
    "678=The remote computer did not respond.;"
    "691=Access was denied because the user name and/or password was invalid on the domain.;"
    "718=The connection was terminated because the remote computer did not respond in a timely manner.;"
    "800=Unable to establish the VPN connection. The VPN server may be unreachable, or security parameters "
    "may not be configured properly for this connection.";

constexpr char kDefaultClientIp[] = "10.8.0.6";
constexpr char kServerIp[] = "10.8.0.1";

// An entry name, in UTF-8, read no further than one character past the
// longest valid name (so that a longer one stays invalid).
std::string BoundedName(const wchar_t* name) { return Utf8FromWide(name, kMaxEntryName + 1); }

// Text fields of a record that lie inside its first `available` bytes.
template <size_t N>
void LogRecordText(LogLine& line, const char* key, DWORD available, size_t offset, const wchar_t (&field)[N]) {
  if (offset + sizeof field <= available) line.WideText(key, field, N);
}

void LogEntryFields(LogLine& line, const RASENTRYW* entry, DWORD available) {
  LogRecordText(line, "phone", available, offsetof(RASENTRYW, szLocalPhoneNumber), entry->szLocalPhoneNumber);
  LogRecordText(line, "device_type", available, offsetof(RASENTRYW, szDeviceType), entry->szDeviceType);
  LogRecordText(line, "device_name", available, offsetof(RASENTRYW, szDeviceName), entry->szDeviceName);
}

// The phone number and device of a stored entry, for the dial's line.
void LogStoredEntry(LogLine& line, const std::string& bytes) {
  RASENTRYW entry{};
  const size_t available = std::min(bytes.size(), sizeof entry);
  std::memcpy(&entry, bytes.data(), available);
  LogRecordText(line, "entry_phone", static_cast<DWORD>(available), offsetof(RASENTRYW, szLocalPhoneNumber),
                entry.szLocalPhoneNumber);
  LogRecordText(line, "entry_device", static_cast<DWORD>(available), offsetof(RASENTRYW, szDeviceName),
                entry.szDeviceName);
}

// A phonebook file can be written only into a folder that exists; the
// default phonebook (null) always can.
bool PhonebookFolderExists(const wchar_t* phonebook) {
  if (phonebook == nullptr) return true;
  const std::string path = Utf8FromWide(phonebook, MAX_PATH);
  const size_t cut = path.rfind('\\');
  if (cut == std::string::npos) return true;
  return kivo::rasdouble::DirectoryExists(path.substr(0, cut));
}

template <size_t N>
void CopyText(wchar_t (&destination)[N], std::wstring_view text) {
  const size_t n = std::min(text.size(), N - 1);
  std::wmemcpy(destination, text.data(), n);
  destination[n] = L'\0';
}

}  // namespace

DWORD WINAPI RasValidateEntryNameW(LPCWSTR phonebook, LPCWSTR entry) {
  return RunApiCall("RasValidateEntryNameW", [&](ApiCall& call) -> DWORD {
    call.Line().WideText("phonebook", phonebook, MAX_PATH).WideText("entry", entry, kMaxEntryName + 1);
    if (auto forced = call.Forced("validate")) return *forced;
    const std::string name = BoundedName(entry);
    if (!Phonebook::IsValidName(name)) return ERROR_INVALID_NAME;
    return call.Book().Contains(name) ? ERROR_ALREADY_EXISTS : 0;
  });
}

DWORD WINAPI RasDeleteEntryW(LPCWSTR phonebook, LPCWSTR entry) {
  return RunApiCall("RasDeleteEntryW", [&](ApiCall& call) -> DWORD {
    call.Line().WideText("phonebook", phonebook, MAX_PATH).WideText("entry", entry, kMaxEntryName + 1);
    const std::string name = BoundedName(entry);
    if (!Phonebook::IsValidName(name)) return ERROR_INVALID_NAME;
    if (call.Control().Number("delete_fails", 0) != 0) return ERROR_ACCESS_DENIED;
    return call.Book().Remove(name) ? 0 : ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  });
}

DWORD WINAPI RasGetEntryPropertiesW(LPCWSTR phonebook, LPCWSTR entry, LPRASENTRYW record, LPDWORD recordSize,
                                    LPBYTE deviceInfo, LPDWORD deviceInfoSize) {
  return RunApiCall("RasGetEntryPropertiesW", [&](ApiCall& call) -> DWORD {
    LogLine& line = call.Line();
    line.WideText("phonebook", phonebook, MAX_PATH)
        .WideText("entry", entry, kMaxEntryName + 1)
        .Pointer("record", record);
    if (record != nullptr) line.Number("dwSize", record->dwSize);
    if (recordSize != nullptr) line.Number("size", *recordSize);
    line.Pointer("devinfo", deviceInfo);
    if (deviceInfoSize != nullptr) line.Number("devinfo_size", *deviceInfoSize);

    const DWORD entrySize = static_cast<DWORD>(call.Control().Number("entry_size", sizeof(RASENTRYW)));
    if (record == nullptr) {
      // The size query: what size of record and device info the system uses.
      const DWORD result =
          static_cast<DWORD>(call.Control().Number("size_query_result", ERROR_BUFFER_TOO_SMALL));
      if (result != 0 && result != ERROR_BUFFER_TOO_SMALL) return result;
      if (recordSize != nullptr) *recordSize = entrySize;
      if (deviceInfoSize != nullptr)
        *deviceInfoSize = static_cast<DWORD>(call.Control().Number("devinfo_size", 0));
      line.Number("size_out", entrySize);
      if (deviceInfoSize != nullptr) line.Number("devinfo_size_out", *deviceInfoSize);
      return result;
    }
    if (auto forced = call.Forced("get_result")) return *forced;
    if (recordSize == nullptr) return ERROR_INVALID_PARAMETER;
    const std::string name = BoundedName(entry);
    if (!Phonebook::IsValidName(name)) return ERROR_INVALID_NAME;
    if (record->dwSize != entrySize) return ERROR_INVALID_SIZE;
    const Phonebook book = call.Book();
    auto stored = book.ReadEntry(name);
    if (!stored) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    const std::string storedDeviceInfo = book.ReadDeviceInfo(name).value_or(std::string());
    bool tooSmall = false;
    if (*recordSize < stored->size()) {
      *recordSize = static_cast<DWORD>(stored->size());
      tooSmall = true;
    }
    if (deviceInfoSize != nullptr && !storedDeviceInfo.empty() &&
        (deviceInfo == nullptr || *deviceInfoSize < storedDeviceInfo.size())) {
      *deviceInfoSize = static_cast<DWORD>(storedDeviceInfo.size());
      tooSmall = true;
    }
    if (tooSmall) return ERROR_BUFFER_TOO_SMALL;
    std::memcpy(record, stored->data(), stored->size());
    *recordSize = static_cast<DWORD>(stored->size());
    if (deviceInfoSize != nullptr) {
      if (!storedDeviceInfo.empty())
        std::memcpy(deviceInfo, storedDeviceInfo.data(), storedDeviceInfo.size());
      *deviceInfoSize = static_cast<DWORD>(storedDeviceInfo.size());
    }
    line.Number("size_out", *recordSize);
    return 0;
  });
}

DWORD WINAPI RasSetEntryPropertiesW(LPCWSTR phonebook, LPCWSTR entry, LPRASENTRYW record, DWORD recordSize,
                                    LPBYTE deviceInfo, DWORD deviceInfoSize) {
  return RunApiCall("RasSetEntryPropertiesW", [&](ApiCall& call) -> DWORD {
    LogLine& line = call.Line();
    line.WideText("phonebook", phonebook, MAX_PATH)
        .WideText("entry", entry, kMaxEntryName + 1)
        .Pointer("record", record);
    const bool sizeUsable = recordSize >= sizeof(DWORD) && recordSize <= kMaxRecordBytes;
    if (record != nullptr && sizeUsable) line.Number("dwSize", record->dwSize);
    line.Number("size", recordSize).Pointer("devinfo", deviceInfo).Number("devinfo_size", deviceInfoSize);
    if (record != nullptr && sizeUsable) LogEntryFields(line, record, recordSize);

    if (auto forced = call.Forced("set_result")) return *forced;
    if (!PhonebookFolderExists(phonebook)) return ERROR_CANNOT_OPEN_PHONEBOOK;
    const std::string name = BoundedName(entry);
    if (!Phonebook::IsValidName(name)) return ERROR_INVALID_NAME;
    if (record == nullptr) return ERROR_BUFFER_INVALID;
    const DWORD entrySize = static_cast<DWORD>(call.Control().Number("entry_size", sizeof(RASENTRYW)));
    if (!sizeUsable || record->dwSize != entrySize || recordSize < record->dwSize) return ERROR_INVALID_SIZE;
    if (deviceInfoSize > kMaxRecordBytes || (deviceInfo == nullptr && deviceInfoSize != 0)) {
      return ERROR_INVALID_PARAMETER;
    }
    // Kept whole, as the caller gave it: no more than recordSize bytes are read.
    const std::string_view bytes(reinterpret_cast<const char*>(record), recordSize);
    const std::string_view device(reinterpret_cast<const char*>(deviceInfo), deviceInfo ? deviceInfoSize : 0);
    return call.Book().Write(name, bytes, device) ? 0 : ERROR_CANNOT_OPEN_PHONEBOOK;
  });
}

// Only what was stored is logged, never a secret: the mask and the length
// of the pre-shared key in characters.
DWORD WINAPI RasSetCredentialsW(LPCWSTR phonebook, LPCWSTR entry, LPRASCREDENTIALSW credentials,
                                WINBOOL clearCredentials) {
  return RunApiCall("RasSetCredentialsW", [&](ApiCall& call) -> DWORD {
    LogLine& line = call.Line();
    line.WideText("phonebook", phonebook, MAX_PATH).WideText("entry", entry, kMaxEntryName + 1);
    line.Number("clear", clearCredentials);
    if (credentials == nullptr || credentials->dwSize != sizeof(RASCREDENTIALSW))
      return ERROR_INVALID_PARAMETER;
    line.Number("mask", credentials->dwMask);
    if ((credentials->dwMask & RASCM_PreSharedKey) != 0) {
      line.Number("key_length", static_cast<long long>(wcsnlen(credentials->szPassword, PWLEN + 1)));
    }
    const std::string name = BoundedName(entry);
    if (!Phonebook::IsValidName(name)) return ERROR_INVALID_NAME;
    return call.Book().Contains(name) ? 0 : ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  });
}

DWORD WINAPI RasDialW(LPRASDIALEXTENSIONS extensions, LPCWSTR phonebook, LPRASDIALPARAMSW params,
                      DWORD notifierType, LPVOID notifier, LPHRASCONN connection) {
  return RunApiCall("RasDialW", [&](ApiCall& call) -> DWORD {
    LogLine& line = call.Line();
    line.Pointer("extensions", extensions).WideText("phonebook", phonebook, MAX_PATH).Pointer("params", params);
    const bool sizeKnown =
        params != nullptr && (params->dwSize == kDialParamsNt4 || params->dwSize == sizeof(RASDIALPARAMSW) ||
                              params->dwSize == kDialParamsVista);
    if (params != nullptr) line.Number("dwSize", params->dwSize);
    if (sizeKnown) {
      line.WideText("entry", params->szEntryName, std::size(params->szEntryName))
          .WideText("phone", params->szPhoneNumber, std::size(params->szPhoneNumber))
          .WideText("callback", params->szCallbackNumber, std::size(params->szCallbackNumber))
          .WideText("user", params->szUserName, std::size(params->szUserName))
          .WideText("password", params->szPassword, std::size(params->szPassword))
          .WideText("domain", params->szDomain, std::size(params->szDomain));
      if (params->dwSize >= sizeof(RASDIALPARAMSW)) {
        line.Number("subentry", params->dwSubEntry).Number("callback_id", params->dwCallbackId);
      }
    }
    line.Number("notifier_type", notifierType).Pointer("notifier", notifier);
    if (connection != nullptr) line.Hex("handle_in", reinterpret_cast<uintptr_t>(*connection));

    if (params == nullptr || connection == nullptr) return ERROR_INVALID_PARAMETER;
    if (!sizeKnown) return ERROR_INVALID_SIZE;
    if (*connection != nullptr) return ERROR_INVALID_HANDLE;
    // The notifiers of type 0 (RASDIALFUNC) and 2 (RASDIALFUNC2) are
    // simulated; type 2 gets the parameters' callback id (none in the
    // short NT4 record).
    if ((notifierType != 0 && notifierType != 2) || notifier == nullptr) return ERROR_INVALID_PARAMETER;
    Notifier reporter;
    if (notifierType == 0) {
      reporter.type0 = reinterpret_cast<DialNotifier>(notifier);
    } else {
      reporter.type2 = reinterpret_cast<DialNotifier2>(notifier);
      if (params->dwSize >= sizeof(RASDIALPARAMSW)) reporter.callbackId = params->dwCallbackId;
    }

    RasService& service = RasService::Instance();
    if (const DWORD refused = static_cast<DWORD>(call.Control().Number("dial_result", 0)); refused != 0) {
      if (call.Control().Number("dial_stores_handle", 0) != 0) {
        *connection = service.RegisterRefused(call.Dir(), refused);
        line.Hex("handle", reinterpret_cast<uintptr_t>(*connection));
      }
      return refused;
    }
    const std::string name = Utf8FromWide(params->szEntryName, std::size(params->szEntryName));
    const Phonebook book = call.Book();
    auto stored = book.ReadEntry(name);
    if (stored) LogStoredEntry(line, *stored);
    if (!stored && call.Control().Number("dial_requires_entry", 1) != 0)
      return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;

    const HRASCONN handle =
        service.Register(call.Dir(), reporter, kivo::rasdouble::ReadDialPlan(call.Control()));
    *connection = handle;
    line.Hex("handle", reinterpret_cast<uintptr_t>(handle));
    call.Finish(0);
    service.Launch(handle);
    return 0;
  });
}

DWORD WINAPI RasHangUpW(HRASCONN connection) {
  return RunApiCall("RasHangUpW", [&](ApiCall& call) -> DWORD {
    call.Line().Hex("handle", reinterpret_cast<uintptr_t>(connection));
    return RasService::Instance().HangUp(connection, call.Source());
  });
}

DWORD WINAPI RasGetConnectStatusW(HRASCONN connection, LPRASCONNSTATUSW status) {
  return RunApiCall("RasGetConnectStatusW", [&](ApiCall& call) -> DWORD {
    LogLine& line = call.Line();
    line.Hex("handle", reinterpret_cast<uintptr_t>(connection)).Pointer("status", status);
    if (status != nullptr) line.Number("dwSize", status->dwSize);
    if (status == nullptr) return ERROR_INVALID_PARAMETER;
    if (status->dwSize != sizeof(RASCONNSTATUSW)) return ERROR_INVALID_SIZE;
    auto link = RasService::Instance().Observe(connection, call.Source());
    if (!link) return ERROR_INVALID_HANDLE;
    status->rasconnstate = static_cast<RASCONNSTATE>(link->state);
    status->dwError = link->error;
    CopyText(status->szDeviceType, L"vpn");
    status->szDeviceName[0] = L'\0';
    status->szPhoneNumber[0] = L'\0';
    line.Number("state", link->state).Number("error", link->error);
    return 0;
  });
}

DWORD WINAPI RasGetErrorStringW(UINT code, LPWSTR buffer, DWORD size) {
  return RunApiCall("RasGetErrorStringW", [&](ApiCall& call) -> DWORD {
    LogLine& line = call.Line();
    line.Number("code", code).Pointer("buffer", buffer).Number("size", size);
    const std::string table = call.Control().Text("error_texts").value_or(kDefaultErrorTexts);
    auto text = kivo::rasdouble::FindErrorText(table, code);
    if (!text || buffer == nullptr) return ERROR_INVALID_PARAMETER;
    // The size is in characters.
    const std::wstring wide = WideFromUtf8(*text);
    if (size < wide.size() + 1) return ERROR_INSUFFICIENT_BUFFER;
    std::wmemcpy(buffer, wide.data(), wide.size());
    buffer[wide.size()] = L'\0';
    line.Text("text", *text);
    return 0;
  });
}

DWORD WINAPI RasGetProjectionInfoW(HRASCONN connection, RASPROJECTION projection, LPVOID buffer,
                                   LPDWORD size) {
  return RunApiCall("RasGetProjectionInfoW", [&](ApiCall& call) -> DWORD {
    LogLine& line = call.Line();
    line.Hex("handle", reinterpret_cast<uintptr_t>(connection)).Hex("projection", projection);
    line.Pointer("buffer", buffer);
    if (size != nullptr) line.Number("size", *size);
    if (buffer != nullptr && size != nullptr && *size >= sizeof(DWORD)) {
      line.Number("dwSize", static_cast<RASPPPIPW*>(buffer)->dwSize);
    }
    if (auto forced = call.Forced("projection_result")) return *forced;
    auto link = RasService::Instance().Observe(connection, call.Source());
    if (!link) return ERROR_INVALID_HANDLE;
    if (projection != RASP_PppIp) return ERROR_PROTOCOL_NOT_CONFIGURED;
    if (!link->connected) return ERROR_PROJECTION_NOT_COMPLETE;
    if (buffer == nullptr || size == nullptr) return ERROR_INVALID_PARAMETER;
    if (*size < sizeof(RASPPPIPW)) {
      *size = sizeof(RASPPPIPW);
      return ERROR_BUFFER_TOO_SMALL;
    }
    auto* ip = static_cast<RASPPPIPW*>(buffer);
    if (ip->dwSize != sizeof(RASPPPIPW)) return ERROR_INVALID_SIZE;
    const std::string address = call.Control().Text("projection_ip").value_or(kDefaultClientIp);
    ip->dwError = 0;
    CopyText(ip->szIpAddress, WideFromUtf8(address));
    CopyText(ip->szServerIpAddress, WideFromUtf8(kServerIp));
    ip->dwOptions = 0;
    ip->dwServerOptions = 0;
    *size = sizeof(RASPPPIPW);
    line.WideText("ip", ip->szIpAddress, std::size(ip->szIpAddress));
    return 0;
  });
}

DWORD WINAPI RasGetConnectionStatistics(HRASCONN connection, RAS_STATS* stats) {
  return RunApiCall("RasGetConnectionStatistics", [&](ApiCall& call) -> DWORD {
    LogLine& line = call.Line();
    line.Hex("handle", reinterpret_cast<uintptr_t>(connection)).Pointer("stats", stats);
    if (stats != nullptr) line.Number("dwSize", stats->dwSize);
    if (auto forced = call.Forced("stats_result")) return *forced;
    auto link = RasService::Instance().Observe(connection, call.Source());
    if (!link) return ERROR_INVALID_HANDLE;
    if (stats == nullptr) return ERROR_INVALID_PARAMETER;
    if (stats->dwSize != sizeof(RAS_STATS)) return ERROR_INVALID_SIZE;
    // Without fixed figures the counters grow with the time connected.
    const auto upMs = static_cast<long long>(link->connectedForMs);
    const auto figure = [&](const char* key, long long fallback) {
      return static_cast<DWORD>(call.Control().Number(key, fallback));
    };
    const DWORD size = stats->dwSize;
    std::memset(stats, 0, sizeof *stats);
    stats->dwSize = size;
    stats->dwBytesXmited = figure("stats_sent", 1200 + upMs * 3 / 2);
    stats->dwBytesRcved = figure("stats_received", 4800 + upMs * 6);
    stats->dwFramesXmited = stats->dwBytesXmited / 512;
    stats->dwFramesRcved = stats->dwBytesRcved / 512;
    stats->dwBps = figure("stats_bps", 54000000);
    stats->dwConnectDuration = static_cast<DWORD>(upMs);
    line.Number("sent", stats->dwBytesXmited)
        .Number("received", stats->dwBytesRcved)
        .Number("bps", stats->dwBps);
    return 0;
  });
}
