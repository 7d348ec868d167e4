#include "RasService.h"

#include "vpn/RasRecords.h"

#include "ControlFile.h"
#include "FileIo.h"

namespace kivo::rasdouble {


namespace {

constexpr UINT kDialEventMessage = 0xCCCD;  // WM_RASDIALEVENT
constexpr long long kDefaultConfirmMs = 100;

}  // namespace

bool Notifier::Report(HRASCONN handle, UINT message, DWORD state, DWORD error) const {
  if (type2 != nullptr) return type2(callbackId, 1, handle, message, state, error, 0) != 0;
  if (type0 != nullptr) type0(message, state, error);
  return true;
}

RasService& RasService::Instance() {
  static RasService service;
  return service;
}

RasService::~RasService() {
  {
    std::lock_guard lock(lock_);
    closing_ = true;
    for (auto& entry : connections_) entry.second->stop.Set();
  }
  connections_.clear();
}

void RasService::Log(const std::string& dir, const LogLine& line) {
  std::lock_guard lock(lock_);
  // Stamped under the lock, so the file's lines are in time order.
  const std::string path = dir + "\\calls.log";
  const std::string text = line.Stamped(MonotonicMilliseconds());
  // A directory that a test named but did not make is made on first use.
  if (!AppendToFile(path, text) && EnsureDirectory(dir)) AppendToFile(path, text);
}

RasService::Connection* RasService::Find(HRASCONN handle) {
  auto it = connections_.find(reinterpret_cast<uintptr_t>(handle));
  return it == connections_.end() ? nullptr : it->second.get();
}

RasService::Connection& RasService::Add(const std::string& dir) {
  auto connection = std::make_unique<Connection>();
  connection->handle = reinterpret_cast<HRASCONN>(nextHandle_);
  connection->dir = dir;
  Connection& c = *connection;
  connections_.emplace(nextHandle_, std::move(connection));
  nextHandle_ += 0x10;
  return c;
}

HRASCONN RasService::Register(const std::string& dir, Notifier notifier, DialPlan plan) {
  std::lock_guard lock(lock_);
  Connection& c = Add(dir);
  c.notifier = notifier;
  c.plan = std::move(plan);
  c.state = RASCS_OpenPort;
  return c.handle;
}

HRASCONN RasService::RegisterRefused(const std::string& dir, DWORD code) {
  std::lock_guard lock(lock_);
  Connection& c = Add(dir);
  c.phase = Phase::kFailed;
  c.state = RASCS_Disconnected;
  c.error = code;
  return c.handle;
}

void RasService::Launch(HRASCONN handle) {
  std::lock_guard lock(lock_);
  Connection* c = Find(handle);
  if (c == nullptr || c->notifier.Empty() || closing_) return;
  // The thread waits for the lock before it reports anything.
  c->script.Start([this, c] { Play(*c); });
}

void RasService::Play(Connection& c) {
  for (const DialStep& step : c.plan.steps) {
    if (c.stop.Wait(step.delayMs)) return;
    DWORD error = 0;
    bool last = false;
    {
      std::lock_guard lock(lock_);
      if (c.hungUp || closing_) return;
      c.state = step.state;
      if (c.plan.errorState && step.state == *c.plan.errorState) {
        error = c.plan.errorCode;
        c.error = error;
        c.phase = Phase::kFailed;
        last = true;
      } else if (step.state == RASCS_Connected) {
        c.phase = Phase::kConnected;
        c.connectedAt = MonotonicMilliseconds();
      } else if (step.state == RASCS_Disconnected) {
        c.phase = Phase::kDown;
      }
      LogLine line("notify");
      line.Hex("handle", reinterpret_cast<uintptr_t>(c.handle))
          .Number("state", step.state)
          .Number("error", error);
      Log(c.dir, line);
    }
    // Outside the lock: the notifier may call back into the library.
    if (!c.notifier.Report(c.handle, kDialEventMessage, step.state, error)) return;
    if (last) return;
  }
}

bool RasService::Refresh(Connection& c, const ControlSource& control) {
  if (c.gone) return false;
  const double now = MonotonicMilliseconds();
  if (c.hungUp) {
    if (c.confirmMs >= 0 && now - c.hungUpAt >= static_cast<double>(c.confirmMs)) c.gone = true;
    return !c.gone;
  }
  if (c.phase == Phase::kConnected) {
    const long long dropAfter = control().Number("drop_after_ms", 0);
    if (dropAfter > 0 && now - c.connectedAt >= static_cast<double>(dropAfter)) {
      const long long status = control().Number("drop_status", ERROR_INVALID_HANDLE);
      LogLine line("drop");
      line.Hex("handle", reinterpret_cast<uintptr_t>(c.handle)).Number("status", status);
      Log(c.dir, line);
      if (status == ERROR_INVALID_HANDLE) {
        c.gone = true;
        return false;
      }
      c.phase = Phase::kDown;
      c.state = static_cast<DWORD>(status);
      c.error = 0;
    }
  }
  return true;
}

std::optional<LinkStatus> RasService::Observe(HRASCONN handle, const ControlSource& control) {
  std::lock_guard lock(lock_);
  Connection* c = Find(handle);
  if (c == nullptr || !Refresh(*c, control)) return std::nullopt;
  LinkStatus status;
  status.state = c->state;
  status.error = c->error;
  status.connected = c->phase == Phase::kConnected;
  if (status.connected) status.connectedForMs = MonotonicMilliseconds() - c->connectedAt;
  return status;
}

DWORD RasService::HangUp(HRASCONN handle, const ControlSource& control) {
  Connection* c = nullptr;
  bool wait = false;
  {
    std::lock_guard lock(lock_);
    c = Find(handle);
    if (c == nullptr || !Refresh(*c, control)) return ERROR_INVALID_HANDLE;
    if (c->hungUp) return 0;
    c->hungUp = true;
    c->hungUpAt = MonotonicMilliseconds();
    c->confirmMs = control().Number("hangup_confirm_ms", kDefaultConfirmMs);
    c->stop.Set();
    // A notifier that hangs up must not wait for its own thread.
    wait = c->script.Running() && !c->script.IsCurrentThread();
  }
  // The script stops at its next step; a report under way is finished first.
  if (wait) c->script.Wait(INFINITE);
  return 0;
}

}  // namespace kivo::rasdouble
