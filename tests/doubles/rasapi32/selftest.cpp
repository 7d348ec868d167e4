// Self-test of the RAS double: loads every flavour of rasapi32.dll the way the
// client gets it (by LoadLibrary, with WINEDLLOVERRIDES=rasapi32=n) and plays
// the service's behaviours against the "en" flavour, through the UTF-16 calls
// the client makes.
//
//   kivo_ras_selftest [gtest flags] <en dir> <zhcn dir> <zhtw dir> <none dir> <work dir>
//   kivo_ras_selftest --layout                 record layout as JSON, for ras_double.py
//   kivo_ras_selftest --probe <dll dir> <ras dir> <scenario> [arguments]   see RunProbe
#include <gtest/gtest.h>
#include "vpn/RasRecords.h"
#include <windows.h>
#include <shellapi.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "WinPath.h"
#include "toolkit/Handle.h"
#include "toolkit/Sync.h"

using kivo::rasdouble::ToWindowsPath;
using kivo::toolkit::UniqueFileHandle;

namespace {

constexpr UINT kDialEventMessage = 0xCCCD;

// ---------------------------------------------------------------------------
// The library under test, resolved through GetProcAddress.

template <typename F>
F Resolve(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

struct RasApi {
  HMODULE module = nullptr;
  decltype(&::RasValidateEntryNameW) ValidateEntryName = nullptr;
  decltype(&::RasDeleteEntryW) DeleteEntry = nullptr;
  decltype(&::RasGetEntryPropertiesW) GetEntryProperties = nullptr;
  decltype(&::RasSetEntryPropertiesW) SetEntryProperties = nullptr;
  decltype(&::RasDialW) Dial = nullptr;
  decltype(&::RasHangUpW) HangUp = nullptr;
  decltype(&::RasGetConnectStatusW) GetConnectStatus = nullptr;
  decltype(&::RasGetErrorStringW) GetErrorString = nullptr;
  decltype(&::RasGetProjectionInfoW) GetProjectionInfo = nullptr;
  decltype(&::RasGetConnectionStatistics) GetConnectionStatistics = nullptr;
  // The ANSI form of a call the client makes: the double only logs it.
  decltype(&::RasDialA) DialA = nullptr;

  static RasApi Load(const std::string& dllDir) {
    RasApi api;
    const std::string path = ToWindowsPath(dllDir) + "\\rasapi32.dll";
    api.module = ::LoadLibraryA(path.c_str());
    if (api.module == nullptr) return api;
    api.ValidateEntryName = Resolve<decltype(api.ValidateEntryName)>(api.module, "RasValidateEntryNameW");
    api.DeleteEntry = Resolve<decltype(api.DeleteEntry)>(api.module, "RasDeleteEntryW");
    api.GetEntryProperties = Resolve<decltype(api.GetEntryProperties)>(api.module, "RasGetEntryPropertiesW");
    api.SetEntryProperties = Resolve<decltype(api.SetEntryProperties)>(api.module, "RasSetEntryPropertiesW");
    api.Dial = Resolve<decltype(api.Dial)>(api.module, "RasDialW");
    api.HangUp = Resolve<decltype(api.HangUp)>(api.module, "RasHangUpW");
    api.GetConnectStatus = Resolve<decltype(api.GetConnectStatus)>(api.module, "RasGetConnectStatusW");
    api.GetErrorString = Resolve<decltype(api.GetErrorString)>(api.module, "RasGetErrorStringW");
    api.GetProjectionInfo = Resolve<decltype(api.GetProjectionInfo)>(api.module, "RasGetProjectionInfoW");
    api.GetConnectionStatistics =
        Resolve<decltype(api.GetConnectionStatistics)>(api.module, "RasGetConnectionStatistics");
    api.DialA = Resolve<decltype(api.DialA)>(api.module, "RasDialA");
    return api;
  }

  bool Complete() const {
    return module && ValidateEntryName && DeleteEntry && GetEntryProperties && SetEntryProperties && Dial &&
           HangUp && GetConnectStatus && GetErrorString && GetProjectionInfo && GetConnectionStatistics &&
           DialA;
  }
};

// Process-wide: the self-test's command line, set once in main.
struct SelfTestPaths {
  std::map<std::string, std::string> dllDirs;  // flavour -> directory
  std::string workDir;                         // a Unix or Windows path
};
SelfTestPaths& Paths() {
  static SelfTestPaths paths;
  return paths;
}

// Each flavour is loaded once and stays loaded: the dial scripts run on
// threads of the library, which must not be unloaded under them.
const RasApi& Flavour(const std::string& name) {
  static std::map<std::string, RasApi> loaded;
  auto it = loaded.find(name);
  if (it == loaded.end()) it = loaded.emplace(name, RasApi::Load(Paths().dllDirs[name])).first;
  return it->second;
}

// ---------------------------------------------------------------------------
// Files and time.

double NowMs() {
  LARGE_INTEGER frequency, counter;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  UniqueFileHandle file(
      ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

std::string ReadFileBytes(const std::string& path) {
  UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes;
  if (!file) return bytes;
  char chunk[4096];
  DWORD got = 0;
  while (::ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  return bytes;
}

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA((dir + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = dir + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        ::DeleteFileA(path.c_str());
      }
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
  }
  ::RemoveDirectoryA(dir.c_str());
}

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// UTF-8 and UTF-16, converted here on their own so that the self-test
// shares no code with the library it checks.
std::wstring Wide(const std::string& utf8) {
  std::wstring out(utf8.size(), L'\0');
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(),
                                      static_cast<int>(out.size()));
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

std::string Utf8(const wchar_t* text) {
  std::string out(std::wcslen(text) * 3, '\0');
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(std::wcslen(text)), out.data(),
                                      static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The function or event name of a calls.log line (its second word).
std::string NameOf(const std::string& line) {
  const size_t first = line.find(' ');
  if (first == std::string::npos) return {};
  const size_t second = line.find(' ', first + 1);
  return line.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}

bool HasField(const std::string& line, const std::string& field) {
  return (line + " ").find(" " + field + " ") != std::string::npos;
}

// ---------------------------------------------------------------------------
// Records the way the client fills them.

RASENTRYW ClientEntry(const wchar_t* phone) {
  RASENTRYW entry{};
  entry.dwSize = sizeof entry;
  entry.dwfOptions = 0x38001010;
  entry.dwCountryID = 86;
  entry.dwCountryCode = 86;
  std::wcsncpy(entry.szLocalPhoneNumber, phone, RAS_MaxPhoneNumber);
  entry.dwfNetProtocols = RASNP_Ip;
  entry.dwFramingProtocol = RASFP_Ppp;
  std::wcscpy(entry.szDeviceType, L"vpn");
  std::wcscpy(entry.szDeviceName, L"WAN Miniport (L2TP)");
  entry.dwType = RASET_Vpn;
  entry.dwVpnStrategy = VS_PptpFirst;
  entry.dwEncryptionType = ET_Optional;
  return entry;
}

RASDIALPARAMSW ClientDialParams(const wchar_t* user, const wchar_t* password) {
  RASDIALPARAMSW params{};
  params.dwSize = sizeof params;
  std::wcscpy(params.szEntryName, L"Kivoline");
  std::wcsncpy(params.szUserName, user, UNLEN);
  std::wcsncpy(params.szPassword, password, PWLEN);
  return params;
}

RASCONNSTATUSW StatusRecord() {
  RASCONNSTATUSW status{};
  status.dwSize = sizeof status;
  return status;
}

// ---------------------------------------------------------------------------
// Dial notifications. Process-wide: a RASDIALFUNC carries no context, so the
// notifications of every dial of the self-test are collected here.

struct Notification {
  UINT message;
  DWORD state;
  DWORD error;
  DWORD thread;
};

class Notifications {
 public:
  static Notifications& Instance() {
    static Notifications instance;
    return instance;
  }

  static void WINAPI Callback(UINT message, RASCONNSTATE state, DWORD error) {
    Notifications& self = Instance();
    std::lock_guard lock(self.lock_);
    self.received_.push_back({message, static_cast<DWORD>(state), error, ::GetCurrentThreadId()});
  }

  void Clear() {
    std::lock_guard lock(lock_);
    received_.clear();
  }

  std::vector<Notification> Snapshot() {
    std::lock_guard lock(lock_);
    return received_;
  }

  // Waits until a notification carries `state` or an error.
  bool WaitForEnd(DWORD state, DWORD timeoutMs) {
    const double until = NowMs() + timeoutMs;
    while (NowMs() < until) {
      for (const Notification& n : Snapshot()) {
        if (n.state == state || n.error != 0) return true;
      }
      ::Sleep(5);
    }
    return false;
  }

 private:
  std::mutex lock_;
  std::vector<Notification> received_;
};

std::vector<DWORD> StatesOf(const std::vector<Notification>& notifications) {
  std::vector<DWORD> states;
  for (const Notification& n : notifications) states.push_back(n.state);
  return states;
}

// ---------------------------------------------------------------------------
// A fresh RAS directory per test, on the "en" flavour.

class RasDoubleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(api().Complete()) << "cannot load " << Paths().dllDirs["en"];
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    unixDir_ = Paths().workDir + "/" + info->test_suite_name() + "." + info->name();
    dir_ = ToWindowsPath(unixDir_);
    RemoveTree(dir_);
    ::CreateDirectoryA(ToWindowsPath(Paths().workDir).c_str(), nullptr);
    ASSERT_TRUE(::CreateDirectoryA(dir_.c_str(), nullptr)) << dir_;
    // The form a test on the Linux side hands over.
    UseDirectory(unixDir_);
    Notifications::Instance().Clear();
  }

  void TearDown() override {
    // No script may outlive its test: later tests count notifications.
    for (HRASCONN handle : dialled_) api().HangUp(handle);
  }

  static const RasApi& api() { return Flavour("en"); }

  void UseDirectory(const std::string& dir) { ::SetEnvironmentVariableA("KIVO_RAS_DIR", dir.c_str()); }

  void Configure(const std::vector<std::pair<std::string, std::string>>& keys) {
    std::string text = "[ras]\r\n";
    for (const auto& [key, value] : keys) text += key + "=" + value + "\r\n";
    ASSERT_TRUE(WriteFileBytes(dir_ + "\\control.ini", text));
  }

  std::string EntryFile() const { return dir_ + "\\phonebook\\Kivoline.entry"; }
  std::vector<std::string> LogLines() const { return Lines(ReadFileBytes(dir_ + "\\calls.log")); }
  std::vector<std::string> LogLinesOf(const std::string& name) const {
    std::vector<std::string> matching;
    for (const std::string& line : LogLines()) {
      if (NameOf(line) == name) matching.push_back(line);
    }
    return matching;
  }

  void WriteEntry(const wchar_t* phone = L"192.0.2.11") {
    RASENTRYW entry = ClientEntry(phone);
    ASSERT_EQ(0u, api().SetEntryProperties(nullptr, L"Kivoline", &entry, sizeof entry, nullptr, 0));
  }

  // Dials with the client's records; the handle is hung up after the test.
  DWORD Dial(HRASCONN* handle, const wchar_t* user = L"alice", const wchar_t* password = L"s3cret") {
    RASDIALPARAMSW params = ClientDialParams(user, password);
    *handle = nullptr;
    const DWORD result =
        api().Dial(nullptr, nullptr, &params, 0, reinterpret_cast<LPVOID>(&Notifications::Callback), handle);
    if (*handle != nullptr) dialled_.push_back(*handle);
    return result;
  }

  // Writes the entry, dials a script that connects at once, and waits.
  HRASCONN Connect() {
    WriteEntry();
    HRASCONN handle = nullptr;
    EXPECT_EQ(0u, Dial(&handle));
    EXPECT_TRUE(Notifications::Instance().WaitForEnd(RASCS_Connected, 5000));
    return handle;
  }

  DWORD Status(HRASCONN handle, RASCONNSTATUSW* status) {
    *status = StatusRecord();
    return api().GetConnectStatus(handle, status);
  }

  // Polls until the status call answers ERROR_INVALID_HANDLE; the time it
  // took, or a negative value when it never did.
  double MsUntilGone(HRASCONN handle, double start, DWORD timeoutMs) {
    RASCONNSTATUSW status;
    while (NowMs() - start < timeoutMs) {
      if (Status(handle, &status) == ERROR_INVALID_HANDLE) return NowMs() - start;
      ::Sleep(5);
    }
    return -1;
  }

  std::string unixDir_;
  std::string dir_;
  std::vector<HRASCONN> dialled_;
};

// ---------------------------------------------------------------------------
// Phonebook

TEST_F(RasDoubleTest, PhonebookRoundTripKeepsTheExactRecord) {
  EXPECT_EQ(0u, api().ValidateEntryName(nullptr, L"Kivoline"));

  DWORD entrySize = 0, deviceSize = 77;
  EXPECT_EQ(static_cast<DWORD>(ERROR_BUFFER_TOO_SMALL),
            api().GetEntryProperties(nullptr, L"", nullptr, &entrySize, nullptr, &deviceSize));
  EXPECT_EQ(sizeof(RASENTRYW), entrySize);
  EXPECT_EQ(0u, deviceSize);

  RASENTRYW written = ClientEntry(L"vpn.kivoline.example");
  ASSERT_EQ(0u, api().SetEntryProperties(nullptr, L"Kivoline", &written, sizeof written, nullptr, 0));
  const std::string stored = ReadFileBytes(EntryFile());
  ASSERT_EQ(sizeof written, stored.size());
  EXPECT_EQ(0, std::memcmp(stored.data(), &written, sizeof written));
  EXPECT_EQ("", ReadFileBytes(dir_ + "\\phonebook\\Kivoline.devinfo"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), api().ValidateEntryName(nullptr, L"Kivoline"));

  RASENTRYW read{};
  read.dwSize = sizeof read;
  DWORD readSize = sizeof read;
  ASSERT_EQ(0u, api().GetEntryProperties(nullptr, L"Kivoline", &read, &readSize, nullptr, nullptr));
  EXPECT_EQ(sizeof read, readSize);
  EXPECT_EQ(0, std::memcmp(&read, &written, sizeof read));

  EXPECT_EQ(0u, api().DeleteEntry(nullptr, L"Kivoline"));
  EXPECT_FALSE(Exists(EntryFile()));
  EXPECT_EQ(0u, api().ValidateEntryName(nullptr, L"Kivoline"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY), api().DeleteEntry(nullptr, L"Kivoline"));
}

TEST_F(RasDoubleTest, PhonebookFollowsTheControlFile) {
  WriteEntry();
  Configure({{"delete_fails", "1"}});
  EXPECT_NE(0u, api().DeleteEntry(nullptr, L"Kivoline"));
  EXPECT_TRUE(Exists(EntryFile()));

  Configure({{"validate", "621"}});
  EXPECT_EQ(621u, api().ValidateEntryName(nullptr, L"Kivoline"));

  Configure({{"size_query_result", "0"}, {"entry_size", "3000"}, {"devinfo_size", "16"}});
  DWORD entrySize = 0, deviceSize = 0;
  EXPECT_EQ(0u, api().GetEntryProperties(nullptr, L"", nullptr, &entrySize, nullptr, &deviceSize));
  EXPECT_EQ(3000u, entrySize);
  EXPECT_EQ(16u, deviceSize);

  // A record of the reported size with its device info is stored whole.
  std::vector<char> big(3000, 'x');
  reinterpret_cast<RASENTRYW*>(big.data())->dwSize = 3000;
  BYTE device[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  ASSERT_EQ(0u, api().SetEntryProperties(nullptr, L"Kivoline", reinterpret_cast<RASENTRYW*>(big.data()), 3000,
                                         device, sizeof device));
  EXPECT_EQ(std::string(big.data(), big.size()), ReadFileBytes(EntryFile()));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(device), sizeof device),
            ReadFileBytes(dir_ + "\\phonebook\\Kivoline.devinfo"));
  // A record whose dwSize is not the reported size is refused.
  RASENTRYW small = ClientEntry(L"192.0.2.12");
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SIZE),
            api().SetEntryProperties(nullptr, L"Kivoline", &small, sizeof small, nullptr, 0));

