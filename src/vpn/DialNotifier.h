// Dial notifications and the dial they belong to.
//
// The system reports a dial's states to a notifier of type 2, which receives
// the dial's callback id: the window the notices are posted to. So that a
// notice of an earlier dial, handled late, is never taken for one of the dial
// now held, every dial gets a notifier of its own from a round of kDialSlots
// functions, and each notice names the slot of the function that posted it.
// A slot comes round again only kDialSlots dials later. (A posted message has
// two words, too few for the state, the error and a pointer-sized handle in
// the 32-bit build; and the system may hand out a handle value again.)
#pragma once

#include <windows.h>
#include "vpn/RasRecords.h"

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

// The notifier of a slot (1 to kDialSlots). It posts kDialEventMessage to
// the window its dial's callback id names, and does nothing else.
RASDIALFUNC2 NotifierOfSlot(unsigned slot) noexcept;

// The dials of one connection, in the order they were started.
class DialSequence {
 public:
  // The slot of the next dial, which becomes the current one.
  unsigned Next() noexcept;
  // Whether a notice was posted for the current dial.
  bool IsCurrent(const DialNotice& notice) const noexcept;

 private:
  unsigned current_ = 0;  // no dial yet
};

}  // namespace kivo::vpn
