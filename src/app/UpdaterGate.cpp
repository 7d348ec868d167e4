#include "app/UpdaterGate.h"

#include <windows.h>
// clang-format off
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>
// clang-format on

#include <string_view>
#include <vector>

#include "ServiceEndpoints.h"
#include "app/UpdatePaths.h"
#include "toolkit/Strings.h"

namespace kivo::app {

namespace {

constexpr DWORD kSha256Length = 32;
// A version resource larger than this is no resource of ours.
constexpr DWORD kMaxVersionInfoSize = 1u << 20;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool OnePinMatches(const unsigned char (&sha256)[32], std::string_view pin) noexcept {
  unsigned char pinned[kSha256Length] = {};
  DWORD digits = 0;
  for (const char c : pin) {
    if (c == ' ' || c == ':') continue;
    const int value = HexValue(c);
    if (value < 0 || digits >= 2 * kSha256Length) return false;
    pinned[digits / 2] = static_cast<unsigned char>(pinned[digits / 2] << 4 | value);
    ++digits;
  }
  if (digits != 2 * kSha256Length) return false;
  unsigned char difference = 0;
  for (DWORD i = 0; i < kSha256Length; ++i) difference |= pinned[i] ^ sha256[i];
  return difference == 0;
}

// One DER element at `at` of `der` (of `size` bytes): its tag, where its
// content starts and how long it is. False when it does not fit.
struct DerElement {
  unsigned char tag = 0;
  size_t start = 0;    // of the whole element
  size_t content = 0;  // of its content
  size_t length = 0;   // of its content
  size_t End() const { return content + length; }
};
bool ReadDer(const unsigned char* der, size_t size, size_t at, DerElement& element) {
  if (at + 2 > size) return false;
  element.start = at;
  element.tag = der[at];
  size_t length = der[at + 1];
  size_t pos = at + 2;
  if (length & 0x80) {
    const size_t bytes = length & 0x7F;
    if (bytes == 0 || bytes > 4 || pos + bytes > size) return false;
    length = 0;
    for (size_t i = 0; i < bytes; ++i) length = length << 8 | der[pos + i];
    pos += bytes;
  }
  if (length > size - pos) return false;
  element.content = pos;
  element.length = length;
  return true;
}

// The signer's public-key hash from a verification's state.
bool SignerFromState(HANDLE state, unsigned char (&sha256)[32]) noexcept {
  CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(state);
  if (provider == nullptr) return false;
  CRYPT_PROVIDER_SGNR* signer = ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
  if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr) return false;
  PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;
  if (certificate == nullptr || certificate->pbCertEncoded == nullptr) return false;
  return PublicKeyHash(certificate->pbCertEncoded, certificate->cbCertEncoded, sha256);
}

// One value of the version resource in one language block; "" when the
// block or the value is missing.
std::wstring VersionValueOf(std::vector<char>& info, WORD language, WORD codePage, const wchar_t* name) {
  const std::wstring key = toolkit::Format(L"\\StringFileInfo\\%04x%04x\\%ls", language, codePage, name);
  wchar_t* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || value == nullptr) {
    return std::wstring();
  }
  // The length counts the terminating zero, where there is one.
  std::wstring text(value, length);
  if (const auto end = text.find(L'\0'); end != std::wstring::npos) text.resize(end);
  return text;
}

// The value `name` when the language blocks that hold it agree on it; ""
// otherwise. A resource may list languages whose blocks sit in a resource
// of their own (as NSIS writes them); those are not here to compare.
template <typename Translation>
std::wstring AgreedValue(std::vector<char>& info, const Translation* translations, UINT count,
                         const wchar_t* name) {
  std::wstring agreed;
  for (UINT i = 0; i < count; ++i) {
    const std::wstring text = VersionValueOf(info, translations[i].language, translations[i].codePage, name);
    if (text.empty()) continue;
    if (!agreed.empty() && text != agreed) return std::wstring();
    agreed = text;
  }
  return agreed;
}

