#include "vpn/Connection.h"

#include "toolkit/Strings.h"
#include "vpn/DialTexts.h"
#include "vpn/Phonebook.h"
#include "vpn/RasRecords.h"

namespace kivo::vpn {

Connection::~Connection() {
  // The system keeps the connection object of a dial still held (the modal
  // run ended by a quit message) until it is hung up.
  HangUp();
  library_.DeleteEntryIfPresent();
  // The password is not left behind in freed memory.
  toolkit::WipeString(password_);
}

Connection::State Connection::Current() const noexcept {
  if (handle_ == nullptr) {
    if (networkWait_) return State::WaitingForNetwork;
    return redialRunning_ ? State::WaitingToRedial : State::Idle;
  }
  if (checkRunning_) return State::Connected;
  return redialRunning_ ? State::Redialling : State::Dialling;
}

// --- Connect and redial -----------------------------------------------------

void Connection::Connect(const std::string& server) {
  if (events_.Ending()) return;
  // The user's Connect: the system is awake, and this is the link wanted.
  suspended_ = false;
  wantedAtWake_ = false;
  server_ = server;
  if (!PrepareEntry(EntryMode::Connect)) return;
  // A phonebook message box runs its own message loop, in which a redial
  // attempt may have started a dial (that one is not dialled over), or the
  // tray's Exit may have ended the dialog (nothing dials any more).
  if (handle_ != nullptr || events_.Ending()) return;

  events_.ReadCredentials(user_, password_);
  if (Attempt()) return;
  events_.EnableInputs(true);
  library_.DeleteEntryIfPresent();
  ShowIdle();
}

void Connection::Redial() {
  // Nothing dials while the system sleeps, nor while the network is awaited
  // (a request the timer posted before the wait began).
  if (events_.Ending() || suspended_ || networkWait_) return;
  if (handle_ == nullptr && !network_.RouteTo(server_)) {
    WaitForNetwork();
    return;
  }
  ++retryCount_;
  // The tenth attempt is the last one. The timer stops before the attempt,
  // whose message boxes run message loops in which a further tick would
  // start an eleventh attempt.
  if (retryCount_ >= kMaxRedials && redialRunning_) {
    clock_.StopTimer(ConnectionClock::Timer::Redial);
    redialRunning_ = false;
  }
  if (handle_ == nullptr) PrepareEntry(EntryMode::Redial);
  // A phonebook message box runs its own message loop, in which the next
  // tick's attempt may have started a dial (this attempt then only counts),
  // the user may have ended the series (the count is back at 0), or the
  // dialog may be ending.
  if (handle_ != nullptr || retryCount_ == 0 || events_.Ending()) return;

  if (Attempt()) return;
  library_.DeleteEntryIfPresent();
  ShowIdle();
  // The budget is spent and nothing will dial again: give the user the
  // controls back, as a failed asynchronous attempt does.
  if (retryCount_ >= kMaxRedials) events_.EnableInputs(true);
}

bool Connection::PrepareEntry(EntryMode mode) {
  const bool connect = mode == EntryMode::Connect;
  library_.DeleteEntryIfPresent();

  EntrySizes sizes;
  if (IsEntryPresent(library_.ValidateEntry())) {
    // The entry could not be deleted: dial it as it is.
    if (!library_.QueryEntrySizes(sizes)) {
      events_.ReportPhonebookFailure(PhonebookFailure::Test);
      return true;
    }
    if (!library_.ReadEntry(sizes)) {
      events_.ReportPhonebookFailure(PhonebookFailure::Open);
      return !connect;
    }
    return true;
  }

  if (!library_.QueryEntrySizes(sizes)) return !connect;
  if (!library_.WriteEntry(sizes, server_, rasLangId_)) {
    events_.ReportPhonebookFailure(PhonebookFailure::Set);
    return !connect;
  }
  return true;
}

bool Connection::Attempt() {
  events_.EnableInputs(false);
  const DWORD error = StartDial();
  if (error == 0) {
    events_.SetExitFace(ExitFace::Exit);
    return true;
  }
  events_.ReportDialFailure(error);
  return false;
}

DWORD Connection::StartDial() {
  const unsigned slot = dials_.Next();
  handle_ = nullptr;
  const DWORD result = library_.Dial(user_, password_, slot, handle_);
  if (result != 0) {
    // A refused dial may still have stored a handle, which the system wants
    // hung up before it is dropped.
    if (handle_ != nullptr) library_.HangUp(handle_);
    handle_ = nullptr;
  }
  return result;
}

// --- Dial progress and monitoring -------------------------------------------

void Connection::OnNotice(const DialNotice& notice, DWORD error) {
  // A notice of a dial that was already hung up or failed, or of an earlier
  // dial than the one held, handled late: it must not hide the window,
  // start the check or hang up the dial now held.
  if (handle_ == nullptr || !dials_.IsCurrent(notice)) return;

  events_.ShowStatus(StateTextId(notice.state));

  if (error != 0) {
    if (!redialRunning_) events_.ReportDialFailure(error);
    // A box runs its own message loop: the dial may have been hung up
    // meanwhile, or another one started, which this failure must not touch.
    if (handle_ != nullptr && !dials_.IsCurrent(notice)) return;
    if (handle_ != nullptr) {
      events_.SetExitFace(ExitFace::Exit);
      HangUp();
    }
    if (!redialRunning_ || retryCount_ == kMaxRedials) events_.EnableInputs(true);
    library_.DeleteEntryIfPresent();
    StopCheck();
    ShowIdle();
    return;
  }

  if ((notice.state & RASCS_DONE) != 0) {
    events_.SetExitFace(ExitFace::Disconnect);
    std::wstring address;
    if (library_.ProjectedAddress(handle_, address)) ipAddress_ = address;
    library_.DeleteEntryIfPresent();
    events_.ShowConnected();
    StopRedial();
    if (!checkRunning_) checkRunning_ = clock_.StartTimer(ConnectionClock::Timer::Check, kCheckPeriodMs);
  }
}

void Connection::OnTimer(ConnectionClock::Timer timer) {
  if (timer == ConnectionClock::Timer::Redial) {
    if (redialRunning_) clock_.PostRedial();
    return;
  }
  if (timer == ConnectionClock::Timer::Network) {
    CheckNetwork();
    return;
  }
  DWORD state = 0;
  const DWORD result = library_.ConnectStatus(handle_, state);
  const bool dropped = result == ERROR_INVALID_HANDLE || (result == 0 && state == RASCS_Disconnected);
  if (!dropped) return;
  // The system keeps a dropped link's connection object and port until its
  // handle is hung up.
  HangUp();
  ShowIdle();
  if (checkRunning_) {
    clock_.StopTimer(ConnectionClock::Timer::Check);
    checkRunning_ = false;
    retryCount_ = 0;
    redialRunning_ = clock_.StartTimer(ConnectionClock::Timer::Redial, kRedialPeriodMs);
  }
}

void Connection::HangUp() {
  if (handle_ == nullptr) return;
  library_.HangUp(handle_);
  WaitForHangUp();
  handle_ = nullptr;
}

void Connection::WaitForHangUp() {
  const DWORD start = clock_.NowMs();
  for (;;) {
    DWORD state = 0;
    if (library_.ConnectStatus(handle_, state) == ERROR_INVALID_HANDLE) break;
    // Unsigned: right across a wrap of the tick count.
    if (clock_.NowMs() - start > kHangUpWaitMs) break;
    clock_.Pause();
  }
}

bool Connection::Cancel() {
  wantedAtWake_ = false;
  if (networkWait_) {
    StopNetworkWait();
    StopRedial();
    events_.SetExitFace(ExitFace::Exit);
    events_.EnableInputs(true);
    ShowIdle();
    return true;
  }
  if (handle_ == nullptr) return false;
  events_.SetExitFace(ExitFace::Exit);
  HangUp();
  // The user's command ends a series of automatic redials too.
  StopRedial();
  events_.EnableInputs(true);
  library_.DeleteEntryIfPresent();
  StopCheck();
  ShowIdle();
  return true;
}

void Connection::EndSession() {
  StopNetworkWait();
  StopRedial();
  StopCheck();
  HangUp();
  library_.DeleteEntryIfPresent();
}

void Connection::StopRedial() {
  if (redialRunning_) {
    clock_.StopTimer(ConnectionClock::Timer::Redial);
    redialRunning_ = false;
  }
  retryCount_ = 0;
  // A request the timer posted before the command goes with the series.
  clock_.DiscardPostedRedials();
}

void Connection::StopCheck() {
  if (checkRunning_) {
    clock_.StopTimer(ConnectionClock::Timer::Check);
    checkRunning_ = false;
  }
}

// --- Sleep, wake and the network ---------------------------------------------

void Connection::Suspend() {
  suspended_ = true;
  // Without a link wanted, sleep changes nothing.
  if (handle_ == nullptr && !redialRunning_ && !networkWait_) return;
  wantedAtWake_ = true;
  StopNetworkWait();
  StopRedial();
  StopCheck();
  events_.SetExitFace(ExitFace::Exit);
  HangUp();
  events_.EnableInputs(true);
  library_.DeleteEntryIfPresent();
  ShowIdle();
}

void Connection::OnPowerEvent(UINT event) {
  switch (event) {
    case PBT_APMSUSPEND:
      Suspend();
      break;
    // A wake the user caused follows the automatic one; either may come
    // alone.
    case PBT_APMRESUMEAUTOMATIC:
    case PBT_APMRESUMESUSPEND:
      Resume();
      break;
    default:
      break;
  }
}

void Connection::Resume() {
  // The second of the two notices of one wake finds nothing to do.
  if (!suspended_) return;
  suspended_ = false;
  if (!wantedAtWake_ || events_.Ending()) return;
  wantedAtWake_ = false;
  retryCount_ = 0;
  AttemptNow();
}

void Connection::AttemptNow() {
  if (!redialRunning_) redialRunning_ = clock_.StartTimer(ConnectionClock::Timer::Redial, kRedialPeriodMs);
  Redial();
}

void Connection::WaitForNetwork() {
  if (redialRunning_) {
    clock_.StopTimer(ConnectionClock::Timer::Redial);
    redialRunning_ = false;
  }
  clock_.DiscardPostedRedials();
  networkWaitStart_ = clock_.NowMs();
  networkWait_ = clock_.StartTimer(ConnectionClock::Timer::Network, kNetworkCheckPeriodMs);
  if (!networkWait_) {
    GiveUpWaiting();
    return;
  }
  // The link is still wanted: Disconnect ends the wait.
  events_.SetExitFace(ExitFace::Disconnect);
  events_.EnableInputs(false);
  events_.ShowStatus(kWaitingTextId);
}

void Connection::StopNetworkWait() {
  if (networkWait_) {
    clock_.StopTimer(ConnectionClock::Timer::Network);
    networkWait_ = false;
  }
}

void Connection::CheckNetwork() {
  if (!networkWait_ || events_.Ending()) return;
  if (network_.RouteTo(server_)) {
    StopNetworkWait();
    AttemptNow();
    return;
  }
  // Unsigned: right across a wrap of the tick count.
  if (clock_.NowMs() - networkWaitStart_ >= kNetworkWaitMs) GiveUpWaiting();
}

void Connection::GiveUpWaiting() {
  StopNetworkWait();
  StopRedial();
  events_.SetExitFace(ExitFace::Exit);
  events_.EnableInputs(true);
  ShowIdle();
  events_.ReportDialFailure(kNoNetworkError);
}

void Connection::ShowIdle() { events_.ShowStatus(kIdleTextId); }

bool Connection::StatusText(const std::wstring& format, std::wstring& text) {
  if (networkWait_) {
    text = texts_.Text(kWaitingTextId);
    return true;
  }
  if (handle_ == nullptr) return false;
  LinkStatistics stats;
  if (!library_.Statistics(handle_, stats)) return false;
  text = FormatStatusText(format, stats.bitsPerSecond, stats.bytesSent, stats.bytesReceived, ipAddress_);
  return true;
}

}  // namespace kivo::vpn
