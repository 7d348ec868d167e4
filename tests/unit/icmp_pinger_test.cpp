// The prober's operations over a scripted echo exchange: round trips of 0,
// counted attempts, the Measure figures, cancelling, sequence numbers and
// identifiers. Nothing leaves the machine: the script replaces the exchange.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "servers/IcmpPinger.h"
#include "toolkit/Sync.h"

using kivo::servers::CIcmpPinger;
using kivo::toolkit::CancellationToken;

namespace {

struct Echo {
  bool sent;
  bool answered;
  int roundTrip;
};
constexpr Echo kLost{true, false, 0};
constexpr Echo kSendFails{false, false, 0};
constexpr Echo Answer(int ms) { return Echo{true, true, ms}; }

// Plays a script of echo outcomes (and `rest` once it runs out), building
// each request as the real exchange does so that its header can be checked.
class ScriptedPinger : public CIcmpPinger {
 public:
  explicit ScriptedPinger(std::vector<Echo> script = {}, Echo rest = kLost)
      : script_(std::move(script)), rest_(rest) {}
  ScriptedPinger(const CancellationToken& cancel, std::vector<Echo> script, Echo rest = kLost)
      : CIcmpPinger(cancel), script_(std::move(script)), rest_(rest) {}

  int Echoes() const { return static_cast<int>(sequences.size()); }

  // Builds one more request; returns its sequence number.
  std::uint16_t Build() {
    EXPECT_EQ(BuildEchoRequest(), 40);
    return Field(6);
  }

  std::vector<std::uint16_t> sequences;
  std::vector<std::uint16_t> identifiers;
  // Called after each answered echo with the number answered so far.
  std::function<void(int)> onAnswer;

 protected:
  // Any socket will do: the script stands in for the exchange.
  SOCKET OpenRawSocket() override { return ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP); }

  bool SendEcho() override {
    sequences.push_back(Build());
    identifiers.push_back(Field(4));
    current_ = sequences.size() <= script_.size() ? script_[sequences.size() - 1] : rest_;
    return current_.sent;
  }

  bool ReceiveEcho(int& roundTripMs) override {
    if (!current_.answered) return false;
    roundTripMs = current_.roundTrip;
    ++answered_;
    if (onAnswer) onAnswer(answered_);
    return true;
  }

 private:
  std::uint16_t Field(int offset) const {
    return static_cast<std::uint16_t>(SendBuffer()[offset] | (SendBuffer()[offset + 1] << 8));
  }

  std::vector<Echo> script_;
  Echo rest_;
  Echo current_ = kLost;
  int answered_ = 0;
};

const char* const kHost = "127.0.0.1";

// ---- Ping -----------------------------------------------------------------

TEST(Ping, RoundTripOfZeroResendsAtMostFiveTimesThenCountsAsTheAnswer) {
  ScriptedPinger pinger({}, Answer(0));
  int roundTrip = -1;
  EXPECT_TRUE(pinger.Ping(kHost, roundTrip));
  EXPECT_EQ(roundTrip, 0);
  EXPECT_EQ(pinger.Echoes(), 1 + CIcmpPinger::kMaxZeroRoundTripRepeats);
}

TEST(Ping, ResendsWhileTheRoundTripIsZero) {
  ScriptedPinger pinger({Answer(0), Answer(0), Answer(7), Answer(9)});
  int roundTrip = -1;
  EXPECT_TRUE(pinger.Ping(kHost, roundTrip));
  EXPECT_EQ(roundTrip, 7);
  EXPECT_EQ(pinger.Echoes(), 3);
}

TEST(Ping, LostEchoOrFailedSendEndsIt) {
  const std::pair<std::vector<Echo>, int> cases[] = {
      {{kLost}, 1}, {{kSendFails}, 1}, {{Answer(0), kLost}, 2}, {{Answer(0), kSendFails}, 2}};
  for (const auto& [script, echoes] : cases) {
    ScriptedPinger pinger(script, Answer(5));
    int roundTrip = -1;
    EXPECT_FALSE(pinger.Ping(kHost, roundTrip));
    EXPECT_EQ(roundTrip, -1) << "a failure leaves the round trip alone";
    EXPECT_EQ(pinger.Echoes(), echoes);
  }
}

TEST(Ping, HostThatIsNoAddressOrNameSendsNothing) {
  for (const std::string& host : {std::string(), std::string("127.0.0.1\0x", 11)}) {
    ScriptedPinger pinger({}, Answer(5));
    int roundTrip = -1;
    EXPECT_FALSE(pinger.Ping(host, roundTrip));
    EXPECT_EQ(pinger.Echoes(), 0);
    EXPECT_FALSE(pinger.PingWithRetries(host, roundTrip));
    EXPECT_EQ(pinger.Echoes(), 0);
  }
}

// ---- PingWithRetries --------------------------------------------------------

