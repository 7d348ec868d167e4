#include "app/UpdaterGate.h"

#include <windows.h>
// clang-format off
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>
// clang-format on

#include <vector>

#include "ServiceEndpoints.h"
#include "toolkit/Handle.h"

namespace kivo::app {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kSha1Length = 20;

using CertStoreTraits = toolkit::ClosedBy<HCERTSTORE, [](HCERTSTORE h) { ::CertCloseStore(h, 0); }>;
using CryptMsgTraits = toolkit::ClosedBy<HCRYPTMSG, ::CryptMsgClose>;
using CertContextTraits = toolkit::ClosedBy<PCCERT_CONTEXT, ::CertFreeCertificateContext>;

// The path as UTF-16, the way the crypto and trust calls take it.
bool ToWide(const std::string& path, std::wstring& wide) {
  if (path.empty() || path.size() > 32767) return false;
  const int length = ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  if (length <= 0) return false;
  wide.assign(static_cast<std::wstring::size_type>(length), L'\0');
  return ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), length) ==
         length;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ThumbprintMatches(const unsigned char (&sha1)[20], const std::string& pinnedThumbprint) noexcept {
  unsigned char pinned[kSha1Length] = {};
  DWORD digits = 0;
  for (const char c : pinnedThumbprint) {
    if (c == ' ' || c == ':') continue;
    const int value = HexValue(c);
    if (value < 0 || digits >= 2 * kSha1Length) return false;
    pinned[digits / 2] = static_cast<unsigned char>(pinned[digits / 2] << 4 | value);
    ++digits;
  }
  if (digits != 2 * kSha1Length) return false;
  unsigned char difference = 0;
  for (DWORD i = 0; i < kSha1Length; ++i) difference |= pinned[i] ^ sha1[i];
  return difference == 0;
}

bool VerifyAuthenticode(const std::string& path) noexcept {
  try {
    std::wstring widePath;
    if (!ToWide(path, widePath)) return false;
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = widePath.c_str();
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG verdict = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    // The verification state is released whatever the verdict was.
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return verdict == ERROR_SUCCESS;
  } catch (...) {
    return false;
  }
}

bool GetSignerSha1(const std::string& path, unsigned char (&sha1)[20]) noexcept {
  try {
    std::wstring widePath;
    if (!ToWide(path, widePath)) return false;
    HCERTSTORE rawStore = nullptr;
    HCRYPTMSG rawMessage = nullptr;
    DWORD encoding = 0, contentType = 0, formatType = 0;
    const BOOL found =
        ::CryptQueryObject(CERT_QUERY_OBJECT_FILE, widePath.c_str(),
                           CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY, 0,
                           &encoding, &contentType, &formatType, &rawStore, &rawMessage, nullptr);
    toolkit::UniqueHandle<CertStoreTraits> store(rawStore);
    toolkit::UniqueHandle<CryptMsgTraits> message(rawMessage);
    if (!found || !store || !message) return false;

    DWORD size = 0;
    if (!::CryptMsgGetParam(message.Get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size)) return false;
    if (size < sizeof(CMSG_SIGNER_INFO) || size > (1u << 20)) return false;
    // DWORD elements keep the record suitably aligned.
    std::vector<DWORD> buffer((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    if (!::CryptMsgGetParam(message.Get(), CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size)) return false;
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());

    CERT_INFO wanted = {};
    wanted.Issuer = signer->Issuer;
    wanted.SerialNumber = signer->SerialNumber;
    toolkit::UniqueHandle<CertContextTraits> certificate(
        ::CertFindCertificateInStore(store.Get(), kEncoding, 0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
    if (!certificate) return false;

    DWORD hashLength = kSha1Length;
    if (!::CertGetCertificateContextProperty(certificate.Get(), CERT_SHA1_HASH_PROP_ID, sha1, &hashLength)) {
      return false;
    }
    return hashLength == kSha1Length;
  } catch (...) {
    return false;
  }
}

bool IsTrustedUpdater(const std::string& path, const std::string& pinnedThumbprint) noexcept {
  unsigned char sha1[kSha1Length] = {};
  // The cheap pin test first: with no pin nothing is opened at all.
  const bool trusted = !pinnedThumbprint.empty() && GetSignerSha1(path, sha1) &&
                       ThumbprintMatches(sha1, pinnedThumbprint) && VerifyAuthenticode(path);
  if (!trusted && !path.empty()) ::DeleteFileA(path.c_str());
  return trusted;
}

bool IsTrustedUpdater(const std::string& path) noexcept {
  try {
    return IsTrustedUpdater(path, std::string(endpoints::kUpdaterThumbprint));
  } catch (...) {
    if (!path.empty()) ::DeleteFileA(path.c_str());
    return false;
  }
}

}  // namespace kivo::app