  Configure({{"size_query_result", "5"}});
  entrySize = deviceSize = 1234;
  EXPECT_EQ(5u, api().GetEntryProperties(nullptr, L"", nullptr, &entrySize, nullptr, &deviceSize));
  EXPECT_EQ(1234u, entrySize);

  Configure({{"get_result", "13"}, {"set_result", "31"}});
  RASENTRYW record = ClientEntry(L"203.0.113.31");
  DWORD size = sizeof record;
  EXPECT_EQ(13u, api().GetEntryProperties(nullptr, L"Kivoline", &record, &size, nullptr, nullptr));
  ASSERT_EQ(0u, api().DeleteEntry(nullptr, L"Kivoline"));
  EXPECT_EQ(31u, api().SetEntryProperties(nullptr, L"Kivoline", &record, sizeof record, nullptr, 0));
  EXPECT_FALSE(Exists(EntryFile()));
}

TEST_F(RasDoubleTest, PhonebookReadsAPlantedStaleEntry) {
  // A shorter record left by someone else is handed back as it is.
  ASSERT_TRUE(::CreateDirectoryA((dir_ + "\\phonebook").c_str(), nullptr));
  RASENTRYW stale = ClientEntry(L"198.51.100.99");
  const std::string planted(reinterpret_cast<const char*>(&stale), 900);
  ASSERT_TRUE(WriteFileBytes(EntryFile(), planted));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), api().ValidateEntryName(nullptr, L"Kivoline"));

  RASENTRYW read{};
  read.dwSize = sizeof read;
  DWORD size = sizeof read;
  ASSERT_EQ(0u, api().GetEntryProperties(nullptr, L"Kivoline", &read, &size, nullptr, nullptr));
  EXPECT_EQ(900u, size);
  EXPECT_STREQ(L"198.51.100.99", read.szLocalPhoneNumber);
  EXPECT_EQ(0, read.szDeviceName[0]) << "bytes past the planted record stay as they were";

  // A buffer smaller than the stored record learns the size it needs.
  size = 100;
  EXPECT_EQ(static_cast<DWORD>(ERROR_BUFFER_TOO_SMALL),
            api().GetEntryProperties(nullptr, L"Kivoline", &read, &size, nullptr, nullptr));
  EXPECT_EQ(900u, size);
}