TEST(PingWithRetries, FiveCountedAttempts) {
  {
    ScriptedPinger pinger({}, kLost);
    int roundTrip = -1;
    EXPECT_FALSE(pinger.PingWithRetries(kHost, roundTrip));
    EXPECT_EQ(pinger.Echoes(), 5);
    EXPECT_EQ(roundTrip, -1);
  }
  {
    ScriptedPinger pinger({kSendFails, kLost, kSendFails, kLost, Answer(12)});
    int roundTrip = -1;
    EXPECT_TRUE(pinger.PingWithRetries(kHost, roundTrip)) << "the fifth attempt still counts";
    EXPECT_EQ(roundTrip, 12);
  }
}

TEST(PingWithRetries, ZeroRoundTripsDoNotCountAsAttempts) {
  {
    ScriptedPinger pinger({kLost, Answer(0), kLost, Answer(0), kLost, kLost, Answer(9)});
    int roundTrip = -1;
    EXPECT_TRUE(pinger.PingWithRetries(kHost, roundTrip));
    EXPECT_EQ(roundTrip, 9);
    EXPECT_EQ(pinger.Echoes(), 7);
  }
  {
    ScriptedPinger pinger({kLost, kLost, Answer(0), kLost, Answer(0), kLost, kLost, Answer(9)});
    int roundTrip = -1;
    EXPECT_FALSE(pinger.PingWithRetries(kHost, roundTrip));
    EXPECT_EQ(pinger.Echoes(), 7) << "five losses, two uncounted zeros";
  }
}

TEST(PingWithRetries, ZeroRoundTripsAreRepeatedAtMostFiveTimes) {
  std::vector<Echo> script{kLost, kLost};
  script.resize(10, Answer(0));
  ScriptedPinger pinger(script, Answer(3));
  int roundTrip = -1;
  EXPECT_TRUE(pinger.PingWithRetries(kHost, roundTrip));
  EXPECT_EQ(roundTrip, 0);
  EXPECT_EQ(pinger.Echoes(), 2 + 1 + CIcmpPinger::kMaxZeroRoundTripRepeats);
}

// ---- Measure ----------------------------------------------------------------

TEST(Measure, EveryEchoLostGivesZeroAndZero) {
  ScriptedPinger pinger({}, kLost);
  float average = -1;
  int percent = -1;
  pinger.Measure(kHost, average, percent);
  EXPECT_EQ(average, 0.0f);
  EXPECT_EQ(percent, 0);
  EXPECT_EQ(pinger.Echoes(), 50);
}

TEST(Measure, AverageOverAnsweredEchoesAndShareOfFifty) {
  std::vector<Echo> script;
  for (int i = 1; i <= 25; ++i) script.push_back(i % 2 ? Answer(i) : kSendFails);
  // 13 answered (1, 3, ..., 25), average 13; 12 failed sends and 25 losses.
  ScriptedPinger pinger(script, kLost);
  float average = -1;
  int percent = -1;
  pinger.Measure(kHost, average, percent);
  EXPECT_FLOAT_EQ(average, 13.0f);
  EXPECT_EQ(percent, 26);
  EXPECT_EQ(pinger.Echoes(), 50);
}

TEST(Measure, ZeroRoundTripIsAnAnswerAndNotResent) {
  ScriptedPinger pinger({Answer(0), Answer(3)}, Answer(0));
  float average = -1;
  int percent = -1;
  pinger.Measure(kHost, average, percent);
  EXPECT_FLOAT_EQ(average, 3.0f / 50);
  EXPECT_EQ(percent, 100);
  EXPECT_EQ(pinger.Echoes(), 50);
}

TEST(Measure, UnmeasurableHostGivesZeroAndZeroWithoutEchoes) {
  ScriptedPinger pinger({}, Answer(4));
  float average = -1;
  int percent = -1;
  pinger.Measure("", average, percent);
  EXPECT_EQ(average, 0.0f);
  EXPECT_EQ(percent, 0);
  EXPECT_EQ(pinger.Echoes(), 0);
}

TEST(Measure, CancelledAfterTenAnsweredCountsAgainstFifty) {
  std::vector<Echo> script;
  for (int i = 1; i <= 50; ++i) script.push_back(Answer(i));
  CancellationToken cancel;
  ScriptedPinger pinger(cancel, script);
  pinger.onAnswer = [&cancel](int answered) {
    if (answered == 10) cancel.Cancel();
  };
  float average = -1;
  int percent = -1;
  pinger.Measure(kHost, average, percent);
  EXPECT_EQ(percent, 20);
  EXPECT_FLOAT_EQ(average, 5.5f);
  EXPECT_EQ(pinger.Echoes(), 10) << "no echo after the cancel";
}

TEST(Measure, CancelFromAnotherThreadEndsItBeforeTheNextEcho) {
  CancellationToken cancel;
  ScriptedPinger pinger(cancel, {}, Answer(30));
  kivo::toolkit::Event reached;
  kivo::toolkit::Event stopped;
  pinger.onAnswer = [&](int answered) {
    if (answered != 10) return;
    reached.Set();
    ASSERT_TRUE(stopped.Wait(10000));
  };
  std::jthread stopper([&] {
    if (reached.Wait(60000)) cancel.Cancel();
    stopped.Set();
  });
  float average = -1;
  int percent = -1;
  pinger.Measure(kHost, average, percent);
  stopper.join();
  EXPECT_EQ(percent, 20);
  EXPECT_FLOAT_EQ(average, 30.0f);
  EXPECT_EQ(pinger.Echoes(), 10);
}

