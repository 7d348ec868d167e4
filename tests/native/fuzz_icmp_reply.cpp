// libFuzzer entry: judges arbitrary bytes as a received datagram. The first
// eight bytes choose the prober's identifier and the clock; the rest is the
// datagram, left where libFuzzer put it so that any read past its end is
// caught by AddressSanitizer. Every verdict is checked against the datagram.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "servers/IcmpPacket.h"

using namespace kivo::servers::icmp;

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void CheckVerdict(const std::uint8_t* datagram, std::size_t size, std::uint32_t identifier,
                  std::uint32_t now) {
  const std::int32_t untouched = 0x5A5A5A5A;
  std::int32_t roundTrip = untouched;
  // The rest of the expectation comes from the datagram itself, so that
  // every check can be reached.
  const std::uint16_t sequence =
      size >= 28 ? static_cast<std::uint16_t>(datagram[26] | (datagram[27] << 8)) : 0;
  const std::uint32_t source = size >= 16 ? Le32(datagram + 12) : 0;
  const EchoExpectation expected{identifier, sequence, source, now, 1000};
  const ReplyVerdict verdict = ParseReply(datagram, size, expected, roundTrip);
  if (verdict != ReplyVerdict::kAccepted) {
    Require(roundTrip == untouched);
    return;
  }
  const std::size_t header = static_cast<std::size_t>(datagram[0] & 0x0F) * 4;
  Require(header >= kMinIpHeaderSize && header + kHeaderSize + kTimestampSize <= size);
  const std::uint8_t* message = datagram + header;
  Require(message[0] == kTypeEchoReply);
  Require((message[4] | (message[5] << 8)) == (identifier & 0xFFFF));
  Require(Le32(datagram + 12) == source);
  Require((message[6] | (message[7] << 8)) == sequence);
  Require(roundTrip == static_cast<std::int32_t>(now - Le32(message + kHeaderSize)));
  Require(roundTrip >= 0 && roundTrip <= 1000);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  const std::uint32_t identifier = Le32(data);
  const std::uint32_t now = Le32(data + 4);
  CheckVerdict(data + 8, size - 8, identifier, now);

  // The request built for these values verifies: the checksum over it is 0.
  std::uint8_t request[kEchoRequestSize];
  Require(BuildEchoRequest(request, sizeof(request), identifier, static_cast<std::uint16_t>(now), now) ==
          kEchoRequestSize);
  Require(Checksum(request, sizeof(request)) == 0);
  Checksum(data + 8, size - 8);
  return 0;
}
