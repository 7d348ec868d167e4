// The connection's state machine, driven through a fake dialler, a fake
// clock that never waits, a fake network and a fake window whose message boxes can run
// what a nested message loop would deliver meanwhile.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "vpn/Connection.h"
#include "diag/EventLog.h"
#include "resource.h"
#include "toolkit/Language.h"
#include "toolkit/Strings.h"
#include "vpn/DialTexts.h"
#include "vpn/RasRecords.h"

using namespace kivo::vpn;
using Timer = ConnectionClock::Timer;
using State = Connection::State;

namespace {

constexpr UINT kIdle = IDS_IDLE;
constexpr UINT kOpenPortText = IDS_STATE_FIRST, kConnectedText = IDS_STATE_FIRST + 22;

// The system's dialler as the connection sees it; every call is logged.
class FakeDialer : public DialLibrary {
 public:
  // The phonebook.
  bool entry = false;
  bool deleteFails = false;
  bool sizesOk = true;
  bool readOk = true;
  bool writeOk = true;
  // Dials and links.
  DWORD dialResult = 0;
  bool refusalStoresHandle = false;
  bool hangUpConfirms = true;
  DWORD linkState = RASCS_Connected;
  std::wstring address = L"10.8.0.6";
  bool statisticsOk = true;

  std::vector<std::string> calls;
  std::vector<unsigned> slots;  // of each dial
  std::vector<HRASCONN> hungUp;
  std::string written;  // the server of the last entry written
  std::pair<std::wstring, std::wstring> credentials;
  std::set<HRASCONN> live;

  int Count(const std::string& name) const {
    int n = 0;
    for (const std::string& call : calls) n += call == name ? 1 : 0;
    return n;
  }
  // The link of `handle` goes away, as after a drop seen by the system.
  void Drop(HRASCONN handle) { live.erase(handle); }

  DWORD ValidateEntry() override {
    calls.push_back("Validate");
    return entry ? ERROR_ALREADY_EXISTS : 0;
  }
  void DeleteEntryIfPresent() override {
    calls.push_back("DeleteIfPresent");
    if (!deleteFails) entry = false;
  }
  bool QueryEntrySizes(EntrySizes& sizes) override {
    calls.push_back("Sizes");
    sizes = {2884, 0};
    return sizesOk;
  }
  bool ReadEntry(const EntrySizes&) override {
    calls.push_back("Read");
    return readOk;
  }
  bool WriteEntry(const EntrySizes&, const std::string& server) override {
    calls.push_back("Write");
    if (!writeOk) return false;
    entry = true;
    written = server;
    return true;
  }
  DWORD Dial(const std::wstring& user, const std::wstring& password, unsigned slot, HRASCONN& handle) override {
    calls.push_back("Dial");
    slots.push_back(slot);
    credentials = {user, password};
    if (dialResult != 0) {
      if (refusalStoresHandle) handle = NewHandle();
      return dialResult;
    }
    handle = NewHandle();
    return 0;
  }
  void HangUp(HRASCONN handle) override {
    calls.push_back("HangUp");
    hungUp.push_back(handle);
    if (hangUpConfirms) live.erase(handle);
  }
  DWORD ConnectStatus(HRASCONN handle, DWORD& state) override {
    calls.push_back("Status");
    if (live.count(handle) == 0) return ERROR_INVALID_HANDLE;
    state = linkState;
    return 0;
  }
  bool ProjectedAddress(HRASCONN, std::wstring& ip) override {
    calls.push_back("Projection");
    if (address.empty()) return false;
    ip = address;
    return true;
  }
  bool Statistics(HRASCONN, LinkStatistics& stats) override {
    calls.push_back("Statistics");
    stats = {54000000, 2048, 8192};
    return statisticsOk;
  }

 private:
  HRASCONN NewHandle() {
    next_ += 0x10;
    auto handle = reinterpret_cast<HRASCONN>(next_);
    live.insert(handle);
    return handle;
  }
  uintptr_t next_ = 0x5A0000;
};

// Timers as flags; a tick of the tick count per pause.
class FakeClock : public ConnectionClock {
 public:
  bool check = false;
  bool redial = false;
  bool network = false;
  UINT checkPeriod = 0, redialPeriod = 0, networkPeriod = 0;
  int redialStarts = 0;  // a restart would move the series' ticks
  DWORD now = 0xFFFFF000;  // wraps during a wait
  int pauses = 0;

