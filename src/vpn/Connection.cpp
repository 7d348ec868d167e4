#include "vpn/Connection.h"

#include "toolkit/Strings.h"
#include "vpn/DialTexts.h"
#include "vpn/Phonebook.h"
#include "vpn/RasRecords.h"

namespace kivo::vpn {

using Timer = ConnectionClock::Timer;

Connection::~Connection() {
  // The system keeps the connection object of a dial still held (the modal
  // run ended by a quit message) until it is hung up. The observer may be
  // half gone: it is told nothing.
  if (handle_ != nullptr) {
    library_.HangUp(handle_);
    WaitForHangUp();
  }
  library_.DeleteEntryIfPresent();
  // The password is not left behind in freed memory.
  toolkit::WipeString(credentials_.password);
}

// --- The state and its timers -------------------------------------------------

bool Connection::RedialTimerWanted(State state) const noexcept {
  // A series with attempts left: between attempts, and while one dials or
  // hangs up (a tick then only counts). The tenth attempt stops the timer
  // before its boxes.
  if (retryCount_ >= kMaxRedials) return false;
  if (state == State::WaitingToRedial) return true;
  return (state == State::Dialling || state == State::HangingUp) && retryCount_ > 0;
}

void Connection::Enter(State next) { SetState(next, retryCount_); }

bool Connection::SetState(State next, int retries) {
  const State before = state_;
  const bool redialBefore = RedialTimerWanted(before);
  state_ = next;
  retryCount_ = retries;
  const bool redialAfter = RedialTimerWanted(next);

  bool started = true;
  if (redialBefore && !redialAfter) clock_.StopTimer(Timer::Redial);
  if (!redialBefore && redialAfter) started = clock_.StartTimer(Timer::Redial, kRedialPeriodMs) && started;
  if (before == State::Connected && next != State::Connected) clock_.StopTimer(Timer::Check);
  if (before != State::Connected && next == State::Connected) {
    started = clock_.StartTimer(Timer::Check, kCheckPeriodMs) && started;
  }
  if (before == State::WaitingForNetwork && next != State::WaitingForNetwork) clock_.StopTimer(Timer::Network);
  if (before != State::WaitingForNetwork && next == State::WaitingForNetwork) {
    started = clock_.StartTimer(Timer::Network, kNetworkCheckPeriodMs) && started;
  }
  if (next != before) observer_.OnState(next);
  return started;
}

// --- Connect and redial -----------------------------------------------------

void Connection::Connect(const Credentials& credentials, const std::string& server) {
  if (state_ != State::Idle || observer_.Ending()) return;
  // The user's Connect: this is the link wanted.
  wantedAtWake_ = false;
  // The earlier password is not left behind in freed memory; the caller
  // wipes its own copy.
  toolkit::WipeString(credentials_.password);
  credentials_ = credentials;
  server_ = server;
  if (!PrepareEntry(EntryMode::Connect)) return;
  // A phonebook box runs its own message loop, in which the tray's Exit may
  // have ended the dialog (nothing dials any more).
  if (state_ != State::Idle || observer_.Ending()) return;
  // The dial is under way from here until it is up or its refusal has been
  // shown: the window keeps its inputs off while the box is open.
  Enter(State::Dialling);
  if (Attempt()) return;
  // A Disconnect or Exit inside the box has already ended it.
  if (state_ != State::Dialling) return;
  library_.DeleteEntryIfPresent();
  ShowStatus(kIdleTextId);
  Enter(State::Idle);
}

void Connection::Redial() {
  if (observer_.Ending()) return;
  if (state_ == State::Dialling) {
    // The previous attempt still dials: this one only counts.
    SetState(State::Dialling, retryCount_ + 1);
    return;
  }
  if (!network_.RouteTo(server_)) {
    WaitForNetwork();
    return;
  }
  const int attempt = retryCount_ + 1;
  SetState(State::WaitingToRedial, attempt);
  PrepareEntry(EntryMode::Redial);
  // A phonebook box runs its own message loop, in which the user may have
  // ended the series, or the dialog may be ending.
  if (state_ != State::WaitingToRedial || retryCount_ != attempt || observer_.Ending()) return;
  if (Attempt()) return;
  if (state_ != State::WaitingToRedial || retryCount_ != attempt) return;
  library_.DeleteEntryIfPresent();
  ShowStatus(kIdleTextId);
  // The budget is spent and nothing will dial again.
  if (attempt >= kMaxRedials) SetState(State::Idle, 0);
}

bool Connection::PrepareEntry(EntryMode mode) {
  const bool connect = mode == EntryMode::Connect;
  library_.DeleteEntryIfPresent();

  EntrySizes sizes;
  if (IsEntryPresent(library_.ValidateEntry())) {
    // The entry could not be deleted: dial it as it is.
    if (!library_.QueryEntrySizes(sizes)) {
      ReportPhonebookFailure(PhonebookFailure::Test);
      return true;
    }
    if (!library_.ReadEntry(sizes)) {
      ReportPhonebookFailure(PhonebookFailure::Open);
      return !connect;
    }
    return true;
  }

  if (!library_.QueryEntrySizes(sizes)) return !connect;
  if (!library_.WriteEntry(sizes, server_)) {
    ReportPhonebookFailure(PhonebookFailure::Set);
    return !connect;
  }
  return true;
}

bool Connection::Attempt() {
  const DWORD error = StartDial();
  if (error == 0) {
    Enter(State::Dialling);
    return true;
  }
  ReportDialFailure(error);
  return false;
}

DWORD Connection::StartDial() {
  const unsigned slot = dials_.Next();
  handle_ = nullptr;
  const DWORD result = library_.Dial(credentials_.user, credentials_.password, slot, handle_);
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
  if (state_ != State::Dialling || handle_ == nullptr || !dials_.IsCurrent(notice)) return;

  ShowStatus(StateTextId(notice.state));

  if (error != 0) {
    observer_.OnDialError(error);
    const bool lastOfSeries = retryCount_ == 0 || retryCount_ >= kMaxRedials;
    if (lastOfSeries) {
      ReportDialFailure(error);
      // The box runs its own message loop: the dial may have been hung up
      // meanwhile, or another one started, which this failure must not touch.
      if (state_ != State::Dialling || !dials_.IsCurrent(notice)) return;
    }
    HangUp();
    library_.DeleteEntryIfPresent();
    ShowStatus(kIdleTextId);
    if (lastOfSeries) {
      SetState(State::Idle, 0);
    } else {
      Enter(State::WaitingToRedial);
    }
    return;
  }

  if ((notice.state & RASCS_DONE) != 0) {
    std::wstring address;
    if (library_.ProjectedAddress(handle_, address)) ipAddress_ = address;
    library_.DeleteEntryIfPresent();
    // The statistics first: the window announces the link with them.
    PushStatistics();
    SetState(State::Connected, 0);
  }
}

void Connection::OnTimer(Timer timer) {
  switch (timer) {
    case Timer::Redial:
      // No tick dials while a failure box is open; the next one after it does.
      if (openBoxes_ > 0) return;
      if (state_ == State::WaitingToRedial || (state_ == State::Dialling && retryCount_ > 0)) Redial();
      return;
    case Timer::Network:
      if (openBoxes_ > 0 || state_ != State::WaitingForNetwork) return;
      CheckNetwork();
      return;
    case Timer::Check:
      if (state_ == State::Connected) CheckLink();
      return;
  }
}

void Connection::CheckLink() {
  DWORD state = 0;
  const DWORD result = library_.ConnectStatus(handle_, state);
  const bool dropped = result == ERROR_INVALID_HANDLE || (result == 0 && state == RASCS_Disconnected);
  if (!dropped) {
    PushStatistics();
    return;
  }
  // The system keeps a dropped link's connection object and port until its
  // handle is hung up.
  HangUp();
  ShowStatus(kIdleTextId);
  SetState(State::WaitingToRedial, 0);
}

void Connection::HangUp() {
  if (handle_ == nullptr) return;
  Enter(State::HangingUp);
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
  if (state_ == State::Idle) return false;
  // The user's command ends a series of automatic redials too.
  EndSeries();
  return true;
}

void Connection::EndSeries() {
  HangUp();
  library_.DeleteEntryIfPresent();
  ShowStatus(kIdleTextId);
  SetState(State::Idle, 0);
}

void Connection::EndSession() {
  wantedAtWake_ = false;
  if (state_ != State::Idle) EndSeries();
  library_.DeleteEntryIfPresent();
}

// --- Sleep, wake and the network ---------------------------------------------

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

void Connection::Suspend() {
  // Without a link wanted, sleep changes nothing.
  if (state_ == State::Idle) return;
  EndSeries();
  wantedAtWake_ = true;
}

void Connection::Resume() {
  // The second of the two notices of one wake finds nothing to do.
  if (!wantedAtWake_ || state_ != State::Idle || observer_.Ending()) return;
  wantedAtWake_ = false;
  // A fresh series, its first attempt at once.
  SetState(State::WaitingToRedial, 0);
  Redial();
}

void Connection::WaitForNetwork() {
  // The series pauses, its count stays.
  networkWaitStart_ = clock_.NowMs();
  if (!SetState(State::WaitingForNetwork, retryCount_)) {
    GiveUpWaiting();
    return;
  }
  ShowStatus(kWaitingTextId);
}

void Connection::CheckNetwork() {
  if (observer_.Ending()) return;
  if (network_.RouteTo(server_)) {
    // The next attempt at once, and the redial timer for those after it.
    Enter(State::WaitingToRedial);
    Redial();
    return;
  }
  // Unsigned: right across a wrap of the tick count.
  if (clock_.NowMs() - networkWaitStart_ >= kNetworkWaitMs) GiveUpWaiting();
}

void Connection::GiveUpWaiting() {
  ShowStatus(kIdleTextId);
  SetState(State::Idle, 0);
  ReportDialFailure(kNoNetworkError);
}

void Connection::ShowStatus(UINT textId) {
  if (textId == statusShown_) return;
  statusShown_ = textId;
  observer_.OnStatus(textId);
}

void Connection::RefreshStatistics() {
  if (state_ == State::Connected) PushStatistics();
}

void Connection::PushStatistics() {
  LinkStatistics stats;
  std::wstring text;
  if (library_.Statistics(handle_, stats)) {
    text = FormatStatusText(texts_.Text(IDS_TRAY_TIP_FORMAT), stats.bitsPerSecond, stats.bytesSent,
                            stats.bytesReceived, ipAddress_);
  }
  observer_.OnStatistics(text);
}

void Connection::ReportDialFailure(DWORD code) {
  ++openBoxes_;
  observer_.ReportDialFailure(code);
  --openBoxes_;
}

void Connection::ReportPhonebookFailure(PhonebookFailure failure) {
  ++openBoxes_;
  observer_.ReportPhonebookFailure(failure);
  --openBoxes_;
}

}  // namespace kivo::vpn
