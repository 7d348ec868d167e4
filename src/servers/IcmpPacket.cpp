#include "IcmpPacket.h"

#include <cstring>

namespace kivo::servers::icmp {
namespace {

// Where the IPv4 header holds the sender's address.
constexpr std::size_t kSourceOffset = 12;

std::uint16_t ReadLe16(const std::uint8_t* p) noexcept {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t ReadLe32(const std::uint8_t* p) noexcept {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void WriteLe16(std::uint8_t* p, std::uint16_t v) noexcept {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void WriteLe32(std::uint8_t* p, std::uint32_t v) noexcept {
  WriteLe16(p, static_cast<std::uint16_t>(v));
  WriteLe16(p + 2, static_cast<std::uint16_t>(v >> 16));
}

}  // namespace

std::uint16_t Checksum(const std::uint8_t* data, std::size_t length) noexcept {
  std::uint32_t sum = 0;
  std::size_t i = 0;
  for (; i + 1 < length; i += 2) sum += ReadLe16(data + i);
  if (i < length) sum += data[i];
  sum = (sum >> 16) + (sum & 0xFFFF);
  sum += sum >> 16;
  return static_cast<std::uint16_t>(~sum);
}

std::size_t BuildEchoRequest(std::uint8_t* buffer, std::size_t capacity, std::uint32_t identifier,
                             std::uint16_t sequence, std::uint32_t timestamp) noexcept {
  if (buffer == nullptr || capacity < kEchoRequestSize) return 0;
  std::memset(buffer, 0, kEchoRequestSize);
  buffer[0] = kTypeEchoRequest;
  buffer[1] = 0;
  WriteLe16(buffer + 4, static_cast<std::uint16_t>(identifier));
  WriteLe16(buffer + 6, sequence);
  WriteLe32(buffer + 8, timestamp);
  WriteLe16(buffer + 2, Checksum(buffer, kEchoRequestSize));
  return kEchoRequestSize;
}

ReplyVerdict ParseReply(const std::uint8_t* datagram, std::size_t length, const EchoExpectation& expected,
                        std::int32_t& roundTripMs) noexcept {
  if (datagram == nullptr || length < kMinIpHeaderSize + kHeaderSize + kTimestampSize) {
    return ReplyVerdict::kTooShort;
  }
  const std::size_t ipHeaderSize = static_cast<std::size_t>(datagram[0] & 0x0F) * 4;
  if (ipHeaderSize < kMinIpHeaderSize || ipHeaderSize > length) return ReplyVerdict::kBadHeaderLength;
  if (length - ipHeaderSize < kHeaderSize + kTimestampSize) return ReplyVerdict::kTooShort;

  const std::uint8_t* message = datagram + ipHeaderSize;
  if (message[0] != kTypeEchoReply) return ReplyVerdict::kNotEchoReply;
  if (ReadLe16(message + 4) != static_cast<std::uint16_t>(expected.identifier)) {
    return ReplyVerdict::kForeignIdentifier;
  }
  // Probers take turns with one identifier: a late reply of the previous
  // server, or of an earlier echo, must not be credited to this one.
  if (ReadLe32(datagram + kSourceOffset) != expected.source) return ReplyVerdict::kForeignSource;
  if (ReadLe16(message + 6) != expected.sequence) return ReplyVerdict::kOtherSequence;
  const auto roundTrip = static_cast<std::int32_t>(expected.now - ReadLe32(message + kHeaderSize));
  if (roundTrip < 0 || static_cast<std::uint32_t>(roundTrip) > expected.timeoutMs) {
    return ReplyVerdict::kImplausibleRoundTrip;
  }
  roundTripMs = roundTrip;
  return ReplyVerdict::kAccepted;
}

}  // namespace kivo::servers::icmp
