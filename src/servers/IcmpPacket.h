// ICMP echo packets as the prober sends and reads them. Free of any platform
// header, so the same code builds for the client and natively for fuzzing.
//
// The request's multi-byte fields are stored least significant byte first,
// which is the client's host order; only the prober reads them back, from the
// echo reply that carries them unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kivo::servers::icmp {

// type, code, checksum, identifier, sequence, timestamp, 28 zero bytes.
inline constexpr std::size_t kEchoRequestSize = 40;
inline constexpr std::size_t kHeaderSize = 8;
inline constexpr std::size_t kTimestampSize = 4;
inline constexpr std::uint8_t kTypeEchoReply = 0;
inline constexpr std::uint8_t kTypeEchoRequest = 8;
// The smallest IPv4 header: 5 words of 32 bits.
inline constexpr std::size_t kMinIpHeaderSize = 20;

// Internet checksum (RFC 1071) over `length` bytes read as 16-bit words, least
// significant byte first; an odd last byte counts as a word whose other byte
// is zero. The result is stored the same way, at offset 2 of the message.
std::uint16_t Checksum(const std::uint8_t* data, std::size_t length) noexcept;

// Writes the 40-byte echo request at the start of `buffer`: the identifier is
// the low 16 bits of `identifier` (a thread id). Returns 40, or 0 without
// writing anything when `capacity` is smaller.
std::size_t BuildEchoRequest(std::uint8_t* buffer, std::size_t capacity, std::uint32_t identifier,
                             std::uint16_t sequence, std::uint32_t timestamp) noexcept;

enum class ReplyVerdict {
  kAccepted,
  kTooShort,             // no room for the IPv4 header, the ICMP header and the timestamp
  kBadHeaderLength,      // IHL below 5 or reaching beyond the datagram
  kNotEchoReply,         // another ICMP type
  kForeignIdentifier,    // an echo reply meant for another prober
  kForeignSource,        // from another address than the one probed
  kOtherSequence,        // the answer to an earlier echo, arriving late
  kImplausibleRoundTrip  // a round trip below 0 or beyond the time-out
};

// The echo a reply must answer: the one the prober sent last.
struct EchoExpectation {
  std::uint32_t identifier;  // its low 16 bits are compared
  std::uint16_t sequence;
  // The address probed: its four bytes in network order, read least
  // significant byte first (the s_addr of the client's in_addr).
  std::uint32_t source;
  std::uint32_t now;        // the clock of the timestamps, at the reply
  std::uint32_t timeoutMs;  // the longest round trip that can be real
};

// Judges one datagram as a raw socket delivers it (IPv4 header first). A
// reply is accepted only from the address probed, with the identifier and
// sequence number sent, and with a round trip (`now` minus the echoed
// timestamp, a 32-bit unsigned difference read as a signed number of
// milliseconds) from 0 to the time-out. Nothing outside
// [datagram, datagram + length) is read, and `roundTripMs` is written only on
// acceptance.
ReplyVerdict ParseReply(const std::uint8_t* datagram, std::size_t length, const EchoExpectation& expected,
                        std::int32_t& roundTripMs) noexcept;

}  // namespace kivo::servers::icmp