TEST_F(RasDoubleTest, PhonebookRejectsBadNamesAndSizes) {
  RASENTRYW entry = ClientEntry(L"192.0.2.11");
  const std::wstring tooLong(300, L'k');
  for (const wchar_t* name : {L"", L".hidden", L"a/b", L"a\\b", L"c:d", L"trailing.", tooLong.c_str()}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), api().ValidateEntryName(nullptr, name));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), api().DeleteEntry(nullptr, name));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME),
              api().SetEntryProperties(nullptr, name, &entry, sizeof entry, nullptr, 0));
  }
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), api().ValidateEntryName(nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_BUFFER_INVALID),
            api().SetEntryProperties(nullptr, L"Kivoline", nullptr, sizeof entry, nullptr, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SIZE),
            api().SetEntryProperties(nullptr, L"Kivoline", &entry, 2, nullptr, 0));
  // A size far beyond the record is refused before a byte of it is read.
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SIZE),
            api().SetEntryProperties(nullptr, L"Kivoline", &entry, 0x40000000, nullptr, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            api().SetEntryProperties(nullptr, L"Kivoline", &entry, sizeof entry, nullptr, 8));
  EXPECT_FALSE(Exists(EntryFile()));

  RASENTRYW read{};
  read.dwSize = 1234;
  DWORD size = sizeof read;
  WriteEntry();
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SIZE),
            api().GetEntryProperties(nullptr, L"Kivoline", &read, &size, nullptr, nullptr));
  read.dwSize = sizeof read;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            api().GetEntryProperties(nullptr, L"Kivoline", &read, nullptr, nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY),
            api().GetEntryProperties(nullptr, L"Other", &read, &size, nullptr, nullptr));
}

