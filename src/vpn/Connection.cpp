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
  if (handle_ == nullptr) return redialRunning_ ? State::WaitingToRedial : State::Idle;
  if (checkRunning_) return State::Connected;
  return redialRunning_ ? State::Redialling : State::Dialling;
}

// --- Connect and redial -----------------------------------------------------

void Connection::Connect(const std::string& server) {
  if (events_.Ending()) return;
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
  if (events_.Ending()) return;
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

  events_.ShowStatus(StateTextId(notice.state, chinese_));

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
    std::string address;
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

void Connection::ShowIdle() { events_.ShowStatus(TextId(kIdleTextId)); }

bool Connection::StatusText(const std::string& format, std::string& text) {
  if (handle_ == nullptr) return false;
  LinkStatistics stats;
  if (!library_.Statistics(handle_, stats)) return false;
  text = FormatStatusText(format, stats.bitsPerSecond, stats.bytesSent, stats.bytesReceived, ipAddress_);
  return true;
}

}  // namespace kivo::vpn