  bool StartTimer(Timer timer, UINT periodMs) override {
    Flag(timer) = true;
    if (timer == Timer::Redial) ++redialStarts;
    (timer == Timer::Check ? checkPeriod : timer == Timer::Redial ? redialPeriod : networkPeriod) = periodMs;
    return true;
  }
  void StopTimer(Timer timer) override { Flag(timer) = false; }
  bool& Flag(Timer timer) {
    return timer == Timer::Check ? check : timer == Timer::Redial ? redial : network;
  }
  DWORD NowMs() override { return now; }
  void Pause() override {
    now += 16;
    ++pauses;
  }
};

// Whether the system has a route to the server.
struct FakeNetwork : NetworkCheck {
  bool route = true;
  bool RouteTo(const std::string&) override { return route; }
};

// The window: what it is told, and boxes that may run a nested loop's work.
// The inputs are enabled and the Exit face shows only while idle.
class FakeWindow : public ConnectionObserver {
 public:
  std::vector<State> states;
  std::vector<UINT> statuses;
  std::vector<std::wstring> statistics;
  bool inputs = true;
  int connectedShown = 0;
  std::vector<DWORD> dialBoxes;
  std::vector<PhonebookFailure> phonebookBoxes;
  bool ending = false;
  // Runs inside the next box, as its message loop would run a message.
  std::function<void()> duringBox;

  // The status line, which shows the idle text at first.
  UINT Status() const { return statuses.empty() ? kIdle : statuses.back(); }
  State Shown() const { return states.empty() ? State::Idle : states.back(); }
  bool DisconnectFace() const { return Shown() != State::Idle; }

  void OnState(State state) override {
    EXPECT_NE(state, Shown()) << "each change once";
    states.push_back(state);
    inputs = state == State::Idle;
    if (state == State::Connected) ++connectedShown;
  }
  void OnStatus(UINT textId) override {
    EXPECT_NE(textId, Status()) << "each change once";
    statuses.push_back(textId);
  }
  void OnStatistics(const std::wstring& text) override { statistics.push_back(text); }
  void ReportDialFailure(DWORD code) override {
    dialBoxes.push_back(code);
    RunBox();
  }
  void ReportPhonebookFailure(PhonebookFailure failure) override {
    phonebookBoxes.push_back(failure);
    RunBox();
  }
  bool Ending() const override { return ending; }

 private:
  void RunBox() {
    if (!duringBox) return;
    auto work = std::move(duringBox);
    duringBox = nullptr;
    work();
  }
};

class ConnectionTest : public ::testing::Test {
 protected:
  FakeDialer ras;
  FakeClock clock;
  FakeNetwork network;
  FakeWindow window;
  kivo::toolkit::TextSet texts{kivo::toolkit::Language::English};
  Connection connection{ras, clock, network, window, texts};

  Credentials alice{L"alice", L"secret"};

