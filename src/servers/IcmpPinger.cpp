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
  if (m_bStarted) ::WSACleanup();
}

bool WinsockSession::Start() noexcept {
  if (!m_bStarted) {
    WSADATA data;
    m_bStarted = ::WSAStartup(MAKEWORD(1, 1), &data) == 0;
  }
  return m_bStarted;
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
  m_nIdentifier = ::GetCurrentThreadId();
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
  m_nIdentifier = ::GetCurrentThreadId();
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
  m_nIdentifier = ::GetCurrentThreadId();

  int successes = 0;
  std::int64_t sum = 0;  // replies carry their own timestamps: a forged one must not overflow the sum
  for (int echo = 0; echo < kEchoCount; ++echo) {
    if (CancelledDuringPause(m_pCancel, kStopCheckMs)) break;
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
  if (!m_winsock.Start()) return false;
  if (!m_socket && !m_hIcmpService) {
    m_socket.Reset(OpenRawSocket());
    if (m_socket) {
      const auto* timeout = reinterpret_cast<const char*>(&m_nTimeoutMs);
      ::setsockopt(m_socket.Get(), SOL_SOCKET, SO_RCVTIMEO, timeout, sizeof(m_nTimeoutMs));
      ::setsockopt(m_socket.Get(), SOL_SOCKET, SO_SNDTIMEO, timeout, sizeof(m_nTimeoutMs));
    } else {
      m_hIcmpService.Reset(::IcmpCreateFile());
      if (!m_hIcmpService) return false;
    }
  }
  if (!m_pSendBuf) m_pSendBuf = std::make_unique<std::uint8_t[]>(kBufferSize);
  if (!m_pRecvBuf) m_pRecvBuf = std::make_unique<std::uint8_t[]>(kBufferSize);
  m_addrDest = {};
  m_addrFrom = {};
  return true;
}

bool CIcmpPinger::Resolve(const std::string& host) {
  if (!Open()) return false;
  std::memset(m_pSendBuf.get(), 0, kBufferSize);
  std::memset(m_pRecvBuf.get(), 0, kBufferSize);
  // An empty name would resolve to this machine; embedded zeros would cut the name short.
  if (host.empty() || host.size() > kMaxHostLength || host.find('\0') != std::string::npos) return false;

  m_addrDest.sin_family = AF_INET;
  // The catalogue's hosts are ASCII; gethostbyname and inet_addr have no W
  // form (they take bytes).
  if (const hostent* entry = ::gethostbyname(host.c_str())) {
    if (entry->h_addrtype != AF_INET || entry->h_length != sizeof(m_addrDest.sin_addr) ||
        entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
      return false;
    }
    std::memcpy(&m_addrDest.sin_addr, entry->h_addr_list[0], sizeof(m_addrDest.sin_addr));
    return true;
  }
  const unsigned long address = ::inet_addr(host.c_str());
  if (address == INADDR_NONE) return false;
  m_addrDest.sin_addr.s_addr = address;
  return true;
}

int CIcmpPinger::BuildEchoRequest() {
  m_nSentAt = Now();
  m_nSequenceSent = s_nSequence++;
  const std::size_t capacity = m_pSendBuf ? kBufferSize : 0;
  return static_cast<int>(
      icmp::BuildEchoRequest(m_pSendBuf.get(), capacity, m_nIdentifier, m_nSequenceSent, m_nSentAt));
}

bool CIcmpPinger::SendEcho() {
  if (!m_socket) return SendThroughEchoService();
  const int length = BuildEchoRequest();
  if (length != static_cast<int>(icmp::kEchoRequestSize)) return false;
  return ::sendto(m_socket.Get(), reinterpret_cast<const char*>(m_pSendBuf.get()), length, 0,
                  reinterpret_cast<const sockaddr*>(&m_addrDest), sizeof(m_addrDest)) == length;
}

bool CIcmpPinger::SendThroughEchoService() {
  m_echoOutcome = EchoOutcome::kNone;
  if (!m_hIcmpService || BuildEchoRequest() != static_cast<int>(icmp::kEchoRequestSize)) return false;
  // The service writes the ICMP header itself; the request's timestamp and
  // zero bytes travel as its data, so the message on the wire is 40 bytes too.
  const DWORD replies =
      ::IcmpSendEcho(m_hIcmpService.Get(), m_addrDest.sin_addr.s_addr, m_pSendBuf.get() + icmp::kHeaderSize,
                     static_cast<WORD>(icmp::kEchoRequestSize - icmp::kHeaderSize), nullptr, m_pRecvBuf.get(),
                     kBufferSize, static_cast<DWORD>(m_nTimeoutMs));
  if (replies == 0) {
    if (::GetLastError() != IP_REQ_TIMED_OUT) return false;
    m_echoOutcome = EchoOutcome::kLost;
    return true;
  }
  m_echoOutcome = EchoedIntact() ? EchoOutcome::kAnswered : EchoOutcome::kLost;
  return true;
}

bool CIcmpPinger::EchoedIntact() {
  ICMP_ECHO_REPLY reply;
  std::memcpy(&reply, m_pRecvBuf.get(), sizeof(reply));
  if (reply.Status != IP_SUCCESS) return false;
  // The service ends its wait at the first reply that matches its own
  // identifier and sequence, truncated or not. Like a reply on the raw
  // socket, it counts only with the timestamp and data echoed whole.
  const std::size_t dataSize = icmp::kEchoRequestSize - icmp::kHeaderSize;
  const auto data = reinterpret_cast<std::uintptr_t>(reply.Data);
  const auto first = reinterpret_cast<std::uintptr_t>(m_pRecvBuf.get()) + sizeof(reply);
  const auto last = reinterpret_cast<std::uintptr_t>(m_pRecvBuf.get()) + kBufferSize - dataSize;
  if (reply.DataSize != dataSize || data < first || data > last ||
      std::memcmp(reply.Data, m_pSendBuf.get() + icmp::kHeaderSize, dataSize) != 0) {
    return false;
  }
  m_nServiceRoundTrip = static_cast<int>(reply.RoundTripTime);
  return true;
}

bool CIcmpPinger::ReceiveEcho(int& roundTripMs) {
  if (!m_socket) {
    const bool answered = m_echoOutcome == EchoOutcome::kAnswered;
    if (answered) roundTripMs = m_nServiceRoundTrip;
    m_echoOutcome = EchoOutcome::kNone;
    return answered;
  }
  if (!m_pRecvBuf) return false;
  // The wait ends m_nTimeoutMs after the send, however many unrelated
  // datagrams arrive meanwhile: each receive may only wait for what is left.
  // (A blocking receive wakes sooner under Wine than a select before it.)
  int errors = 0;
  for (;;) {
    const std::uint32_t elapsed = Now() - m_nSentAt;
    if (elapsed >= static_cast<std::uint32_t>(m_nTimeoutMs)) return false;
    const DWORD remaining = static_cast<DWORD>(m_nTimeoutMs) - elapsed;
    ::setsockopt(m_socket.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&remaining),
                 sizeof(remaining));
    int fromLength = sizeof(m_addrFrom);
    const int length = ::recvfrom(m_socket.Get(), reinterpret_cast<char*>(m_pRecvBuf.get()), kBufferSize, 0,
                                  reinterpret_cast<sockaddr*>(&m_addrFrom), &fromLength);
    if (length < 0) {
      if (::WSAGetLastError() == WSAETIMEDOUT || ++errors > kMaxReceiveErrors) return false;
      continue;
    }
    if (ParseReply(m_pRecvBuf.get(), length, roundTripMs)) return true;
  }
}

bool CIcmpPinger::ParseReply(const std::uint8_t* datagram, int length, int& roundTripMs) const {
  if (length <= 0) return false;
  std::int32_t roundTrip = 0;
  const icmp::EchoExpectation expected{m_nIdentifier, m_nSequenceSent, m_addrDest.sin_addr.s_addr, Now(),
                                       static_cast<std::uint32_t>(m_nTimeoutMs)};
  const auto verdict = icmp::ParseReply(datagram, static_cast<std::size_t>(length), expected, roundTrip);
  if (verdict != icmp::ReplyVerdict::kAccepted) return false;
  roundTripMs = roundTrip;
  return true;
}

}  // namespace kivo::servers
