// The rest of the library's exports. The client never calls them; they exist
// so that any component linked against the system library finds every name.
// Each one only logs its call and answers ERROR_CALL_NOT_IMPLEMENTED: among
// them the ANSI forms of the calls the client makes, so that a call to one
// of those shows in calls.log.
#include "vpn/RasRecords.h"
#include <windows.h>

#include "ApiCall.h"

namespace {

DWORD Unsupported(const char* function) {
  return kivo::rasdouble::RunApiCall(
      function, [](kivo::rasdouble::ApiCall&) -> DWORD { return ERROR_CALL_NOT_IMPLEMENTED; });
}

}  // namespace

// Functions with a published signature keep it, so that the callee removes
// exactly the arguments the caller pushed.
#define KIVO_RAS_STUB(name, parameters) \
  DWORD WINAPI name parameters { return Unsupported(#name); }

KIVO_RAS_STUB(RasClearConnectionStatistics, (HRASCONN))
KIVO_RAS_STUB(RasConnectionNotificationA, (HRASCONN, HANDLE, DWORD))
KIVO_RAS_STUB(RasConnectionNotificationW, (HRASCONN, HANDLE, DWORD))
KIVO_RAS_STUB(RasCreatePhonebookEntryA, (HWND, LPCSTR))
KIVO_RAS_STUB(RasCreatePhonebookEntryW, (HWND, LPCWSTR))
KIVO_RAS_STUB(RasDeleteEntryA, (LPCSTR, LPCSTR))
KIVO_RAS_STUB(RasDeleteSubEntryA, (LPCSTR, LPCSTR, DWORD))
KIVO_RAS_STUB(RasDeleteSubEntryW, (LPCWSTR, LPCWSTR, DWORD))
KIVO_RAS_STUB(RasDialA, (LPRASDIALEXTENSIONS, LPCSTR, LPRASDIALPARAMSA, DWORD, LPVOID, LPHRASCONN))
KIVO_RAS_STUB(RasEditPhonebookEntryA, (HWND, LPCSTR, LPCSTR))
KIVO_RAS_STUB(RasEditPhonebookEntryW, (HWND, LPCWSTR, LPCWSTR))
KIVO_RAS_STUB(RasEnumAutodialAddressesA, (LPSTR*, LPDWORD, LPDWORD))
KIVO_RAS_STUB(RasEnumAutodialAddressesW, (LPWSTR*, LPDWORD, LPDWORD))
KIVO_RAS_STUB(RasEnumConnectionsA, (LPRASCONNA, LPDWORD, LPDWORD))
KIVO_RAS_STUB(RasEnumConnectionsW, (LPRASCONNW, LPDWORD, LPDWORD))
KIVO_RAS_STUB(RasEnumDevicesA, (LPRASDEVINFOA, LPDWORD, LPDWORD))
KIVO_RAS_STUB(RasEnumDevicesW, (LPRASDEVINFOW, LPDWORD, LPDWORD))
KIVO_RAS_STUB(RasEnumEntriesA, (LPCSTR, LPCSTR, LPRASENTRYNAMEA, LPDWORD, LPDWORD))
KIVO_RAS_STUB(RasEnumEntriesW, (LPCWSTR, LPCWSTR, LPRASENTRYNAMEW, LPDWORD, LPDWORD))
KIVO_RAS_STUB(RasGetAutodialAddressA, (LPCSTR, LPDWORD, LPRASAUTODIALENTRYA, LPDWORD, LPDWORD))
KIVO_RAS_STUB(RasGetAutodialAddressW, (LPCWSTR, LPDWORD, LPRASAUTODIALENTRYW, LPDWORD, LPDWORD))
KIVO_RAS_STUB(RasGetAutodialEnableA, (DWORD, LPBOOL))
KIVO_RAS_STUB(RasGetAutodialEnableW, (DWORD, LPBOOL))
KIVO_RAS_STUB(RasGetAutodialParamA, (DWORD, LPVOID, LPDWORD))
KIVO_RAS_STUB(RasGetAutodialParamW, (DWORD, LPVOID, LPDWORD))
KIVO_RAS_STUB(RasGetConnectStatusA, (HRASCONN, LPRASCONNSTATUSA))
KIVO_RAS_STUB(RasGetCountryInfoA, (LPRASCTRYINFOA, LPDWORD))
KIVO_RAS_STUB(RasGetCountryInfoW, (LPRASCTRYINFOW, LPDWORD))
KIVO_RAS_STUB(RasGetCredentialsA, (LPCSTR, LPCSTR, LPRASCREDENTIALSA))
KIVO_RAS_STUB(RasGetCredentialsW, (LPCWSTR, LPCWSTR, LPRASCREDENTIALSW))
KIVO_RAS_STUB(RasGetEntryDialParamsA, (LPCSTR, LPRASDIALPARAMSA, LPBOOL))
KIVO_RAS_STUB(RasGetEntryDialParamsW, (LPCWSTR, LPRASDIALPARAMSW, LPBOOL))
KIVO_RAS_STUB(RasGetEntryPropertiesA, (LPCSTR, LPCSTR, LPRASENTRYA, LPDWORD, LPBYTE, LPDWORD))
KIVO_RAS_STUB(RasGetErrorStringA, (UINT, LPSTR, DWORD))
KIVO_RAS_STUB(RasGetLinkStatistics, (HRASCONN, DWORD, RAS_STATS*))
KIVO_RAS_STUB(RasGetProjectionInfoA, (HRASCONN, RASPROJECTION, LPVOID, LPDWORD))
KIVO_RAS_STUB(RasGetSubEntryHandleA, (HRASCONN, DWORD, LPHRASCONN))
KIVO_RAS_STUB(RasGetSubEntryHandleW, (HRASCONN, DWORD, LPHRASCONN))
KIVO_RAS_STUB(RasGetSubEntryPropertiesA, (LPCSTR, LPCSTR, DWORD, LPRASSUBENTRYA, LPDWORD, LPBYTE, LPDWORD))
KIVO_RAS_STUB(RasGetSubEntryPropertiesW, (LPCWSTR, LPCWSTR, DWORD, LPRASSUBENTRYW, LPDWORD, LPBYTE, LPDWORD))
KIVO_RAS_STUB(RasHangUpA, (HRASCONN))
KIVO_RAS_STUB(RasRenameEntryA, (LPCSTR, LPCSTR, LPCSTR))
KIVO_RAS_STUB(RasRenameEntryW, (LPCWSTR, LPCWSTR, LPCWSTR))
KIVO_RAS_STUB(RasSetAutodialAddressA, (LPCSTR, DWORD, LPRASAUTODIALENTRYA, DWORD, DWORD))
KIVO_RAS_STUB(RasSetAutodialAddressW, (LPCWSTR, DWORD, LPRASAUTODIALENTRYW, DWORD, DWORD))
KIVO_RAS_STUB(RasSetAutodialEnableA, (DWORD, WINBOOL))
KIVO_RAS_STUB(RasSetAutodialEnableW, (DWORD, WINBOOL))
KIVO_RAS_STUB(RasSetAutodialParamA, (DWORD, LPVOID, DWORD))
KIVO_RAS_STUB(RasSetAutodialParamW, (DWORD, LPVOID, DWORD))
KIVO_RAS_STUB(RasSetCredentialsA, (LPCSTR, LPCSTR, LPRASCREDENTIALSA, WINBOOL))
KIVO_RAS_STUB(RasSetCustomAuthDataA, (LPCSTR, LPCSTR, BYTE*, DWORD))
KIVO_RAS_STUB(RasSetCustomAuthDataW, (LPCWSTR, LPCWSTR, BYTE*, DWORD))
KIVO_RAS_STUB(RasSetEntryDialParamsA, (LPCSTR, LPRASDIALPARAMSA, WINBOOL))
KIVO_RAS_STUB(RasSetEntryDialParamsW, (LPCWSTR, LPRASDIALPARAMSW, WINBOOL))
KIVO_RAS_STUB(RasSetEntryPropertiesA, (LPCSTR, LPCSTR, LPRASENTRYA, DWORD, LPBYTE, DWORD))
KIVO_RAS_STUB(RasSetSubEntryPropertiesA, (LPCSTR, LPCSTR, DWORD, LPRASSUBENTRYA, DWORD, LPBYTE, DWORD))
KIVO_RAS_STUB(RasSetSubEntryPropertiesW, (LPCWSTR, LPCWSTR, DWORD, LPRASSUBENTRYW, DWORD, LPBYTE, DWORD))
KIVO_RAS_STUB(RasValidateEntryNameA, (LPCSTR, LPCSTR))

// Old and internal entry points without a published signature. They take
// their arguments the C way, where the caller removes what it pushed, so a
// call cannot unbalance the stack whatever it passes.
#define KIVO_RAS_LEGACY_STUB(name) \
  extern "C" DWORD __cdecl name(...) { return Unsupported(#name); }

KIVO_RAS_LEGACY_STUB(DialEngineRequest)
KIVO_RAS_LEGACY_STUB(DialInMessage)
KIVO_RAS_LEGACY_STUB(RasAutodialAddressToNetwork)
KIVO_RAS_LEGACY_STUB(RasAutodialEntryToNetwork)
KIVO_RAS_LEGACY_STUB(RasDial16)
KIVO_RAS_LEGACY_STUB(RasDialWow)
KIVO_RAS_LEGACY_STUB(RasEnumConnectionsWow)
KIVO_RAS_LEGACY_STUB(RasEnumEntriesWow)
KIVO_RAS_LEGACY_STUB(RasGetConnectResponse)
KIVO_RAS_LEGACY_STUB(RasGetConnectStatusWow)
KIVO_RAS_LEGACY_STUB(RasGetErrorStringWow)
KIVO_RAS_LEGACY_STUB(RasGetHport)
KIVO_RAS_LEGACY_STUB(RasHangUpWow)
KIVO_RAS_LEGACY_STUB(RasSetOldPassword)
KIVO_RAS_LEGACY_STUB(RnaActivateEngine)
KIVO_RAS_LEGACY_STUB(RnaBuildDevConfig)
KIVO_RAS_LEGACY_STUB(RnaCloseMac)
KIVO_RAS_LEGACY_STUB(RnaComplete)
KIVO_RAS_LEGACY_STUB(RnaDeactivateEngine)
KIVO_RAS_LEGACY_STUB(RnaDeleteConnEntry)
KIVO_RAS_LEGACY_STUB(RnaDevConfigDlg)
KIVO_RAS_LEGACY_STUB(RnaEngineRequest)
KIVO_RAS_LEGACY_STUB(RnaEnumConnEntries)
KIVO_RAS_LEGACY_STUB(RnaEnumCountryInfo)
KIVO_RAS_LEGACY_STUB(RnaEnumDevices)
KIVO_RAS_LEGACY_STUB(RnaEnumerateMacNames)
KIVO_RAS_LEGACY_STUB(RnaFindDriver)
KIVO_RAS_LEGACY_STUB(RnaFreeConnEntry)
KIVO_RAS_LEGACY_STUB(RnaFreeDevConfig)
KIVO_RAS_LEGACY_STUB(RnaGetAreaCodeList)
KIVO_RAS_LEGACY_STUB(RnaGetConnEntry)
KIVO_RAS_LEGACY_STUB(RnaGetDefaultDevConfig)
KIVO_RAS_LEGACY_STUB(RnaGetDeviceInfo)
KIVO_RAS_LEGACY_STUB(RnaGetDevicePort)
KIVO_RAS_LEGACY_STUB(RnaGetDialSettings)
KIVO_RAS_LEGACY_STUB(RnaGetIPInfo)
KIVO_RAS_LEGACY_STUB(RnaGetUserProfile)
KIVO_RAS_LEGACY_STUB(RnaImplicitDial)
KIVO_RAS_LEGACY_STUB(RnaInstallDriver)
KIVO_RAS_LEGACY_STUB(RnaOpenMac)
KIVO_RAS_LEGACY_STUB(RnaRenameConnEntry)
KIVO_RAS_LEGACY_STUB(RnaSMMInfoDialog)
KIVO_RAS_LEGACY_STUB(RnaSaveConnEntry)
KIVO_RAS_LEGACY_STUB(RnaSessInitialize)
KIVO_RAS_LEGACY_STUB(RnaSetDialSettings)
KIVO_RAS_LEGACY_STUB(RnaSetIPInfo)
KIVO_RAS_LEGACY_STUB(RnaStartCallback)
KIVO_RAS_LEGACY_STUB(RnaTerminate)
KIVO_RAS_LEGACY_STUB(RnaUICallbackDialog)
KIVO_RAS_LEGACY_STUB(RnaUIDial)
KIVO_RAS_LEGACY_STUB(RnaUIUsernamePassword)
KIVO_RAS_LEGACY_STUB(RnaValidateEntryName)
KIVO_RAS_LEGACY_STUB(SuprvDeInitialize)
KIVO_RAS_LEGACY_STUB(SuprvEnumAccessInfo)
KIVO_RAS_LEGACY_STUB(SuprvGetAccessInfo)
KIVO_RAS_LEGACY_STUB(SuprvGetAdminConfig)
KIVO_RAS_LEGACY_STUB(SuprvInitialize)
KIVO_RAS_LEGACY_STUB(SuprvRequest)
KIVO_RAS_LEGACY_STUB(SuprvSetAccessInfo)
