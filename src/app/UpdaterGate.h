// The gate in front of a downloaded updater: only a program that carries a
// valid Authenticode signature by a pinned signer, and whose signed version
// resource names the version the update host announced, is ever started;
// and it is held open from its verification through its start, so that what
// starts is what was verified.
#pragma once

#include <windows.h>

#include <string>

#include "toolkit/Handle.h"

namespace kivo::app {

// A file opened for reading while everybody else is denied writing,
// renaming and deleting it. A program may still be started from its path.
class HeldFile {
 public:
  explicit HeldFile(std::wstring path);
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  bool IsOpen() const noexcept { return file_.Valid(); }
  const std::wstring& Path() const noexcept { return path_; }
  HANDLE Get() const noexcept { return file_.Get(); }
  // Lets go of the file, so that it can be deleted.
  void Close() noexcept { file_.Reset(); }

 private:
  std::wstring path_;
  toolkit::UniqueFileHandle file_;
};

// What one WinVerifyTrust call says about a held file's embedded signature
// (no user interface, revocation checked along the whole chain), with the
// signer taken from that same verification: the SHA-256 hash of its
// certificate's SubjectPublicKeyInfo, which a renewed certificate for the
// same key keeps.
struct SignatureCheck {
  bool verified = false;
  bool signerKnown = false;
  unsigned char signerKeySha256[32] = {};
};
SignatureCheck CheckSignature(const HeldFile& file) noexcept;

// The texts of the held file's version resource that the gate looks at,
// each "" unless the language blocks that hold it agree on one.
struct VersionResource {
  std::wstring productVersion;
  std::wstring originalFilename;
  std::wstring internalName;
};
VersionResource ReadVersionResource(const HeldFile& file) noexcept;

// The "ProductVersion" of ReadVersionResource.
std::wstring ReadProductVersion(const HeldFile& file) noexcept;

// Where the SubjectPublicKeyInfo element (tag and length included) sits in
// a DER-encoded X.509 certificate. False when the certificate cannot be read.
bool FindSubjectPublicKeyInfo(const unsigned char* der, size_t size, size_t& offset, size_t& length) noexcept;

// The SHA-256 hash of a DER certificate's SubjectPublicKeyInfo: the key pin
// (`openssl x509 -pubkey -noout | openssl pkey -pubin -outform DER |
// openssl dgst -sha256` gives the same).
bool PublicKeyHash(const unsigned char* der, size_t size, unsigned char (&sha256)[32]) noexcept;

// Whether a public-key hash equals one of the pinned keys, separated by
// ';'. Each pin is 64 hex digits in either case, optionally grouped with
// spaces or colons; anything else, an empty pin included, never matches.
bool KeyPinMatches(const unsigned char (&sha256)[32], const std::string& pinnedKeys) noexcept;

// The gate's verdict on a held file: signed by a pinned signer, verified,
// named the setup program by its version resource (kSetupOriginalFilename,
// kSetupInternalName), and of the announced version.
bool IsTrustedUpdater(const HeldFile& file, const std::string& pinnedKeys,
                      const std::string& announcedVersion) noexcept;

enum class UpdaterStart {
  kRefused,     // not trusted: the file was deleted
  kNotStarted,  // trusted, but it could not be started
  kStarted,
};

// Holds the downloaded updater at `path`, checks it against the pins and
// the announced version and, when trusted, starts it with `parameters`,
// still held, in the folder that holds it: CreateProcessW on the held path,
// no shell association and no COM. A refused file is deleted.
UpdaterStart StartTrustedUpdater(const std::wstring& path, const std::wstring& parameters,
                                 const std::string& announcedVersion, const std::string& pinnedKeys) noexcept;

// The same with the pins this build carries (kivo::endpoints::kUpdaterPins;
// empty by default, which trusts nothing).
UpdaterStart StartTrustedUpdater(const std::wstring& path, const std::wstring& parameters,
                                 const std::string& announcedVersion) noexcept;

}  // namespace kivo::app
