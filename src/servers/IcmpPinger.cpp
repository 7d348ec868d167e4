#include "IcmpPinger.h"

#include <iphlpapi.h>
// icmpapi.h needs the types of iphlpapi.h first.
#include <icmpapi.h>

#include <cstring>

#include "IcmpPacket.h"

namespace kivo::servers {
namespace {

// Longest host name the resolver accepts.
constexpr std::size_t kMaxHostLength = 255;

// Waits the pause before an echo; true when the work was cancelled meanwhile.
bool CancelledDuringPause(const toolkit::CancellationToken* cancel, DWORD pauseMs) {
  if (cancel == nullptr) {
    ::Sleep(pauseMs);
    return false;
  }
  return cancel->Wait(pauseMs);
}

}  // namespace

void IcmpServiceHandleTraits::Close(Type h) noexcept { ::IcmpCloseHandle(h); }

WinsockSession::~WinsockSession() {
  if (started_) ::WSACleanup();
}

bool WinsockSession::Start() noexcept {
  if (!started_) {
    WSADATA data;
    started_ = ::WSAStartup(MAKEWORD(1, 1), &data) == 0;
  }
  return started_;
}

std::atomic<std::uint16_t> CIcmpPinger::s_nSequence{0};

std::uint32_t CIcmpPinger::Now() noexcept {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  if (!::QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 ||
      !::QueryPerformanceCounter(&counter)) {
    return ::GetTickCount();
  }
  const auto f = static_cast<std::uint64_t>(frequency.QuadPart);
  const auto c = static_cast<std::uint64_t>(counter.QuadPart);
  return static_cast<std::uint32_t>(c / f * 1000 + c % f * 1000 / f);
}

bool CIcmpPinger::Ping(std::string host, int& roundTripMs) {
  if (!Resolve(host)) return false;
  identifier_ = ::GetCurrentThreadId();
  for (int repeats = 0;; ++repeats) {
    if (Cancelled()) return false;
    int roundTrip = 0;
    if (!SendEcho() || !ReceiveEcho(roundTrip)) return false;
    if (roundTrip != 0 || repeats == kMaxZeroRoundTripRepeats) {
      roundTripMs = roundTrip;
      return true;
    }
  }
}

bool CIcmpPinger::PingWithRetries(std::string host, int& roundTripMs) {
  if (!Resolve(host)) return false;
  identifier_ = ::GetCurrentThreadId();
  int zeroRepeats = 0;
  for (int attempt = 0; attempt < kMaxAttempts;) {
    // Closing the main window ends the background pass between attempts.
    if (Cancelled()) return false;
    int roundTrip = 0;
    if (SendEcho() && ReceiveEcho(roundTrip)) {
      if (roundTrip != 0 || zeroRepeats == kMaxZeroRoundTripRepeats) {
        roundTripMs = roundTrip;
        return true;
      }
      ++zeroRepeats;  // an answer within the same millisecond does not count as an attempt
    } else {
      ++attempt;
    }
  }
  return false;
}

void CIcmpPinger::Measure(std::string host, float& averageMs, int& percent) {
  averageMs = 0.0f;
  percent = 0;
  if (!Resolve(host)) return;
  identifier_ = ::GetCurrentThreadId();

  int successes = 0;
  std::int64_t sum = 0;  // replies carry their own timestamps: a forged one must not overflow the sum
  for (int echo = 0; echo < kEchoCount; ++echo) {
    if (CancelledDuringPause(cancel_, kStopCheckMs)) break;
    int roundTrip = 0;
    if (SendEcho() && ReceiveEcho(roundTrip)) {
      ++successes;
      sum += roundTrip;
    }
  }
  if (successes > 0) averageMs = static_cast<float>(static_cast<double>(sum) / successes);
  percent = successes * 100 / kEchoCount;
}

SOCKET CIcmpPinger::OpenRawSocket() { return ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP); }

bool CIcmpPinger::Open() {
  if (!winsock_.Start()) return false;
  if (!socket_ && !icmpService_) {
    socket_.Reset(OpenRawSocket());
    if (socket_) {
      const auto* timeout = reinterpret_cast<const char*>(&timeoutMs_);
      ::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVTIMEO, timeout, sizeof(timeoutMs_));
      ::setsockopt(socket_.Get(), SOL_SOCKET, SO_SNDTIMEO, timeout, sizeof(timeoutMs_));
    } else {
      icmpService_.Reset(::IcmpCreateFile());
      if (!icmpService_) return false;
    }
  }
  if (!sendBuf_) sendBuf_ = std::make_unique<std::uint8_t[]>(kBufferSize);
  if (!recvBuf_) recvBuf_ = std::make_unique<std::uint8_t[]>(kBufferSize);
  addrDest_ = {};
  addrFrom_ = {};
  return true;
}

bool CIcmpPinger::Resolve(const std::string& host) {
  if (!Open()) return false;
  std::memset(sendBuf_.get(), 0, kBufferSize);
  std::memset(recvBuf_.get(), 0, kBufferSize);
  // An empty name would resolve to this machine; embedded zeros would cut the name short.
  if (host.empty() || host.size() > kMaxHostLength || host.find('\0') != std::string::npos) return false;

  addrDest_.sin_family = AF_INET;
  // The catalogue's hosts are ASCII; gethostbyname and inet_addr have no W
  // form (they take bytes).
  if (const hostent* entry = ::gethostbyname(host.c_str())) {
    if (entry->h_addrtype != AF_INET || entry->h_length != sizeof(addrDest_.sin_addr) ||
        entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
      return false;
    }
    std::memcpy(&addrDest_.sin_addr, entry->h_addr_list[0], sizeof(addrDest_.sin_addr));
    return true;
  }
  const unsigned long address = ::inet_addr(host.c_str());
  if (address == INADDR_NONE) return false;
  addrDest_.sin_addr.s_addr = address;
  return true;
}

