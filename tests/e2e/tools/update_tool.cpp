// kivo_update_tool: drives the self-update classes one step at a time and
// prints what they did as one line of JSON, for the end-to-end tests and the
// benchmark. Run it only inside a test namespace: it talks to the update host.
//
//   kivo_update_tool check <running version>      IsUpToDate
//   kivo_update_tool fetch                        FetchLatestVersion
//   kivo_update_tool fetch-url <url>              the version page at any URL
//   kivo_update_tool download                     Download
//   kivo_update_tool gate <path> <announced version> [pin]
//       IsTrustedUpdater on the held file (pin of this build if none given);
//       a refused file is deleted, as start-up does
//   kivo_update_tool signer <path>                the signer's SHA-1 and the Authenticode verdict
//   kivo_update_tool version <path>               the version resource's product version
//   kivo_update_tool startup <running version> [pin]
//       the client's start-up order: delete a leftover updater, check,
//       download, and start a trusted updater through the shell.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/UpdateChecker.h"
#include "app/UpdateDownloader.h"
#include "app/UpdatePaths.h"
#include "app/UpdaterGate.h"
#include "ServiceEndpoints.h"
#include "toolkit/Strings.h"

namespace {

// Bytes as a JSON string; bytes outside printable ASCII become \u00XX so the
// reader gets each byte back as one code point.
std::string Json(const std::string& bytes) {
  std::string out = "\"";
  for (const unsigned char c : bytes) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Text as a JSON string: every UTF-16 unit outside printable ASCII as \uXXXX.
std::string Json(const std::wstring& text) {
  std::string out = "\"";
  for (const wchar_t c : text) {
    if (c == L'"' || c == L'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

const char* Bool(bool value) { return value ? "true" : "false"; }

// An argument as the program's text (the tests pass ASCII or UTF-8).
std::wstring Wide(const char* argument) { return kivo::toolkit::FromUtf8(argument); }

bool FileExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Hex(const unsigned char (&bytes)[32]) {
  std::string out;
  char two[3];
  for (const unsigned char b : bytes) {
    std::snprintf(two, sizeof(two), "%02X", b);
    out += two;
  }
  return out;
}

int Usage() {
  std::puts("{\"error\":\"usage\"}");
  return 2;
}

int Startup(const std::string& runningVersion, const std::string* pin) {
  std::wstring leftover, ownName;
  const bool located = kivo::app::GetLocalUpdaterPath(leftover, ownName);
  const bool hadLeftover = located && FileExists(leftover);
  if (located) ::DeleteFileW(leftover.c_str());
  const bool leftoverGone = !located || !FileExists(leftover);

  std::wstring path, exe;
  std::string latest;
  // "downloaded" is null when no download was tried.
  const char* downloaded = "null";
  bool trusted = false, started = false;
  kivo::app::CUpdateChecker checker;
  const bool upToDate = checker.IsUpToDate(runningVersion, latest);
  if (!upToDate) {
    kivo::app::CUpdateDownloader downloader;
    const bool written = downloader.Download(path, exe);
    downloaded = Bool(written);
    if (written) {
      using kivo::app::UpdaterStart;
      const UpdaterStart start = pin ? kivo::app::StartTrustedUpdater(path, exe, latest, *pin)
                                     : kivo::app::StartTrustedUpdater(path, exe, latest);
      trusted = start != UpdaterStart::kRefused;
      started = start == UpdaterStart::kStarted;
    }
  }
  std::printf(
      "{\"had_leftover\":%s,\"leftover_gone\":%s,\"up_to_date\":%s,\"downloaded\":%s,\"path\":%s,\"exe\":%s,"
      "\"trusted\":%s,\"started\":%s,\"file_exists\":%s}\n",
      Bool(hadLeftover), Bool(leftoverGone), Bool(upToDate), downloaded, Json(path).c_str(), Json(exe).c_str(),
      Bool(trusted), Bool(started), Bool(!path.empty() && FileExists(path)));
  return 0;
}

int Run(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  const DWORD start = ::GetTickCount();
  if (command == "check" && argc == 3) {
    kivo::app::CUpdateChecker checker;
    const bool upToDate = checker.IsUpToDate(argv[2]);
    std::printf("{\"result\":%s,\"ms\":%lu}\n", Bool(upToDate), ::GetTickCount() - start);
  } else if (command == "fetch" && argc == 2) {
    kivo::app::CUpdateChecker checker;
    const std::string latest = checker.FetchLatestVersion();
    std::printf("{\"latest\":%s,\"ms\":%lu}\n", Json(latest).c_str(), ::GetTickCount() - start);
  } else if (command == "fetch-url" && argc == 3) {
    const std::string latest = kivo::app::FetchVersionPage(argv[2]);
    std::printf("{\"latest\":%s,\"ms\":%lu}\n", Json(latest).c_str(), ::GetTickCount() - start);
  } else if (command == "download" && argc == 2) {
    std::wstring path, exe;
    kivo::app::CUpdateDownloader downloader;
    const bool written = downloader.Download(path, exe);
    std::wstring expectedPath, ownName;
    kivo::app::GetLocalUpdaterPath(expectedPath, ownName);
    std::printf("{\"result\":%s,\"path\":%s,\"exe\":%s,\"target\":%s,\"ms\":%lu}\n", Bool(written),
                Json(path).c_str(), Json(exe).c_str(), Json(expectedPath).c_str(), ::GetTickCount() - start);
  } else if (command == "gate" && (argc == 4 || argc == 5)) {
    bool trusted = false;
    {
      const kivo::app::HeldFile file(Wide(argv[2]));
      trusted = kivo::app::IsTrustedUpdater(
          file, argc == 5 ? std::string(argv[4]) : std::string(kivo::endpoints::kUpdaterPins), argv[3]);
    }
    if (!trusted) ::DeleteFileW(Wide(argv[2]).c_str());
    std::printf("{\"trusted\":%s,\"exists\":%s}\n", Bool(trusted), Bool(FileExists(Wide(argv[2]))));
  } else if (command == "signer" && argc == 3) {
    const kivo::app::HeldFile file(Wide(argv[2]));
    const kivo::app::SignatureCheck check = kivo::app::CheckSignature(file);
    std::printf("{\"signed\":%s,\"key\":%s,\"verified\":%s}\n", Bool(check.signerKnown),
                Json(check.signerKnown ? Hex(check.signerKeySha256) : std::string()).c_str(),
                Bool(check.verified));
  } else if (command == "version" && argc == 3) {
    const kivo::app::HeldFile file(Wide(argv[2]));
    std::printf("{\"version\":%s}\n", Json(kivo::app::ReadProductVersion(file)).c_str());
  } else if (command == "startup" && (argc == 3 || argc == 4)) {
    const std::string pin = argc == 4 ? argv[3] : std::string();
    return Startup(argv[2], argc == 4 ? &pin : nullptr);
  } else {
    return Usage();
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const int code = Run(argc, argv);
    std::fflush(stdout);
    return code;
  } catch (...) {
    std::puts("{\"error\":\"exception\"}");
    return 3;
  }
}
