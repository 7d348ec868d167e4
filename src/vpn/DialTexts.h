// Texts of the connection: dial states, dial errors and the statistics
// shown in the tray.
#pragma once

#include <windows.h>

#include <string>

#include "toolkit/Language.h"

namespace kivo::vpn {

// String-table id of a dial state's text: 100 to 123 Chinese, 124 to 147
// English; 1 (no text) for a state without one.
UINT StateTextId(DWORD state, bool chinese) noexcept;

// The system's text for a RAS error code (or `unknownText` when it has
// none), followed directly by `codeFormat` formatted with the code.
std::string FormatDialError(DWORD code, const std::string& unknownText, const std::string& codeFormat);

// The failure box's text: FormatDialError, and for the errors users meet
// most a line on what to do, in `language`.
std::string FormatDialFailure(DWORD code, const std::string& unknownText, const std::string& codeFormat,
                              toolkit::Language language);

// The tray's statistics text from the format of the chosen language.
std::string FormatStatusText(const std::string& format, DWORD bitsPerSecond, DWORD bytesSent,
                             DWORD bytesReceived, const std::string& ipAddress);

}  // namespace kivo::vpn
