#include "servers/ServerMeasurement.h"

#include "servers/IcmpPinger.h"

namespace kivo::servers {

bool IcmpProbe::Once(const std::string& address, int& roundTripMs, const toolkit::CancellationToken& cancel) {
  CIcmpPinger pinger(cancel);
  return pinger.Ping(address, roundTripMs);
}

bool IcmpProbe::WithRetries(const std::string& address, int& roundTripMs,
                            const toolkit::CancellationToken& cancel) {
  CIcmpPinger pinger(cancel);
  return pinger.PingWithRetries(address, roundTripMs);
}

Performance MeasurePerformance(const std::string& address, const toolkit::CancellationToken& cancel) {
  Performance result;
  CIcmpPinger pinger(cancel);
  pinger.Measure(address, result.averageMs, result.percent);
  return result;
}

ServerMeasurement::ServerMeasurement(std::unique_ptr<Probe> probe) : probe_(std::move(probe)) {}

ServerMeasurement::~ServerMeasurement() {
  retryCancel_.Cancel();
  retryThread_.Join();
}

std::vector<Measured> ServerMeasurement::MeasureAll(const std::vector<std::string>& addresses,
                                                    DWORD boundMs) {
  std::vector<Measured> results(addresses.size());
  toolkit::CancellationToken cancel;
  Probe& probe = *probe_;
  auto measure = [&probe, &cancel](const std::string& address, Measured& slot) {
    slot.answered = probe.Once(address, slot.roundTripMs, cancel);
  };

  std::vector<toolkit::WorkerThread> workers(addresses.size());
  std::vector<HANDLE> running;
  std::vector<size_t> unstarted;
  for (size_t i = 0; i < addresses.size(); ++i) {
    if (workers[i].Start(
            [&measure, &address = addresses[i], &slot = results[i]] { measure(address, slot); })) {
      running.push_back(workers[i].EndedEvent());
    } else {
      unstarted.push_back(i);
    }
  }
  // All at once: the window appears after the slowest single measurement,
  // or once the bound has passed.
  if (!running.empty() && ::WaitForMultipleObjects(static_cast<DWORD>(running.size()), running.data(), TRUE,
                                                   boundMs) != WAIT_OBJECT_0) {
    cancel.Cancel();
  }
  // A cancelled worker ends before its next echo, as a failure.
  for (auto& worker : workers) worker.Join();
  if (!cancel.Cancelled()) {
    for (size_t i : unstarted) measure(addresses[i], results[i]);
  }
  return results;
}

void ServerMeasurement::StartRetry(std::vector<std::string> targets, HWND window, UINT message) {
  retryCancel_.Cancel();
  retryThread_.Join();
  retryCancel_.Reset();
  retryTargets_ = targets;
  Probe& probe = *probe_;
  const toolkit::CancellationToken& cancel = retryCancel_;
  retryThread_.Start([targets = std::move(targets), window, message, &probe, &cancel] {
    for (size_t i = 0; i < targets.size(); ++i) {
      if (cancel.Cancelled()) return;
      int roundTrip = 0;
      if (probe.WithRetries(targets[i], roundTrip, cancel))
        ::PostMessageW(window, message, static_cast<WPARAM>(i), static_cast<LPARAM>(roundTrip));
    }
    ::PostMessageW(window, message, kRetryFinished, 0);
  });
}

std::string ServerMeasurement::RetryTarget(WPARAM index) const {
  return index < retryTargets_.size() ? retryTargets_[index] : std::string();
}

}  // namespace kivo::servers
