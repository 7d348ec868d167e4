// The window toolkit: ownership of handles, the message map's routing,
// worker threads, the cancellation token and the string helpers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <string_view>

#include "toolkit/Controls.h"
#include "resource.h"
#include "toolkit/Handle.h"
#include "toolkit/Language.h"
#include "toolkit/MessageMap.h"
#include "toolkit/Strings.h"
#include "toolkit/Sync.h"
#include "toolkit/Thread.h"
#include "toolkit/Window.h"

using namespace kivo::toolkit;

namespace {

struct CountingTraits {
  using Type = int;
  static inline int closed = 0;
  static inline int lastClosed = 0;
  static Type Invalid() noexcept { return 0; }
  static void Close(Type h) noexcept {
    ++closed;
    lastClosed = h;
  }
};

TEST(UniqueHandle, ClosesOnceAcrossMovesAndResets) {
  CountingTraits::closed = 0;
  {
    UniqueHandle<CountingTraits> a(7);
    UniqueHandle<CountingTraits> b(std::move(a));
    EXPECT_FALSE(a.Valid());
    EXPECT_EQ(b.Get(), 7);
    UniqueHandle<CountingTraits> c(9);
    c = std::move(b);  // 9 is closed, 7 moves over
    EXPECT_EQ(CountingTraits::closed, 1);
    EXPECT_EQ(CountingTraits::lastClosed, 9);
    int released = c.Release();
    EXPECT_EQ(released, 7);
  }
  EXPECT_EQ(CountingTraits::closed, 1) << "a released handle is not closed";
}

TEST(UniqueHandle, KernelHandleIsReallyClosed) {
  HANDLE raw = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(raw, nullptr);
  HANDLE duplicate = nullptr;
  {
    UniqueKernelHandle owner(raw);
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), raw, ::GetCurrentProcess(), &duplicate, 0, FALSE,
                                  DUPLICATE_SAME_ACCESS));
  }
  DWORD flags = 0;
  EXPECT_FALSE(::GetHandleInformation(raw, &flags)) << "the owner closed its handle";
  EXPECT_TRUE(::GetHandleInformation(duplicate, &flags));
  ::CloseHandle(duplicate);
}

TEST(Strings, CopyTruncatedAlwaysTerminates) {
  wchar_t field[5];
  std::wmemset(field, L'x', 5);
  CopyTruncated(field, L"abcdefgh");
  EXPECT_STREQ(field, L"abcd");
  CopyTruncated(field, L"");
  EXPECT_STREQ(field, L"");
}

TEST(Strings, FormatGrowsBeyondAnyFixedBuffer) {
  std::wstring long_text(1000, L'k');
  EXPECT_EQ(Format(L"%ls-%d", long_text.c_str(), 42), long_text + L"-42");
  EXPECT_EQ(Format(L"(--%dms)", 35), L"(--35ms)");
}

// The program's texts never pass through the system's code page: each set
// comes from its own table as UTF-16, and UTF-8 (a UTF-8 system's code
// page, a build setting) converts both ways without loss.
TEST(Texts, EachSetFromItsOwnTableAndUtf8WithoutLoss) {
  EXPECT_EQ(TextSet(Language::SimplifiedChinese).Text(IDS_IDLE), L"未连接,空闲");
  EXPECT_EQ(TextSet(Language::TraditionalChinese).Text(IDS_IDLE), L"未連線，閒置");
  EXPECT_EQ(TextSet(Language::English).Text(IDS_IDLE), L"Disconnection, idle");
  EXPECT_EQ(TextSet(Language::English).Text(IDS_IDLE + 4000), L"") << "no such entry";
  EXPECT_EQ(FromUtf8("未连接,空闲"), L"未连接,空闲");
  EXPECT_EQ(ToUtf8(L"zhāng.张 pässwörd密"), "zhāng.张 pässwörd密");
  EXPECT_EQ(FromUtf8("a\xFF"), L"a\xFFFD") << "a stray byte is a replacement character";
  EXPECT_EQ(FromUtf8(std::string_view("ab", 1)), L"a") << "nothing beyond the view";
}

