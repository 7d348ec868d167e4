// The RAS calls the client makes, answered from the phonebook files, the
// dial scripts and control.ini. Every call leaves one line in calls.log.
#include "vpn/RasRecords.h"
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "ApiCall.h"
#include "DialScript.h"
#include "Phonebook.h"
#include "RasService.h"

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

namespace {

// Record sizes the dialler accepts: the NT4 layout, ours, and the one with
// dwIfIndex of later systems.
constexpr DWORD kDialParamsNt4 = offsetof(RASDIALPARAMSA, dwSubEntry);
constexpr DWORD kDialParamsVista = sizeof(RASDIALPARAMSA) + sizeof(DWORD);

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

// An entry name read no further than one byte past the longest valid name.
std::string_view BoundedName(const char* name) {
  if (name == nullptr) return {};
  return std::string_view(name, strnlen(name, kMaxEntryName + 1));
}

std::string_view Field(const char* field, size_t size) {
  return std::string_view(field, strnlen(field, size));
}

// Fields of a record that are inside the first `available` bytes.
template <size_t N>
void LogRecordString(LogLine& line, const char* key, DWORD available, size_t offset, const char (&field)[N]) {
  if (offset + N <= available) line.Bytes(key, Field(field, N));
}

void LogEntryFields(LogLine& line, const RASENTRYA* entry, DWORD available) {
  LogRecordString(line, "phone", available, offsetof(RASENTRYA, szLocalPhoneNumber),
                  entry->szLocalPhoneNumber);
  LogRecordString(line, "device_type", available, offsetof(RASENTRYA, szDeviceType), entry->szDeviceType);
  LogRecordString(line, "device_name", available, offsetof(RASENTRYA, szDeviceName), entry->szDeviceName);
}

// The phone number and device of a stored entry, for the dial's line.
void LogStoredEntry(LogLine& line, const std::string& bytes) {
  RASENTRYA entry{};
  std::memcpy(&entry, bytes.data(), std::min(bytes.size(), sizeof entry));
  const DWORD available = static_cast<DWORD>(std::min(bytes.size(), sizeof entry));
  LogRecordString(line, "entry_phone", available, offsetof(RASENTRYA, szLocalPhoneNumber),
                  entry.szLocalPhoneNumber);
  LogRecordString(line, "entry_device", available, offsetof(RASENTRYA, szDeviceName), entry.szDeviceName);
}

// A phonebook file can be written only into a folder that exists; the
// default phonebook (null) always can.
bool PhonebookFolderExists(const char* phonebook) {
  if (phonebook == nullptr) return true;
  const std::string path(phonebook, strnlen(phonebook, MAX_PATH));
  const size_t cut = path.rfind('\\');
  if (cut == std::string::npos) return true;
  const DWORD attributes = ::GetFileAttributesA(path.substr(0, cut).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void CopyText(char* destination, size_t size, std::string_view text) {
  const size_t n = std::min(text.size(), size - 1);
  std::memcpy(destination, text.data(), n);
  destination[n] = '\0';
}

}  // namespace

DWORD WINAPI RasValidateEntryNameA(LPCSTR phonebook, LPCSTR entry) {
  return RunApiCall("RasValidateEntryNameA", [&](ApiCall& call) -> DWORD {
    call.Line().String("phonebook", phonebook, MAX_PATH).String("entry", entry, kMaxEntryName + 1);
    if (auto forced = call.Forced("validate")) return *forced;
    const std::string_view name = BoundedName(entry);
    if (!Phonebook::IsValidName(name)) return ERROR_INVALID_NAME;
    return call.Book().Contains(name) ? ERROR_ALREADY_EXISTS : 0;
  });
}

DWORD WINAPI RasDeleteEntryA(LPCSTR phonebook, LPCSTR entry) {
  return RunApiCall("RasDeleteEntryA", [&](ApiCall& call) -> DWORD {
    call.Line().String("phonebook", phonebook, MAX_PATH).String("entry", entry, kMaxEntryName + 1);
    const std::string_view name = BoundedName(entry);
    if (!Phonebook::IsValidName(name)) return ERROR_INVALID_NAME;
    if (call.Control().Number("delete_fails", 0) != 0) return ERROR_ACCESS_DENIED;
    return call.Book().Remove(name) ? 0 : ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  });
}

DWORD WINAPI RasGetEntryPropertiesA(LPCSTR phonebook, LPCSTR entry, LPRASENTRYA record, LPDWORD recordSize,
                                    LPBYTE deviceInfo, LPDWORD deviceInfoSize) {
  return RunApiCall("RasGetEntryPropertiesA", [&](ApiCall& call) -> DWORD {
    LogLine& line = call.Line();
    line.String("phonebook", phonebook, MAX_PATH)
        .String("entry", entry, kMaxEntryName + 1)
        .Pointer("record", record);
    if (record != nullptr) line.Number("dwSize", record->dwSize);
    if (recordSize != nullptr) line.Number("size", *recordSize);
    line.Pointer("devinfo", deviceInfo);
    if (deviceInfoSize != nullptr) line.Number("devinfo_size", *deviceInfoSize);

    const DWORD entrySize = static_cast<DWORD>(call.Control().Number("entry_size", sizeof(RASENTRYA)));
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
    const std::string_view name = BoundedName(entry);
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

DWORD WINAPI RasSetEntryPropertiesA(LPCSTR phonebook, LPCSTR entry, LPRASENTRYA record, DWORD recordSize,
                                    LPBYTE deviceInfo, DWORD deviceInfoSize) {
  return RunApiCall("RasSetEntryPropertiesA", [&](ApiCall& call) -> DWORD {
    LogLine& line = call.Line();
    line.String("phonebook", phonebook, MAX_PATH)
        .String("entry", entry, kMaxEntryName + 1)
        .Pointer("record", record);
    const bool sizeUsable = recordSize >= sizeof(DWORD) && recordSize <= kMaxRecordBytes;
    if (record != nullptr && sizeUsable) line.Number("dwSize", record->dwSize);
    line.Number("size", recordSize).Pointer("devinfo", deviceInfo).Number("devinfo_size", deviceInfoSize);
    if (record != nullptr && sizeUsable) LogEntryFields(line, record, recordSize);

    if (auto forced = call.Forced("set_result")) return *forced;
    if (!PhonebookFolderExists(phonebook)) return ERROR_CANNOT_OPEN_PHONEBOOK;
    const std::string_view name = BoundedName(entry);
    if (!Phonebook::IsValidName(name)) return ERROR_INVALID_NAME;
    if (record == nullptr) return ERROR_BUFFER_INVALID;
    const DWORD entrySize = static_cast<DWORD>(call.Control().Number("entry_size", sizeof(RASENTRYA)));
    if (!sizeUsable || record->dwSize != entrySize || recordSize < record->dwSize) return ERROR_INVALID_SIZE;
    if (deviceInfoSize > kMaxRecordBytes || (deviceInfo == nullptr && deviceInfoSize != 0)) {
      return ERROR_INVALID_PARAMETER;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(record), recordSize);
    const std::string_view device(reinterpret_cast<const char*>(deviceInfo), deviceInfo ? deviceInfoSize : 0);
    return call.Book().Write(name, bytes, device) ? 0 : ERROR_CANNOT_OPEN_PHONEBOOK;
  });
}

// Only what was stored is logged, never a secret: the mask and the length
// of the pre-shared key.
DWORD WINAPI RasSetCredentialsA(LPCSTR phonebook, LPCSTR entry, LPRASCREDENTIALSA credentials,
                                WINBOOL clearCredentials) {
  return RunApiCall("RasSetCredentialsA", [&](ApiCall& call) -> DWORD {
    LogLine& line = call.Line();
    line.String("phonebook", phonebook, MAX_PATH).String("entry", entry, kMaxEntryName + 1);
    line.Number("clear", clearCredentials);
    if (credentials == nullptr || credentials->dwSize != sizeof(RASCREDENTIALSA))
      return ERROR_INVALID_PARAMETER;
    line.Number("mask", credentials->dwMask);
    if ((credentials->dwMask & RASCM_PreSharedKey) != 0) {
      line.Number("key_length", static_cast<long long>(strnlen(credentials->szPassword, PWLEN + 1)));
    }
    const std::string_view name = BoundedName(entry);
    if (!Phonebook::IsValidName(name)) return ERROR_INVALID_NAME;
    return call.Book().Contains(name) ? 0 : ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  });
}

DWORD WINAPI RasDialA(LPRASDIALEXTENSIONS extensions, LPCSTR phonebook, LPRASDIALPARAMSA params,
                      DWORD notifierType, LPVOID notifier, LPHRASCONN connection) {
  return RunApiCall("RasDialA", [&](ApiCall& call) -> DWORD {
    LogLine& line = call.Line();
    line.Pointer("extensions", extensions).String("phonebook", phonebook, MAX_PATH).Pointer("params", params);
    const bool sizeKnown =
        params != nullptr && (params->dwSize == kDialParamsNt4 || params->dwSize == sizeof(RASDIALPARAMSA) ||
                              params->dwSize == kDialParamsVista);
    if (params != nullptr) line.Number("dwSize", params->dwSize);
    if (sizeKnown) {
      line.Bytes("entry", Field(params->szEntryName, sizeof params->szEntryName))
          .Bytes("phone", Field(params->szPhoneNumber, sizeof params->szPhoneNumber))
          .Bytes("callback", Field(params->szCallbackNumber, sizeof params->szCallbackNumber))
          .Bytes("user", Field(params->szUserName, sizeof params->szUserName))
          .Bytes("password", Field(params->szPassword, sizeof params->szPassword))
          .Bytes("domain", Field(params->szDomain, sizeof params->szDomain));
      if (params->dwSize >= sizeof(RASDIALPARAMSA)) {
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
      if (params->dwSize >= sizeof(RASDIALPARAMSA)) reporter.callbackId = params->dwCallbackId;
    }

    RasService& service = RasService::Instance();
    if (const DWORD refused = static_cast<DWORD>(call.Control().Number("dial_result", 0)); refused != 0) {
      if (call.Control().Number("dial_stores_handle", 0) != 0) {
        *connection = service.RegisterRefused(call.Dir(), refused);
        line.Hex("handle", reinterpret_cast<uintptr_t>(*connection));
      }
      return refused;
    }
    const std::string_view name = Field(params->szEntryName, sizeof params->szEntryName);
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

DWORD WINAPI RasHangUpA(HRASCONN connection) {
  return RunApiCall("RasHangUpA", [&](ApiCall& call) -> DWORD {
    call.Line().Hex("handle", reinterpret_cast<uintptr_t>(connection));
    return RasService::Instance().HangUp(connection, call.Source());
  });
}

DWORD WINAPI RasGetConnectStatusA(HRASCONN connection, LPRASCONNSTATUSA status) {
  return RunApiCall("RasGetConnectStatusA", [&](ApiCall& call) -> DWORD {
    LogLine& line = call.Line();
    line.Hex("handle", reinterpret_cast<uintptr_t>(connection)).Pointer("status", status);
    if (status != nullptr) line.Number("dwSize", status->dwSize);
    if (status == nullptr) return ERROR_INVALID_PARAMETER;
    if (status->dwSize != sizeof(RASCONNSTATUSA)) return ERROR_INVALID_SIZE;
    auto link = RasService::Instance().Observe(connection, call.Source());
    if (!link) return ERROR_INVALID_HANDLE;
    status->rasconnstate = static_cast<RASCONNSTATE>(link->state);
    status->dwError = link->error;
    CopyText(status->szDeviceType, sizeof status->szDeviceType, RASDT_Vpn);
    status->szDeviceName[0] = '\0';
    status->szPhoneNumber[0] = '\0';
    line.Number("state", link->state).Number("error", link->error);
    return 0;
  });
}

DWORD WINAPI RasGetErrorStringA(UINT code, LPSTR buffer, DWORD size) {
  return RunApiCall("RasGetErrorStringA", [&](ApiCall& call) -> DWORD {
    LogLine& line = call.Line();
    line.Number("code", code).Pointer("buffer", buffer).Number("size", size);
    const std::string table = call.Control().Text("error_texts").value_or(kDefaultErrorTexts);
    auto text = kivo::rasdouble::FindErrorText(table, code);
    if (!text || buffer == nullptr) return ERROR_INVALID_PARAMETER;
    if (size < text->size() + 1) return ERROR_INSUFFICIENT_BUFFER;
    CopyText(buffer, size, *text);
    line.Bytes("text", *text);
    return 0;
  });
}

DWORD WINAPI RasGetProjectionInfoA(HRASCONN connection, RASPROJECTION projection, LPVOID buffer,
                                   LPDWORD size) {
  return RunApiCall("RasGetProjectionInfoA", [&](ApiCall& call) -> DWORD {
    LogLine& line = call.Line();
    line.Hex("handle", reinterpret_cast<uintptr_t>(connection)).Hex("projection", projection);
    line.Pointer("buffer", buffer);
    if (size != nullptr) line.Number("size", *size);
    if (buffer != nullptr && size != nullptr && *size >= sizeof(DWORD)) {
      line.Number("dwSize", static_cast<RASPPPIPA*>(buffer)->dwSize);
    }
    if (auto forced = call.Forced("projection_result")) return *forced;
    auto link = RasService::Instance().Observe(connection, call.Source());
    if (!link) return ERROR_INVALID_HANDLE;
    if (projection != RASP_PppIp) return ERROR_PROTOCOL_NOT_CONFIGURED;
    if (!link->connected) return ERROR_PROJECTION_NOT_COMPLETE;
    if (buffer == nullptr || size == nullptr) return ERROR_INVALID_PARAMETER;
    if (*size < sizeof(RASPPPIPA)) {
      *size = sizeof(RASPPPIPA);
      return ERROR_BUFFER_TOO_SMALL;
    }
    auto* ip = static_cast<RASPPPIPA*>(buffer);
    if (ip->dwSize != sizeof(RASPPPIPA)) return ERROR_INVALID_SIZE;
    const std::string address = call.Control().Text("projection_ip").value_or(kDefaultClientIp);
    ip->dwError = 0;
    CopyText(ip->szIpAddress, sizeof ip->szIpAddress, address);
    CopyText(ip->szServerIpAddress, sizeof ip->szServerIpAddress, kServerIp);
    ip->dwOptions = 0;
    ip->dwServerOptions = 0;
    *size = sizeof(RASPPPIPA);
    line.Bytes("ip", Field(ip->szIpAddress, sizeof ip->szIpAddress));
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
