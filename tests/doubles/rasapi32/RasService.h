// The simulated remote access service of this process: its connections, the
// dial scripts that run on threads of their own, and the one lock that orders
// every change of a connection and every line of calls.log.
#pragma once

#include "vpn/RasRecords.h"
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "DialScript.h"
#include "LogLine.h"
#include "toolkit/Sync.h"
#include "toolkit/Thread.h"

namespace kivo::rasdouble {

class ControlFile;

// The notifier of type 0 (RASDIALFUNC), with the state as a plain number so
// that a script may report any value.
using DialNotifier = void(WINAPI*)(UINT message, DWORD state, DWORD error);
// The notifier of type 2 (RASDIALFUNC2): it also receives the dial
// parameters' callback id, the sub-entry (1 for a single link) and the
// handle; answering 0 asks for no further notices.
using DialNotifier2 = DWORD(WINAPI*)(ULONG_PTR callbackId, DWORD subEntry, HRASCONN handle, UINT message,
                                     DWORD state, DWORD error, DWORD extendedError);

// The notifier a dial reports to, of either type.
struct Notifier {
  DialNotifier type0 = nullptr;
  DialNotifier2 type2 = nullptr;
  ULONG_PTR callbackId = 0;

  bool Empty() const noexcept { return type0 == nullptr && type2 == nullptr; }
  // Reports one state; false when the notifier wants no more.
  bool Report(HRASCONN handle, UINT message, DWORD state, DWORD error) const;
};

// Gives the control file of the current call, loading it on first use.
using ControlSource = std::function<const ControlFile&()>;

struct LinkStatus {
  DWORD state = 0;
  DWORD error = 0;
  bool connected = false;     // reached RASCS_Connected and is still up
  double connectedForMs = 0;  // since RASCS_Connected, while connected
};

class RasService {
 public:
  // Process-wide: one service per process, as the system has one.
  static RasService& Instance();

  RasService() = default;
  ~RasService();
  RasService(const RasService&) = delete;
  RasService& operator=(const RasService&) = delete;

  // Appends the line to <dir>\calls.log.
  void Log(const std::string& dir, const LogLine& line);

  // A dial that will play `plan` and report to `notifier`; its script starts
  // with Launch, so that the caller can hand out the handle and log the call
  // before the first state arrives.
  HRASCONN Register(const std::string& dir, Notifier notifier, DialPlan plan);
  // The handle that a refused dial leaves behind: it reports
  // RASCS_Disconnected with `code` until it is hung up.
  HRASCONN RegisterRefused(const std::string& dir, DWORD code);
  void Launch(HRASCONN handle);

  // Nothing when the handle is unknown or its connection no longer exists.
  // A link that has been up for drop_after_ms goes down here.
  std::optional<LinkStatus> Observe(HRASCONN handle, const ControlSource& control);
  // Starts the hang-up: no further states are reported once this returns,
  // and the connection goes away after hangup_confirm_ms (-1: never).
  // ERROR_INVALID_HANDLE for a handle that is unknown or gone, else 0.
  DWORD HangUp(HRASCONN handle, const ControlSource& control);

 private:
  enum class Phase { kDialling, kConnected, kFailed, kDown };

  struct Connection {
    HRASCONN handle = nullptr;
    std::string dir;
    Notifier notifier;
    DialPlan plan;
    Phase phase = Phase::kDialling;
    DWORD state = 0;
    DWORD error = 0;
    double connectedAt = 0;
    bool hungUp = false;
    double hungUpAt = 0;
    long long confirmMs = 0;  // negative: never confirmed
    bool gone = false;
    toolkit::Event stop;
    // Declared last: destroying a connection first waits for its script.
    toolkit::WorkerThread script;
  };

  Connection* Find(HRASCONN handle);
  Connection& Add(const std::string& dir);
  // Applies the passage of time (drop, hang-up confirmation); false when
  // the connection is gone. Call with the lock held.
  bool Refresh(Connection& c, const ControlSource& control);
  void Play(Connection& c);

  // Recursive: Log takes it and is also called with it held (Play, Refresh).
  std::recursive_mutex lock_;
  std::map<uintptr_t, std::unique_ptr<Connection>> connections_;
  uintptr_t nextHandle_ = 0x5A0010;
  bool closing_ = false;
};

}  // namespace kivo::rasdouble
