// The tray icon's records as the shell receives them, through the one seam
// of CSystemTray.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>

#include <vector>

#include "resource.h"
#include "toolkit/Dpi.h"
#include "toolkit/Window.h"
#include "tray/SystemTray.h"

using kivo::tray::CSystemTray;

namespace {

// The shell's version 2 record: without the item GUID, with the balloon.
constexpr DWORD kRecordSize = sizeof(void*) == 8 ? 952u : 936u;

struct ShellCall {
  DWORD message;
  NOTIFYICONDATAW record;
};

// The main window the icon shows.
class FakeOwner : public kivo::toolkit::Window {
 public:
  FakeOwner() { Create(0, L"Kivoline", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr); }
};

class RecordingTray : public CSystemTray {
 public:
  explicit RecordingTray(const FakeOwner& owner) { SetOwner(owner.Hwnd(), L"Show..."); }
  std::vector<ShellCall> calls;
  BOOL answer = TRUE;
  ~RecordingTray() override { Remove(); }

 protected:
  BOOL NotifyShell(DWORD message, NOTIFYICONDATAW& record) override {
    calls.push_back({message, record});
    return answer;
  }
};

TEST(Tray, CreateAddsTheIconWithItsCallbackAndTip) {
  FakeOwner owner;
  RecordingTray tray(owner);
  HICON icon = ::LoadIconW(nullptr, MAKEINTRESOURCEW(32512));
  ASSERT_TRUE(tray.Create(1135, L"Kivoline", icon, 530));
  ASSERT_EQ(tray.calls.size(), 1u);
  const ShellCall& add = tray.calls[0];
  EXPECT_EQ(add.message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(add.record.cbSize, kRecordSize);
  EXPECT_EQ(add.record.uFlags, 7u);
  EXPECT_EQ(add.record.uID, 530u);
  EXPECT_EQ(add.record.uCallbackMessage, 1135u);
  EXPECT_EQ(add.record.hIcon, icon);
  EXPECT_EQ(add.record.hWnd, tray.Hwnd());
  EXPECT_STREQ(add.record.szTip, L"Kivoline");
  wchar_t title[32] = {};
  ::GetWindowTextW(tray.Hwnd(), title, 32);
  EXPECT_STREQ(title, L"KIVO VPN");
  EXPECT_FALSE(::IsWindowVisible(tray.Hwnd()));
}

TEST(Tray, TheIconIsLoadedAgainAtTheShellsSizeWhenTheDpiChanges) {
  FakeOwner owner;
  RecordingTray tray(owner);
  ASSERT_TRUE(tray.CreateFromResource(1135, L"Kivoline", IDI_KIVO, 530));
  auto iconWidth = [](HICON icon) {
    ICONINFO info{};
    if (!::GetIconInfo(icon, &info)) return 0;
    BITMAP bits{};
    ::GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof(bits), &bits);
    if (info.hbmColor != nullptr) ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
    return static_cast<int>(bits.bmWidth);
  };
  const UINT dpi = kivo::toolkit::DpiOfWindow(tray.Hwnd());
  EXPECT_EQ(iconWidth(tray.calls.back().record.hIcon), kivo::toolkit::SystemMetricForDpi(SM_CXSMICON, dpi));

  // The monitor of the tray goes to 150%: the shell is told of the 24-pixel
  // picture, and the same DPI again changes nothing.
  const UINT other = dpi == 144 ? 192 : 144;
  ::SendMessageW(tray.Hwnd(), WM_DPICHANGED, MAKEWPARAM(other, other), 0);
  const ShellCall& modify = tray.calls.back();
  EXPECT_EQ(modify.message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(modify.record.uFlags, static_cast<UINT>(NIF_ICON));
  EXPECT_EQ(iconWidth(modify.record.hIcon), kivo::toolkit::SystemMetricForDpi(SM_CXSMICON, other));
  EXPECT_EQ(iconWidth(modify.record.hIcon), other == 144 ? 24 : 32);
  const size_t calls = tray.calls.size();
  ::SendMessageW(tray.Hwnd(), WM_DPICHANGED, MAKEWPARAM(other, other), 0);
  EXPECT_EQ(tray.calls.size(), calls);
}

TEST(Tray, RefusedIconFailsCreation) {
  FakeOwner owner;
  RecordingTray tray(owner);
  tray.answer = FALSE;
  EXPECT_FALSE(tray.Create(1135, L"Kivoline", nullptr, 529));
}

TEST(Tray, TheTipIsWhatTheTrayIsTold) {
  FakeOwner owner;
  RecordingTray tray(owner);
  ASSERT_TRUE(tray.Create(1135, L"Kivoline", nullptr, 529));

  EXPECT_EQ(::SendMessageW(tray.Hwnd(), 1135, 529, WM_MOUSEMOVE), 1);
  ASSERT_EQ(tray.calls.back().message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(tray.calls.back().record.uFlags, static_cast<UINT>(NIF_TIP));
  EXPECT_STREQ(tray.calls.back().record.szTip, L"Kivoline") << "no statistics: the plain name";

  const std::wstring stats = L"Kivoline Connection\nSpeed: 1.00 Mbps\n";
  tray.SetStatusText(stats);
  EXPECT_EQ(std::wstring(tray.calls.back().record.szTip), stats) << "the shell is told at once";
  const size_t told = tray.calls.size();
  tray.SetStatusText(stats);
  EXPECT_EQ(tray.calls.size(), told) << "the same text again changes nothing";

  tray.SetStatusText(std::wstring(300, L's'));
  EXPECT_EQ(std::wcslen(tray.calls.back().record.szTip), 127u) << "cut to the tip's 127 characters";
}

TEST(Tray, CallbacksForAnotherIconOrPressesAlone) {
  FakeOwner owner;
  RecordingTray tray(owner);
  ASSERT_TRUE(tray.Create(1135, L"Kivoline", nullptr, 529));
  const size_t before = tray.calls.size();
  EXPECT_EQ(::SendMessageW(tray.Hwnd(), 1135, 530, WM_MOUSEMOVE), 0) << "another icon id is not ours";
  EXPECT_EQ(::SendMessageW(tray.Hwnd(), 1135, 529, WM_LBUTTONDOWN), 1);
  EXPECT_EQ(::SendMessageW(tray.Hwnd(), 1135, 529, WM_RBUTTONDOWN), 1);
  EXPECT_EQ(tray.calls.size(), before);
  EXPECT_FALSE(::IsWindowVisible(owner.Hwnd())) << "a press alone shows nothing";
  EXPECT_EQ(::SendMessageW(tray.Hwnd(), 1135, 529, WM_LBUTTONUP), 1);
  EXPECT_TRUE(::IsWindowVisible(owner.Hwnd())) << "a release shows the main window";
}

TEST(Tray, BalloonCarriesTitleAndTheTextOfTheMoment) {
  FakeOwner owner;
  RecordingTray tray(owner);
  ASSERT_TRUE(tray.Create(1135, L"Kivoline", nullptr, 530));
  tray.ShowBalloon(L"Already Running");
  const ShellCall& idle = tray.calls.back();
  EXPECT_EQ(idle.message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(idle.record.cbSize, kRecordSize);
  EXPECT_EQ(idle.record.uFlags, static_cast<UINT>(NIF_INFO));
  EXPECT_STREQ(idle.record.szInfoTitle, L"Already Running");
  EXPECT_STREQ(idle.record.szInfo, L"Kivoline");
  EXPECT_EQ(idle.record.uTimeout, 5000u);
  EXPECT_EQ(idle.record.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));

  const std::wstring stats = L"Kivoline Connection\nIP:   10.0.0.2\n";
  tray.SetStatusText(stats);
  tray.ShowBalloon(std::wstring(100, L'T'));
  EXPECT_EQ(std::wstring(tray.calls.back().record.szInfo), stats);
  EXPECT_EQ(std::wcslen(tray.calls.back().record.szInfoTitle), 63u);

  tray.SetStatusText(std::wstring(400, L'b'));
  tray.ShowBalloon(L"Connected");
  EXPECT_EQ(std::wcslen(tray.calls.back().record.szInfo), 255u) << "cut to the balloon text's 255 characters";
  EXPECT_STREQ(tray.calls.back().record.szInfoTitle, L"Connected") << "a shorter title leaves nothing behind";
}

TEST(Tray, RestartedShellGetsTheIconAgainAndDestructionRemovesIt) {
  FakeOwner owner;
  RecordingTray tray(owner);
  ASSERT_TRUE(tray.Create(1135, L"Kivoline", nullptr, 529));
  ::SendMessageW(tray.Hwnd(), ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  ASSERT_EQ(tray.calls.size(), 2u);
  EXPECT_EQ(tray.calls[1].message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(tray.calls[1].record.uID, 529u);
  EXPECT_EQ(tray.calls[1].record.uCallbackMessage, 1135u);
  EXPECT_EQ(tray.calls[1].record.uFlags, 7u);
  EXPECT_STREQ(tray.calls[1].record.szTip, L"Kivoline");

  tray.Remove();
  EXPECT_EQ(tray.calls.back().message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(tray.calls.back().record.uFlags, 0u);
  EXPECT_EQ(tray.Hwnd(), nullptr);
  const size_t count = tray.calls.size();
  tray.Remove();
  EXPECT_EQ(tray.calls.size(), count) << "removed once";
}

}  // namespace
