// Queries about windows that may belong to other processes. Everything that
// sends a message does so with a time-out, so a hung target can never hang
// the driver; a time-out is reported as a CommandError with code "timeout".
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "Json.h"

namespace kivo::driver {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const wchar_t* text, size_t length);
inline std::string Narrow(const std::wstring& text) { return Narrow(text.data(), text.size()); }

// Handles cross the protocol as plain integers.
inline Json HandleJson(const void* h) { return Json(static_cast<long long>(reinterpret_cast<uintptr_t>(h))); }

// SendMessageTimeoutW; throws CommandError("timeout") when the target does
// not answer in time.
LRESULT SendWithTimeout(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, DWORD timeout);

std::string ClassName(HWND hwnd);
// The window's own caption as the window manager keeps it (no message sent).
std::string Caption(HWND hwnd);
// The text a window reports through WM_GETTEXT: an edit's contents, a combo's
// edit field, a static's label.
std::string MessageText(HWND hwnd, DWORD timeout);
DWORD ProcessOf(HWND hwnd);

// Title, class, styles, state, rectangle, owner and process of a window.
// `withText` adds "text" read through WM_GETTEXT.
Json Describe(HWND hwnd, DWORD timeout, bool withText);

// Top-level windows in z-order, hidden ones included.
std::vector<HWND> TopLevelWindows();
// Children of `parent`: its direct children, or every descendant with `deep`.
std::vector<HWND> ChildWindows(HWND parent, bool deep);

}  // namespace kivo::driver
