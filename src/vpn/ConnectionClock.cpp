#include "vpn/ConnectionClock.h"

namespace kivo::vpn {

namespace {

constexpr UINT_PTR kCheckTimerId = 1;
constexpr UINT_PTR kRedialTimerId = 2;
constexpr UINT_PTR kNetworkTimerId = 3;

UINT_PTR IdOf(ConnectionClock::Timer timer) noexcept {
  switch (timer) {
    case ConnectionClock::Timer::Check:
      return kCheckTimerId;
    case ConnectionClock::Timer::Redial:
      return kRedialTimerId;
    case ConnectionClock::Timer::Network:
      break;
  }
  return kNetworkTimerId;
}

}  // namespace

std::optional<ConnectionClock::Timer> WindowClock::TimerOfId(UINT_PTR id) noexcept {
  if (id == kCheckTimerId) return Timer::Check;
  if (id == kRedialTimerId) return Timer::Redial;
  if (id == kNetworkTimerId) return Timer::Network;
  return std::nullopt;
}

bool WindowClock::StartTimer(Timer timer, UINT periodMs) {
  return ::SetTimer(window_, IdOf(timer), periodMs, nullptr) != 0;
}

void WindowClock::StopTimer(Timer timer) { ::KillTimer(window_, IdOf(timer)); }

}  // namespace kivo::vpn
