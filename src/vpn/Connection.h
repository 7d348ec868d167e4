// The connection: Connect and the automatic redial (phonebook entry and
// dial), dial progress, the link check, the hang-up and the statistics.
//
// Its state lives in the handle and the two timers:
//
//   state             handle  timers   how it is left
//   Idle              none    none     Connect starts a dial
//   Dialling          held    none     connected; failed or cancelled: Idle
//   Connected         held    check    the check finds the link gone:
//                                      Waiting to redial; Cancel: Idle
//   Waiting to redial none    redial   a redial tick whose dial starts
//   Redialling        held    redial   connected; failed: Waiting to redial
//   Waiting for the   none    network  a route: an attempt at once, the
//   network                            redial timer again; 60 s without
//                                      one, or Cancel: Idle
//
// After a drop at most kMaxRedials attempts follow; the user's Cancel and a
// connection end the series. An attempt is made only while the system has a
// route to the server: one that finds none waits for the network instead
// and does not count.
//
// Sleep: a suspend hangs up whatever is held, dialling or connected or in a
// redial series, and shows Idle; the link is then wanted back. Nothing
// dials until the wake, which waits for the network and starts a fresh
// series of kMaxRedials with an attempt at once. Every handler runs on the window's thread. The
// failure boxes that the events show run message loops of their own, in
// which a notice, a timer tick, a redial request or a user's command may
// arrive: after each box the handlers look again at what is held.
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

enum class ExitFace { Exit, Disconnect };
enum class PhonebookFailure { Test, Open, Set };

// What the connection tells the window, and the little it asks of it.
class ConnectionEvents {
 public:
  virtual ~ConnectionEvents() = default;
  // The status line shows this string-table text.
  virtual void ShowStatus(UINT textId) = 0;
  virtual void SetExitFace(ExitFace face) = 0;
  // Connect and the two credential fields.
  virtual void EnableInputs(bool enable) = 0;
  // The link is up: the window hides and the tray announces it.
  virtual void ShowConnected() = 0;
  // Message boxes, each with a message loop of its own.
  virtual void ReportDialFailure(DWORD code) = 0;
  virtual void ReportPhonebookFailure(PhonebookFailure failure) = 0;
  // The credentials as typed; the password into `password` only.
  virtual void ReadCredentials(std::wstring& user, std::wstring& password) = 0;
  // The window is going: nothing may dial any more.
  virtual bool Ending() const = 0;
};

class Connection {
 public:
  enum class State { Idle, Dialling, Connected, WaitingToRedial, Redialling, WaitingForNetwork };

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
  Connection(DialLibrary& library, ConnectionClock& clock, NetworkCheck& network, ConnectionEvents& events,
             const toolkit::TextSet& texts) noexcept
      : library_(library), clock_(clock), network_(network), events_(events), texts_(texts) {}
  // A dial still held is hung up, the entry removed and the password wiped.
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void SetRasLanguage(WORD rasLangId) noexcept { rasLangId_ = rasLangId; }

  State Current() const noexcept;
  // Dialling or connected.
  bool Held() const noexcept { return handle_ != nullptr; }
  // Between two attempts, until the system has a route to the server.
  bool WaitingForNetwork() const noexcept { return networkWait_; }
  int RetryCount() const noexcept { return retryCount_; }
  HRASCONN Handle() const noexcept { return handle_; }

  // The Connect button: writes the entry for `server` and dials it.
  void Connect(const std::string& server);
  // One redial attempt (the redial request).
  void Redial();
  void OnNotice(const DialNotice& notice, DWORD error);
  void OnTimer(ConnectionClock::Timer timer);
  // The user's hang-up (Exit or Disconnect), which also ends a wait for the
  // network; false when nothing is held or awaited.
  bool Cancel();
  // A WM_POWERBROADCAST event: the system goes to sleep, or wakes again.
  void OnPowerEvent(UINT event);
  // Logoff or shutdown: the process may end any time after this returns.
  void EndSession();
  // The tray's statistics text from `format`, or the text of the wait for
  // the network; false without either.
  bool StatusText(const std::wstring& format, std::wstring& text);

 private:
  enum class EntryMode { Connect, Redial };

  bool PrepareEntry(EntryMode mode);
  // Disables the inputs and dials with the kept credentials: true when the
  // dial started (the Exit face shows), false once its refusal is reported.
  bool Attempt();
  DWORD StartDial();
  // The hang-up, the bounded wait, and the handle cleared.
  void HangUp();
  void WaitForHangUp();
  // Ends a series of automatic redials: the timer stops, the count resets.
  void StopRedial();
  void StopCheck();
  void Suspend();
  // Either resume notice; the second of one wake finds nothing to do.
  void Resume();
  // Waits for a route to the server: the series pauses, its count stays.
  void WaitForNetwork();
  void StopNetworkWait();
  // The next attempt of a series at once, and the redial timer for those
  // after it.
  void AttemptNow();
  // The network stayed away: Idle, and the box of a failed series.
  void GiveUpWaiting();
  // One tick of the wait: a route starts the next attempt at once; after
  // kNetworkWaitMs without one the series ends with a box.
  void CheckNetwork();
  void ShowIdle();

  DialLibrary& library_;
  ConnectionClock& clock_;
  NetworkCheck& network_;
  ConnectionEvents& events_;
  const toolkit::TextSet& texts_;
  WORD rasLangId_ = 0;
  HRASCONN handle_ = nullptr;
  // Tells the notices of the dial held in handle_ from late ones.
  DialSequence dials_;
  bool checkRunning_ = false;
  bool redialRunning_ = false;
  bool networkWait_ = false;
  DWORD networkWaitStart_ = 0;
  // Between a suspend and the wake; and whether a link was wanted then.
  bool suspended_ = false;
  bool wantedAtWake_ = false;
  int retryCount_ = 0;
  std::string server_;
  std::wstring user_;
  std::wstring password_;
  std::wstring ipAddress_;
};

}  // namespace kivo::vpn
