// Dial notifications and the dial they belong to.
//
// The system reports a dial's states to a notifier of type 0, a plain
// function without any context. So that a notice of an earlier dial, handled
// late, is never taken for one of the dial now held, every dial gets a
// notifier of its own from a round of kDialSlots functions, and each notice
// names the slot of the function that posted it. A slot comes round again
// only kDialSlots dials later.
#pragma once

#include <windows.h>
#include <ras.h>

namespace kivo::vpn {

inline constexpr unsigned kDialSlots = 16;

struct DialNotice {
  DWORD state;    // the RASCONNSTATE value
  unsigned slot;  // 1 to kDialSlots; 0 for a notice that names no dial
};

// The wParam of a dial notification: the state in the low 16 bits (every
// RASCONNSTATE value fits), the slot above them.
WPARAM PackDialNotice(DWORD state, unsigned slot) noexcept;
DialNotice UnpackDialNotice(WPARAM wp) noexcept;

// The dials of one window, in the order they were started.
class DialSequence {
 public:
  // The notifier to give the next dial, which becomes the current one. It
  // posts kDialEventMessage to the application's main window.
  RASDIALFUNC NextNotifier() noexcept;
  // Whether a notification (its wParam) was posted for the current dial.
  bool IsCurrent(WPARAM wp) const noexcept;

 private:
  unsigned current_ = 0;  // no dial yet
};

}  // namespace kivo::vpn
