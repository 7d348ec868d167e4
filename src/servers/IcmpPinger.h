// CIcmpPinger measures the round trip to one server with ICMP echo requests.
//
// A prober serves one measuring operation on the thread that constructed it:
// `Ping` (one round trip), `PingWithRetries` (up to five counted attempts) or
// `Measure` (fifty echoes: average and share answered). It may be given the
// cancellation token of the work it serves; the owner of that work cancels
// it from another thread, and the prober checks it, or waits on it, between
// its echoes.
//
// Echoes go out over a raw IPv4 ICMP socket, which receives every ICMP
// datagram reaching the host; the prober keeps the echo replies that carry its
// identifier, the low 16 bits of its thread's id. Where the platform refuses
// raw sockets (Windows without administrator rights) the prober measures
// through the system's ICMP echo service instead, with the same timeout and
// the same results.
#pragma once

#include <windows.h>
#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "toolkit/Handle.h"
#include "toolkit/Sync.h"

namespace kivo::servers {

struct SocketTraits {
  using Type = SOCKET;
  static Type Invalid() noexcept { return INVALID_SOCKET; }
  static void Close(Type s) noexcept { ::closesocket(s); }
};
using UniqueSocket = toolkit::UniqueHandle<SocketTraits>;

struct IcmpServiceHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept;
};
using UniqueIcmpServiceHandle = toolkit::UniqueHandle<IcmpServiceHandleTraits>;

// Balances one successful WSAStartup (version 1.1) with one WSACleanup.
class WinsockSession {
 public:
  WinsockSession() = default;
  ~WinsockSession();
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;

  bool Start() noexcept;
  bool Started() const noexcept { return started_; }

 private:
  bool started_ = false;
};

class CIcmpPinger {
 public:
  static constexpr int kBufferSize = 4096;
  static constexpr int kEchoCount = 50;
  static constexpr int kMaxAttempts = 5;
  // Replies within the same millisecond give a round trip of 0; Ping and
  // PingWithRetries send again (without counting an attempt), but at most this
  // many times before they report the 0.
  static constexpr int kMaxZeroRoundTripRepeats = 5;
  // Receive errors other than the timeout are retried this many times at most.
  static constexpr int kMaxReceiveErrors = 8;
  static constexpr DWORD kStopCheckMs = 5;

  // A prober that nothing cancels.
  CIcmpPinger() = default;
  // `cancel` must outlive the prober.
  explicit CIcmpPinger(const toolkit::CancellationToken& cancel) noexcept : cancel_(&cancel) {}
  virtual ~CIcmpPinger() = default;
  CIcmpPinger(const CIcmpPinger&) = delete;
  CIcmpPinger& operator=(const CIcmpPinger&) = delete;

  // `host` is a dotted IPv4 address or a host name. Once the token is
  // cancelled, `Ping` ends before its next echo and `PingWithRetries` before
  // its next attempt, both as failures.
  bool Ping(std::string host, int& roundTripMs);
  bool PingWithRetries(std::string host, int& roundTripMs);
  // Both outputs are always set: 0 and 0 when the host cannot be measured.
  // A cancel ends it before its next echo, also one that came before the
  // measurement began (while the prober was opening its socket, say): the
  // owner that cancels then joins never waits for fifty echoes. `percent`
  // still counts against all fifty.
  void Measure(std::string host, float& averageMs, int& percent);

 protected:
  // Virtual so that a test can refuse the raw socket or script the exchange.
  // Opens the raw ICMP socket; INVALID_SOCKET when the platform refuses it,
  // which makes the prober use the system's echo service.
  virtual SOCKET OpenRawSocket();
  // One echo: send it, then wait up to timeoutMs_ from the send for the
  // reply. A failed send and an unanswered echo are both lost echoes.
  virtual bool SendEcho();
  virtual bool ReceiveEcho(int& roundTripMs);

  // Builds the next request at the start of the send buffer: returns 40, or 0
  // before the first operation has made the buffers.
  int BuildEchoRequest();
  const std::uint8_t* SendBuffer() const noexcept { return sendBuf_.get(); }
  bool UsesRawSocket() const noexcept { return socket_.Valid(); }
  DWORD Identifier() const noexcept { return identifier_; }

 private:
  enum class EchoOutcome { kNone, kLost, kAnswered };

  // The monotonic clock of every timestamp and round trip, in milliseconds:
  // the performance counter, kept as a 32-bit value that wraps like the tick
  // count.
  static std::uint32_t Now() noexcept;

  bool Cancelled() const noexcept { return cancel_ != nullptr && cancel_->Cancelled(); }

  bool Open();
  bool Resolve(const std::string& host);
  bool ParseReply(const std::uint8_t* datagram, int length, int& roundTripMs) const;
  bool SendThroughEchoService();
  // True when the service's reply in the receive buffer is an answer.
  bool EchoedIntact();

  // The process-wide sequence counter: each request takes its value, which
  // then moves on, wrapping from 65535 to 0.
  static std::atomic<std::uint16_t> s_nSequence;

  WinsockSession winsock_;
  UniqueSocket socket_;
  UniqueIcmpServiceHandle icmpService_;
  std::unique_ptr<std::uint8_t[]> sendBuf_;
  std::unique_ptr<std::uint8_t[]> recvBuf_;
  sockaddr_in addrDest_{};
  sockaddr_in addrFrom_{};
  const int timeoutMs_ = 1000;
  DWORD identifier_ = 0;
  std::uint32_t sentAt_ = 0;
  std::uint16_t sequenceSent_ = 0;
  // The echo service answers within the send; the receive then reports it.
  EchoOutcome echoOutcome_ = EchoOutcome::kNone;
  int serviceRoundTrip_ = 0;
  const toolkit::CancellationToken* cancel_ = nullptr;
};

}  // namespace kivo::servers
