// The 32-bit RAS records the client exchanges with the system, with the
// sizes the system expects of this program.
#pragma once

#include <windows.h>
#include <ras.h>
#include <raserror.h>

static_assert(sizeof(RASENTRYA) == 2884, "RASENTRYA layout of the 32-bit client");
static_assert(sizeof(RASDIALPARAMSA) == 1060, "RASDIALPARAMSA ends with dwSubEntry and dwCallbackId");
static_assert(sizeof(RASCONNSTATUSA) == 288, "RASCONNSTATUSA of the 32-bit client");
static_assert(sizeof(RASPPPIPA) == 48, "RASPPPIPA of the 32-bit client");
static_assert(sizeof(RAS_STATS) == 60, "RAS_STATS of the 32-bit client");

namespace kivo::vpn {

// Dial notification posted to the main window (the value the RAS headers
// name WM_RASDIALEVENT) and the redial request.
inline constexpr UINT kDialEventMessage = 0xCCCD;
inline constexpr UINT kRedialMessage = WM_USER + 100;

}  // namespace kivo::vpn
