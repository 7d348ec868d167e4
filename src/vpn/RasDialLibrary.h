// The dial library of the running client: the system's RAS calls on the
// user's own phonebook.
#pragma once

#include <utility>

#include "vpn/DialLibrary.h"
#include "vpn/Phonebook.h"

namespace kivo::vpn {

class RasDialLibrary : public DialLibrary {
 public:
  explicit RasDialLibrary(Phonebook phonebook) : phonebook_(std::move(phonebook)) {}

  // The window each dial's notices are posted to (its callback id).
  void SetNoticeWindow(HWND window) noexcept { noticeWindow_ = window; }
  // The language of the system's RAS library, found once at start.
  void SetRasLanguage(WORD rasLangId) noexcept { rasLangId_ = rasLangId; }

  DWORD ValidateEntry() override { return phonebook_.ValidateEntry(); }
  void DeleteEntryIfPresent() override { phonebook_.DeleteEntryIfPresent(); }
  bool QueryEntrySizes(EntrySizes& sizes) override { return phonebook_.QueryEntrySizes(sizes); }
  bool ReadEntry(const EntrySizes& sizes) override { return phonebook_.ReadEntry(sizes); }
  bool WriteEntry(const EntrySizes& sizes, const std::string& server) override {
    return phonebook_.WriteEntry(sizes, server, rasLangId_);
  }

  DWORD Dial(const std::wstring& user, const std::wstring& password, unsigned slot, HRASCONN& handle) override;
  void HangUp(HRASCONN handle) override;
  DWORD ConnectStatus(HRASCONN handle, DWORD& state) override;
  bool ProjectedAddress(HRASCONN handle, std::wstring& address) override;
  bool Statistics(HRASCONN handle, LinkStatistics& statistics) override;

 private:
  Phonebook phonebook_;
  HWND noticeWindow_ = nullptr;
  WORD rasLangId_ = 0;
};

}  // namespace kivo::vpn
