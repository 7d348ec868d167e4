// The RAS records the client exchanges with the system (their W forms), with
// the sizes the system expects of this program: RASDIALPARAMSW ends with
// dwSubEntry and dwCallbackId (ULONG_PTR), so it grows by 4 bytes of padding
// in the 64-bit build; the others have the same size in both.
#pragma once

#include <windows.h>

// The program is built for Windows 7 and later, but its RAS records keep the
// layout of Windows XP, which every later system accepts (the Windows 7
// headers would add dwIfIndex to RASDIALPARAMSW), and the error names of
// that version. Every file that needs the RAS declarations includes them
// through this header.
#pragma push_macro("WINVER")
#pragma push_macro("_WIN32_WINNT")
#undef WINVER
#undef _WIN32_WINNT
#define WINVER 0x0501
#define _WIN32_WINNT 0x0501
#include <ras.h>
#include <raserror.h>
#pragma pop_macro("_WIN32_WINNT")
#pragma pop_macro("WINVER")

#ifdef _WIN64
static_assert(sizeof(RASDIALPARAMSW) == 2108, "RASDIALPARAMSW of the 64-bit client");
#else
static_assert(sizeof(RASDIALPARAMSW) == 2104, "RASDIALPARAMSW of the 32-bit client");
#endif
static_assert(sizeof(RASENTRYW) == 5616, "RASENTRYW layout of the client");
static_assert(sizeof(RASCONNSTATUSW) == 564, "RASCONNSTATUSW of the client");
static_assert(sizeof(RASPPPIPW) == 80, "RASPPPIPW of the client");
static_assert(sizeof(RASCREDENTIALSW) == 1068, "RASCREDENTIALSW of the client");
static_assert(sizeof(RAS_STATS) == 60, "RAS_STATS of the client");

namespace kivo::vpn {

// Dial notification posted to the main window (the value the RAS headers
// name WM_RASDIALEVENT).
inline constexpr UINT kDialEventMessage = 0xCCCD;

}  // namespace kivo::vpn
