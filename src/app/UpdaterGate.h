// The gate in front of a downloaded updater: only a program that carries a
// valid Authenticode signature by the pinned signer is ever started.
#pragma once

#include <string>

namespace kivo::app {

// True when the file at `path` is signed, the signature verifies, and the
// signer's certificate has the SHA-1 thumbprint the build pins
// (kivo::endpoints::kUpdaterThumbprint). Otherwise the file is deleted and
// false returned. An empty pin trusts nothing.
bool IsTrustedUpdater(const std::string& path) noexcept;

// The same with the pin given.
bool IsTrustedUpdater(const std::string& path, const std::string& pinnedThumbprint) noexcept;

// Whether a certificate's SHA-1 hash equals a pinned thumbprint. The pin is
// 40 hex digits in either case, optionally grouped with spaces or colons;
// anything else, an empty pin included, never matches.
bool ThumbprintMatches(const unsigned char (&sha1)[20], const std::string& pinnedThumbprint) noexcept;

// WinVerifyTrust's verdict on the file's embedded Authenticode signature
// (no user interface, revocation checked along the whole chain).
bool VerifyAuthenticode(const std::string& path) noexcept;

// The SHA-1 hash of the certificate that signed the file; false when the
// file carries no readable signature.
bool GetSignerSha1(const std::string& path, unsigned char (&sha1)[20]) noexcept;

}  // namespace kivo::app
