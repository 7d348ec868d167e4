// The connection: Connect and the automatic redial (phonebook entry and
// dial), dial progress, the link check, the hang-up and the statistics.
//
// Where it is lives in one State, and the timers follow from it:
//
//   state              timer    how it is left
//   Idle               none     Connect: Dialling; a wake that wants the
//                               link back: an attempt at once
//   Dialling           redial   connected: Connected; failed: Idle, or
//                      in a     WaitingToRedial in a series with attempts
//                      series   left (both through HangingUp); Cancel:
//                               HangingUp, Idle
//   Connected          check    the check finds the link gone: HangingUp,
//                               WaitingToRedial; Cancel: HangingUp, Idle
//   WaitingToRedial    redial   a tick: an attempt (Dialling; refused, it
//                               stays, or Idle after the last; without a
//                               route WaitingForNetwork); Cancel: Idle
//   WaitingForNetwork  network  a route: an attempt at once; 60 s without
//                               one (a box), or Cancel: Idle
//   HangingUp          redial   the bounded wait for the system's hang-up
//                      in a     ends: Idle or WaitingToRedial
//                      series
//
// After a drop at most kMaxRedials attempts follow, one a tick of the redial
// timer; an attempt whose tick comes while the previous one still dials
// only counts. The user's Cancel and a connection end the series. An
// attempt is made only while the system has a route to the server: one that
// finds none waits for the network instead and does not count.
//
// Sleep: a suspend hangs up whatever is held, dialling or connected or in a
// redial series, and goes Idle; the link is then wanted back. The wake
// starts a fresh series of kMaxRedials with an attempt at once.
//
// Every handler runs on the window's thread. The failure boxes that the
// observer shows run message loops of their own, in which a notice, a
// user's command or a timer tick may arrive: no tick starts a dial while a
// box is open, and after each box the handlers look again at the state.
#pragma once

#include <windows.h>
#include "vpn/RasRecords.h"

#include <string>

#include "resource.h"
#include "toolkit/Language.h"
#include "vpn/ConnectionClock.h"
#include "vpn/DialLibrary.h"
#include "vpn/DialNotifier.h"
#include "vpn/NetworkCheck.h"

namespace kivo::vpn {

enum class PhonebookFailure { Test, Open, Set };

enum class ConnectionState { Idle, Dialling, Connected, WaitingToRedial, WaitingForNetwork, HangingUp };

// The user's name and password as typed.
struct Credentials {
  std::wstring user;
  std::wstring password;
};

// Whoever shows the connection: told each change once, and asked for the
// boxes of failures.
class ConnectionObserver {
 public:
  virtual ~ConnectionObserver() = default;
  virtual void OnState(ConnectionState state) = 0;
  // The status line shows this string-table text (the idle text at first).
  virtual void OnStatus(UINT textId) = 0;
  // Once on connecting and on each tick of the check while connected: the
  // tray's statistics text, empty when the system has none.
  virtual void OnStatistics(const std::wstring& text) = 0;
  // Every dial that fails, with or without a box (a redial series shows
  // none until its last attempt).
  virtual void OnDialError(DWORD /*code*/) {}
  // Message boxes, each with a message loop of its own.
  virtual void ReportDialFailure(DWORD code) = 0;
  virtual void ReportPhonebookFailure(PhonebookFailure failure) = 0;
  // The window is going: nothing may dial any more.
  virtual bool Ending() const = 0;
};

class Connection {
 public:
  using State = ConnectionState;

  static constexpr int kMaxRedials = 10;
  static constexpr UINT kCheckPeriodMs = 1000;
  static constexpr UINT kRedialPeriodMs = 3000;
  static constexpr DWORD kHangUpWaitMs = 3000;
  static constexpr UINT kNetworkCheckPeriodMs = 1000;
  static constexpr DWORD kNetworkWaitMs = 60000;
  // What the box says when the network did not come back in time: the VPN
  // server could not be reached.
  static constexpr DWORD kNoNetworkError = ERROR_AUTOMATIC_VPN_FAILED;
  // The idle and the network-wait texts.
  static constexpr UINT kIdleTextId = IDS_IDLE;
  static constexpr UINT kWaitingTextId = IDS_WAITING_NETWORK;

  // `texts`, the program's text set, outlives the connection.
  Connection(DialLibrary& library, ConnectionClock& clock, NetworkCheck& network, ConnectionObserver& observer,
             const toolkit::TextSet& texts) noexcept
      : library_(library), clock_(clock), network_(network), observer_(observer), texts_(texts) {}
  // A dial still held is hung up, the entry removed and the password wiped.
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  State Current() const noexcept { return state_; }
  // Attempts made in the current series of redials.
  int RetryCount() const noexcept { return retryCount_; }
  HRASCONN Handle() const noexcept { return handle_; }

  // Idle: writes the entry for `server` and dials it with `credentials`,
  // which the redials of a later series use too.
  void Connect(const Credentials& credentials, const std::string& server);
  void OnNotice(const DialNotice& notice, DWORD error);
  void OnTimer(ConnectionClock::Timer timer);
  // The user's Exit or Disconnect: in any state but Idle it ends the link,
  // the dial or the series and goes Idle (true); Idle: false.
  bool Cancel();
  // Connected: the statistics of this moment are told now rather than at
  // the next check (a balloon is about to show them).
  void RefreshStatistics();
  // A WM_POWERBROADCAST event: the system goes to sleep, or wakes again.
  void OnPowerEvent(UINT event);
  // Logoff or shutdown: the process may end any time after this returns.
  void EndSession();

 private:
  enum class EntryMode { Connect, Redial };

  // The one change of state, with the series' count: the timers follow, the
  // observer is told. False when a timer the new state wants would not start.
  bool SetState(State next, int retries);
  void Enter(State next);
  // The redial timer runs in a series with attempts left.
  bool RedialTimerWanted(State state) const noexcept;
  // One attempt of a series (a tick, a route found, a wake).
  void Redial();
  bool PrepareEntry(EntryMode mode);
  // Dials with the kept credentials: true when the dial started (Dialling),
  // false once its refusal is reported.
  bool Attempt();
  DWORD StartDial();
  // The hang-up and its bounded wait (HangingUp), the handle cleared.
  void HangUp();
  void WaitForHangUp();
  // Whatever is held or awaited ends: Idle.
  void EndSeries();
  void Suspend();
  void Resume();
  // Waits for a route to the server: the series pauses, its count stays.
  void WaitForNetwork();
  void CheckLink();
  void CheckNetwork();
  void GiveUpWaiting();
  // The status line's text, told when it changes.
  void ShowStatus(UINT textId);
  void PushStatistics();
  void ReportDialFailure(DWORD code);
  void ReportPhonebookFailure(PhonebookFailure failure);

  DialLibrary& library_;
  ConnectionClock& clock_;
  NetworkCheck& network_;
  ConnectionObserver& observer_;
  const toolkit::TextSet& texts_;
  State state_ = State::Idle;
  HRASCONN handle_ = nullptr;
  // Tells the notices of the dial held in handle_ from late ones.
  DialSequence dials_;
  // Attempts of the series; 0 outside one and for the user's own dial.
  int retryCount_ = 0;
  DWORD networkWaitStart_ = 0;
  // What the status line shows: the window starts with the idle text.
  UINT statusShown_ = kIdleTextId;
  // A suspend hung up a link that was wanted: the wake dials again.
  bool wantedAtWake_ = false;
  // Failure boxes open: no tick dials meanwhile.
  int openBoxes_ = 0;
  std::string server_;
  Credentials credentials_;
  std::wstring ipAddress_;
};

}  // namespace kivo::vpn
