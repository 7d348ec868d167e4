// The RAS records the client exchanges with the system, with the sizes the
// system expects of this program: RASDIALPARAMSA ends with dwSubEntry and
// dwCallbackId (ULONG_PTR), so it grows by 4 bytes of padding in the 64-bit
// build; the others have the same size in both.
#pragma once

#include <windows.h>
#include <ras.h>
#include <raserror.h>

#ifdef _WIN64
static_assert(sizeof(RASDIALPARAMSA) == 1064, "RASDIALPARAMSA of the 64-bit client");
#else
static_assert(sizeof(RASDIALPARAMSA) == 1060, "RASDIALPARAMSA of the 32-bit client");
#endif
static_assert(sizeof(RASENTRYA) == 2884, "RASENTRYA layout of the client");
static_assert(sizeof(RASCONNSTATUSA) == 288, "RASCONNSTATUSA of the client");
static_assert(sizeof(RASPPPIPA) == 48, "RASPPPIPA of the client");
static_assert(sizeof(RAS_STATS) == 60, "RAS_STATS of the client");

namespace kivo::vpn {

// Dial notification posted to the main window (the value the RAS headers
// name WM_RASDIALEVENT) and the redial request.
inline constexpr UINT kDialEventMessage = 0xCCCD;
inline constexpr UINT kRedialMessage = WM_USER + 100;

}  // namespace kivo::vpn