TEST(Texts, LanguageOfTheSystem) {
  for (LANGID id : {2052, 4100}) EXPECT_EQ(LanguageOfSystem(id), Language::SimplifiedChinese) << id;
  for (LANGID id : {1028, 3076, 5124}) EXPECT_EQ(LanguageOfSystem(id), Language::TraditionalChinese) << id;
  for (LANGID id : {0, 1033, 2057, 1041}) EXPECT_EQ(LanguageOfSystem(id), Language::English) << id;
}

TEST(WorkerThread, DestructionWaitsForTheThread) {
  std::atomic<bool> finished{false};
  {
    WorkerThread thread;
    ASSERT_TRUE(thread.Start([&] {
      ::Sleep(100);
      finished = true;
    }));
    EXPECT_TRUE(thread.Running());
  }
  EXPECT_TRUE(finished.load());
}

TEST(WorkerThread, AnExceptionStaysInTheThread) {
  WorkerThread thread;
  ASSERT_TRUE(thread.Start([] { throw std::runtime_error("worker failure"); }));
  EXPECT_TRUE(thread.Wait(5000));
}

TEST(Event, WaitReportsSetAndTimeout) {
  Event event;
  EXPECT_FALSE(event.Wait(10));
  event.Set();
  EXPECT_TRUE(event.Wait(0));
  event.Reset();
  EXPECT_FALSE(event.Wait(0));
}

// The owner cancels from its thread: a wait under way on another thread ends,
// and so does every later wait at once, until the owner re-arms the token.
TEST(CancellationToken, CancelEndsAWaitUnderWayAndEveryLaterOne) {
  CancellationToken token;
  EXPECT_FALSE(token.Cancelled());
  EXPECT_FALSE(token.Wait(10));
  Event waiting;
  std::atomic<bool> woke{false};
  WorkerThread waiter;
  ASSERT_TRUE(waiter.Start([&] {
    waiting.Set();
    woke = token.Wait(60000);
  }));
  ASSERT_TRUE(waiting.Wait(10000));
  token.Cancel();
  EXPECT_TRUE(waiter.Wait(10000)) << "the wait under way ends at the cancel";
  waiter.Join();
  EXPECT_TRUE(woke.load());
  EXPECT_TRUE(token.Cancelled());
  EXPECT_TRUE(token.Wait(0)) << "a wait that begins after the cancel";
  EXPECT_TRUE(token.Wait(0)) << "and every one after it";
  token.Reset();
  EXPECT_FALSE(token.Cancelled());
  EXPECT_FALSE(token.Wait(10));
}

// A window whose map handles a command, a typed timer and a message that
// asks for the default processing too.
class MappedWindow : public Window {
 public:
  int clicks = 0;
  UINT_PTR lastTimer = 0;
  int sizeCalls = 0;
  LRESULT Call(UINT msg, WPARAM wp, LPARAM lp) { return ::SendMessageW(Hwnd(), msg, wp, lp); }

 private:
  void OnClick() { ++clicks; }
  void OnTimer(UINT_PTR id) { lastTimer = id; }
  LRESULT OnGetText(WPARAM, LPARAM) {
    ++sizeCalls;
    SetMsgHandled(false);  // the system still copies the title
    return 0;
  }
  KIVO_DECLARE_MESSAGE_MAP(MappedWindow, Window)
};

const MessageMap<MappedWindow>& MappedWindow::GetMessageMap() {
  static const MessageMap<MappedWindow> map = MessageMap<MappedWindow>()
                                                  .Command(1008, BN_CLICKED, &MappedWindow::OnClick)
                                                  .Timer(&MappedWindow::OnTimer)
                                                  .Message(WM_GETTEXT, &MappedWindow::OnGetText);
  return map;
}

