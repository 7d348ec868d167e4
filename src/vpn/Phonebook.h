// The private phonebook entry "Kivoline" in the default phonebook.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kivo::vpn {

inline constexpr const char* kEntryName = "Kivoline";
inline constexpr DWORD kEntryBufferSize = 2884;

// Validation result of the entry name: 0 or 621 mean no usable entry.
DWORD ValidateEntry();
bool IsEntryPresent(DWORD validation) noexcept;
// Deletes the entry unless validation says there is none.
void DeleteEntryIfPresent();

// Name of the L2TP WAN miniport in the language of the system's RAS library,
// as bytes of that language's ANSI code page.
std::string DeviceNameFor(WORD rasLangId);

// Sizes the system reports for an entry record and its device information.
struct EntrySizes {
  DWORD entry = 0;
  DWORD deviceInfo = 0;
};
// The size query; false when the system reports a failure.
bool QueryEntrySizes(EntrySizes& sizes);
// Reads the existing entry into a fresh zero-filled record.
bool ReadEntry(const EntrySizes& sizes);
// Writes the VPN entry for `server`.
bool WriteEntry(const EntrySizes& sizes, const std::string& server, WORD rasLangId);

// The record as written: exposed for tests of the field values.
std::vector<BYTE> BuildEntryRecord(DWORD reportedSize, const std::string& server, WORD rasLangId);

}  // namespace kivo::vpn
