#include "vpn/DialNotifier.h"

#include <array>
#include <utility>

#include "vpn/RasRecords.h"

namespace kivo::vpn {
namespace {

// Runs on a thread of the RAS library: posts, touches nothing else.
template <unsigned Slot>
DWORD WINAPI Notify(ULONG_PTR callbackId, DWORD, HRASCONN, UINT, RASCONNSTATE state, DWORD error, DWORD) {
  // A null window would post to this thread's own queue, which nobody reads.
  if (HWND window = reinterpret_cast<HWND>(callbackId)) {
    ::PostMessageW(window, kDialEventMessage, PackDialNotice(static_cast<DWORD>(state), Slot),
                   static_cast<LPARAM>(error));
  }
  return 1;  // keep reporting
}

template <unsigned... Index>
constexpr std::array<RASDIALFUNC2, sizeof...(Index)> MakeNotifiers(
    std::integer_sequence<unsigned, Index...>) {
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

RASDIALFUNC2 NotifierOfSlot(unsigned slot) noexcept {
  return slot >= 1 && slot <= kDialSlots ? kNotifiers[slot - 1] : nullptr;
}

unsigned DialSequence::Next() noexcept {
  current_ = current_ % kDialSlots + 1;
  return current_;
}

bool DialSequence::IsCurrent(const DialNotice& notice) const noexcept {
  return current_ != 0 && notice.slot == current_;
}

}  // namespace kivo::vpn
