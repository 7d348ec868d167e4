// Self-update: version rules, Content-Length parsing, path splitting, the
// signer pin, and the HTTP exchanges against a one-shot host on loopback.
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>

#include <cctype>
#include <climits>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "app/UpdateChecker.h"
#include "app/UpdateDownloader.h"
#include "app/UpdateFailure.h"
#include "app/UpdatePaths.h"
#include "app/UpdaterGate.h"
#include "toolkit/Strings.h"
#include "KivoVersion.h"
#include "toolkit/Handle.h"

namespace {

using namespace kivo::app;

// ---------------------------------------------------------------- versions

TEST(UpdateVersionRules, EvenLastDigitSkipsTheCheck) {
  for (const char* version : {"3.0.0", "3.0.2", "3.0.4", "3.0.6", "3.0.8", "8"}) {
    EXPECT_TRUE(SkipsVersionCheck(version)) << version;
  }
  for (const char* version : {"3.0.7", "3.0.1", "3.0.9", "3.0.a", "3.0.", "", "2.4 "}) {
    EXPECT_FALSE(SkipsVersionCheck(version)) << version;
  }
}

TEST(UpdateVersionRules, OnlyAFiveByteBodyIsAVersion) {
  const char page[100] = "3.0.8\n";
  EXPECT_EQ(VersionFromPageBody(page, 5), "3.0.8");
  EXPECT_EQ(VersionFromPageBody(page, 6), "");
  EXPECT_EQ(VersionFromPageBody(page, 4), "");
  EXPECT_EQ(VersionFromPageBody(page, 0), "");
  EXPECT_EQ(VersionFromPageBody(page, 100), "");
  EXPECT_EQ(VersionFromPageBody(nullptr, 5), "");
  // Five bytes are five bytes, whatever they are.
  const char odd[5] = {'a', '\0', 'b', '\xff', ' '};
  EXPECT_EQ(VersionFromPageBody(odd, 5), std::string(odd, 5));
}

TEST(UpdateVersionRules, ComparisonIsByteWise) {
  EXPECT_TRUE(IsNewerVersion("3.0.8", "3.0.7"));
  EXPECT_TRUE(IsNewerVersion("3.1.0", "3.0.7"));
  EXPECT_TRUE(IsNewerVersion("4.0.0", "3.0.7"));
  EXPECT_FALSE(IsNewerVersion("3.0.7", "3.0.7"));
  EXPECT_FALSE(IsNewerVersion("2.9.9", "3.0.7"));
  // Not numeric: "1" sorts before "3".
  EXPECT_FALSE(IsNewerVersion("10.00", "3.0.7"));
  // A proper prefix is the smaller.
  EXPECT_FALSE(IsNewerVersion("3.0.", "3.0.7"));
  EXPECT_TRUE(IsNewerVersion("3.0.70", "3.0.7"));
  // Bytes count as unsigned: 0xB0 is above '3'.
  EXPECT_TRUE(IsNewerVersion("\xb0.0.0", "3.0.7"));
  EXPECT_FALSE(IsNewerVersion("3.0.7", "\xb0.0.0"));
}

TEST(UpdateVersionRules, DecisionFetchesOnlyWhenNeeded) {
  int fetches = 0;
  auto offering = [&fetches](std::string latest) {
    return [&fetches, latest] {
      ++fetches;
      return latest;
    };
  };
  EXPECT_TRUE(DecideUpToDate("3.0.8", offering("9.9.9")));
  EXPECT_EQ(fetches, 0);
  EXPECT_FALSE(DecideUpToDate("3.0.7", offering("3.0.8")));
  EXPECT_TRUE(DecideUpToDate("3.0.7", offering("3.0.7")));
  EXPECT_TRUE(DecideUpToDate("3.0.7", offering("2.9.9")));
  EXPECT_TRUE(DecideUpToDate("3.0.7", offering("10.00")));
  EXPECT_TRUE(DecideUpToDate("3.0.7", offering("")));
  EXPECT_EQ(fetches, 5);
}

// The unit tests run where the update host's name does not resolve: every
// outcome of the real checker is "no update", and none of them may throw or
// hang. (That an even ending asks nothing is shown by the decision test above
// and, against a live host, by the end-to-end test.)
TEST(UpdateChecker, WithoutTheHostReportsNoUpdate) {
  CUpdateChecker checker;
  EXPECT_TRUE(checker.IsUpToDate("3.0.8"));
  EXPECT_TRUE(checker.IsUpToDate("3.0.7"));
  EXPECT_TRUE(checker.IsUpToDate(""));
  EXPECT_EQ(checker.FetchLatestVersion(), "");
}

TEST(UpdateChecker, VersionPageAddressesTheUpdateHost) {
  EXPECT_EQ(VersionPageUrl(), "http://update.kivoline.example/Velmar/lastver.html");
  EXPECT_EQ(FetchVersionPage("ftp://127.0.0.1/Velmar/lastver.html"), "");
  EXPECT_EQ(FetchVersionPage("not a url"), "");
  EXPECT_EQ(FetchVersionPage(std::string(5000, 'h')), "");
}

// ---------------------------------------------------------- Content-Length

TEST(UpdateContentLength, ReadsLikeAtoi) {
  EXPECT_EQ(ParseContentLength("1234"), 1234);
  EXPECT_EQ(ParseContentLength("0"), 0);
  EXPECT_EQ(ParseContentLength(""), 0);
  EXPECT_EQ(ParseContentLength("abc"), 0);
  EXPECT_EQ(ParseContentLength("  42"), 42);
  EXPECT_EQ(ParseContentLength("\t\r\n 7"), 7);
  EXPECT_EQ(ParseContentLength("42abc"), 42);
  EXPECT_EQ(ParseContentLength("4 2"), 4);
  EXPECT_EQ(ParseContentLength("+9"), 9);
  EXPECT_EQ(ParseContentLength("-5"), -5);
  EXPECT_EQ(ParseContentLength("- 5"), 0);
  EXPECT_EQ(ParseContentLength("0x10"), 0);
}

TEST(UpdateContentLength, LargeValuesNeitherWrapNorOverflow) {
  EXPECT_EQ(ParseContentLength("3000000000"), 3000000000LL);
  EXPECT_EQ(ParseContentLength("9223372036854775807"), LLONG_MAX);
  EXPECT_EQ(ParseContentLength("9223372036854775808"), LLONG_MAX);
  EXPECT_EQ(ParseContentLength(std::string(5000, '9')), LLONG_MAX);
  EXPECT_EQ(ParseContentLength("-" + std::string(40, '9')), LLONG_MIN);
}

// ----------------------------------------------------------------- paths

TEST(UpdatePaths, SplitsAtTheLastBackslash) {
  ModulePathParts parts = SplitModulePath(L"C:\\Program Files\\Kivoline\\KivoVpn.exe");
  EXPECT_EQ(parts.directory, L"C:\\Program Files\\Kivoline\\");
  EXPECT_EQ(parts.fileName, L"KivoVpn.exe");

  parts = SplitModulePath(L"\\\\server\\share\\KivoVpn.exe");
  EXPECT_EQ(parts.directory, L"\\\\server\\share\\");
  EXPECT_EQ(parts.fileName, L"KivoVpn.exe");

  parts = SplitModulePath(L"KivoVpn.exe");
  EXPECT_EQ(parts.directory, L"");
  EXPECT_EQ(parts.fileName, L"KivoVpn.exe");

  parts = SplitModulePath(L"C:\\dir/sub/KivoVpn.exe");  // only backslashes separate
  EXPECT_EQ(parts.directory, L"C:\\");
  EXPECT_EQ(parts.fileName, L"dir/sub/KivoVpn.exe");

  parts = SplitModulePath(L"C:\\dir\\");
  EXPECT_EQ(parts.directory, L"C:\\dir\\");
  EXPECT_EQ(parts.fileName, L"");

  parts = SplitModulePath(L"");
  EXPECT_EQ(parts.directory, L"");
  EXPECT_EQ(parts.fileName, L"");
}

TEST(UpdatePaths, UpdaterSitsBesideTheRunningProgram) {
  std::wstring module, updater, exe;
  ASSERT_TRUE(GetRunningModulePath(module));
  ASSERT_TRUE(GetLocalUpdaterPath(updater, exe));
  const std::wstring::size_type slash = module.rfind(L'\\');
  ASSERT_NE(slash, std::wstring::npos);
  EXPECT_EQ(updater, module.substr(0, slash + 1) + L"KivoUpdate.exe");
  EXPECT_EQ(exe, module.substr(slash + 1));
  EXPECT_EQ(exe.find(L'\\'), std::wstring::npos);
}

// ------------------------------------------------------------------ gate

// The test signer's key pin (tests/doubles/updater/test_signer.pem).
constexpr unsigned char kKey[32] = {0x6B, 0x7D, 0xD9, 0x08, 0xBE, 0xC8, 0x3F, 0xDD, 0x73, 0xFA, 0xC9,
                                    0xA3, 0xF1, 0x2F, 0x16, 0xD6, 0x8C, 0xDF, 0x48, 0x1C, 0xC1, 0x7B,
                                    0x10, 0x91, 0x0E, 0x50, 0x0C, 0x31, 0xE6, 0xA7, 0x13, 0x5E};
const std::string kKeyPin = "6B7DD908BEC83FDD73FAC9A3F12F16D68CDF481CC17B10910E500C31E6A7135E";

// The updater's failure report is the one command line the client reads:
// only its exact form counts, so nothing else can stop an update.
TEST(UpdateFailureLine, OnlyTheUpdatersFormIsRead) {
  const UpdateFailure read = ParseUpdateFailure(L"\"C:\\P Q\\KivoVpn.exe\" /updatefailed=3.0.9 /reason=replace");
  EXPECT_TRUE(read.Failed());
  EXPECT_EQ(read.version, "3.0.9");
  EXPECT_EQ(read.reason, UpdateFailureReason::kReplace);
  EXPECT_EQ(ParseUpdateFailure(L"KivoVpn.exe /updatefailed=3.0.9 /reason=start").reason, UpdateFailureReason::kStart);
  for (const wchar_t* line : {L"KivoVpn.exe", L"KivoVpn.exe /reason=write /updatefailed=3.0.9",
                              L"KivoVpn.exe /updatefailed=3.0.9 /reason=write extra",
                              L"KivoVpn.exe /updatefailed=3.0.10 /reason=write",
                              L"KivoVpn.exe /updatefailed=3.0 /reason=write",
                              L"KivoVpn.exe /updatefailed=3.0.9 /reason=other",
                              L"KivoVpn.exe /updatefailed=3.\x4e2d.9 /reason=write"}) {
    EXPECT_FALSE(ParseUpdateFailure(line).Failed()) << line;
  }
}

TEST(UpdaterGate, KeyPinComparison) {
  EXPECT_TRUE(KeyPinMatches(kKey, kKeyPin));
  std::string lower = kKeyPin;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_TRUE(KeyPinMatches(kKey, lower));
  std::string colons;
  for (size_t i = 0; i < kKeyPin.size(); i += 2) {
    if (i > 0) colons.push_back(':');
    colons.append(kKeyPin, i, 2);
  }
  EXPECT_TRUE(KeyPinMatches(kKey, colons));
  // Never trusted: no pin, a pin too short or too long, not hex, another
  // hash, a certificate's SHA-1 thumbprint.
  EXPECT_FALSE(KeyPinMatches(kKey, ""));
  EXPECT_FALSE(KeyPinMatches(kKey, kKeyPin.substr(0, 63)));
  EXPECT_FALSE(KeyPinMatches(kKey, kKeyPin + "0"));
  EXPECT_FALSE(KeyPinMatches(kKey, kKeyPin.substr(0, 63) + "G"));
  EXPECT_FALSE(KeyPinMatches(kKey, kKeyPin.substr(0, 63) + "F"));
  std::string changed = kKeyPin;
  changed[0] = '7';
  EXPECT_FALSE(KeyPinMatches(kKey, changed));
  EXPECT_FALSE(KeyPinMatches(kKey, std::string("0x").append(kKeyPin, 0, 62)));
  EXPECT_FALSE(KeyPinMatches(kKey, "63DC8EA9D237417143F035AC4300D6088B916533"));
  const unsigned char zero[32] = {};
  EXPECT_FALSE(KeyPinMatches(zero, ""));
  EXPECT_TRUE(KeyPinMatches(zero, std::string(64, '0')));
}

// A file in the temporary folder (an ASCII path here) holding `content`.
std::wstring TempFile(const wchar_t* name, const std::string& content) {
  wchar_t dir[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, dir);
  const std::wstring path = std::wstring(dir) + name;
  std::ofstream(kivo::toolkit::ToUtf8(path), std::ios::binary) << content;
  return path;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(UpdaterGate, KeyPinListMatchesAnyOfItsPins) {
  const std::string& mine = kKeyPin;
  std::string other = kKeyPin;
  other[0] = '7';
  EXPECT_TRUE(KeyPinMatches(kKey, other + ";" + mine));
  EXPECT_TRUE(KeyPinMatches(kKey, mine + ";" + other));
  EXPECT_FALSE(KeyPinMatches(kKey, other + ";" + other));
  EXPECT_FALSE(KeyPinMatches(kKey, ";"));
  EXPECT_FALSE(KeyPinMatches(kKey, other + ";"));
  // A pin is never made of pieces on both sides of a separator.
  EXPECT_FALSE(KeyPinMatches(kKey, mine.substr(0, 32) + ";" + mine.substr(32)));
}

TEST(UpdaterGate, RefusedFilesAreDeleted) {
  const std::string& pin = kKeyPin;
  // Not a program at all.
  std::wstring path = TempFile(L"kivo_gate_text.exe", "MZ but nothing else");
  EXPECT_EQ(StartTrustedUpdater(path, L"KivoVpn.exe", "3.0.8", pin), UpdaterStart::kRefused);
  EXPECT_FALSE(Exists(path));
  // No pin: nothing is trusted, whatever the file.
  path = TempFile(L"kivo_gate_nopin.exe", "x");
  EXPECT_EQ(StartTrustedUpdater(path, L"KivoVpn.exe", "3.0.8", ""), UpdaterStart::kRefused);
  EXPECT_FALSE(Exists(path));
  // The build's own pin is empty by default.
  path = TempFile(L"kivo_gate_default.exe", "x");
  EXPECT_EQ(StartTrustedUpdater(path, L"KivoVpn.exe", "3.0.8"), UpdaterStart::kRefused);
  EXPECT_FALSE(Exists(path));
  // A missing file or an empty path is simply not trusted.
  EXPECT_EQ(StartTrustedUpdater(path, L"KivoVpn.exe", "3.0.8", pin), UpdaterStart::kRefused);
  EXPECT_EQ(StartTrustedUpdater(L"", L"KivoVpn.exe", "3.0.8", pin), UpdaterStart::kRefused);
  const HeldFile missing(path);
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_FALSE(CheckSignature(missing).verified);
  EXPECT_EQ(ReadProductVersion(missing), L"");
}

TEST(UpdaterGate, UnsignedProgramHasNoSigner) {
  // The test program itself carries no signature.
  std::wstring module;
  ASSERT_TRUE(GetRunningModulePath(module));
  const HeldFile self(module);
  ASSERT_TRUE(self.IsOpen());
  const SignatureCheck check = CheckSignature(self);
  EXPECT_FALSE(check.verified);
  EXPECT_FALSE(check.signerKnown);
  EXPECT_FALSE(IsTrustedUpdater(self, kKeyPin, KIVO_VERSION_TEXT));
}

TEST(UpdaterGate, VersionResourceNamesTheBuildsVersion) {
  // The test program carries the client's resources, version included.
  std::wstring module;
  ASSERT_TRUE(GetRunningModulePath(module));
  EXPECT_EQ(ReadProductVersion(HeldFile(module)), kivo::toolkit::WidenAscii(KIVO_VERSION_TEXT));
  EXPECT_EQ(std::string(KIVO_VERSION_TEXT).size(), 5u);
  const std::wstring plain = TempFile(L"kivo_gate_noversion.exe", "MZ and no resources");
  EXPECT_EQ(ReadProductVersion(HeldFile(plain)), L"");
  ::DeleteFileW(plain.c_str());
}

TEST(UpdaterGate, HeldFileCannotBeChangedRenamedOrDeleted) {
  const std::wstring path = TempFile(L"kivo_gate_held.exe", "verified bytes");
  const std::wstring moved = path + L".moved";
  ::DeleteFileW(moved.c_str());
  {
    const HeldFile held(path);
    ASSERT_TRUE(held.IsOpen());
    kivo::toolkit::UniqueFileHandle writer(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(writer.Valid()) << "another writer while held";
    EXPECT_FALSE(::DeleteFileW(path.c_str())) << "deleted while held";
    EXPECT_FALSE(::MoveFileW(path.c_str(), moved.c_str())) << "renamed while held";
    EXPECT_FALSE(::MoveFileExW(TempFile(L"kivo_gate_swap.exe", "other bytes").c_str(), path.c_str(),
                               MOVEFILE_REPLACE_EXISTING))
        << "replaced while held";
    // Reading stays possible, as starting the program needs.
    kivo::toolkit::UniqueFileHandle reader(::CreateFileW(path.c_str(), GENERIC_READ,
                                                         FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(reader.Valid());
  }
  std::ifstream in(kivo::toolkit::ToUtf8(path), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            "verified bytes");
  in.close();
  // Let go, the file is free again.
  EXPECT_TRUE(::DeleteFileW(path.c_str()));
  ::DeleteFileW(TempFile(L"kivo_gate_swap.exe", "").c_str());
}

// ------------------------------------------------- one-shot loopback host

struct SocketTraits {
  using Type = SOCKET;
  static Type Invalid() noexcept { return INVALID_SOCKET; }
  static void Close(Type s) noexcept { ::closesocket(s); }
};
using UniqueSocket = kivo::toolkit::UniqueHandle<SocketTraits>;

// Accepts one connection on 127.0.0.1, keeps the request head and sends a
// fixed answer, then closes.
class OneShotHost {
 public:
  // With `dripMs`, everything after the head goes out one byte every
  // `dripMs` milliseconds.
  explicit OneShotHost(std::string answer, DWORD dripMs = 0) : answer_(std::move(answer)), dripMs_(dripMs) {
    WSADATA data;
    started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    listener_.Reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (!listener_ || ::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener_.Get(), 1) != 0 ||
        ::getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::jthread([this] { Serve(); });
  }
  ~OneShotHost() {
    if (thread_.joinable()) thread_.join();
    listener_.Reset();
    if (started_) ::WSACleanup();
  }

  INTERNET_PORT Port() const { return port_; }
  const std::string& RequestHead() {
    if (thread_.joinable()) thread_.join();
    return head_;
  }

 private:
  void Serve() {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener_.Get(), &readable);
    timeval wait = {10, 0};
    if (::select(0, &readable, nullptr, nullptr, &wait) != 1) return;
    UniqueSocket peer(::accept(listener_.Get(), nullptr, nullptr));
    if (!peer) return;
    char buffer[1024];
    while (head_.find("\r\n\r\n") == std::string::npos && head_.size() < 16384) {
      const int got = ::recv(peer.Get(), buffer, sizeof(buffer), 0);
      if (got <= 0) return;
      head_.append(buffer, static_cast<size_t>(got));
    }
    std::string::size_type sent = dripMs_ == 0 ? answer_.size() : answer_.find("\r\n\r\n") + 4;
    if (::send(peer.Get(), answer_.data(), static_cast<int>(sent), 0) != static_cast<int>(sent)) return;
    for (; sent < answer_.size(); ++sent) {
      ::Sleep(dripMs_);
      if (::send(peer.Get(), answer_.data() + sent, 1, 0) != 1) return;
    }
    ::shutdown(peer.Get(), SD_SEND);
  }

  bool started_ = false;
  std::string answer_;
  DWORD dripMs_ = 0;
  std::string head_;
  UniqueSocket listener_;
  INTERNET_PORT port_ = 0;
  std::jthread thread_;
};

std::string Url(const OneShotHost& host) {
  return "http://127.0.0.1:" + std::to_string(host.Port()) + "/Velmar/lastver.html";
}

TEST(UpdateExchange, VersionPageLengthDecidesNotStatus) {
  {
    OneShotHost host(
        "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 5\r\nConnection: close\r\n\r\n3.0.8");
    EXPECT_EQ(FetchVersionPage(Url(host)), "3.0.8");
    EXPECT_EQ(host.RequestHead().rfind("GET /Velmar/lastver.html HTTP/1.1\r\n", 0), 0u) << host.RequestHead();
    EXPECT_NE(host.RequestHead().find("User-Agent: version\r\n"), std::string::npos) << host.RequestHead();
  }
  {
    OneShotHost host("HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\n3.0.8\n");
    EXPECT_EQ(FetchVersionPage(Url(host)), "");
  }
  {
    OneShotHost host("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(FetchVersionPage(Url(host)), "");
  }
  {
    OneShotHost host("garbage that is no HTTP at all");
    EXPECT_EQ(FetchVersionPage(Url(host)), "");
  }
}

class UpdateDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(GetLocalUpdaterPath(updater_, ownName_));
    ::DeleteFileW(updater_.c_str());
  }
  void TearDown() override { ::DeleteFileW(updater_.c_str()); }

  bool Run(const std::string& answer, DWORD dripMs = 0, DWORD boundMs = kDownloadBoundMs) {
    OneShotHost host(answer, dripMs);
    path_ = L"stale";
    exe_.clear();
    const bool result =
        DownloadUpdater({"127.0.0.1", host.Port(), "/Velmar/KivoUpdate.exe", boundMs}, path_, exe_);
    head_ = host.RequestHead();
    return result;
  }
  std::string Written() const {
    std::ifstream in(kivo::toolkit::ToUtf8(updater_), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::wstring updater_, ownName_, path_, exe_;
  std::string head_;
};

TEST_F(UpdateDownload, CompleteBodyIsWrittenBesideTheProgram) {
  std::string body(5000, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
  EXPECT_TRUE(Run("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\nConnection: close\r\n\r\n" + body));
  EXPECT_EQ(path_, updater_);
  EXPECT_EQ(exe_, ownName_);
  EXPECT_EQ(Written(), body);
  EXPECT_EQ(head_.rfind("GET /Velmar/KivoUpdate.exe HTTP/1.1\r\n", 0), 0u) << head_;
  EXPECT_NE(head_.find("Accept: */*\r\n"), std::string::npos) << head_;
  EXPECT_NE(head_.find("User-Agent: KivoVpn\r\n"), std::string::npos) << head_;
}

TEST_F(UpdateDownload, LengthMismatchFailsAndLeavesTheFile) {
  EXPECT_FALSE(Run("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\nabc"));
  EXPECT_EQ(path_, L"");
  EXPECT_EQ(exe_, ownName_) << "status 200 names the executable whatever follows";
  EXPECT_EQ(Written(), "abc");
}

TEST_F(UpdateDownload, MissingOrOversizedContentLengthIsRefusedBeforeWriting) {
  for (const char* head : {"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n",
                           "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
                           "HTTP/1.1 200 OK\r\nContent-Length: many\r\nConnection: close\r\n\r\n",
                           "HTTP/1.1 200 OK\r\nContent-Length: 67108865\r\nConnection: close\r\n\r\n"}) {
    EXPECT_FALSE(Run(std::string(head) + "body")) << head;
    EXPECT_EQ(path_, L"");
    EXPECT_EQ(exe_, ownName_);
    EXPECT_FALSE(Exists(updater_)) << head;
  }
  EXPECT_TRUE(IsAcceptableUpdaterLength(kMaxUpdaterBytes));
  EXPECT_FALSE(IsAcceptableUpdaterLength(kMaxUpdaterBytes + 1));
  EXPECT_FALSE(IsAcceptableUpdaterLength(-1));
}

TEST_F(UpdateDownload, DrippingHostIsGivenUpAtTheBound) {
  // 40 bytes, one every 100 ms, against a bound of one second.
  const std::string body(40, 'd');
  EXPECT_FALSE(Run("HTTP/1.1 200 OK\r\nContent-Length: 40\r\nConnection: close\r\n\r\n" + body, 100, 1000));
  EXPECT_EQ(path_, L"");
  EXPECT_LT(Written().size(), body.size());
}

TEST_F(UpdateDownload, OtherStatusFailsWithoutNamingTheProgram) {
  EXPECT_FALSE(Run("HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc"));
  EXPECT_EQ(path_, L"");
  EXPECT_EQ(exe_, L"");
  EXPECT_FALSE(Exists(updater_));
}

TEST_F(UpdateDownload, UnwritableTargetFails) {
  // A directory where the file should go cannot be opened for writing.
  ASSERT_TRUE(::CreateDirectoryW(updater_.c_str(), nullptr));
  EXPECT_FALSE(Run("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc"));
  EXPECT_EQ(path_, L"");
  ::RemoveDirectoryW(updater_.c_str());
}

TEST_F(UpdateDownload, NoHostFails) {
  std::wstring path = L"stale", exe;
  // Port 1 on loopback refuses at once.
  EXPECT_FALSE(DownloadUpdater({"127.0.0.1", 1, "/Velmar/KivoUpdate.exe"}, path, exe));
  EXPECT_EQ(path, L"");
  EXPECT_EQ(exe, L"");
  CUpdateDownloader downloader;
  path = L"stale";
  EXPECT_FALSE(downloader.Download(path, exe));  // the update host does not resolve here
  EXPECT_EQ(path, L"");
}

}  // namespace
