#include "vpn/Phonebook.h"

#include <shlobj.h>

#include <cstring>

#include "toolkit/Strings.h"
#include "vpn/L2tpPreSharedKey.h"
#include "vpn/RasRecords.h"

namespace kivo::vpn {

namespace {

constexpr DWORD kOptions = RASEO_RemoteDefaultGateway | RASEO_RequireDataEncryption | RASEO_RequireCHAP |
                           RASEO_RequireMsCHAP | RASEO_RequireMsCHAP2;
static_assert(kOptions == 0x38001010);

// "WAN 迷你連接埠 (L2TP)" in Big5, "WAN 微型端口 (L2TP)" in GBK.
constexpr char kDeviceBig5[] = "WAN \xB0\x67\xA7\x41\xB3\x73\xB1\xB5\xB0\xF0 (L2TP)";
constexpr char kDeviceGbk[] = "WAN \xCE\xA2\xD0\xCD\xB6\xCB\xBF\xDA (L2TP)";
constexpr char kDeviceEnglish[] = "WAN Miniport (L2TP)";

}  // namespace

bool IsEntryPresent(DWORD validation) noexcept {
  return validation != 0 && validation != ERROR_CANNOT_OPEN_PHONEBOOK;
}

std::string DeviceNameFor(WORD rasLangId) {
  switch (rasLangId) {
    case 1028:
    case 3076:
    case 5124:
      return kDeviceBig5;
    case 2052:
    case 4100:
      return kDeviceGbk;
    default:
      return kDeviceEnglish;
  }
}

namespace {

// The record buffer: 2884 bytes, never smaller than the size the system
// reported.
std::vector<BYTE> ZeroRecord(DWORD reportedSize) {
  return std::vector<BYTE>(reportedSize > kEntryBufferSize ? reportedSize : kEntryBufferSize, 0);
}

std::vector<BYTE> ZeroDeviceInfo(DWORD size) { return std::vector<BYTE>(size, 0); }

}  // namespace

Phonebook Phonebook::OfCurrentUser() {
  char appData[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData)) ||
      appData[0] == '\0') {
    return Phonebook(std::string());
  }
  return Phonebook(std::string(appData) + "\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk");
}

DWORD Phonebook::ValidateEntry() const { return ::RasValidateEntryNameA(Path(), kEntryName); }

void Phonebook::DeleteEntryIfPresent() const {
  if (IsEntryPresent(ValidateEntry())) ::RasDeleteEntryA(Path(), kEntryName);
}

bool Phonebook::QueryEntrySizes(EntrySizes& sizes) const {
  sizes = {};
  DWORD result = ::RasGetEntryPropertiesA(Path(), "", nullptr, &sizes.entry, nullptr, &sizes.deviceInfo);
  return result == 0 || result == ERROR_BUFFER_TOO_SMALL;
}

bool Phonebook::ReadEntry(const EntrySizes& sizes) const {
  std::vector<BYTE> record = ZeroRecord(sizes.entry);
  std::vector<BYTE> deviceInfo = ZeroDeviceInfo(sizes.deviceInfo);
  reinterpret_cast<RASENTRYA*>(record.data())->dwSize = sizes.entry;
  DWORD entrySize = sizes.entry;
  DWORD deviceSize = sizes.deviceInfo;
  DWORD result = ::RasGetEntryPropertiesA(Path(), kEntryName, reinterpret_cast<RASENTRYA*>(record.data()),
                                          &entrySize, deviceInfo.empty() ? nullptr : deviceInfo.data(),
                                          deviceInfo.empty() ? nullptr : &deviceSize);
  return result == 0;
}

std::vector<BYTE> BuildEntryRecord(DWORD reportedSize, const std::string& server, WORD rasLangId,
                                   bool preSharedKey) {
  std::vector<BYTE> record = ZeroRecord(reportedSize);
  auto* entry = reinterpret_cast<RASENTRYA*>(record.data());
  entry->dwSize = reportedSize;
  entry->dwfOptions = kOptions;
  entry->dwCountryID = 86;
  entry->dwCountryCode = 86;
  kivo::toolkit::CopyTruncated(entry->szLocalPhoneNumber, sizeof(entry->szLocalPhoneNumber), server);
  entry->dwfNetProtocols = RASNP_Ip;
  entry->dwFramingProtocol = RASFP_Ppp;
  kivo::toolkit::CopyTruncated(entry->szDeviceType, sizeof(entry->szDeviceType), RASDT_Vpn);
  kivo::toolkit::CopyTruncated(entry->szDeviceName, sizeof(entry->szDeviceName), DeviceNameFor(rasLangId));
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

DWORD StorePreSharedKey(const char* phonebook, std::string_view key, SetCredentialsFunction setCredentials) {
  RASCREDENTIALSA credentials;
  std::memset(&credentials, 0, sizeof(credentials));
  credentials.dwSize = sizeof(credentials);
  credentials.dwMask = RASCM_PreSharedKey;
  const size_t length = key.size() < PWLEN ? key.size() : PWLEN;
  std::memcpy(credentials.szPassword, key.data(), length);
  const DWORD result = setCredentials(phonebook, kEntryName, &credentials, FALSE);
  ::SecureZeroMemory(&credentials, sizeof(credentials));
  return result;
}

bool Phonebook::WriteEntry(const EntrySizes& sizes, const std::string& server, WORD rasLangId) const {
  if (!path_.empty()) {
    // Already there, or the write below reports what is wrong.
    const std::string folder = path_.substr(0, path_.rfind('\\'));
    ::SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);
  }
  constexpr std::string_view key(kL2tpPreSharedKey, sizeof(kL2tpPreSharedKey) - 1);
  std::vector<BYTE> record = BuildEntryRecord(sizes.entry, server, rasLangId, !key.empty());
  std::vector<BYTE> deviceInfo = ZeroDeviceInfo(sizes.deviceInfo);
  DWORD result =
      ::RasSetEntryPropertiesA(Path(), kEntryName, reinterpret_cast<RASENTRYA*>(record.data()), sizes.entry,
                               deviceInfo.empty() ? nullptr : deviceInfo.data(), sizes.deviceInfo);
  if (result != 0) return false;
  if (key.empty() || StorePreSharedKey(Path(), key) == 0) return true;
  // An entry that demands a key it does not have cannot be dialled.
  DeleteEntryIfPresent();
  return false;
}

}  // namespace kivo::vpn