int CIcmpPinger::BuildEchoRequest() {
  sentAt_ = Now();
  sequenceSent_ = s_nSequence++;
  const std::size_t capacity = sendBuf_ ? kBufferSize : 0;
  return static_cast<int>(
      icmp::BuildEchoRequest(sendBuf_.get(), capacity, identifier_, sequenceSent_, sentAt_));
}

bool CIcmpPinger::SendEcho() {
  if (!socket_) return SendThroughEchoService();
  const int length = BuildEchoRequest();
  if (length != static_cast<int>(icmp::kEchoRequestSize)) return false;
  return ::sendto(socket_.Get(), reinterpret_cast<const char*>(sendBuf_.get()), length, 0,
                  reinterpret_cast<const sockaddr*>(&addrDest_), sizeof(addrDest_)) == length;
}

bool CIcmpPinger::SendThroughEchoService() {
  echoOutcome_ = EchoOutcome::kNone;
  if (!icmpService_ || BuildEchoRequest() != static_cast<int>(icmp::kEchoRequestSize)) return false;
  // The service writes the ICMP header itself; the request's timestamp and
  // zero bytes travel as its data, so the message on the wire is 40 bytes too.
  const DWORD replies =
      ::IcmpSendEcho(icmpService_.Get(), addrDest_.sin_addr.s_addr, sendBuf_.get() + icmp::kHeaderSize,
                     static_cast<WORD>(icmp::kEchoRequestSize - icmp::kHeaderSize), nullptr, recvBuf_.get(),
                     kBufferSize, static_cast<DWORD>(timeoutMs_));
  if (replies == 0) {
    if (::GetLastError() != IP_REQ_TIMED_OUT) return false;
    echoOutcome_ = EchoOutcome::kLost;
    return true;
  }
  echoOutcome_ = EchoedIntact() ? EchoOutcome::kAnswered : EchoOutcome::kLost;
  return true;
}

bool CIcmpPinger::EchoedIntact() {
  ICMP_ECHO_REPLY reply;
  std::memcpy(&reply, recvBuf_.get(), sizeof(reply));
  if (reply.Status != IP_SUCCESS) return false;
  // The service ends its wait at the first reply that matches its own
  // identifier and sequence, truncated or not. Like a reply on the raw
  // socket, it counts only with the timestamp and data echoed whole.
  const std::size_t dataSize = icmp::kEchoRequestSize - icmp::kHeaderSize;
  const auto data = reinterpret_cast<std::uintptr_t>(reply.Data);
  const auto first = reinterpret_cast<std::uintptr_t>(recvBuf_.get()) + sizeof(reply);
  const auto last = reinterpret_cast<std::uintptr_t>(recvBuf_.get()) + kBufferSize - dataSize;
  if (reply.DataSize != dataSize || data < first || data > last ||
      std::memcmp(reply.Data, sendBuf_.get() + icmp::kHeaderSize, dataSize) != 0) {
    return false;
  }
  serviceRoundTrip_ = static_cast<int>(reply.RoundTripTime);
  return true;
}

bool CIcmpPinger::ReceiveEcho(int& roundTripMs) {
  if (!socket_) {
    const bool answered = echoOutcome_ == EchoOutcome::kAnswered;
    if (answered) roundTripMs = serviceRoundTrip_;
    echoOutcome_ = EchoOutcome::kNone;
    return answered;
  }
  if (!recvBuf_) return false;
  // The wait ends timeoutMs_ after the send, however many unrelated
  // datagrams arrive meanwhile: each receive may only wait for what is left.
  // (A blocking receive wakes sooner under Wine than a select before it.)
  int errors = 0;
  for (;;) {
    const std::uint32_t elapsed = Now() - sentAt_;
    if (elapsed >= static_cast<std::uint32_t>(timeoutMs_)) return false;
    const DWORD remaining = static_cast<DWORD>(timeoutMs_) - elapsed;
    ::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&remaining),
                 sizeof(remaining));
    int fromLength = sizeof(addrFrom_);
    const int length = ::recvfrom(socket_.Get(), reinterpret_cast<char*>(recvBuf_.get()), kBufferSize, 0,
                                  reinterpret_cast<sockaddr*>(&addrFrom_), &fromLength);
    if (length < 0) {
      if (::WSAGetLastError() == WSAETIMEDOUT || ++errors > kMaxReceiveErrors) return false;
      continue;
    }
    if (ParseReply(recvBuf_.get(), length, roundTripMs)) return true;
  }
}

bool CIcmpPinger::ParseReply(const std::uint8_t* datagram, int length, int& roundTripMs) const {
  if (length <= 0) return false;
  std::int32_t roundTrip = 0;
  const icmp::EchoExpectation expected{identifier_, sequenceSent_, addrDest_.sin_addr.s_addr, Now(),
                                       static_cast<std::uint32_t>(timeoutMs_)};
  const auto verdict = icmp::ParseReply(datagram, static_cast<std::size_t>(length), expected, roundTrip);
  if (verdict != icmp::ReplyVerdict::kAccepted) return false;
  roundTripMs = roundTrip;
  return true;
}

}  // namespace kivo::servers