TEST(Measure, CancelBeforeTheMeasurementBeganEndsItBeforeItsFirstEcho) {
  // A cancel while the prober was still opening its socket, say: the owner
  // joins next and must not wait for fifty echoes (50 s of a silent server).
  CancellationToken cancel;
  ScriptedPinger pinger(cancel, {}, Answer(8));
  cancel.Cancel();
  float average = -1;
  int percent = -1;
  pinger.Measure(kHost, average, percent);
  EXPECT_EQ(percent, 0);
  EXPECT_FLOAT_EQ(average, 0.0f);
  EXPECT_EQ(pinger.Echoes(), 0);
}

// ---- Sequence and identifier ------------------------------------------------

TEST(Sequence, ContinuesAcrossProbers) {
  ScriptedPinger first({Answer(0), Answer(0), Answer(4)});
  ScriptedPinger second({Answer(4)});
  int roundTrip = 0;
  ASSERT_TRUE(first.Ping(kHost, roundTrip));
  ASSERT_TRUE(second.Ping(kHost, roundTrip));
  ASSERT_EQ(first.sequences.size(), 3u);
  ASSERT_EQ(second.sequences.size(), 1u);
  EXPECT_EQ(first.sequences[1], static_cast<std::uint16_t>(first.sequences[0] + 1));
  EXPECT_EQ(first.sequences[2], static_cast<std::uint16_t>(first.sequences[0] + 2));
  EXPECT_EQ(second.sequences[0], static_cast<std::uint16_t>(first.sequences[2] + 1));
}

TEST(Sequence, WrapsFrom65535ToZero) {
  ScriptedPinger pinger({Answer(4)});
  int roundTrip = 0;
  ASSERT_TRUE(pinger.Ping(kHost, roundTrip));
  std::uint16_t previous = pinger.sequences.at(0);
  bool wrapped = false;
  for (int i = 0; i <= 65536; ++i) {
    const std::uint16_t next = pinger.Build();
    ASSERT_EQ(next, static_cast<std::uint16_t>(previous + 1)) << "after " << previous;
    wrapped = wrapped || (previous == 65535 && next == 0);
    previous = next;
  }
  EXPECT_TRUE(wrapped);
}

TEST(Identifier, IsTheMeasuringThreadsId) {
  ScriptedPinger here({Answer(4)});
  int roundTrip = 0;
  ASSERT_TRUE(here.Ping(kHost, roundTrip));
  EXPECT_EQ(here.identifiers.at(0), static_cast<std::uint16_t>(::GetCurrentThreadId()));

  ScriptedPinger there({}, Answer(4));
  DWORD threadId = 0;
  std::jthread worker([&] {
    threadId = ::GetCurrentThreadId();
    float average = 0;
    int percent = 0;
    there.Measure(kHost, average, percent);
  });
  worker.join();
  ASSERT_EQ(there.identifiers.size(), 50u);
  for (std::uint16_t id : there.identifiers) EXPECT_EQ(id, static_cast<std::uint16_t>(threadId));
}

}  // namespace

// Closing the main window stops the background pass between two attempts.
TEST(PingWithRetries, CancelEndsItBeforeTheNextAttempt) {
  // The cancel arrives while the second attempt is under way.
  CancellationToken cancel;
  int echoes = 0;
  class CancellingPinger : public ScriptedPinger {
   public:
    CancellingPinger(CancellationToken& cancel, int& echoes)
        : ScriptedPinger(cancel, {}), token_(cancel), echoes_(echoes) {}

   protected:
    bool SendEcho() override {
      if (++echoes_ == 2) token_.Cancel();
      return ScriptedPinger::SendEcho();
    }

   private:
    CancellationToken& token_;
    int& echoes_;
  } cancelling(cancel, echoes);
  int roundTrip = -1;
  EXPECT_FALSE(cancelling.PingWithRetries(kHost, roundTrip));
  EXPECT_EQ(cancelling.Echoes(), 2) << "the attempt under way finishes, no further one starts";

  ScriptedPinger before(cancel, {}, Answer(4));
  EXPECT_FALSE(before.PingWithRetries(kHost, roundTrip)) << "a cancel before the pass sends nothing";
  EXPECT_EQ(before.Echoes(), 0);
}

// The start-up pass takes the same token: a cancel ends Ping before its next
// echo, also between the repeats of a round trip of 0.
TEST(Ping, CancelEndsItBeforeTheNextEcho) {
  CancellationToken cancel;
  ScriptedPinger pinger(cancel, {Answer(0), Answer(0), Answer(7)});
  pinger.onAnswer = [&cancel](int) { cancel.Cancel(); };
  int roundTrip = -1;
  EXPECT_FALSE(pinger.Ping(kHost, roundTrip));
  EXPECT_EQ(roundTrip, -1);
  EXPECT_EQ(pinger.Echoes(), 1);
}