TEST_F(RasDoubleTest, PhonebookFileIsWrittenOnlyIntoAFolderThatExists) {
  RASENTRYW entry = ClientEntry(L"192.0.2.11");
  const std::wstring missing = Wide(dir_ + "\\no such folder\\rasphone.pbk");
  EXPECT_EQ(static_cast<DWORD>(ERROR_CANNOT_OPEN_PHONEBOOK),
            api().SetEntryProperties(missing.c_str(), L"Kivoline", &entry, sizeof entry, nullptr, 0));
  EXPECT_FALSE(Exists(EntryFile()));
  const std::wstring present = Wide(dir_ + "\\rasphone.pbk");
  EXPECT_EQ(0u, api().SetEntryProperties(present.c_str(), L"Kivoline", &entry, sizeof entry, nullptr, 0));
  EXPECT_TRUE(Exists(EntryFile()));
}

// ---------------------------------------------------------------------------
// Dialling

TEST_F(RasDoubleTest, DialDeliversTheScriptInOrderThroughTheNotifier) {
  Configure({{"states", "0:10,1:10,2:10,0x5:10,14:10,8192:10"}});
  WriteEntry();
  HRASCONN handle = nullptr;
  ASSERT_EQ(0u, Dial(&handle));
  ASSERT_NE(nullptr, handle);
  ASSERT_TRUE(Notifications::Instance().WaitForEnd(RASCS_Connected, 5000));

  const auto received = Notifications::Instance().Snapshot();
  EXPECT_EQ((std::vector<DWORD>{0, 1, 2, 5, 14, 8192}), StatesOf(received));
  for (const Notification& n : received) {
    EXPECT_EQ(kDialEventMessage, n.message);
    EXPECT_EQ(0u, n.error);
    EXPECT_NE(::GetCurrentThreadId(), n.thread) << "notifications come from a thread of the library";
    EXPECT_EQ(received.front().thread, n.thread);
  }
  RASCONNSTATUSW status;
  ASSERT_EQ(0u, Status(handle, &status));
  EXPECT_EQ(RASCS_Connected, status.rasconnstate);
  EXPECT_EQ(0u, status.dwError);
  EXPECT_STREQ(L"vpn", status.szDeviceType);
}

TEST_F(RasDoubleTest, DialWithoutScriptFollowsTheDefaultSequence) {
  WriteEntry();
  HRASCONN handle = nullptr;
  ASSERT_EQ(0u, Dial(&handle));
  ASSERT_TRUE(Notifications::Instance().WaitForEnd(RASCS_Connected, 10000));
  EXPECT_EQ((std::vector<DWORD>{0, 1, 2, 3, 4, 5, 14, 8192}), StatesOf(Notifications::Instance().Snapshot()));
}

TEST_F(RasDoubleTest, DialFailsAtTheErrorStateAndStops) {
  Configure({{"states", "0:5,1:5,5:5,14:5,8192:5"}, {"error_state", "5"}, {"error_code", "691"}});
  WriteEntry();
  HRASCONN handle = nullptr;
  ASSERT_EQ(0u, Dial(&handle));
  ASSERT_TRUE(Notifications::Instance().WaitForEnd(RASCS_Connected, 5000));
  ::Sleep(100);  // room for any state that should not come
  const auto received = Notifications::Instance().Snapshot();
  ASSERT_EQ((std::vector<DWORD>{0, 1, 5}), StatesOf(received));
  EXPECT_EQ(0u, received[1].error);
  EXPECT_EQ(691u, received[2].error);
  RASCONNSTATUSW status;
  ASSERT_EQ(0u, Status(handle, &status));
  EXPECT_EQ(5, status.rasconnstate);
  EXPECT_EQ(691u, status.dwError);
}

TEST_F(RasDoubleTest, ErrorStateMissingFromTheScriptReplacesItsLastStep) {
  Configure({{"states", "0:5,8192:5"}, {"error_state", "7"}});
  WriteEntry();
  HRASCONN handle = nullptr;
  ASSERT_EQ(0u, Dial(&handle));
  ASSERT_TRUE(Notifications::Instance().WaitForEnd(0xFFFF, 5000));
  const auto received = Notifications::Instance().Snapshot();
  ASSERT_EQ((std::vector<DWORD>{0, 7}), StatesOf(received));
  EXPECT_EQ(800u, received[1].error) << "error_code defaults to 800";
}

TEST_F(RasDoubleTest, MalformedScriptItemsAreSkipped) {
  Configure({{"states", "zero:5,,1:x,2:5,:7,3,4:-1,0x2000:5"}});
  WriteEntry();
  HRASCONN handle = nullptr;
  ASSERT_EQ(0u, Dial(&handle));
  ASSERT_TRUE(Notifications::Instance().WaitForEnd(RASCS_Connected, 5000));
  EXPECT_EQ((std::vector<DWORD>{2, 3, 8192}), StatesOf(Notifications::Instance().Snapshot()));
}

TEST_F(RasDoubleTest, RefusedDialStoresAHandleOnlyWhenTold) {
  WriteEntry();
  Configure({{"dial_result", "800"}});
  HRASCONN handle = nullptr;
  EXPECT_EQ(800u, Dial(&handle));
  EXPECT_EQ(nullptr, handle);

  Configure({{"dial_result", "800"}, {"dial_stores_handle", "1"}, {"hangup_confirm_ms", "0"}});
  EXPECT_EQ(800u, Dial(&handle));
  ASSERT_NE(nullptr, handle);
  RASCONNSTATUSW status;
  ASSERT_EQ(0u, Status(handle, &status));
  EXPECT_EQ(RASCS_Disconnected, status.rasconnstate);
  EXPECT_EQ(800u, status.dwError);
  EXPECT_EQ(0u, api().HangUp(handle));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), Status(handle, &status));

  ::Sleep(50);
  EXPECT_TRUE(Notifications::Instance().Snapshot().empty()) << "a refused dial reports nothing";
}

TEST_F(RasDoubleTest, DialNeedsTheEntryAndTheClientsRecords) {
  HRASCONN handle = nullptr;
  EXPECT_EQ(static_cast<DWORD>(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY), Dial(&handle));
  EXPECT_EQ(nullptr, handle);

  WriteEntry();
  RASDIALPARAMSW params = ClientDialParams(L"alice", L"pw");
  const auto callback = reinterpret_cast<LPVOID>(&Notifications::Callback);
  params.dwSize = 1000;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SIZE),
            api().Dial(nullptr, nullptr, &params, 0, callback, &handle));
  params.dwSize = sizeof params;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            api().Dial(nullptr, nullptr, &params, 1, callback, &handle));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            api().Dial(nullptr, nullptr, &params, 0, nullptr, &handle));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            api().Dial(nullptr, nullptr, nullptr, 0, callback, &handle));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            api().Dial(nullptr, nullptr, &params, 0, callback, nullptr));
  handle = reinterpret_cast<HRASCONN>(0x1234);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE),
            api().Dial(nullptr, nullptr, &params, 0, callback, &handle));
  EXPECT_TRUE(Notifications::Instance().Snapshot().empty());

  Configure({{"dial_requires_entry", "0"}, {"states", "8192:0"}});
  ASSERT_EQ(0u, api().DeleteEntry(nullptr, L"Kivoline"));
  EXPECT_EQ(0u, Dial(&handle));
}

