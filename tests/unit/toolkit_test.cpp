// The window toolkit: ownership of handles, the message map's routing,
// worker threads, the cancellation token and the string helpers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include "toolkit/Controls.h"
#include "toolkit/Handle.h"
#include "toolkit/MessageMap.h"
#include "toolkit/StringMap.h"
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

TEST(StringMap, KeepsInsertionOrderAndReplacesInPlace) {
  StringMap map;
  map.SetAt("CT1", "192.0.2.11");
  map.SetAt("CNC1", "198.51.100.21");
  map.SetAt("CT1", "192.0.2.99");
  ASSERT_EQ(map.Count(), 2u);
  std::string value;
  ASSERT_TRUE(map.Lookup("CT1", value));
  EXPECT_EQ(value, "192.0.2.99");
  EXPECT_EQ(map.begin()->first, "CT1");
  EXPECT_FALSE(map.Lookup("ct1", value)) << "keys compare byte-wise and case-sensitively";
  EXPECT_FALSE(map.Contains(""));
}

TEST(Strings, CopyTruncatedAlwaysTerminates) {
  char field[5];
  std::memset(field, 'x', sizeof(field));
  CopyTruncated(field, sizeof(field), "abcdefgh");
  EXPECT_STREQ(field, "abcd");
  CopyTruncated(field, sizeof(field), "");
  EXPECT_STREQ(field, "");
}

TEST(Strings, FormatGrowsBeyondAnyFixedBuffer) {
  std::string long_text(1000, 'k');
  EXPECT_EQ(Format("%s-%d", long_text.c_str(), 42), long_text + "-42");
  EXPECT_EQ(Format("(--%dms)", 35), "(--35ms)");
}

TEST(Strings, GbkGivesTheChineseTextSetBytes) {
  EXPECT_EQ(Gbk("电信"), "\xB5\xE7\xD0\xC5");
  EXPECT_EQ(Gbk("未连接,空闲"), "\xCE\xB4\xC1\xAC\xBD\xD3,\xBF\xD5\xCF\xD0");
  EXPECT_EQ(Gbk("Kivoline已经运行!"), "Kivoline\xD2\xD1\xBE\xAD\xD4\xCB\xD0\xD0!");
}

TEST(Strings, LoadsTheProgramsStringTable) {
  EXPECT_EQ(LoadResString(3), "Windows socket fails initialization.");
  EXPECT_EQ(LoadResString(194), "(--Fail)");
  EXPECT_EQ(LoadResString(174), "") << "ids between the pairs hold no text";
  EXPECT_EQ(LoadResString(1), "");
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
  LRESULT Call(UINT msg, WPARAM wp, LPARAM lp) { return ::SendMessageA(Hwnd(), msg, wp, lp); }

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
  ASSERT_TRUE(w.Create(0, "mapped", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
  EXPECT_EQ(Window::FromHandle(w.Hwnd()), &w);
  w.Call(WM_COMMAND, MAKEWPARAM(1008, BN_CLICKED), 0);
  w.Call(WM_COMMAND, MAKEWPARAM(1008, BN_DOUBLECLICKED), 0);
  w.Call(WM_COMMAND, MAKEWPARAM(1009, BN_CLICKED), 0);
  EXPECT_EQ(w.clicks, 1) << "only control 1008 with BN_CLICKED is mapped";
  w.Call(WM_TIMER, 2, 0);
  EXPECT_EQ(w.lastTimer, 2u);
  EXPECT_EQ(GetText(w.Hwnd()), "mapped") << "a handler asking for default processing gets it";
  EXPECT_GE(w.sizeCalls, 1);
  HWND hwnd = w.Hwnd();
  w.Destroy();
  EXPECT_FALSE(::IsWindow(hwnd));
  EXPECT_EQ(w.Hwnd(), nullptr);
}

TEST(Window, SubclassRestoresTheControlWhenTheObjectGoes) {
  HWND button = ::CreateWindowA("BUTTON", "b", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
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
  HWND window = ::CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(AcceptFromLowerIntegrity(window, WM_COPYDATA));
  ::DestroyWindow(window);
}

// The background measurement replaces a server's entry while the user may
// already have chosen it.
TEST(ComboBox, ReplacingAnEntryKeepsItsPlaceAndItsSelection) {
  HWND hwnd = ::CreateWindowA("COMBOBOX", "", WS_POPUP | CBS_DROPDOWNLIST, 0, 0, 80, 100, nullptr, nullptr,
                              nullptr, nullptr);
  ASSERT_NE(hwnd, nullptr);
  ComboBox combo(hwnd);
  for (const char* text : {"CT", "CT1(--Fail)", "CT2(--12ms)"}) combo.AddString(text);
  combo.SetCurSel(1);
  EXPECT_TRUE(combo.ReplaceString(1, "CT1(--35ms)"));
  EXPECT_EQ(combo.Count(), 3);
  EXPECT_EQ(combo.ItemText(1), "CT1(--35ms)");
  EXPECT_EQ(combo.ItemText(2), "CT2(--12ms)");
  EXPECT_EQ(combo.CurSel(), 1) << "the chosen server stays chosen";
  EXPECT_TRUE(combo.ReplaceString(2, "CT2(--9ms)"));
  EXPECT_EQ(combo.CurSel(), 1) << "another entry's replacement moves nothing";
  EXPECT_FALSE(combo.ReplaceString(3, "x"));
  EXPECT_EQ(combo.Count(), 3);
  ::DestroyWindow(hwnd);
}

// The password leaves no copies behind in memory that is given back.
TEST(Secrets, ReadingAndWipingLeaveNoCopies) {
  std::string secret(40, 'p');  // an earlier, longer password
  secret.resize(3);
  WipeString(secret);
  EXPECT_TRUE(secret.empty());
  const std::string_view whole(secret.data(), secret.capacity());
  EXPECT_EQ(whole.find('p'), std::string_view::npos) << "behind the terminator too";

  HWND edit = ::CreateWindowA("EDIT", "hunter2", WS_POPUP | ES_PASSWORD, 0, 0, 80, 20, nullptr, nullptr,
                              nullptr, nullptr);
  ASSERT_NE(edit, nullptr);
  std::string read(30, 'q');
  ReadSecretText(edit, read);
  EXPECT_EQ(read, "hunter2");
  WipeWindowText(edit);
  EXPECT_EQ(GetText(edit), "");
  ::DestroyWindow(edit);
}

}  // namespace