  void Connect(const std::string& server) { connection.Connect(alice, server); }
  // The notice the system would post for the current dial.
  DialNotice Notice(DWORD state) const { return {state, ras.slots.back()}; }
  void Connected() { connection.OnNotice(Notice(RASCS_Connected), 0); }
  // The redial timer fires.
  void RedialTick() {
    ASSERT_TRUE(clock.redial) << "the redial timer runs";
    connection.OnTimer(Timer::Redial);
  }
  // The tray's text after the last statistics tick.
  std::wstring TipOf(const std::wstring& address) const {
    return FormatStatusText(texts.Text(IDS_TRAY_TIP_FORMAT), 54000000, 2048, 8192, address);
  }
  std::wstring Statistics() const { return window.statistics.empty() ? L"" : window.statistics.back(); }
  // Connected, then the check finds the link gone.
  void ConnectAndDrop() {
    Connect("vpn.example");
    Connected();
    ras.Drop(connection.Handle());
    connection.OnTimer(Timer::Check);
  }
};

// --- Transitions ------------------------------------------------------------

TEST_F(ConnectionTest, ConnectWritesTheEntryAndDials) {
  EXPECT_EQ(connection.Current(), State::Idle);
  Connect("198.51.100.21");
  EXPECT_EQ(connection.Current(), State::Dialling);
  EXPECT_TRUE((connection.Handle() != nullptr));
  EXPECT_EQ(ras.calls, (std::vector<std::string>{"DeleteIfPresent", "Validate", "Sizes", "Write", "Dial"}));
  EXPECT_EQ(ras.written, "198.51.100.21");
  EXPECT_EQ(ras.credentials, std::make_pair(std::wstring(L"alice"), std::wstring(L"secret")));
  EXPECT_FALSE(window.inputs);
  EXPECT_TRUE(window.DisconnectFace()) << "the face and the tray's menu offer Disconnect";
  EXPECT_TRUE(window.statuses.empty()) << "the status waits for the first notice";
}

TEST_F(ConnectionTest, RefusedDialIsReportedAndLeavesIdle) {
  ras.dialResult = 1234;
  bool inputsDuringBox = true;
  window.duringBox = [&] { inputsDuringBox = window.inputs; };
  Connect("h");
  EXPECT_EQ(window.dialBoxes, std::vector<DWORD>{1234});
  EXPECT_FALSE(inputsDuringBox) << "the inputs stay off until the box is closed";
  EXPECT_EQ(connection.Current(), State::Idle);
  EXPECT_TRUE(window.inputs);
  EXPECT_FALSE(ras.entry) << "entry deleted";
  EXPECT_EQ(window.Status(), kIdle);
  EXPECT_EQ(ras.Count("HangUp"), 0) << "no handle, no hang-up";

  ras.refusalStoresHandle = true;
  Connect("h");
  EXPECT_EQ(ras.Count("HangUp"), 1) << "a stored handle is hung up before it is dropped";
  EXPECT_FALSE((connection.Handle() != nullptr));
}

TEST_F(ConnectionTest, EveryNoticeShowsItsStateAndConnectedHidesTheWindow) {
  Connect("h");
  connection.OnNotice(Notice(RASCS_OpenPort), 0);
  EXPECT_EQ(window.Status(), kOpenPortText);
  connection.OnNotice(Notice(18), 0);
  EXPECT_EQ(window.Status(), 1u) << "a state without text empties the line";
  EXPECT_EQ(connection.Current(), State::Dialling);

  ras.calls.clear();
  Connected();
  EXPECT_EQ(window.Status(), kConnectedText);
  EXPECT_EQ(connection.Current(), State::Connected);
  EXPECT_TRUE(window.DisconnectFace());
  EXPECT_EQ(window.connectedShown, 1);
  EXPECT_EQ(ras.Count("Projection"), 1);
  EXPECT_FALSE(ras.entry) << "the entry goes once connected";
  EXPECT_TRUE(clock.check);
  EXPECT_EQ(clock.checkPeriod, 1000u);
  EXPECT_EQ(Statistics(), TipOf(L"10.8.0.6")) << "told before the window announces the link";
}

TEST_F(ConnectionTest, DisconnectedWithoutErrorCountsAsConnected) {
  Connect("h");
  connection.OnNotice(Notice(RASCS_Disconnected), 0);
  EXPECT_EQ(connection.Current(), State::Connected) << "the done bit";
  ASSERT_TRUE(connection.Cancel());
  EXPECT_EQ(window.Status(), kIdle);
  Connect("h");
  Connected();
  EXPECT_EQ(window.Status(), kConnectedText);
}

TEST_F(ConnectionTest, FailedDialIsReportedHungUpAndCleanedUp) {
  Connect("h");
  const HRASCONN dial = connection.Handle();
  connection.OnNotice(Notice(RASCS_Authenticate), 691);
  EXPECT_EQ(window.dialBoxes, std::vector<DWORD>{691});
  EXPECT_EQ(ras.hungUp, std::vector<HRASCONN>{dial});
  EXPECT_EQ(connection.Current(), State::Idle);
  EXPECT_TRUE(window.inputs);
  EXPECT_FALSE(ras.entry);
  EXPECT_EQ(window.Status(), kIdle);
  EXPECT_FALSE(window.DisconnectFace());
}

TEST_F(ConnectionTest, CancelHangsUpAndWithoutAHandleLeavesTheProgramToEnd) {
  EXPECT_FALSE(connection.Cancel()) << "nothing held: Exit ends the program";
  Connect("h");
  Connected();
  const HRASCONN link = connection.Handle();
  ASSERT_TRUE(connection.Cancel());
  EXPECT_EQ(ras.hungUp, std::vector<HRASCONN>{link});
  EXPECT_EQ(connection.Current(), State::Idle);
  EXPECT_FALSE(clock.check);
  EXPECT_TRUE(window.inputs);
  EXPECT_FALSE(window.DisconnectFace());
  EXPECT_EQ(window.Status(), kIdle);
  const size_t told = window.statistics.size();
  connection.OnTimer(Timer::Check);
  EXPECT_EQ(window.statistics.size(), told) << "no statistics without a link";
}

TEST_F(ConnectionTest, TheCheckFindsADropReleasesTheLinkAndStartsTheRedial) {
  Connect("h");
  Connected();
  const HRASCONN link = connection.Handle();
  connection.OnTimer(Timer::Check);
  ras.linkState = RASCS_Connected;
  EXPECT_EQ(connection.Current(), State::Connected) << "alive";

  ras.linkState = RASCS_Disconnected;
  connection.OnTimer(Timer::Check);
  EXPECT_EQ(connection.Current(), State::WaitingToRedial);
  EXPECT_EQ(ras.hungUp, std::vector<HRASCONN>{link}) << "a dropped link is hung up";
  EXPECT_FALSE(clock.check);
  EXPECT_EQ(clock.redialPeriod, 3000u);
  EXPECT_EQ(window.Status(), kIdle);
  EXPECT_FALSE(window.inputs) << "the series keeps the controls";
  EXPECT_EQ(window.connectedShown, 1) << "no word of the drop";

  ras.calls.clear();
  RedialTick();
  EXPECT_EQ(connection.Current(), State::Dialling);
  EXPECT_EQ(ras.calls, (std::vector<std::string>{"DeleteIfPresent", "Validate", "Sizes", "Write", "Dial"}));
  EXPECT_EQ(ras.written, "h") << "the server Connect chose";
  EXPECT_EQ(connection.RetryCount(), 1);

  Connected();
  EXPECT_EQ(connection.Current(), State::Connected);
  EXPECT_EQ(connection.RetryCount(), 0);
  EXPECT_FALSE(clock.redial);
}

TEST_F(ConnectionTest, TenRedialsAfterADropWithoutBoxesUntilTheLast) {
  ConnectAndDrop();
  for (int attempt = 1; attempt <= 10; ++attempt) {
    RedialTick();
    EXPECT_EQ(ras.credentials.first, L"alice");
    EXPECT_EQ(connection.Current(), State::Dialling) << attempt;
    connection.OnNotice(Notice(RASCS_Authenticate), 678);
    if (attempt < 10) {
      EXPECT_TRUE(window.dialBoxes.empty()) << "no box while redialling";
      EXPECT_FALSE(window.inputs);
      EXPECT_EQ(connection.Current(), State::WaitingToRedial);
    }
  }
  EXPECT_EQ(window.dialBoxes, std::vector<DWORD>{678}) << "the tenth failure is shown";
  EXPECT_TRUE(window.inputs);
  EXPECT_EQ(connection.Current(), State::Idle);
  EXPECT_FALSE(clock.redial) << "the timer stopped after the tenth attempt";
  EXPECT_EQ(ras.Count("Dial"), 11);
}

TEST_F(ConnectionTest, AnAttemptWhilePreviousStillDialsOnlyCounts) {
  ConnectAndDrop();
  RedialTick();
  ras.calls.clear();
  RedialTick();
  EXPECT_TRUE(ras.calls.empty()) << "no entry, no dial";
  EXPECT_EQ(connection.RetryCount(), 2);
}

TEST_F(ConnectionTest, RefusedRedialsAreReportedEveryTimeAndTheLastGivesTheControlsBack) {
  ConnectAndDrop();
  ras.dialResult = 1234;
  for (int attempt = 1; attempt <= 10; ++attempt) {
    RedialTick();
    EXPECT_EQ(window.dialBoxes.size(), static_cast<size_t>(attempt));
    EXPECT_EQ(window.inputs, attempt == 10) << attempt;
    EXPECT_EQ(window.Status(), kIdle);
  }
  EXPECT_FALSE(clock.redial);
}

TEST_F(ConnectionTest, ASuccessfulRedialGivesTenMoreAttempts) {
  ConnectAndDrop();
  for (int i = 0; i < 5; ++i) {
    RedialTick();
    connection.OnNotice(Notice(RASCS_Authenticate), 678);
  }
  RedialTick();
  Connected();
  ras.Drop(connection.Handle());
  connection.OnTimer(Timer::Check);
  for (int i = 0; i < 9; ++i) {
    RedialTick();
    connection.OnNotice(Notice(RASCS_Authenticate), 678);
  }
  EXPECT_TRUE(clock.redial) << "nine of ten";
  EXPECT_TRUE(window.dialBoxes.empty());
}

TEST_F(ConnectionTest, PhonebookFailuresOnConnect) {
  struct Case {
    const char* what;
    bool stale, deleteFails, sizesOk, readOk, writeOk;
    std::vector<PhonebookFailure> boxes;
    bool dials;
  } cases[] = {
      {"entry kept, size query fails", true, true, false, true, true, {PhonebookFailure::Test}, true},
      {"entry kept, read fails", true, true, true, false, true, {PhonebookFailure::Open}, false},
      {"entry kept and read", true, true, true, true, true, {}, true},
      {"no entry, size query fails", false, false, false, true, true, {}, false},
      {"write fails", false, false, true, true, false, {PhonebookFailure::Set}, false},
  };
  for (const Case& c : cases) {
    FakeDialer dialer;
    FakeWindow view;
    FakeClock time;
    Connection conn(dialer, time, network, view, texts);
    dialer.entry = c.stale;
    dialer.deleteFails = c.deleteFails;
    dialer.sizesOk = c.sizesOk;
    dialer.readOk = c.readOk;
    dialer.writeOk = c.writeOk;
    conn.Connect(alice, "h");
    EXPECT_EQ(view.phonebookBoxes, c.boxes) << c.what;
    EXPECT_EQ(dialer.Count("Dial"), c.dials ? 1 : 0) << c.what;
    EXPECT_EQ(dialer.Count("Write"), c.stale ? 0 : (c.sizesOk ? 1 : 0))
        << c.what << ": a kept entry is not rewritten";
    EXPECT_EQ(view.inputs, !c.dials) << c.what << ": a stop leaves the dialog idle";
  }
}

TEST_F(ConnectionTest, PhonebookFailuresWhenRediallingStillDial) {
  ConnectAndDrop();
  struct Case {
    const char* what;
    bool stale, sizesOk, readOk, writeOk;
    std::vector<PhonebookFailure> boxes;
  } cases[] = {
      {"write fails", false, true, true, false, {PhonebookFailure::Set}},
      {"entry kept, read fails", true, true, false, true, {PhonebookFailure::Open}},
      {"entry kept, size query fails", true, false, true, true, {PhonebookFailure::Test}},
      {"no entry, size query fails", false, false, true, true, {}},
  };
  for (const Case& c : cases) {
    ras.entry = c.stale;
    ras.deleteFails = c.stale;
    ras.sizesOk = c.sizesOk;
    ras.readOk = c.readOk;
    ras.writeOk = c.writeOk;
    window.phonebookBoxes.clear();
    const int dials = ras.Count("Dial");
    RedialTick();
    EXPECT_EQ(window.phonebookBoxes, c.boxes) << c.what;
    EXPECT_EQ(ras.Count("Dial"), dials + 1) << c.what << ": dials all the same";
    EXPECT_EQ(ras.credentials.first, L"alice") << c.what;
    EXPECT_EQ(connection.Current(), State::Dialling) << c.what;
    connection.OnNotice(Notice(RASCS_Authenticate), 678);
  }
}

// --- The mends of the hardening ----------------------------------------------

TEST_F(ConnectionTest, AnUnconfirmedHangUpIsGivenUpAfterThreeSeconds) {
  Connect("h");
  ras.hangUpConfirms = false;
  const DWORD start = clock.now;
  ASSERT_TRUE(connection.Cancel());
  const DWORD waited = clock.now - start;
  EXPECT_GT(waited, 3000u);
  EXPECT_LE(waited, 3016u + 16u);
  EXPECT_FALSE((connection.Handle() != nullptr));
  EXPECT_TRUE(window.inputs);

  ras.hangUpConfirms = true;
  Connect("h");
  const int pauses = clock.pauses;
  connection.Cancel();
  EXPECT_EQ(clock.pauses, pauses) << "a confirmed hang-up ends the wait at once";
}

TEST_F(ConnectionTest, LateNoticesOfAnEarlierDialChangeNothing) {
  Connect("h");
  const DialNotice cancelled = Notice(RASCS_Connected);
  connection.Cancel();
  const size_t shown = window.statuses.size();
  connection.OnNotice(cancelled, 0);
  connection.OnNotice({RASCS_Authenticate, cancelled.slot}, 691);
  EXPECT_EQ(window.statuses.size(), shown) << "no handle held";
  EXPECT_EQ(window.connectedShown, 0);
  EXPECT_FALSE(clock.check);

  Connect("h");
  const size_t calls = ras.calls.size();
  connection.OnNotice(cancelled, 0);
  connection.OnNotice({RASCS_Authenticate, cancelled.slot}, 691);
  connection.OnNotice({RASCS_Connected, 0}, 0);  // names no dial
  EXPECT_EQ(ras.calls.size(), calls) << "no call to the dialler at all";
  EXPECT_EQ(connection.Current(), State::Dialling) << "not taken for the current dial's";
  EXPECT_EQ(window.statuses.size(), shown);
  EXPECT_TRUE(window.dialBoxes.empty());
  EXPECT_EQ(ras.Count("HangUp"), 1);
}

TEST_F(ConnectionTest, DisconnectEndsARedialSeriesAndItsQueuedRequests) {
  ConnectAndDrop();
  RedialTick();
  ASSERT_TRUE(connection.Cancel());
  EXPECT_FALSE(clock.redial);
  connection.OnTimer(Timer::Redial);  // a tick queued before the command
  EXPECT_EQ(ras.Count("Dial"), 2);
  EXPECT_EQ(connection.RetryCount(), 0);
  EXPECT_EQ(connection.Current(), State::Idle);
}

TEST_F(ConnectionTest, NothingDialsOnceTheWindowIsEnding) {
  window.ending = true;
  Connect("h");
  connection.OnTimer(Timer::Redial);
  EXPECT_TRUE(ras.calls.empty());
}

TEST_F(ConnectionTest, ADialHeldAtDestructionIsHungUpAndTheEntryRemoved) {
  FakeDialer dialer;
  FakeClock time;
  FakeWindow view;
  HRASCONN dial = nullptr;
  {
    Connection conn(dialer, time, network, view, texts);
    conn.Connect(alice, "h");
    dial = conn.Handle();
    EXPECT_TRUE(dialer.entry);
  }
  EXPECT_EQ(dialer.hungUp, std::vector<HRASCONN>{dial});
  EXPECT_FALSE(dialer.entry);
}

TEST_F(ConnectionTest, LogoffHangsUpDeletesTheEntryAndStopsTheTimers) {
  ConnectAndDrop();
  RedialTick();
  connection.EndSession();
  EXPECT_EQ(ras.Count("HangUp"), 2);
  EXPECT_FALSE(ras.entry);
  EXPECT_FALSE(clock.redial);
  EXPECT_FALSE(clock.check);
  EXPECT_EQ(connection.Current(), State::Idle);
}

TEST_F(ConnectionTest, AnAddressThatCannotBeReadKeepsTheLastOne) {
  Connect("h");
  Connected();
  connection.Cancel();
  ras.address.clear();
  Connect("h");
  Connected();
  EXPECT_EQ(Statistics(), TipOf(L"10.8.0.6"));
  ras.statisticsOk = false;
  connection.OnTimer(Timer::Check);
  EXPECT_EQ(Statistics(), L"") << "none to show";
  ras.statisticsOk = true;
  connection.OnTimer(Timer::Check);
  EXPECT_EQ(Statistics(), TipOf(L"10.8.0.6"));
}

// --- What the message boxes' own loops may bring --------------------------------

TEST_F(ConnectionTest, ATickInsideConnectsBoxDialsNothingMore) {
  ras.entry = true;
  ras.deleteFails = true;
  ras.sizesOk = false;  // "Test" box, then dial anyway
  window.duringBox = [this] { connection.OnTimer(Timer::Redial); };
  Connect("h");
  EXPECT_EQ(ras.Count("Dial"), 1) << "one dial";
  EXPECT_EQ(window.phonebookBoxes.size(), 1u);
}

TEST_F(ConnectionTest, ATickInsideAnAttemptsPhonebookBoxDialsNothingAndTheAttemptDialsAfterIt) {
  ConnectAndDrop();
  ras.entry = true;
  ras.deleteFails = true;
  ras.sizesOk = false;
  window.duringBox = [this] { RedialTick(); };
  RedialTick();
  EXPECT_EQ(ras.Count("Dial"), 2) << "Connect's and the attempt's";
  EXPECT_EQ(connection.RetryCount(), 1);
  EXPECT_EQ(connection.Current(), State::Dialling);
}

TEST_F(ConnectionTest, ATickWhileARefusedRedialsBoxIsOpenStartsNoDial) {
  ConnectAndDrop();
  ras.dialResult = 1234;
  window.duringBox = [this] {
    // The timer runs on for attempts 1 to 9; the system would dial now.
    ras.dialResult = 0;
    RedialTick();
  };
  RedialTick();
  EXPECT_EQ(window.dialBoxes, std::vector<DWORD>{1234});
  EXPECT_EQ(ras.Count("Dial"), 2) << "Connect's and the refused attempt's";
  EXPECT_EQ(connection.Current(), State::WaitingToRedial);
  EXPECT_EQ(connection.Handle(), nullptr);
  EXPECT_EQ(window.Status(), kIdle);

  RedialTick();
  EXPECT_EQ(ras.Count("Dial"), 3) << "the first tick after the box";
  EXPECT_EQ(connection.Current(), State::Dialling);
  EXPECT_EQ(connection.RetryCount(), 2);
  EXPECT_TRUE(ras.entry) << "the dial's entry stays";
}

TEST_F(ConnectionTest, TheTenthAttemptStopsTheTimerBeforeItsBox) {
  ConnectAndDrop();
  for (int i = 0; i < 9; ++i) {
    RedialTick();
    connection.OnNotice(Notice(RASCS_Authenticate), 678);
  }
  EXPECT_EQ(clock.redialStarts, 1) << "one timer for the series: its ticks keep their cadence";
  ras.writeOk = false;
  bool tickedInBox = false;
  window.duringBox = [this, &tickedInBox] {
    tickedInBox = clock.redial;
    connection.OnTimer(Timer::Redial);
  };
  RedialTick();
  EXPECT_FALSE(tickedInBox) << "no timer left to tick";
  EXPECT_EQ(ras.Count("Dial"), 11);
}

TEST_F(ConnectionTest, DisconnectOrExitInsideAnAttemptsBoxStopsTheAttempt) {
  ConnectAndDrop();
  ras.writeOk = false;
  window.duringBox = [this] {
    // The user's Disconnect while waiting to redial ends the series; the
    // client stays.
    EXPECT_TRUE(connection.Cancel());
  };
  RedialTick();
  EXPECT_EQ(ras.Count("Dial"), 1);
  EXPECT_EQ(connection.Current(), State::Idle);
  EXPECT_FALSE(clock.redial);

  ras.writeOk = true;
  ConnectAndDrop();
  ras.writeOk = false;
  window.duringBox = [this] { window.ending = true; };  // the tray's Exit
  RedialTick();
  EXPECT_EQ(ras.Count("Dial"), 2) << "nothing dials once the dialog ends";
}

TEST_F(ConnectionTest, ExitInsideConnectsBoxDialsNothing) {
  ras.entry = true;
  ras.deleteFails = true;
  ras.sizesOk = false;
  window.duringBox = [this] { window.ending = true; };
  Connect("h");
  EXPECT_EQ(ras.Count("Dial"), 0);
}

TEST_F(ConnectionTest, AFailureWhoseDialWasHungUpDuringItsBoxTouchesNothingMore) {
  Connect("h");
  const DialNotice failure = Notice(RASCS_Authenticate);
  // During the failure's box the user hangs up and connects again.
  window.duringBox = [this] {
    connection.Cancel();
    Connect("h");
  };
  connection.OnNotice(failure, 691);
  EXPECT_EQ(connection.Current(), State::Dialling) << "the new dial goes on";
  EXPECT_EQ(ras.Count("HangUp"), 1);
  EXPECT_FALSE(window.inputs);
  EXPECT_TRUE(ras.entry) << "the new dial's entry stays";

  // Hung up during the box, and nothing new: the rest of the clean-up runs.
  const DialNotice second = Notice(RASCS_Authenticate);
  window.duringBox = [this] { connection.Cancel(); };
  connection.OnNotice(second, 691);
  EXPECT_EQ(ras.Count("HangUp"), 2) << "not hung up twice";
  EXPECT_EQ(connection.Current(), State::Idle);
  EXPECT_TRUE(window.inputs);
}

// --- Sleep, wake and the network ---------------------------------------------

TEST_F(ConnectionTest, SleepHangsUpAWantedLinkAndEachAttemptWaitsUpToSixtySecondsForARoute) {
  connection.OnPowerEvent(PBT_APMSUSPEND);
  connection.OnPowerEvent(PBT_APMRESUMEAUTOMATIC);
  EXPECT_TRUE(ras.calls.empty() && window.statuses.empty()) << "no link wanted: nothing changes";

  Connect("vpn.example");
  Connected();
  connection.OnPowerEvent(PBT_APMSUSPEND);
  EXPECT_EQ(ras.Count("HangUp"), 1);
  EXPECT_EQ(connection.Current(), State::Idle);
  EXPECT_TRUE(window.inputs && !clock.check && window.Status() == kIdle);
  connection.OnTimer(Timer::Redial);  // a tick queued before the suspend
  network.route = false;
  connection.OnPowerEvent(PBT_APMRESUMEAUTOMATIC);
  EXPECT_EQ(ras.Count("Dial"), 1) << "nothing dials while suspended, nor without a route";
  EXPECT_EQ(connection.Current(), State::WaitingForNetwork);
  EXPECT_EQ(window.Status(), static_cast<UINT>(IDS_WAITING_NETWORK));
  EXPECT_EQ(clock.networkPeriod, 1000u);
  clock.now += 59999;
  connection.OnTimer(Timer::Network);
  network.route = true;
  connection.OnTimer(Timer::Network);
  EXPECT_EQ(ras.Count("Dial"), 2) << "the route is back: the dial follows";
  EXPECT_EQ(ras.written, "vpn.example");
  EXPECT_EQ(connection.RetryCount(), 1) << "the first of a fresh budget";
  EXPECT_TRUE(clock.redial && !clock.network);

  // After a drop the redial waits the same way, and gives up after 60 s.
  Connected();
  ras.Drop(connection.Handle());
  connection.OnTimer(Timer::Check);
  network.route = false;
  RedialTick();
  EXPECT_EQ(connection.RetryCount(), 0) << "an attempt without a route does not count";
  clock.now += 60000;
  connection.OnTimer(Timer::Network);
  EXPECT_EQ(connection.Current(), State::Idle);
  EXPECT_EQ(window.dialBoxes, std::vector<DWORD>{800});
  EXPECT_TRUE(window.inputs && !clock.network && !clock.redial);

  Connect("h");
  connection.OnPowerEvent(PBT_APMSUSPEND);
  connection.OnPowerEvent(PBT_APMRESUMEAUTOMATIC);
  ASSERT_TRUE(connection.Cancel()) << "Disconnect ends the wait, not the program";
  EXPECT_EQ(connection.Current(), State::Idle);
  EXPECT_FALSE(clock.network);
}

}  // namespace