// A program started from `path` with `parameters`, in `folder`, without the
// shell: the held file is what the loader maps.
bool StartProgram(const std::wstring& path, const std::wstring& parameters, const std::wstring& folder) {
  if (path.empty()) return false;
  // The program's own name first, quoted: the folder may hold spaces.
  std::wstring commandLine = L"\"" + path + L"\"";
  if (!parameters.empty()) commandLine += L" " + parameters;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
    return false;
  }
  toolkit::UniqueKernelHandle thread(process.hThread);
  toolkit::UniqueKernelHandle started(process.hProcess);
  return true;
}

}  // namespace

bool FindSubjectPublicKeyInfo(const unsigned char* der, size_t size, size_t& offset,
                              size_t& length) noexcept {
  // Certificate ::= SEQUENCE { tbsCertificate SEQUENCE { [0] version
  // OPTIONAL, serialNumber, signature, issuer, validity, subject,
  // subjectPublicKeyInfo, ... }, ... }
  DerElement certificate, tbs, element;
  if (der == nullptr || !ReadDer(der, size, 0, certificate) || certificate.tag != 0x30) return false;
  if (!ReadDer(der, certificate.End(), certificate.content, tbs) || tbs.tag != 0x30) return false;
  size_t at = tbs.content;
  if (!ReadDer(der, tbs.End(), at, element)) return false;
  if (element.tag == 0xA0) {
    at = element.End();
    if (!ReadDer(der, tbs.End(), at, element)) return false;
  }
  // serialNumber, signature, issuer, validity, subject: five elements on.
  for (int skipped = 0; skipped < 5; ++skipped) {
    at = element.End();
    if (!ReadDer(der, tbs.End(), at, element)) return false;
  }
  if (element.tag != 0x30) return false;
  offset = element.start;
  length = element.End() - element.start;
  return true;
}

bool PublicKeyHash(const unsigned char* der, size_t size, unsigned char (&sha256)[32]) noexcept {
  size_t offset = 0, length = 0;
  if (!FindSubjectPublicKeyInfo(der, size, offset, length)) return false;
  HCRYPTPROV provider = 0;
  if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return false;
  bool done = false;
  HCRYPTHASH hash = 0;
  if (::CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
    DWORD hashLength = kSha256Length;
    done = ::CryptHashData(hash, der + offset, static_cast<DWORD>(length), 0) &&
           ::CryptGetHashParam(hash, HP_HASHVAL, sha256, &hashLength, 0) && hashLength == kSha256Length;
    ::CryptDestroyHash(hash);
  }
  ::CryptReleaseContext(provider, 0);
  return done;
}

HeldFile::HeldFile(std::wstring path) : path_(std::move(path)) {
  if (path_.empty()) return;
  // Read sharing only: nobody may write, rename or delete the file while it
  // is held, yet the loader can still map it to start the program.
  file_.Reset(::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
}

SignatureCheck CheckSignature(const HeldFile& file) noexcept {
  SignatureCheck check;
  if (!file.IsOpen() || file.Path().empty()) return check;
  WINTRUST_FILE_INFO fileInfo = {};
  fileInfo.cbStruct = sizeof(fileInfo);
  fileInfo.pcwszFilePath = file.Path().c_str();
  // The held handle is read, not the path.
  fileInfo.hFile = file.Get();
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG verdict = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  check.verified = verdict == ERROR_SUCCESS;
  if (data.hWVTStateData != nullptr)
    check.signerKnown = SignerFromState(data.hWVTStateData, check.signerKeySha256);
  // The verification state is released whatever the verdict was.
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return check;
}

VersionResource ReadVersionResource(const HeldFile& file) noexcept {
  try {
    // While the file is held its content cannot change, so reading the
    // resource by path reads the bytes that were verified.
    if (!file.IsOpen()) return VersionResource();
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.Path().c_str(), &ignored);
    if (size == 0 || size > kMaxVersionInfoSize) return VersionResource();
    std::vector<char> info(size);
    if (!::GetFileVersionInfoW(file.Path().c_str(), 0, size, info.data())) return VersionResource();

    struct Translation {
      WORD language;
      WORD codePage;
    };
    Translation* translations = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                          &length) ||
        translations == nullptr || length < sizeof(Translation)) {
      return VersionResource();
    }
    const UINT count = length / sizeof(Translation);
    VersionResource resource;
    resource.productVersion = AgreedValue(info, translations, count, L"ProductVersion");
    resource.originalFilename = AgreedValue(info, translations, count, L"OriginalFilename");
    resource.internalName = AgreedValue(info, translations, count, L"InternalName");
    return resource;
  } catch (...) {
    // What the copy of the resource and its texts throw (the standard
    // library's std::bad_alloc and std::length_error when memory runs out;
    // our code throws nothing of its own): the gate calls this noexcept
    // function, and a resource that cannot be read names no version, so the
    // file is not trusted.
    return VersionResource();
  }
}

