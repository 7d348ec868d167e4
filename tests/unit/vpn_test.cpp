// The phonebook record, the device name bytes and the connection texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "resource.h"
#include "toolkit/Language.h"
#include "toolkit/Strings.h"
#include "vpn/DialNotifier.h"
#include "vpn/DialTexts.h"
#include "vpn/Phonebook.h"
#include "vpn/RasRecords.h"

using namespace kivo::vpn;

namespace {

const RASENTRYW& AsEntry(const std::vector<BYTE>& record) {
  return *reinterpret_cast<const RASENTRYW*>(record.data());
}

TEST(PhonebookEntry, CarriesExactlyTheVpnFields) {
  std::vector<BYTE> record = BuildEntryRecord(sizeof(RASENTRYW), "198.51.100.21", 1033);
  ASSERT_EQ(record.size(), 5616u);
  const RASENTRYW& e = AsEntry(record);
  EXPECT_EQ(e.dwSize, 5616u);
  EXPECT_EQ(e.dwfOptions, 0x38001010u);
  EXPECT_EQ(e.dwCountryID, 86u);
  EXPECT_EQ(e.dwCountryCode, 86u);
  EXPECT_STREQ(e.szLocalPhoneNumber, L"198.51.100.21");
  EXPECT_EQ(e.dwfNetProtocols, static_cast<DWORD>(RASNP_Ip));
  EXPECT_EQ(e.dwFramingProtocol, static_cast<DWORD>(RASFP_Ppp));
  EXPECT_STREQ(e.szDeviceType, L"vpn");
  EXPECT_STREQ(e.szDeviceName, L"WAN Miniport (L2TP)");
  EXPECT_EQ(e.dwType, 2u);
  EXPECT_EQ(e.dwVpnStrategy, 2u);
  EXPECT_EQ(e.dwEncryptionType, 3u);
  // Everything else stays zero: compare with a record holding only these.
  RASENTRYW expected;
  std::memset(&expected, 0, sizeof(expected));
  expected.dwSize = e.dwSize;
  expected.dwfOptions = e.dwfOptions;
  expected.dwCountryID = expected.dwCountryCode = 86;
  std::wcscpy(expected.szLocalPhoneNumber, L"198.51.100.21");
  expected.dwfNetProtocols = RASNP_Ip;
  expected.dwFramingProtocol = RASFP_Ppp;
  std::wcscpy(expected.szDeviceType, L"vpn");
  std::wcscpy(expected.szDeviceName, L"WAN Miniport (L2TP)");
  expected.dwType = 2;
  expected.dwVpnStrategy = 2;
  expected.dwEncryptionType = 3;
  EXPECT_EQ(std::memcmp(&expected, record.data(), sizeof(expected)), 0);
}

TEST(PhonebookEntry, WithAPreSharedKeyIsL2tpIpsecOnlyAndTheKeyIsStoredAlone) {
  std::vector<BYTE> expected = BuildEntryRecord(sizeof(RASENTRYW), "h", 1033);
  auto& e = *reinterpret_cast<RASENTRYW*>(expected.data());
  e.dwVpnStrategy = VS_L2tpOnly;
  e.dwEncryptionType = ET_Require;
  e.dwfOptions2 = RASEO2_UsePreSharedKey;
  EXPECT_EQ(BuildEntryRecord(sizeof(RASENTRYW), "h", 1033, true), expected) << "only these three differ";

  // The RAS double, under a name of its own (the system's rasapi32 is
  // loaded), logs what it was given in its calls.log.
  wchar_t temp[MAX_PATH] = {};
  const std::wstring dir = std::wstring(temp, ::GetTempPathW(MAX_PATH, temp)) + L"kivo_psk";
  std::wstring dll = L"Z:" + kivo::toolkit::FromUtf8(KIVO_RAS_DOUBLE_DLL);
  std::replace(dll.begin(), dll.end(), L'/', L'\\');
  ::CreateDirectoryW(dir.c_str(), nullptr);
  ::CreateDirectoryW((dir + L"\\phonebook").c_str(), nullptr);
  std::ofstream(kivo::toolkit::ToUtf8(dir + L"\\phonebook\\Kivoline.entry"));  // an ASCII path
  ::DeleteFileW((dir + L"\\calls.log").c_str());
  ASSERT_TRUE(::CopyFileW(dll.c_str(), (dir + L"\\double.dll").c_str(), FALSE));
  HMODULE ras = ::LoadLibraryW((dir + L"\\double.dll").c_str());
  ASSERT_NE(ras, nullptr);
  ::SetEnvironmentVariableW(L"KIVO_RAS_DIR", dir.c_str());
  // A key outside any code page arrives whole: twelve characters.
  EXPECT_EQ(StorePreSharedKey(L"C:\\p.pbk", L"Kiv0-Secret密",
                              reinterpret_cast<SetCredentialsFunction>(
                                  reinterpret_cast<void*>(::GetProcAddress(ras, "RasSetCredentialsW")))),
            0u);
  ::SetEnvironmentVariableW(L"KIVO_RAS_DIR", nullptr);
  ::FreeLibrary(ras);
  std::ifstream log(kivo::toolkit::ToUtf8(dir + L"\\calls.log"));
  const std::string calls((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  // Kivoline, nothing cleared, the mask of the key alone, the key's length.
  EXPECT_NE(calls.find(" entry=t:Kivoline clear=0 mask=16 key_length=12 "), std::string::npos) << calls;
  EXPECT_EQ(calls.find("Secret"), std::string::npos);
}

TEST(PhonebookEntry, BufferIsNeverSmallerThanTheReportedSize) {
  EXPECT_EQ(BuildEntryRecord(1000, "h", 1033).size(), 5616u) << "at least the full record";
  std::vector<BYTE> big = BuildEntryRecord(6000, "h", 1033);
  EXPECT_EQ(big.size(), 6000u);
  EXPECT_EQ(AsEntry(big).dwSize, 6000u);
}

TEST(PhonebookEntry, EmptyAndOverlongTargetsAreStoredSafely) {
  EXPECT_STREQ(AsEntry(BuildEntryRecord(5616, "", 1033)).szLocalPhoneNumber, L"");
  std::string huge(500, '9');
  const std::vector<BYTE> record = BuildEntryRecord(5616, huge, 1033);
  const RASENTRYW& e = AsEntry(record);
  EXPECT_EQ(std::wcslen(e.szLocalPhoneNumber), std::size(e.szLocalPhoneNumber) - 1);
}

TEST(DeviceName, FollowsTheRasLibraryLanguage) {
  for (WORD id : {1028, 3076, 5124}) EXPECT_EQ(DeviceNameFor(id), L"WAN 迷你連接埠 (L2TP)") << id;
  for (WORD id : {2052, 4100}) EXPECT_EQ(DeviceNameFor(id), L"WAN 微型端口 (L2TP)") << id;
  for (WORD id : {0, 1033, 2057, 1041}) EXPECT_EQ(DeviceNameFor(id), L"WAN Miniport (L2TP)") << id;
}

TEST(Phonebook, ValidationResultsThatMeanNoEntry) {
  EXPECT_FALSE(IsEntryPresent(0));
  EXPECT_FALSE(IsEntryPresent(621));
  EXPECT_TRUE(IsEntryPresent(183));
  EXPECT_TRUE(IsEntryPresent(87));
}

TEST(DialStates, MapToTheirStringIds) {
  struct Case {
    DWORD state;
    UINT offset;  // from the first state's text; ~0u: no text
  } cases[] = {{0, 0},       {5, 5},       {17, 17},     {0x1000, 18}, {0x1003, 21},      {0x2000, 22},
               {0x2001, 23}, {18, ~0u},    {0x1004, ~0u}, {0x2002, ~0u}, {0xFFFFFFFF, ~0u}};
  for (const Case& c : cases) {
    EXPECT_EQ(StateTextId(c.state), c.offset == ~0u ? 1u : IDS_STATE_FIRST + c.offset) << c.state;
  }
}

TEST(DialStates, EveryMappedIdHasTextInEverySetAndTheUnmappedNone) {
  using kivo::toolkit::Language;
  for (Language language : {Language::English, Language::SimplifiedChinese, Language::TraditionalChinese}) {
    const kivo::toolkit::TextSet texts(language);
    for (UINT id = IDS_STATE_FIRST; id < IDS_STATE_FIRST + 24; ++id) EXPECT_FALSE(texts.Text(id).empty()) << id;
    EXPECT_EQ(texts.Text(StateTextId(18)), L"");
  }
  EXPECT_EQ(kivo::toolkit::TextSet(Language::English).Text(StateTextId(RASCS_Connected)), L"Successfully connected");
  EXPECT_EQ(kivo::toolkit::TextSet(Language::TraditionalChinese).Text(StateTextId(RASCS_Connected)), L"已連線");
}

TEST(StatusText, FormatsSpeedCountersAndAddress) {
  const std::wstring format = kivo::toolkit::TextSet(kivo::toolkit::Language::English).Text(IDS_TRAY_TIP_FORMAT);
  EXPECT_EQ(
      FormatStatusText(format, 54000000, 1234, 4294967295u, L"10.8.0.6"),
      L"Kivoline Connection\nSpeed: 54.00 Mbps\nSend: 1234 byte\nReceive: 4294967295 byte\nIP:   10.8.0.6\n");
  // The speed is read as a signed 32-bit number.
  EXPECT_NE(FormatStatusText(format, 0xFFFFFFFF, 0, 0, L"").find(L"Speed: -0.00 Mbps"), std::wstring::npos);
  std::wstring largest = FormatStatusText(format, 0x7FFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, L"255.255.255.255");
  EXPECT_LT(largest.size(), 128u) << "fits the tooltip";
}

TEST(DialError, AppendsTheCodeAsASignedNumber) {
  // 0xDEADBEEF has no system text anywhere: the unknown text is used.
  std::wstring text = FormatDialError(0xDEADBEEF, L"Unknown remote access error,", L"Error code: %ld.");
  EXPECT_EQ(text, L"Unknown remote access error,Error code: -559038737.");
}

// A dial hung up while its notices were still on their way, then another
// dial: the late notices of the first must not pass for the second's. Each
// notifier posts to the window its dial's callback id names.
TEST(DialNotices, ALateNoticeOfAnEarlierDialIsNotTheCurrentDials) {
  HWND sink = ::CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(sink, nullptr);
  const auto window = reinterpret_cast<ULONG_PTR>(sink);

  DialSequence dials;
  RASDIALFUNC2 cancelled = NotifierOfSlot(dials.Next());
  RASDIALFUNC2 current = NotifierOfSlot(dials.Next());
  EXPECT_NE(cancelled, current);
  EXPECT_EQ(cancelled(window, 1, nullptr, kDialEventMessage, RASCS_Connected, 0, 0), 1u) << "keeps reporting";
  current(window, 1, nullptr, kDialEventMessage, RASCS_OpenPort, 0, 0);
  cancelled(window, 1, nullptr, kDialEventMessage, RASCS_Authenticate, 691, 0);
  current(0, 1, nullptr, kDialEventMessage, RASCS_Connected, 0, 0);  // no window: posts nothing

  MSG msg;
  std::vector<std::pair<DWORD, bool>> seen;  // state, current
  std::vector<LPARAM> errors;
  while (::PeekMessageW(&msg, sink, kDialEventMessage, kDialEventMessage, PM_REMOVE)) {
    seen.emplace_back(UnpackDialNotice(msg.wParam).state, dials.IsCurrent(UnpackDialNotice(msg.wParam)));
    errors.push_back(msg.lParam);
  }
  EXPECT_EQ(seen, (std::vector<std::pair<DWORD, bool>>{
                      {RASCS_Connected, false}, {RASCS_OpenPort, true}, {RASCS_Authenticate, false}}));
  EXPECT_EQ(errors, (std::vector<LPARAM>{0, 0, 691}));
  EXPECT_FALSE(
      ::PeekMessageW(&msg, reinterpret_cast<HWND>(-1), kDialEventMessage, kDialEventMessage, PM_REMOVE))
      << "nothing posted to the thread";
  EXPECT_FALSE(dials.IsCurrent(UnpackDialNotice(RASCS_Connected))) << "a notice that names no dial";
  EXPECT_EQ(NotifierOfSlot(0), nullptr);
  EXPECT_EQ(NotifierOfSlot(kDialSlots + 1), nullptr);
  // Each dial of a round has its own notifier.
  for (unsigned i = 1; i < kDialSlots; ++i) EXPECT_NE(NotifierOfSlot(dials.Next()), current) << i;
  EXPECT_EQ(NotifierOfSlot(dials.Next()), current);
  ::DestroyWindow(sink);
}

}  // namespace