// The notifier of type 2 hears the callback id, the sub-entry and the
// handle with every state; answering 0 ends its notices.
struct Type2Notice {
  ULONG_PTR callbackId;
  DWORD subEntry;
  HRASCONN handle;
  UINT message;
  DWORD state;
};

std::mutex g_type2Lock;
std::vector<Type2Notice> g_type2;  // what the notifier below heard

DWORD WINAPI Type2Callback(ULONG_PTR callbackId, DWORD subEntry, HRASCONN handle, UINT message,
                           RASCONNSTATE state, DWORD, DWORD) {
  std::lock_guard lock(g_type2Lock);
  g_type2.push_back({callbackId, subEntry, handle, message, static_cast<DWORD>(state)});
  return state == RASCS_Authenticate ? 0 : 1;  // enough after authentication starts
}

TEST_F(RasDoubleTest, NotifierOfType2GetsTheCallbackIdAndTheHandle) {
  WriteEntry();
  Configure({{"states", "0:0,1:0,5:0,8192:0"}});
  RASDIALPARAMSW params = ClientDialParams(L"alice", L"pw");
  params.dwCallbackId = static_cast<ULONG_PTR>(0xC0FFEE);
  HRASCONN handle = nullptr;
  ASSERT_EQ(0u, api().Dial(nullptr, nullptr, &params, 2, reinterpret_cast<LPVOID>(&Type2Callback), &handle));
  dialled_.push_back(handle);
  ::Sleep(300);
  std::vector<Type2Notice> heard;
  {
    std::lock_guard lock(g_type2Lock);
    heard = g_type2;
  }
  ASSERT_EQ(heard.size(), 3u) << "no notice after the one answered with 0";
  for (const Type2Notice& n : heard) {
    EXPECT_EQ(n.callbackId, static_cast<ULONG_PTR>(0xC0FFEE));
    EXPECT_EQ(n.subEntry, 1u);
    EXPECT_EQ(n.handle, handle);
    EXPECT_EQ(n.message, 0xCCCDu);
  }
  EXPECT_EQ(heard[2].state, static_cast<DWORD>(RASCS_Authenticate));
  EXPECT_NE(LogLinesOf("RasDialW")[0].find("notifier_type=2"), std::string::npos);
  EXPECT_EQ(LogLinesOf("notify").size(), 3u);
}

// ---------------------------------------------------------------------------
// Hang-up and link drops

TEST_F(RasDoubleTest, HangUpIsConfirmedAfterTheConfiguredDelay) {
  Configure({{"states", "8192:0"}, {"hangup_confirm_ms", "300"}});
  HRASCONN handle = Connect();
  const double start = NowMs();
  ASSERT_EQ(0u, api().HangUp(handle));
  RASCONNSTATUSW status;
  EXPECT_EQ(0u, Status(handle, &status));
  EXPECT_EQ(0u, api().HangUp(handle)) << "a second hang-up before the confirmation is accepted";
  const double gone = MsUntilGone(handle, start, 3000);
  EXPECT_GE(gone, 295.0);  // the performance counter, not the 16 ms tick
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), api().HangUp(handle));
}

TEST_F(RasDoubleTest, HangUpThatNeverConfirms) {
  Configure({{"states", "8192:0"}, {"hangup_confirm_ms", "-1"}});
  HRASCONN handle = Connect();
  const double start = NowMs();
  ASSERT_EQ(0u, api().HangUp(handle));
  EXPECT_LT(MsUntilGone(handle, start, 500), 0.0);
  RASCONNSTATUSW status;
  ASSERT_EQ(0u, Status(handle, &status));
  EXPECT_EQ(RASCS_Connected, status.rasconnstate);
}

TEST_F(RasDoubleTest, HangUpStopsTheScript) {
  Configure({{"states", "0:0,1:400,8192:10"}});
  WriteEntry();
  HRASCONN handle = nullptr;
  ASSERT_EQ(0u, Dial(&handle));
  ASSERT_TRUE(Notifications::Instance().WaitForEnd(0, 2000));
  ASSERT_EQ(0u, api().HangUp(handle));
  const size_t atHangUp = Notifications::Instance().Snapshot().size();
  ::Sleep(600);
  EXPECT_EQ(atHangUp, Notifications::Instance().Snapshot().size());
  EXPECT_EQ((std::vector<DWORD>{0}), StatesOf(Notifications::Instance().Snapshot()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), api().HangUp(reinterpret_cast<HRASCONN>(0x77)));
}

TEST_F(RasDoubleTest, LinkDropInvalidatesTheHandle) {
  Configure({{"states", "8192:0"}, {"drop_after_ms", "150"}});
  HRASCONN handle = Connect();
  const double connected = NowMs();
  RASCONNSTATUSW status;
  ASSERT_EQ(0u, Status(handle, &status));
  EXPECT_EQ(RASCS_Connected, status.rasconnstate);
  EXPECT_GE(MsUntilGone(handle, connected, 3000), 140.0);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), api().HangUp(handle));
}

TEST_F(RasDoubleTest, LinkDropCanReportDisconnected) {
  Configure({{"states", "8192:0"}, {"drop_after_ms", "100"}, {"drop_status", "8193"}});
  HRASCONN handle = Connect();
  ::Sleep(200);
  RASCONNSTATUSW status;
  ASSERT_EQ(0u, Status(handle, &status));
  EXPECT_EQ(RASCS_Disconnected, status.rasconnstate);
  EXPECT_EQ(0u, status.dwError);
  EXPECT_EQ(0u, api().HangUp(handle));
}

TEST_F(RasDoubleTest, LinkDropCanBeOrderedWhileConnected) {
  Configure({{"states", "8192:0"}});
  HRASCONN handle = Connect();
  ::Sleep(50);
  RASCONNSTATUSW status;
  ASSERT_EQ(0u, Status(handle, &status));
  Configure({{"drop_after_ms", "1"}});
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), Status(handle, &status));
  // Taking the order back does not revive the link.
  Configure({});
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), Status(handle, &status));
}

TEST_F(RasDoubleTest, StatusChecksItsRecord) {
  Configure({{"states", "8192:0"}});
  HRASCONN handle = Connect();
  RASCONNSTATUSW status = StatusRecord();
  status.dwSize = 160;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SIZE), api().GetConnectStatus(handle, &status));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), api().GetConnectStatus(handle, nullptr));
  status = StatusRecord();
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE),
            api().GetConnectStatus(reinterpret_cast<HRASCONN>(0x5A0011), &status));
}

// ---------------------------------------------------------------------------
// Error texts, projection, statistics