// --- The connection details -----------------------------------------------------

TEST_F(ConnectionTest, TheDetailsOfAFailedDialShowItsStatesAndCodeButNoCredentials) {
  kivo::diag::EventLog log(true);
  kivo::diag::RecordingObserver recorder(window, log);
  Connection recorded{ras, clock, network, recorder, texts};
  recorded.Connect(Credentials{L"zhang.wei", L"Pw-7Qx!zeta"}, "198.51.100.21");
  recorded.OnNotice({RASCS_OpenPort, ras.slots.back()}, 0);
  recorded.OnNotice({RASCS_ConnectDevice, ras.slots.back()}, 809);
  ASSERT_EQ(window.dialBoxes, std::vector<DWORD>{809});

  const std::wstring text = log.Text();
  // In the order they came.
  size_t at = 0;
  for (const wchar_t* line : {L"state: dialling", L"dial state: RASCS_OpenPort", L"dial state: RASCS_ConnectDevice",
                              L"dial error 809", L"failure box for error 809", L"state: idle"}) {
    const size_t found = text.find(line, at);
    ASSERT_NE(found, std::wstring::npos) << "missing or out of order: " << kivo::toolkit::ToUtf8(line) << "\n"
                                         << kivo::toolkit::ToUtf8(text);
    at = found;
  }
  EXPECT_EQ(text.find(L"Pw-7Qx!zeta"), std::wstring::npos) << "the password";
  EXPECT_EQ(text.find(L"zhang.wei"), std::wstring::npos) << "the user name";
}
