// The phonebook record, the device name bytes and the connection texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/Strings.h"
#include "vpn/DialNotifier.h"
#include "vpn/DialTexts.h"
#include "vpn/Phonebook.h"
#include "vpn/RasRecords.h"

using namespace kivo::vpn;

namespace {

const RASENTRYA& AsEntry(const std::vector<BYTE>& record) {
  return *reinterpret_cast<const RASENTRYA*>(record.data());
}

TEST(PhonebookEntry, CarriesExactlyTheVpnFields) {
  std::vector<BYTE> record = BuildEntryRecord(sizeof(RASENTRYA), "198.51.100.21", 1033);
  ASSERT_EQ(record.size(), 2884u);
  const RASENTRYA& e = AsEntry(record);
  EXPECT_EQ(e.dwSize, 2884u);
  EXPECT_EQ(e.dwfOptions, 0x38001010u);
  EXPECT_EQ(e.dwCountryID, 86u);
  EXPECT_EQ(e.dwCountryCode, 86u);
  EXPECT_STREQ(e.szLocalPhoneNumber, "198.51.100.21");
  EXPECT_EQ(e.dwfNetProtocols, static_cast<DWORD>(RASNP_Ip));
  EXPECT_EQ(e.dwFramingProtocol, static_cast<DWORD>(RASFP_Ppp));
  EXPECT_STREQ(e.szDeviceType, "vpn");
  EXPECT_STREQ(e.szDeviceName, "WAN Miniport (L2TP)");
  EXPECT_EQ(e.dwType, 2u);
  EXPECT_EQ(e.dwVpnStrategy, 2u);
  EXPECT_EQ(e.dwEncryptionType, 3u);
  // Everything else stays zero: compare with a record holding only these.
  RASENTRYA expected;
  std::memset(&expected, 0, sizeof(expected));
  expected.dwSize = e.dwSize;
  expected.dwfOptions = e.dwfOptions;
  expected.dwCountryID = expected.dwCountryCode = 86;
  std::strcpy(expected.szLocalPhoneNumber, "198.51.100.21");
  expected.dwfNetProtocols = RASNP_Ip;
  expected.dwFramingProtocol = RASFP_Ppp;
  std::strcpy(expected.szDeviceType, "vpn");
  std::strcpy(expected.szDeviceName, "WAN Miniport (L2TP)");
  expected.dwType = 2;
  expected.dwVpnStrategy = 2;
  expected.dwEncryptionType = 3;
  EXPECT_EQ(std::memcmp(&expected, record.data(), sizeof(expected)), 0);
}

TEST(PhonebookEntry, WithAPreSharedKeyIsL2tpIpsecOnlyAndTheKeyIsStoredAlone) {
  std::vector<BYTE> expected = BuildEntryRecord(sizeof(RASENTRYA), "h", 1033);
  auto& e = *reinterpret_cast<RASENTRYA*>(expected.data());
  e.dwVpnStrategy = VS_L2tpOnly;
  e.dwEncryptionType = ET_Require;
  e.dwfOptions2 = RASEO2_UsePreSharedKey;
  EXPECT_EQ(BuildEntryRecord(sizeof(RASENTRYA), "h", 1033, true), expected) << "only these three differ";

  // The RAS double, under a name of its own (the system's rasapi32 is
  // loaded), logs what it was given in its calls.log.
  char temp[MAX_PATH] = {};
  const std::string dir = std::string(temp, ::GetTempPathA(sizeof(temp), temp)) + "kivo_psk";
  std::string dll = std::string("Z:") + KIVO_RAS_DOUBLE_DLL;
  std::replace(dll.begin(), dll.end(), '/', '\\');
  ::CreateDirectoryA(dir.c_str(), nullptr);
  ::CreateDirectoryA((dir + "\\phonebook").c_str(), nullptr);
  std::ofstream(dir + "\\phonebook\\Kivoline.entry");
  ::DeleteFileA((dir + "\\calls.log").c_str());
  ASSERT_TRUE(::CopyFileA(dll.c_str(), (dir + "\\double.dll").c_str(), FALSE));
  HMODULE ras = ::LoadLibraryA((dir + "\\double.dll").c_str());
  ASSERT_NE(ras, nullptr);
  ::SetEnvironmentVariableA("KIVO_RAS_DIR", dir.c_str());
  EXPECT_EQ(StorePreSharedKey("C:\\p.pbk", "Kiv0-Secret",
                              reinterpret_cast<SetCredentialsFunction>(
                                  reinterpret_cast<void*>(::GetProcAddress(ras, "RasSetCredentialsA")))),
            0u);
  ::SetEnvironmentVariableA("KIVO_RAS_DIR", nullptr);
  ::FreeLibrary(ras);
  std::ifstream log(dir + "\\calls.log");
  const std::string calls((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  // C:\p.pbk and Kivoline, nothing cleared, the mask of the key alone, the key's length.
  EXPECT_NE(
      calls.find(" phonebook=b:433a5c702e70626b entry=b:4b69766f6c696e65 clear=0 mask=16 key_length=11 "),
      std::string::npos)
      << calls;
  EXPECT_EQ(calls.find("Secret"), std::string::npos);
  EXPECT_EQ(calls.find("536563726574"), std::string::npos) << "nor as bytes";
}

TEST(PhonebookEntry, BufferIsNeverSmallerThanTheReportedSize) {
  EXPECT_EQ(BuildEntryRecord(1000, "h", 1033).size(), 2884u) << "at least the full record";
  std::vector<BYTE> big = BuildEntryRecord(4000, "h", 1033);
  EXPECT_EQ(big.size(), 4000u);
  EXPECT_EQ(AsEntry(big).dwSize, 4000u);
}

TEST(PhonebookEntry, EmptyAndOverlongTargetsAreStoredSafely) {
  EXPECT_STREQ(AsEntry(BuildEntryRecord(2884, "", 1033)).szLocalPhoneNumber, "");
  std::string huge(500, '9');
  const RASENTRYA& e = AsEntry(BuildEntryRecord(2884, huge, 1033));
  EXPECT_EQ(std::strlen(e.szLocalPhoneNumber), sizeof(e.szLocalPhoneNumber) - 1);
}

TEST(DeviceName, FollowsTheRasLibraryLanguageAsCodePageBytes) {
  const std::string big5 = "WAN \xB0\x67\xA7\x41\xB3\x73\xB1\xB5\xB0\xF0 (L2TP)";  // 迷你連接埠
  const std::string gbk = "WAN \xCE\xA2\xD0\xCD\xB6\xCB\xBF\xDA (L2TP)";           // 微型端口
  for (WORD id : {1028, 3076, 5124}) EXPECT_EQ(DeviceNameFor(id), big5) << id;
  for (WORD id : {2052, 4100}) EXPECT_EQ(DeviceNameFor(id), gbk) << id;
  for (WORD id : {0, 1033, 2057, 1041}) EXPECT_EQ(DeviceNameFor(id), "WAN Miniport (L2TP)") << id;
  EXPECT_EQ(kivo::toolkit::Gbk("WAN 微型端口 (L2TP)"), gbk);
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
    UINT zh, en;
  } cases[] = {{0, 100, 124},      {5, 105, 129},      {17, 117, 141},     {0x1000, 118, 142},
               {0x1003, 121, 145}, {0x2000, 122, 146}, {0x2001, 123, 147}, {18, 1, 1},
               {0x1004, 1, 1},     {0x2002, 1, 1},     {0xFFFFFFFF, 1, 1}};
  for (const Case& c : cases) {
    EXPECT_EQ(StateTextId(c.state, true), c.zh) << c.state;
    EXPECT_EQ(StateTextId(c.state, false), c.en) << c.state;
  }
}

TEST(DialStates, EveryMappedIdHasTextAndTheUnmappedNone) {
  for (UINT id = 100; id <= 147; ++id) EXPECT_FALSE(kivo::toolkit::LoadResString(id).empty()) << id;
  EXPECT_EQ(kivo::toolkit::LoadResString(StateTextId(18, false)), "");
  EXPECT_EQ(kivo::toolkit::LoadResString(146), "Successfully connected");
}

TEST(StatusText, FormatsSpeedCountersAndAddress) {
  const std::string format =
      "Kivoline Connection\nSpeed: %.2f Mbps\nSend: %u byte\nReceive: %u byte\nIP:   %s\n";
  EXPECT_EQ(
      FormatStatusText(format, 54000000, 1234, 4294967295u, "10.8.0.6"),
      "Kivoline Connection\nSpeed: 54.00 Mbps\nSend: 1234 byte\nReceive: 4294967295 byte\nIP:   10.8.0.6\n");
  // The speed is read as a signed 32-bit number.
  EXPECT_NE(FormatStatusText(format, 0xFFFFFFFF, 0, 0, "").find("Speed: -0.00 Mbps"), std::string::npos);
  std::string largest = FormatStatusText(format, 0x7FFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, "255.255.255.255");
  EXPECT_LT(largest.size(), 128u) << "fits the tooltip";
}

TEST(DialError, AppendsTheCodeAsASignedNumber) {
  // 0xDEADBEEF has no system text anywhere: the unknown text is used.
  std::string text = FormatDialError(0xDEADBEEF, "Unknow remote access error,", "Error code: %ld.");
  EXPECT_EQ(text, "Unknow remote access error,Error code: -559038737.");
}

// A dial hung up while its notices were still on their way, then another
// dial: the late notices of the first must not pass for the second's. Each
// notifier posts to the window its dial's callback id names.
TEST(DialNotices, ALateNoticeOfAnEarlierDialIsNotTheCurrentDials) {
  HWND sink = ::CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
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
  while (::PeekMessageA(&msg, sink, kDialEventMessage, kDialEventMessage, PM_REMOVE)) {
    seen.emplace_back(UnpackDialNotice(msg.wParam).state, dials.IsCurrent(UnpackDialNotice(msg.wParam)));
    errors.push_back(msg.lParam);
  }
  EXPECT_EQ(seen, (std::vector<std::pair<DWORD, bool>>{
                      {RASCS_Connected, false}, {RASCS_OpenPort, true}, {RASCS_Authenticate, false}}));
  EXPECT_EQ(errors, (std::vector<LPARAM>{0, 0, 691}));
  EXPECT_FALSE(
      ::PeekMessageA(&msg, reinterpret_cast<HWND>(-1), kDialEventMessage, kDialEventMessage, PM_REMOVE))
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