TEST_F(RasDoubleTest, ErrorStringsComeFromTheTable) {
  Configure({{"error_texts", "691=Access denied.;800=No VPN.;bad;5"}});
  wchar_t text[256] = {};
  ASSERT_EQ(0u, api().GetErrorString(691, text, std::size(text)));
  EXPECT_STREQ(L"Access denied.", text);
  ASSERT_EQ(0u, api().GetErrorString(800, text, std::size(text)));
  EXPECT_STREQ(L"No VPN.", text);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), api().GetErrorString(629, text, std::size(text)));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), api().GetErrorString(5, text, std::size(text)));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), api().GetErrorString(691, text, 5));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), api().GetErrorString(691, nullptr, 256));

  Configure({});
  ASSERT_EQ(0u, api().GetErrorString(691, text, std::size(text))) << "the default table knows 691";
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), api().GetErrorString(12345, text, std::size(text)));
  Configure({{"error_texts", ""}});
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), api().GetErrorString(691, text, std::size(text)));
}

TEST_F(RasDoubleTest, Utf8ControlTextsArriveInUtf16) {
  // UTF-8 after a byte-order mark, or without one; the size is in characters.
  ASSERT_TRUE(WriteFileBytes(dir_ + "\\control.ini", "\xEF\xBB\xBF[ras]\r\nerror_texts=691=Accès refusé\r\n"));
  wchar_t text[256] = {};
  ASSERT_EQ(0u, api().GetErrorString(691, text, std::size(text)));
  EXPECT_STREQ(L"Accès refusé", text);
  ASSERT_TRUE(WriteFileBytes(dir_ + "\\control.ini", "[ras]\r\nerror_texts=800=拒绝访问\r\n"));
  ASSERT_EQ(0u, api().GetErrorString(800, text, 5));
  EXPECT_STREQ(L"拒绝访问", text);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), api().GetErrorString(800, text, 4));
  EXPECT_TRUE(HasField(LogLinesOf("RasGetErrorStringW")[1], "text=t:拒绝访问"));
}

TEST_F(RasDoubleTest, ProjectionOnceConnected) {
  Configure({{"states", "0:0,5:300,8192:0"}, {"projection_ip", "172.16.5.9"}});
  WriteEntry();
  HRASCONN handle = nullptr;
  ASSERT_EQ(0u, Dial(&handle));
  RASPPPIPW ip{};
  ip.dwSize = sizeof ip;
  DWORD size = sizeof ip;
  EXPECT_EQ(static_cast<DWORD>(ERROR_PROJECTION_NOT_COMPLETE),
            api().GetProjectionInfo(handle, RASP_PppIp, &ip, &size));
  ASSERT_TRUE(Notifications::Instance().WaitForEnd(RASCS_Connected, 5000));

  ASSERT_EQ(0u, api().GetProjectionInfo(handle, RASP_PppIp, &ip, &size));
  EXPECT_STREQ(L"172.16.5.9", ip.szIpAddress);
  EXPECT_EQ(0u, ip.dwError);
  EXPECT_EQ(static_cast<DWORD>(ERROR_PROTOCOL_NOT_CONFIGURED),
            api().GetProjectionInfo(handle, RASP_PppIpx, &ip, &size));
  size = 20;
  EXPECT_EQ(static_cast<DWORD>(ERROR_BUFFER_TOO_SMALL),
            api().GetProjectionInfo(handle, RASP_PppIp, &ip, &size));
  EXPECT_EQ(sizeof ip, size);
  ip.dwSize = 40;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SIZE), api().GetProjectionInfo(handle, RASP_PppIp, &ip, &size));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE),
            api().GetProjectionInfo(reinterpret_cast<HRASCONN>(0x99), RASP_PppIp, &ip, &size));

  Configure({{"projection_result", "731"}});
  ip.dwSize = sizeof ip;
  EXPECT_EQ(731u, api().GetProjectionInfo(handle, RASP_PppIp, &ip, &size));
  Configure({});
  ASSERT_EQ(0u, api().GetProjectionInfo(handle, RASP_PppIp, &ip, &size));
  EXPECT_STREQ(L"10.8.0.6", ip.szIpAddress);
}

TEST_F(RasDoubleTest, StatisticsFixedOrGrowing) {
  Configure(
      {{"states", "8192:0"}, {"stats_sent", "123"}, {"stats_received", "4294967295"}, {"stats_bps", "-1"}});
  HRASCONN handle = Connect();
  RAS_STATS stats{};
  stats.dwSize = sizeof stats;
  ASSERT_EQ(0u, api().GetConnectionStatistics(handle, &stats));
  EXPECT_EQ(123u, stats.dwBytesXmited);
  EXPECT_EQ(4294967295u, stats.dwBytesRcved);
  EXPECT_EQ(0xFFFFFFFFu, stats.dwBps);

  Configure({});
  ASSERT_EQ(0u, api().GetConnectionStatistics(handle, &stats));
  const DWORD before = stats.dwBytesRcved;
  ::Sleep(100);
  ASSERT_EQ(0u, api().GetConnectionStatistics(handle, &stats));
  EXPECT_GT(stats.dwBytesRcved, before);
  EXPECT_GT(stats.dwBps, 0u);

  stats.dwSize = 56;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SIZE), api().GetConnectionStatistics(handle, &stats));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), api().GetConnectionStatistics(handle, nullptr));
  Configure({{"stats_result", "6"}});
  stats.dwSize = sizeof stats;
  EXPECT_EQ(6u, api().GetConnectionStatistics(handle, &stats));
}

// ---------------------------------------------------------------------------
// calls.log

TEST_F(RasDoubleTest, CallsLogRecordsEveryCallInTimeOrder) {
  Configure({{"states", "1:0,8192:5"}});
  WriteEntry(L"vpn.kivoline.example");
  HRASCONN handle = nullptr;
  ASSERT_EQ(0u, Dial(&handle, L"al ice", L"p\u00e4ss"));
  ASSERT_TRUE(Notifications::Instance().WaitForEnd(RASCS_Connected, 5000));
  ASSERT_EQ(0u, api().HangUp(handle));
  // A dial through the ANSI form is only logged.
  RASDIALPARAMSA ansi{};
  ansi.dwSize = sizeof ansi;
  HRASCONN ansiHandle = nullptr;
  EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED),
            api().DialA(nullptr, nullptr, &ansi, 0, reinterpret_cast<LPVOID>(&Notifications::Callback),
                        &ansiHandle));
  EXPECT_EQ(nullptr, ansiHandle);

  const auto lines = LogLines();
  std::vector<std::string> names;
  double previous = 0;
  for (const std::string& line : lines) {
    names.push_back(NameOf(line));
    const double stamp = std::strtod(line.c_str(), nullptr);
    EXPECT_GE(stamp, previous) << line;
    previous = stamp;
  }
  EXPECT_EQ((std::vector<std::string>{"RasSetEntryPropertiesW", "RasDialW", "notify", "notify", "RasHangUpW",
                                      "RasDialA"}),
            names);
  const std::string& dial = lines[1];
  EXPECT_TRUE(HasField(dial, "dwSize=" + std::to_string(sizeof(RASDIALPARAMSW)))) << dial;
  EXPECT_TRUE(HasField(dial, "entry=t:Kivoline")) << dial;
  EXPECT_TRUE(HasField(dial, "user=t:al%20ice")) << dial;
  EXPECT_TRUE(HasField(dial, "password=t:p\xC3\xA4ss")) << dial;
  EXPECT_TRUE(HasField(dial, "phone=t:")) << dial;
  EXPECT_TRUE(HasField(dial, "entry_phone=t:vpn.kivoline.example")) << dial;
  EXPECT_TRUE(HasField(dial, "phonebook=null")) << dial;
  EXPECT_TRUE(HasField(dial, "result=0")) << dial;
  char handleField[32];
  std::snprintf(handleField, sizeof handleField, "handle=0x%lx",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle)));
  EXPECT_TRUE(HasField(dial, handleField)) << dial;
  EXPECT_TRUE(HasField(lines[3], "state=8192")) << lines[3];
  EXPECT_TRUE(HasField(lines[4], handleField)) << lines[4];
  EXPECT_TRUE(HasField(lines[5], "result=120")) << lines[5];
}

