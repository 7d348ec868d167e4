#include "vpn/DialNotifier.h"

#include <array>
#include <utility>

#include "toolkit/Application.h"
#include "vpn/RasRecords.h"

namespace kivo::vpn {
namespace {

// Runs on a thread of the RAS library: posts, touches nothing else.
template <unsigned Slot>
void WINAPI Notify(UINT, RASCONNSTATE state, DWORD error) {
  auto* app = toolkit::Application::Current();
  HWND main = app != nullptr ? app->MainWindow() : nullptr;
  if (main != nullptr) {
    ::PostMessageA(main, kDialEventMessage, PackDialNotice(static_cast<DWORD>(state), Slot),
                   static_cast<LPARAM>(error));
  }
}

template <unsigned... Index>
constexpr std::array<RASDIALFUNC, sizeof...(Index)> MakeNotifiers(std::integer_sequence<unsigned, Index...>) {
  return {&Notify<Index + 1>...};
}

constexpr auto kNotifiers = MakeNotifiers(std::make_integer_sequence<unsigned, kDialSlots>());

}  // namespace

WPARAM PackDialNotice(DWORD state, unsigned slot) noexcept {
  return static_cast<WPARAM>((state & 0xFFFF) | ((slot & 0xFF) << 16));
}

DialNotice UnpackDialNotice(WPARAM wp) noexcept {
  return {static_cast<DWORD>(wp & 0xFFFF), static_cast<unsigned>((wp >> 16) & 0xFF)};
}

RASDIALFUNC DialSequence::NextNotifier() noexcept {
  current_ = current_ % kDialSlots + 1;
  return kNotifiers[current_ - 1];
}

bool DialSequence::IsCurrent(WPARAM wp) const noexcept {
  return current_ != 0 && UnpackDialNotice(wp).slot == current_;
}

}  // namespace kivo::vpn
