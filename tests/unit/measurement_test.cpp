// The start-up and retry passes of the server measurement, with a scripted
// probe in place of the ICMP prober.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <utility>
#include <vector>

#include "servers/ServerMeasurement.h"

using kivo::servers::Measured;
using kivo::servers::Probe;
using kivo::servers::ServerMeasurement;
using kivo::toolkit::CancellationToken;

namespace {

// Answers with the scripted function; the retry pass answers alike.
class ScriptedProbe : public Probe {
 public:
  using Script = std::function<bool(const std::string&, int&, const CancellationToken&)>;
  explicit ScriptedProbe(Script script) : script_(std::move(script)) {}
  bool Once(const std::string& a, int& rtt, const CancellationToken& c) override {
    return script_(a, rtt, c);
  }
  bool WithRetries(const std::string& a, int& rtt, const CancellationToken& c) override {
    return script_(a, rtt, c);
  }

 private:
  Script script_;
};

const std::vector<std::string> kAddresses = {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"};

TEST(ServerMeasurement, StartupMeasuresAllAtOnceEachIntoItsOwnSlot) {
  // No probe answers before every server is being measured: one after
  // another, the first would wait for the bound and fail.
  std::atomic<int> arrived{0};
  kivo::toolkit::Event allThere;
  ServerMeasurement measurement(std::make_unique<ScriptedProbe>(
      [&](const std::string& address, int& rtt, const CancellationToken& cancel) {
        if (++arrived == static_cast<int>(kAddresses.size())) allThere.Set();
        while (!allThere.Wait(10)) {
          if (cancel.Cancelled()) return false;
        }
        rtt = address.back() - '0';
        return address != "10.0.0.3";
      }));
  const std::vector<Measured> results = measurement.MeasureAll(kAddresses, 20000);
  ASSERT_EQ(results.size(), 4u);
  for (size_t i = 0; i < results.size(); ++i) {
    EXPECT_EQ(results[i].answered, i != 2) << i;
    if (i != 2) {
      EXPECT_EQ(results[i].roundTripMs, static_cast<int>(i + 1)) << i;
    }
  }
}

TEST(ServerMeasurement, StartupBoundCancelsAHungServer) {
  std::atomic<bool> sawCancel{false};
  ServerMeasurement measurement(std::make_unique<ScriptedProbe>(
      [&](const std::string& address, int& rtt, const CancellationToken& cancel) {
        if (address == "10.0.0.2") {
          sawCancel = cancel.Wait(30000);  // fails rather than hangs without the bound
          return false;
        }
        rtt = 7;
        return true;
      }));
  const std::vector<Measured> results = measurement.MeasureAll(kAddresses, 50);
  EXPECT_TRUE(sawCancel);
  EXPECT_FALSE(results[1].answered);
  for (size_t i : {0u, 2u, 3u}) EXPECT_TRUE(results[i].answered && results[i].roundTripMs == 7) << i;
}

TEST(ServerMeasurement, RetryPassPostsEachAnswerThenItsEnd) {
  constexpr UINT kMessage = WM_APP + 7;
  HWND sink = ::CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(sink, nullptr);
  ServerMeasurement measurement(
      std::make_unique<ScriptedProbe>([](const std::string& address, int& rtt, const CancellationToken&) {
        rtt = 10 * (address.back() - '0');
        return address != "10.0.0.2";
      }));
  measurement.StartRetry({"10.0.0.1", "10.0.0.2", "10.0.0.3"}, sink, kMessage);

  std::vector<std::pair<WPARAM, LPARAM>> posted;
  for (int i = 0; i < 1000 && (posted.empty() || posted.back().first != ServerMeasurement::kRetryFinished);
       ++i) {
    MSG msg;
    if (::PeekMessageA(&msg, sink, kMessage, kMessage, PM_REMOVE)) {
      posted.emplace_back(msg.wParam, msg.lParam);
    } else {
      ::Sleep(10);
    }
  }
  const std::vector<std::pair<WPARAM, LPARAM>> expected = {
      {0, 10}, {2, 30}, {ServerMeasurement::kRetryFinished, 0}};
  EXPECT_EQ(posted, expected);
  EXPECT_EQ(measurement.RetryTarget(2), "10.0.0.3");
  EXPECT_EQ(measurement.RetryTarget(3), "");
  ::DestroyWindow(sink);
}

}  // namespace
