// The dialler's devices, apart from the rest of the settings: the RAS
// declarations come with the layout of their own header (vpn/RasRecords.h).
#include <windows.h>
#include "vpn/RasRecords.h"

#include <cwchar>
#include <vector>

#include "diag/SystemSettings.h"

namespace kivo::diag {

// --- The dialler's devices ----------------------------------------------------

Presence WindowsSettings::L2tpDevice() {
  DWORD size = 0;
  DWORD count = 0;
  RASDEVINFOW probe = {};
  probe.dwSize = sizeof(RASDEVINFOW);
  DWORD result = ::RasEnumDevicesW(&probe, &size, &count);
  std::vector<RASDEVINFOW> devices;
  if (result == ERROR_BUFFER_TOO_SMALL && size >= sizeof(RASDEVINFOW)) {
    devices.resize(size / sizeof(RASDEVINFOW));
    for (RASDEVINFOW& device : devices) device.dwSize = sizeof(RASDEVINFOW);
    result = ::RasEnumDevicesW(devices.data(), &size, &count);
  } else if (result == 0) {
    devices.push_back(probe);
  }
  if (result != 0) return Presence::Unknown;
  for (DWORD i = 0; i < count && i < devices.size(); ++i) {
    const RASDEVINFOW& device = devices[i];
    // The miniport's name follows the RAS library's language ("WAN
    // Miniport (L2TP)", "WAN 微型端口 (L2TP)", ...), "L2TP" in each.
    if (_wcsicmp(device.szDeviceType, RASDT_Vpn) == 0 &&
        std::wcsstr(device.szDeviceName, L"L2TP") != nullptr) {
      return Presence::Yes;
    }
  }
  return Presence::No;
}

}  // namespace kivo::diag
