// What the connection asks of the system's dialler: the phonebook entry,
// the dial, and the state of the link. RasDialLibrary calls rasapi32; the
// unit tests give a fake.
#pragma once

#include <windows.h>
#include "vpn/RasRecords.h"

#include <string>

#include "vpn/Phonebook.h"

namespace kivo::vpn {

struct LinkStatistics {
  DWORD bitsPerSecond = 0;
  DWORD bytesSent = 0;
  DWORD bytesReceived = 0;
};

class DialLibrary {
 public:
  virtual ~DialLibrary() = default;

  // The entry "Kivoline", as Phonebook has it.
  virtual DWORD ValidateEntry() = 0;
  virtual void DeleteEntryIfPresent() = 0;
  virtual bool QueryEntrySizes(EntrySizes& sizes) = 0;
  virtual bool ReadEntry(const EntrySizes& sizes) = 0;
  // The entry dialling `server`, its device named in the language of the
  // system's RAS library.
  virtual bool WriteEntry(const EntrySizes& sizes, const std::string& server) = 0;

  // Starts the asynchronous dial of the entry, whose notices name `slot`.
  // 0 when it started; otherwise the error, and `handle` holds whatever the
  // system stored in it.
  virtual DWORD Dial(const std::wstring& user, const std::wstring& password, unsigned slot,
                     HRASCONN& handle) = 0;
  // Starts the hang-up; the result is of no use.
  virtual void HangUp(HRASCONN handle) = 0;
  // RasGetConnectStatusW: its result, and the state when that is 0.
  virtual DWORD ConnectStatus(HRASCONN handle, DWORD& state) = 0;
  // The client's address on the link; false when the system has none.
  virtual bool ProjectedAddress(HRASCONN handle, std::wstring& address) = 0;
  virtual bool Statistics(HRASCONN handle, LinkStatistics& statistics) = 0;
};

}  // namespace kivo::vpn