TEST_F(RasDoubleTest, DialLineCarriesUnicodeCredentialsAsUtf8) {
  Configure({{"states", "8192:0"}});
  WriteEntry();
  HRASCONN handle = nullptr;
  ASSERT_EQ(0u, Dial(&handle, L"zh\u0101ng.\u5f20", L"p\u00e4ssw\u00f6rd\u5bc6"));
  const auto dials = LogLinesOf("RasDialW");
  ASSERT_EQ(1u, dials.size());
  EXPECT_TRUE(HasField(dials[0], "user=t:zhāng.张")) << dials[0];
  EXPECT_TRUE(HasField(dials[0], "password=t:pässwörd密")) << dials[0];
}

TEST_F(RasDoubleTest, CallsLogIsAppendSafeAcrossThreads) {
  constexpr int kThreads = 4;
  constexpr int kCalls = 150;
  {
    std::jthread workers[kThreads];
    for (std::jthread& worker : workers) {
      worker = std::jthread([] {
        for (int i = 0; i < kCalls; ++i) api().ValidateEntryName(nullptr, L"Kivoline");
      });
    }
  }
  const auto lines = LogLinesOf("RasValidateEntryNameW");
  ASSERT_EQ(static_cast<size_t>(kThreads * kCalls), lines.size());
  for (const std::string& line : lines) EXPECT_TRUE(HasField(line, "result=0")) << line;
}

TEST_F(RasDoubleTest, DirectoryMayBeGivenInWindowsForm) {
  UseDirectory(dir_ + "\\");
  EXPECT_EQ(0u, api().ValidateEntryName(nullptr, L"Kivoline"));
  EXPECT_EQ(1u, LogLinesOf("RasValidateEntryNameW").size());
}

TEST_F(RasDoubleTest, MissingDirectoryIsMadeOnFirstUse) {
  dir_ += "\\not\\yet";
  UseDirectory(dir_);
  EXPECT_EQ(0u, api().ValidateEntryName(nullptr, L"Kivoline"));
  EXPECT_EQ(1u, LogLinesOf("RasValidateEntryNameW").size());
}

// ---------------------------------------------------------------------------
// Flavours

struct StringResources {
  int names = 0;
  std::vector<WORD> languages;
};

BOOL CALLBACK OnStringLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
  reinterpret_cast<StringResources*>(param)->languages.push_back(language);
  return TRUE;
}

BOOL CALLBACK OnStringName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
  reinterpret_cast<StringResources*>(param)->names++;
  ::EnumResourceLanguagesW(module, type, name, OnStringLanguage, param);
  return TRUE;
}

// What a program sees when it asks the library in which language it is.
StringResources EnumerateStrings(HMODULE module) {
  StringResources found;
  ::EnumResourceNamesW(module, MAKEINTRESOURCEW(6) /* RT_STRING */, OnStringName,
                       reinterpret_cast<LONG_PTR>(&found));
  return found;
}

TEST(RasDoubleFlavours, StringTableCarriesTheFlavoursLanguage) {
  const std::map<std::string, WORD> expected = {{"en", 1033}, {"zhcn", 2052}, {"zhtw", 1028}, {"none", 0}};
  std::vector<HMODULE> modules;
  for (const auto& [flavour, language] : expected) {
    SCOPED_TRACE(flavour);
    const RasApi& api = Flavour(flavour);
    ASSERT_TRUE(api.Complete()) << Paths().dllDirs[flavour];
    modules.push_back(api.module);
    const StringResources found = EnumerateStrings(api.module);
    if (language == 0) {
      EXPECT_EQ(0, found.names);
      EXPECT_TRUE(found.languages.empty());
    } else {
      EXPECT_EQ(2, found.names);
      EXPECT_EQ((std::vector<WORD>{language, language}), found.languages);
    }
  }
  // Four separate libraries, not one loaded four times.
  for (size_t i = 0; i < modules.size(); ++i) {
    for (size_t j = i + 1; j < modules.size(); ++j) EXPECT_NE(modules[i], modules[j]);
  }
}

TEST(RasDoubleFlavours, EveryFlavourBehavesAlike) {
  const std::string dir = ToWindowsPath(Paths().workDir) + "\\flavours";
  RemoveTree(dir);
  ::CreateDirectoryA(dir.c_str(), nullptr);
  ASSERT_TRUE(WriteFileBytes(dir + "\\control.ini", "[ras]\r\nvalidate=4321\r\n"));
  ::SetEnvironmentVariableA("KIVO_RAS_DIR", dir.c_str());
  for (const char* flavour : {"en", "zhcn", "zhtw", "none"}) {
    SCOPED_TRACE(flavour);
    ASSERT_TRUE(Flavour(flavour).Complete());
    EXPECT_EQ(4321u, Flavour(flavour).ValidateEntryName(nullptr, L"Kivoline"));
  }
  EXPECT_EQ(4u, Lines(ReadFileBytes(dir + "\\calls.log")).size());
}

// ---------------------------------------------------------------------------
// --layout: the offsets the Python side reads records with.

