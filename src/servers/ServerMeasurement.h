// The measurement of the catalogue's servers: the start-up pass, which
// measures every server at once and hands back one result per server, the
// performance test of one server, and the retry pass, which measures again, in the background, the servers that
// did not answer and posts each answer to a window.
//
// Each start-up worker writes only its own result slot, so that joining the
// workers is all the synchronisation there is. The retry worker gets its
// own copy of the targets and a window handle: it touches no object of the
// window.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "toolkit/Sync.h"
#include "toolkit/Thread.h"

namespace kivo::servers {

// How one server is measured. Called on worker threads, several at once.
class Probe {
 public:
  virtual ~Probe() = default;
  // One round trip (the start-up pass).
  virtual bool Once(const std::string& address, int& roundTripMs,
                    const toolkit::CancellationToken& cancel) = 0;
  // Up to five attempts (the retry pass).
  virtual bool WithRetries(const std::string& address, int& roundTripMs,
                           const toolkit::CancellationToken& cancel) = 0;
};

// ICMP echo requests, one prober per measurement.
class IcmpProbe : public Probe {
 public:
  bool Once(const std::string& address, int& roundTripMs, const toolkit::CancellationToken& cancel) override;
  bool WithRetries(const std::string& address, int& roundTripMs,
                   const toolkit::CancellationToken& cancel) override;
};

struct Measured {
  bool answered = false;
  int roundTripMs = 0;
};

// The performance test of one server: fifty echoes, the share answered in
// percent and their mean round trip.
struct Performance {
  int percent = 0;
  float averageMs = 0.0f;
};
Performance MeasurePerformance(const std::string& address, const toolkit::CancellationToken& cancel);

class ServerMeasurement {
 public:
  // The start-up pass ends at the latest this long after it began (plus
  // the echo in flight): the window never waits for a hung measurement.
  static constexpr DWORD kStartupBoundMs = 5000;
  // wParam of the retry pass's last message.
  static constexpr WPARAM kRetryFinished = static_cast<WPARAM>(-1);

  explicit ServerMeasurement(std::unique_ptr<Probe> probe = std::make_unique<IcmpProbe>());
  // Cancels the retry pass and waits for it.
  ~ServerMeasurement();
  ServerMeasurement(const ServerMeasurement&) = delete;
  ServerMeasurement& operator=(const ServerMeasurement&) = delete;

  // One worker per address, all at once; returns the result of each
  // address at its index. A worker still measuring after `boundMs` is
  // cancelled and joined, and its server counts as not answering. A worker
  // that cannot start has its server measured on the calling thread.
  std::vector<Measured> MeasureAll(const std::vector<std::string>& addresses,
                                   DWORD boundMs = kStartupBoundMs);

  // Measures `targets` one after another on a worker thread and posts
  // `message` to `window` for each that answers (wParam its index, lParam
  // its round trip), then once with wParam kRetryFinished.
  void StartRetry(std::vector<std::string> targets, HWND window, UINT message);
  // The address of a posted index; empty for any other value.
  std::string RetryTarget(WPARAM index) const;
  // Ends the retry pass before its next attempt (the window is going).
  void Cancel() noexcept { retryCancel_.Cancel(); }

 private:
  std::unique_ptr<Probe> probe_;
  std::vector<std::string> retryTargets_;
  toolkit::CancellationToken retryCancel_;
  // Declared last: it ends before the rest goes.
  toolkit::WorkerThread retryThread_;
};

}  // namespace kivo::servers
