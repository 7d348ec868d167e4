// The private phonebook entry "Kivoline", kept in the user's own phonebook.
#pragma once

#include <windows.h>

#include "vpn/RasRecords.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kivo::vpn {

inline constexpr const wchar_t* kEntryName = L"Kivoline";
inline constexpr DWORD kEntryBufferSize = sizeof(RASENTRYW);

// 0 or 621 from validation mean no usable entry.
bool IsEntryPresent(DWORD validation) noexcept;

// Name of the L2TP WAN miniport in the language of the system's RAS library.
std::wstring DeviceNameFor(WORD rasLangId);

// The record as written: exposed for tests of the field values. With a
// pre-shared key the entry is L2TP/IPsec only, with encryption required.
std::vector<BYTE> BuildEntryRecord(DWORD reportedSize, const std::string& server, WORD rasLangId,
                                   bool preSharedKey = false);

// RasSetCredentialsW, or a stand-in of the tests.
using SetCredentialsFunction = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, LPRASCREDENTIALSW, BOOL);

// Stores `key` as the pre-shared key of the entry in `phonebook` (null: the
// default one), and nothing else of its credentials. The record that
// carried it is wiped.
DWORD StorePreSharedKey(const wchar_t* phonebook, std::wstring_view key,
                        SetCredentialsFunction setCredentials = ::RasSetCredentialsW);

// Sizes the system reports for an entry record and its device information.
struct EntrySizes {
  DWORD entry = 0;
  DWORD deviceInfo = 0;
};

// One phonebook file and the entry in it. The default phonebook (a null
// path) is the all-users one, which only an administrator may write; the
// client runs as the user and keeps its entry in the user's own file.
class Phonebook {
 public:
  // The phonebook of the user running the program,
  // %APPDATA%\Microsoft\Network\Connections\Pbk\rasphone.pbk; the default
  // one when the system names no application-data folder.
  static Phonebook OfCurrentUser();

  explicit Phonebook(std::wstring path) : path_(std::move(path)) {}

  // The path as the RAS calls take it: null for the default phonebook.
  const wchar_t* Path() const noexcept { return path_.empty() ? nullptr : path_.c_str(); }

  DWORD ValidateEntry() const;
  // Deletes the entry unless validation says there is none.
  void DeleteEntryIfPresent() const;
  // The size query; false when the system reports a failure.
  bool QueryEntrySizes(EntrySizes& sizes) const;
  // Reads the existing entry into a fresh zero-filled record.
  bool ReadEntry(const EntrySizes& sizes) const;
  // Writes the VPN entry for `server`, creating the phonebook's folder when
  // it is missing (a user who never made a connection has none). With the
  // service's pre-shared key (KIVO_L2TP_PSK) the key is stored on it too.
  bool WriteEntry(const EntrySizes& sizes, const std::string& server, WORD rasLangId) const;

 private:
  std::wstring path_;
};

}  // namespace kivo::vpn