std::wstring ReadProductVersion(const HeldFile& file) noexcept {
  return ReadVersionResource(file).productVersion;
}

bool KeyPinMatches(const unsigned char (&sha256)[32], const std::string& pinnedKeys) noexcept {
  const std::string_view pins = pinnedKeys;
  std::string_view::size_type start = 0;
  for (;;) {
    const std::string_view::size_type end = pins.find(';', start);
    if (OnePinMatches(sha256, pins.substr(start, end - start))) return true;
    if (end == std::string_view::npos) return false;
    start = end + 1;
  }
}

bool IsTrustedUpdater(const HeldFile& file, const std::string& pinnedKeys,
                      const std::string& announcedVersion) noexcept {
  // With no pin nothing is read at all.
  if (pinnedKeys.empty() || announcedVersion.empty() || !file.IsOpen()) return false;
  const SignatureCheck signature = CheckSignature(file);
  if (!signature.verified || !signature.signerKnown) return false;
  if (!KeyPinMatches(signature.signerKeySha256, pinnedKeys)) return false;
  const VersionResource resource = ReadVersionResource(file);
  // Our client, signed by the same publisher and of the same version, is
  // no updater: it would run as a second client and replace nothing.
  if (resource.originalFilename != kSetupOriginalFilename || resource.internalName != kSetupInternalName) {
    return false;
  }
  // An older build of ours, signed and all, offered as a newer one.
  return resource.productVersion == toolkit::WidenAscii(announcedVersion);
}

UpdaterStart StartTrustedUpdater(const std::wstring& path, const std::wstring& parameters,
                                 const std::string& announcedVersion,
                                 const std::string& pinnedKeys) noexcept {
  try {
    HeldFile updater(path);
    if (IsTrustedUpdater(updater, pinnedKeys, announcedVersion)) {
      // The updater works in the client's folder, which holds it, whatever
      // folder the client was started in (a Run key starts it in System32).
      const std::wstring folder = SplitModulePath(path).directory;
      return StartProgram(path, parameters, folder) ? UpdaterStart::kStarted : UpdaterStart::kNotStarted;
    }
  } catch (...) {
    // What the copies of the path and the command line throw (the standard
    // library's std::bad_alloc and std::length_error when memory runs out;
    // our code throws nothing of its own): start-up calls this noexcept
    // function, and an updater that could not be checked and started is
    // refused like an untrusted one.
  }
  // The hold ended with the scope: a refused file can go.
  if (!path.empty()) ::DeleteFileW(path.c_str());
  return UpdaterStart::kRefused;
}

UpdaterStart StartTrustedUpdater(const std::wstring& path, const std::wstring& parameters,
                                 const std::string& announcedVersion) noexcept {
  try {
    return StartTrustedUpdater(path, parameters, announcedVersion, std::string(endpoints::kUpdaterPins));
  } catch (...) {
    // What the copy of the pins throws (the standard library's std::bad_alloc
    // when memory runs out): start-up calls this noexcept function, and
    // without the pins nothing is trusted.
    if (!path.empty()) ::DeleteFileW(path.c_str());
    return UpdaterStart::kRefused;
  }
}

}  // namespace kivo::app