int PrintLayout() {
  using Entry = RASENTRYW;  // a type name, where ras.h has a macro
  std::printf("{\"RASENTRYW\": {\"size\": %u", static_cast<unsigned>(sizeof(Entry)));
#define KIVO_FIELD(record, field)                                                           \
  std::printf(", \"%s\": [%u, %u]", #field, static_cast<unsigned>(offsetof(record, field)), \
              static_cast<unsigned>(sizeof(record{}.field)))
  KIVO_FIELD(Entry, dwSize);
  KIVO_FIELD(Entry, dwfOptions);
  KIVO_FIELD(Entry, dwCountryID);
  KIVO_FIELD(Entry, dwCountryCode);
  KIVO_FIELD(Entry, szLocalPhoneNumber);
  KIVO_FIELD(Entry, dwfNetProtocols);
  KIVO_FIELD(Entry, dwFramingProtocol);
  KIVO_FIELD(Entry, szDeviceType);
  KIVO_FIELD(Entry, szDeviceName);
  KIVO_FIELD(Entry, dwType);
  KIVO_FIELD(Entry, dwEncryptionType);
  KIVO_FIELD(Entry, dwVpnStrategy);
#undef KIVO_FIELD
  std::printf(
      "}, \"RASDIALPARAMSW\": %u, \"RASCONNSTATUSW\": %u, \"RASPPPIPW\": %u, \"RASCREDENTIALSW\": %u, "
      "\"RAS_STATS\": %u}\n",
      static_cast<unsigned>(sizeof(RASDIALPARAMSW)), static_cast<unsigned>(sizeof(RASCONNSTATUSW)),
      static_cast<unsigned>(sizeof(RASPPPIPW)), static_cast<unsigned>(sizeof(RASCREDENTIALSW)),
      static_cast<unsigned>(sizeof(RAS_STATS)));
  return 0;
}

// ---------------------------------------------------------------------------
// --probe <dll dir> <ras dir> <scenario> ...: one client-like sequence whose
// results go to stdout as JSON, for the Python side's check.
//   read                              validate, size query, read the entry
//   connect <phone> <user> <password> <error code>
//       write the entry as the client does, dial, wait for the end of the
//       script, read status, projection, statistics and an error text, hang
//       up and wait for the confirmation
// The arguments are read in UTF-16; texts are printed as the hex of their UTF-8.

int RunProbe(int argc, char** argv) {
  if (argc < 5) return 2;
  // The texts as they were given, whatever the ANSI code page.
  int wideCount = 0;
  std::unique_ptr<LPWSTR, decltype(&::LocalFree)> wideArgs(::CommandLineToArgvW(::GetCommandLineW(), &wideCount),
                                                           &::LocalFree);
  if (!wideArgs || wideCount != argc) return 2;
  const auto wideArg = [&](int i) { return static_cast<const wchar_t*>(wideArgs.get()[i]); };
  const RasApi api = RasApi::Load(argv[2]);
  if (!api.Complete()) return 3;
  ::SetEnvironmentVariableA("KIVO_RAS_DIR", argv[3]);
  const std::string scenario = argv[4];
  if (scenario == "read") {
    const DWORD validate = api.ValidateEntryName(nullptr, L"Kivoline");
    DWORD entrySize = 0, deviceSize = 0;
    const DWORD query = api.GetEntryProperties(nullptr, L"", nullptr, &entrySize, nullptr, &deviceSize);
    std::vector<char> record(std::max<DWORD>(entrySize, sizeof(RASENTRYW)) + 64, '\0');
    reinterpret_cast<RASENTRYW*>(record.data())->dwSize = entrySize;
    DWORD size = entrySize;
    std::vector<BYTE> device(deviceSize + 1);
    const DWORD get = api.GetEntryProperties(nullptr, L"Kivoline", reinterpret_cast<RASENTRYW*>(record.data()),
                                             &size, device.data(), &deviceSize);
    std::printf("{\"validate\": %lu, \"query\": %lu, \"get\": %lu, \"entry\": \"%s\", \"devinfo\": \"%s\"}\n",
                validate, query, get, get == 0 ? Hex(std::string(record.data(), size)).c_str() : "",
                get == 0 ? Hex(std::string(reinterpret_cast<char*>(device.data()), deviceSize)).c_str() : "");
    return 0;
  }
  if (scenario != "connect" || argc < 9) return 2;
  if (api.ValidateEntryName(nullptr, L"Kivoline") != 0) api.DeleteEntry(nullptr, L"Kivoline");
  RASENTRYW entry = ClientEntry(wideArg(5));
  const DWORD set = api.SetEntryProperties(nullptr, L"Kivoline", &entry, sizeof entry, nullptr, 0);
  RASDIALPARAMSW params = ClientDialParams(wideArg(6), wideArg(7));
  HRASCONN handle = nullptr;
  const DWORD dial =
      api.Dial(nullptr, nullptr, &params, 0, reinterpret_cast<LPVOID>(&Notifications::Callback), &handle);
  if (dial == 0) Notifications::Instance().WaitForEnd(RASCS_Connected, 15000);
  RASCONNSTATUSW status = StatusRecord();
  const DWORD statusResult = api.GetConnectStatus(handle, &status);
  RASPPPIPW ip{};
  ip.dwSize = sizeof ip;
  DWORD ipSize = sizeof ip;
  const DWORD projection = api.GetProjectionInfo(handle, RASP_PppIp, &ip, &ipSize);
  RAS_STATS stats{};
  stats.dwSize = sizeof stats;
  const DWORD statistics = api.GetConnectionStatistics(handle, &stats);
  wchar_t text[256] = {};
  const DWORD textResult = api.GetErrorString(std::strtoul(argv[8], nullptr, 10), text, std::size(text));
  const DWORD hangUp = handle ? api.HangUp(handle) : 0;
  const double start = NowMs();
  while (handle && NowMs() - start < 5000 && api.GetConnectStatus(handle, &status) != ERROR_INVALID_HANDLE) {
    ::Sleep(0);
  }
  std::printf("{\"set\": %lu, \"dial\": %lu, \"handle\": %lu, \"notifications\": [", set, dial,
              static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle)));
  const auto received = Notifications::Instance().Snapshot();
  for (size_t i = 0; i < received.size(); ++i) {
    std::printf("%s[%lu, %lu]", i ? ", " : "", received[i].state, received[i].error);
  }
  std::printf(
      "], \"status\": %lu, \"ip_result\": %lu, \"ip\": \"%s\", \"stats_result\": %lu, \"sent\": %lu, "
      "\"received\": %lu, \"bps\": %lu, \"text_result\": %lu, \"text\": \"%s\", \"hangup\": %lu}\n",
      statusResult, projection, Hex(Utf8(ip.szIpAddress)).c_str(), statistics, stats.dwBytesXmited,
      stats.dwBytesRcved, stats.dwBps, textResult, Hex(Utf8(text)).c_str(), hangUp);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--layout") == 0) return PrintLayout();
  if (argc >= 2 && std::strcmp(argv[1], "--probe") == 0) return RunProbe(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s <en dir> <zhcn dir> <zhtw dir> <none dir> <work dir>\n", argv[0]);
    return 2;
  }
  SelfTestPaths& paths = Paths();
  paths.dllDirs = {{"en", argv[1]}, {"zhcn", argv[2]}, {"zhtw", argv[3]}, {"none", argv[4]}};
  paths.workDir = argv[5];
  return RUN_ALL_TESTS();
}
