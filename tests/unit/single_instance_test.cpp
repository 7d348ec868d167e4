// Which answers of CreateMutexA mean that another copy of the client runs.
#include <gtest/gtest.h>

#include <windows.h>

#include "app/SingleInstance.h"
#include "toolkit/Window.h"
#include "ui/InstanceWindow.h"

namespace {

using kivo::app::IsAnotherCopyRunning;
using kivo::ui::CInstanceWindow;

TEST(SingleInstance, AnExistingOrAnElevatedFirstCopyCounts) {
  EXPECT_FALSE(IsAnotherCopyRunning(true, ERROR_SUCCESS)) << "a mutex of our own";
  EXPECT_TRUE(IsAnotherCopyRunning(true, ERROR_ALREADY_EXISTS)) << "opened the first copy's mutex";
  EXPECT_TRUE(IsAnotherCopyRunning(false, ERROR_ACCESS_DENIED))
      << "an elevated first copy's mutex refused us";
  // No handle for another reason: nothing says a copy runs, so this one starts.
  EXPECT_FALSE(IsAnotherCopyRunning(false, ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_FALSE(IsAnotherCopyRunning(false, ERROR_INVALID_HANDLE));
  // A handle with a stale access-denied error left from an earlier call.
  EXPECT_FALSE(IsAnotherCopyRunning(true, ERROR_ACCESS_DENIED));
}

// A second copy finds the running one by the instance window's class,
// whatever the main window's title, and its message reaches the main window.
TEST(SingleInstance, TheRunningCopyIsFoundByItsInstanceWindow) {
  struct MainWindow : kivo::toolkit::Window {
    int copies = 0;
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override {
      if (msg == WM_COPYDATA) {
        ++copies;
        return 7;
      }
      return kivo::toolkit::Window::WindowProc(msg, wp, lp);
    }
  } main;
  ASSERT_TRUE(main.Create(0, L"any title", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
  EXPECT_EQ(CInstanceWindow::FindRunning(), nullptr) << "no copy runs yet";
  {
    CInstanceWindow instance;
    ASSERT_TRUE(instance.Create(main.Hwnd()));
    HWND found = CInstanceWindow::FindRunning();
    ASSERT_EQ(found, instance.Hwnd());
    EXPECT_FALSE(::IsWindowVisible(found));
    COPYDATASTRUCT data{};
    EXPECT_EQ(::SendMessageA(found, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), 7);
    EXPECT_EQ(main.copies, 1);
  }
  EXPECT_EQ(CInstanceWindow::FindRunning(), nullptr) << "gone with its window";
}

}  // namespace
