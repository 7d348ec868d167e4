#include "vpn/Phonebook.h"

#include <shlobj.h>

#include <cstring>
#include <cwchar>

#include "toolkit/Strings.h"
#include "vpn/L2tpPreSharedKey.h"
#include "vpn/RasRecords.h"

namespace kivo::vpn {

namespace {

constexpr DWORD kOptions = RASEO_RemoteDefaultGateway | RASEO_RequireDataEncryption | RASEO_RequireCHAP |
                           RASEO_RequireMsCHAP | RASEO_RequireMsCHAP2;
static_assert(kOptions == 0x38001010);

// The miniport's name as a Traditional, a Simplified Chinese and an English
// RAS library give it.
constexpr wchar_t kDeviceTraditional[] = L"WAN 迷你連接埠 (L2TP)";
constexpr wchar_t kDeviceSimplified[] = L"WAN 微型端口 (L2TP)";
constexpr wchar_t kDeviceEnglish[] = L"WAN Miniport (L2TP)";

}  // namespace

bool IsEntryPresent(DWORD validation) noexcept {
  return validation != 0 && validation != ERROR_CANNOT_OPEN_PHONEBOOK;
}

std::wstring DeviceNameFor(WORD rasLangId) {
  switch (rasLangId) {
    case 1028:
    case 3076:
    case 5124:
      return kDeviceTraditional;
    case 2052:
    case 4100:
      return kDeviceSimplified;
    default:
      return kDeviceEnglish;
  }
}

namespace {

// The record buffer: a whole RASENTRYW, never smaller than the size the system
// reported.
std::vector<BYTE> ZeroRecord(DWORD reportedSize) {
  return std::vector<BYTE>(reportedSize > kEntryBufferSize ? reportedSize : kEntryBufferSize, 0);
}

std::vector<BYTE> ZeroDeviceInfo(DWORD size) { return std::vector<BYTE>(size, 0); }

}  // namespace

Phonebook Phonebook::OfCurrentUser() {
  wchar_t appData[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData)) ||
      appData[0] == L'\0') {
    return Phonebook(std::wstring());
  }
  return Phonebook(std::wstring(appData) + L"\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk");
}

DWORD Phonebook::ValidateEntry() const { return ::RasValidateEntryNameW(Path(), kEntryName); }

void Phonebook::DeleteEntryIfPresent() const {
  if (IsEntryPresent(ValidateEntry())) ::RasDeleteEntryW(Path(), kEntryName);
}

bool Phonebook::QueryEntrySizes(EntrySizes& sizes) const {
  sizes = {};
  DWORD result = ::RasGetEntryPropertiesW(Path(), L"", nullptr, &sizes.entry, nullptr, &sizes.deviceInfo);
  return result == 0 || result == ERROR_BUFFER_TOO_SMALL;
}

bool Phonebook::ReadEntry(const EntrySizes& sizes) const {
  std::vector<BYTE> record = ZeroRecord(sizes.entry);
  std::vector<BYTE> deviceInfo = ZeroDeviceInfo(sizes.deviceInfo);
  reinterpret_cast<RASENTRYW*>(record.data())->dwSize = sizes.entry;
  DWORD entrySize = sizes.entry;
  DWORD deviceSize = sizes.deviceInfo;
  DWORD result = ::RasGetEntryPropertiesW(Path(), kEntryName, reinterpret_cast<RASENTRYW*>(record.data()),
                                          &entrySize, deviceInfo.empty() ? nullptr : deviceInfo.data(),
                                          deviceInfo.empty() ? nullptr : &deviceSize);
  return result == 0;
}

std::vector<BYTE> BuildEntryRecord(DWORD reportedSize, const std::string& server, WORD rasLangId,
                                   bool preSharedKey) {
  std::vector<BYTE> record = ZeroRecord(reportedSize);
  auto* entry = reinterpret_cast<RASENTRYW*>(record.data());
  entry->dwSize = reportedSize;
  entry->dwfOptions = kOptions;
  entry->dwCountryID = 86;
  entry->dwCountryCode = 86;
  kivo::toolkit::CopyTruncated(entry->szLocalPhoneNumber, kivo::toolkit::WidenAscii(server));
  entry->dwfNetProtocols = RASNP_Ip;
  entry->dwFramingProtocol = RASFP_Ppp;
  kivo::toolkit::CopyTruncated(entry->szDeviceType, RASDT_Vpn);
  kivo::toolkit::CopyTruncated(entry->szDeviceName, DeviceNameFor(rasLangId));
  entry->dwType = RASET_Vpn;
  if (preSharedKey) {
    // L2TP without IPsec would carry the PPP session in clear.
    entry->dwVpnStrategy = VS_L2tpOnly;
    entry->dwEncryptionType = ET_Require;
    entry->dwfOptions2 = RASEO2_UsePreSharedKey;
  } else {
    // Without a key the service's servers fix this strategy: they answer
    // the entry as it has always been written.
    entry->dwVpnStrategy = VS_PptpFirst;
    entry->dwEncryptionType = ET_Optional;
  }
  return record;
}

DWORD StorePreSharedKey(const wchar_t* phonebook, std::wstring_view key, SetCredentialsFunction setCredentials) {
  RASCREDENTIALSW credentials;
  std::memset(&credentials, 0, sizeof(credentials));
  credentials.dwSize = sizeof(credentials);
  credentials.dwMask = RASCM_PreSharedKey;
  const size_t length = key.size() < PWLEN ? key.size() : PWLEN;
  std::wmemcpy(credentials.szPassword, key.data(), length);
  const DWORD result = setCredentials(phonebook, kEntryName, &credentials, FALSE);
  ::SecureZeroMemory(&credentials, sizeof(credentials));
  return result;
}

bool Phonebook::WriteEntry(const EntrySizes& sizes, const std::string& server, WORD rasLangId) const {
  if (!path_.empty()) {
    // Already there, or the write below reports what is wrong.
    const std::wstring folder = path_.substr(0, path_.rfind(L'\\'));
    ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  }
  std::vector<BYTE> record = BuildEntryRecord(sizes.entry, server, rasLangId, kHasL2tpPreSharedKey);
  std::vector<BYTE> deviceInfo = ZeroDeviceInfo(sizes.deviceInfo);
  DWORD result =
      ::RasSetEntryPropertiesW(Path(), kEntryName, reinterpret_cast<RASENTRYW*>(record.data()), sizes.entry,
                               deviceInfo.empty() ? nullptr : deviceInfo.data(), sizes.deviceInfo);
  if (result != 0) return false;
  if (!kHasL2tpPreSharedKey) return true;
  // The key is UTF-8 in the program (a build setting), UTF-16 for the system.
  std::wstring key = kivo::toolkit::FromUtf8(std::string_view(kL2tpPreSharedKey, sizeof(kL2tpPreSharedKey) - 1));
  const DWORD stored = StorePreSharedKey(Path(), key);
  kivo::toolkit::WipeString(key);
  if (stored == 0) return true;
  // An entry that demands a key it does not have cannot be dialled.
  DeleteEntryIfPresent();
  return false;
}

}  // namespace kivo::vpn
