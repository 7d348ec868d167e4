// Texts of the connection: dial states, dial errors and the statistics
// shown in the tray.
#pragma once

#include <windows.h>

#include <string>

#include "toolkit/Language.h"

namespace kivo::vpn {

// String-table id of a dial state's text (IDS_STATE_FIRST and the 23 after
// it); 1 (no text) for a state without one.
UINT StateTextId(DWORD state) noexcept;

// The system's text for a RAS error code (or `unknownText` when it has
// none), followed directly by `codeFormat` formatted with the code.
std::wstring FormatDialError(DWORD code, const std::wstring& unknownText, const std::wstring& codeFormat);

// The failure box's text in the set `texts`: FormatDialError, and for the
// errors users meet most a line on what to do.
std::wstring FormatDialFailure(DWORD code, const toolkit::TextSet& texts);

// The tray's statistics text from the format of the chosen set.
std::wstring FormatStatusText(const std::wstring& format, DWORD bitsPerSecond, DWORD bytesSent,
                              DWORD bytesReceived, const std::wstring& ipAddress);

}  // namespace kivo::vpn
