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
//
// After a drop at most kMaxRedials attempts follow; the user's Cancel and a
// connection end the series. Every handler runs on the window's thread. The
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
  virtual void ReadCredentials(std::string& user, std::string& password) = 0;
  // The window is going: nothing may dial any more.
  virtual bool Ending() const = 0;
};

class Connection {
 public:
  enum class State { Idle, Dialling, Connected, WaitingToRedial, Redialling };

  static constexpr int kMaxRedials = 10;
  static constexpr UINT kCheckPeriodMs = 1000;
  static constexpr UINT kRedialPeriodMs = 3000;
  static constexpr DWORD kHangUpWaitMs = 3000;
  // The idle text (English id; the Chinese one follows the pair rule).
  static constexpr UINT kIdleTextId = IDS_IDLE_EN;

  Connection(DialLibrary& library, ConnectionClock& clock, ConnectionEvents& events) noexcept
      : library_(library), clock_(clock), events_(events) {}
  // A dial still held is hung up, the entry removed and the password wiped.
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void SetChinese(bool chinese) noexcept { chinese_ = chinese; }
  void SetRasLanguage(WORD rasLangId) noexcept { rasLangId_ = rasLangId; }

  State Current() const noexcept;
  // Dialling or connected.
  bool Held() const noexcept { return handle_ != nullptr; }
  int RetryCount() const noexcept { return retryCount_; }
  HRASCONN Handle() const noexcept { return handle_; }

  // The Connect button: writes the entry for `server` and dials it.
  void Connect(const std::string& server);
  // One redial attempt (the redial request).
  void Redial();
  void OnNotice(const DialNotice& notice, DWORD error);
  void OnTimer(ConnectionClock::Timer timer);
  // The user's hang-up (Exit or Disconnect); false when nothing is held.
  bool Cancel();
  // Logoff or shutdown: the process may end any time after this returns.
  void EndSession();
  // The tray's statistics text from `format`; false without a link.
  bool StatusText(const std::string& format, std::string& text);

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
  void ShowIdle();
  UINT TextId(UINT englishId) const noexcept {
    return toolkit::PairedTextId(englishId,
                                 chinese_ ? toolkit::Language::Chinese : toolkit::Language::English);
  }

  DialLibrary& library_;
  ConnectionClock& clock_;
  ConnectionEvents& events_;
  bool chinese_ = false;
  WORD rasLangId_ = 0;
  HRASCONN handle_ = nullptr;
  // Tells the notices of the dial held in handle_ from late ones.
  DialSequence dials_;
  bool checkRunning_ = false;
  bool redialRunning_ = false;
  int retryCount_ = 0;
  std::string server_;
  std::string user_;
  std::string password_;
  std::string ipAddress_;
};

}  // namespace kivo::vpn
