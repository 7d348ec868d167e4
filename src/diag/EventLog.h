// The connection details: the last kCapacity events of this run, in memory
// only, for a user to copy into a message to support. Above them a header:
// Kivoline's version, the Windows version and build, and the options and
// strategy of the entry the client writes.
//
// The log takes no text from outside: every call carries numbers, states
// and the diagnosis' own types, and the lines are written here from them.
// So no user name, password or pre-shared key can reach it.
#pragma once

#include <windows.h>

#include <deque>
#include <string>

#include "diag/Diagnosis.h"
#include "diag/ElevatedRunner.h"
#include "diag/SystemSettings.h"
#include "vpn/Connection.h"

namespace kivo::diag {

class EventLog {
 public:
  static constexpr size_t kCapacity = 200;

  // `preSharedKey`: the build dials L2TP/IPsec with a key (the entry's
  // options follow from it).
  explicit EventLog(bool preSharedKey);

  void State(vpn::ConnectionState state);
  // A dial state the status line shows (its string-table id).
  void DialStatus(UINT textId);
  void DialError(DWORD code);
  void FailureShown(DWORD code);
  void PhonebookFailure(vpn::PhonebookFailure failure);
  void Diagnosis(DWORD code, const SystemFacts& facts, const Findings& findings);
  // The settings did not come within the bound.
  void DiagnosisLate(DWORD code);
  // What "Fix…" did: the tools' result, and whether the settings read
  // afterwards show the change.
  void Fix(ElevatedRunner::Result result, bool took);

  // The header and the events, one a line.
  std::wstring Text() const;
  size_t Size() const noexcept { return events_.size(); }

 private:
  void Add(std::wstring line);

  std::wstring header_;
  std::deque<std::wstring> events_;
};

// The Windows version and build, as RtlGetVersion tells it (looked up at
// run time: GetVersionExW would tell the manifest's highest system).
std::wstring WindowsVersionText();

// Tells `inner` everything the connection tells, and writes it to `log`.
class RecordingObserver : public vpn::ConnectionObserver {
 public:
  RecordingObserver(vpn::ConnectionObserver& inner, EventLog& log) noexcept : inner_(inner), log_(log) {}
  void OnState(vpn::ConnectionState state) override;
  void OnStatus(UINT textId) override;
  void OnStatistics(const std::wstring& text) override { inner_.OnStatistics(text); }
  void OnDialError(DWORD code) override;
  void ReportDialFailure(DWORD code) override;
  void ReportPhonebookFailure(vpn::PhonebookFailure failure) override;
  bool Ending() const override { return inner_.Ending(); }

 private:
  vpn::ConnectionObserver& inner_;
  EventLog& log_;
};

}  // namespace kivo::diag
