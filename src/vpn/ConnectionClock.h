// Time as the connection keeps it: the three window timers, whose ticks
// the window hands to the connection, and the millisecond tick count of the
// bounded hang-up wait. WindowClock is the running client's; the unit
// tests give a fake that never waits.
#pragma once

#include <windows.h>

#include <optional>

namespace kivo::vpn {

class ConnectionClock {
 public:
  enum class Timer { Check, Redial, Network };

  virtual ~ConnectionClock() = default;

  // Starts a periodic timer; false when the system has none to give.
  virtual bool StartTimer(Timer timer, UINT periodMs) = 0;
  virtual void StopTimer(Timer timer) = 0;
  // The millisecond tick count, and a short pause between two reads of the
  // hang-up wait.
  virtual DWORD NowMs() = 0;
  virtual void Pause() = 0;
};

// The timers of one window, ids 1 (check), 2 (redial) and 3 (the wait for
// the network).
class WindowClock : public ConnectionClock {
 public:
  static constexpr DWORD kPauseMs = 10;

  void Attach(HWND window) noexcept { window_ = window; }

  // The timer a WM_TIMER id stands for.
  static std::optional<Timer> TimerOfId(UINT_PTR id) noexcept;

  bool StartTimer(Timer timer, UINT periodMs) override;
  void StopTimer(Timer timer) override;
  DWORD NowMs() override { return ::GetTickCount(); }
  // The hang-up wait polls for up to three seconds on the window's thread:
  // a sleep of no time would keep a processor busy all that while.
  void Pause() override { ::Sleep(kPauseMs); }

 private:
  HWND window_ = nullptr;
};

}  // namespace kivo::vpn