TEST(MessageMap, RoutesByMessageControlAndNotification) {
  MappedWindow w;
  ASSERT_TRUE(w.Create(0, L"mapped", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
  EXPECT_EQ(Window::FromHandle(w.Hwnd()), &w);
  w.Call(WM_COMMAND, MAKEWPARAM(1008, BN_CLICKED), 0);
  w.Call(WM_COMMAND, MAKEWPARAM(1008, BN_DOUBLECLICKED), 0);
  w.Call(WM_COMMAND, MAKEWPARAM(1009, BN_CLICKED), 0);
  EXPECT_EQ(w.clicks, 1) << "only control 1008 with BN_CLICKED is mapped";
  w.Call(WM_TIMER, 2, 0);
  EXPECT_EQ(w.lastTimer, 2u);
  EXPECT_EQ(GetText(w.Hwnd()), L"mapped") << "a handler asking for default processing gets it";
  EXPECT_GE(w.sizeCalls, 1);
  HWND hwnd = w.Hwnd();
  w.Destroy();
  EXPECT_FALSE(::IsWindow(hwnd));
  EXPECT_EQ(w.Hwnd(), nullptr);
}

TEST(Window, SubclassRestoresTheControlWhenTheObjectGoes) {
  HWND button = ::CreateWindowW(L"BUTTON", L"b", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(button, nullptr);
  WNDPROC original = reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(button, GWLP_WNDPROC));
  {
    MappedWindow w;
    ASSERT_TRUE(w.Subclass(button));
    EXPECT_FALSE(MappedWindow().Subclass(button)) << "a window is bound to one object at most";
    w.Call(WM_COMMAND, MAKEWPARAM(1008, BN_CLICKED), 0);
    EXPECT_EQ(w.clicks, 1);
  }
  EXPECT_EQ(reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(button, GWLP_WNDPROC)), original);
  EXPECT_EQ(Window::FromHandle(button), nullptr);
  EXPECT_TRUE(::IsWindow(button)) << "a subclassed control belongs to its dialog";
  ::DestroyWindow(button);
}

// The filter call is looked up by name at run time: the lookup must find it.
TEST(Window, AcceptsAMessageFromLowerIntegrity) {
  HWND window = ::CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(AcceptFromLowerIntegrity(window, WM_COPYDATA));
  ::DestroyWindow(window);
}

// The background measurement replaces a server's entry while the user may
// already have chosen it.
TEST(ComboBox, ReplacingAnEntryKeepsItsPlaceAndItsSelection) {
  HWND hwnd = ::CreateWindowW(L"COMBOBOX", L"", WS_POPUP | CBS_DROPDOWNLIST, 0, 0, 80, 100, nullptr, nullptr,
                              nullptr, nullptr);
  ASSERT_NE(hwnd, nullptr);
  ComboBox combo(hwnd);
  for (const wchar_t* text : {L"CT", L"CT1(--Fail)", L"CT2(--12ms)"}) combo.AddString(text);
  combo.SetCurSel(1);
  EXPECT_TRUE(combo.ReplaceString(1, L"CT1(--35ms)"));
  EXPECT_EQ(combo.Count(), 3);
  EXPECT_EQ(combo.ItemText(1), L"CT1(--35ms)");
  EXPECT_EQ(combo.ItemText(2), L"CT2(--12ms)");
  EXPECT_EQ(combo.CurSel(), 1) << "the chosen server stays chosen";
  EXPECT_TRUE(combo.ReplaceString(2, L"CT2(--9ms)"));
  EXPECT_EQ(combo.CurSel(), 1) << "another entry's replacement moves nothing";
  EXPECT_FALSE(combo.ReplaceString(3, L"x"));
  EXPECT_EQ(combo.Count(), 3);
  ::DestroyWindow(hwnd);
}

// The password leaves no copies behind in memory that is given back.
TEST(Secrets, ReadingAndWipingLeaveNoCopies) {
  std::wstring secret(40, L'p');  // an earlier, longer password
  secret.resize(3);
  WipeString(secret);
  EXPECT_TRUE(secret.empty());
  const std::wstring_view whole(secret.data(), secret.capacity());
  EXPECT_EQ(whole.find(L'p'), std::wstring_view::npos) << "behind the terminator too";

  HWND edit = ::CreateWindowW(L"EDIT", L"hunter2", WS_POPUP | ES_PASSWORD, 0, 0, 80, 20, nullptr, nullptr,
                              nullptr, nullptr);
  ASSERT_NE(edit, nullptr);
  std::wstring read(30, L'q');
  ReadSecretText(edit, read);
  EXPECT_EQ(read, L"hunter2");
  WipeWindowText(edit);
  EXPECT_EQ(GetText(edit), L"");
  ::DestroyWindow(edit);
}

}  // namespace
