// The echo request on the wire, its checksum, and how received datagrams are judged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "servers/IcmpPacket.h"

using namespace kivo::servers::icmp;

namespace {

using Bytes = std::vector<std::uint8_t>;

// RFC 1071 the textbook way: big-endian words, end-around carry after every
// addition. Its result is the checksum's value in network order.
std::uint16_t NetworkOrderChecksum(const Bytes& data) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < data.size(); i += 2) {
    const std::uint32_t high = data[i];
    const std::uint32_t low = i + 1 < data.size() ? data[i + 1] : 0;
    sum += (high << 8) | low;
    if (sum > 0xFFFF) sum = (sum & 0xFFFF) + 1;
  }
  return static_cast<std::uint16_t>(~sum);
}

// The echo the replies below answer: sent to 198.51.100.7 with sequence 300.
constexpr std::uint8_t kProbed[4] = {198, 51, 100, 7};
constexpr std::uint32_t kProbedAddress = 198u | 51u << 8 | 100u << 16 | 7u << 24;  // as s_addr holds it
constexpr std::uint16_t kSequence = 300;
constexpr std::uint32_t kTimeoutMs = 1000;

// A datagram as the raw socket delivers it: IPv4 header of `ihl` words
// (options zero) from `source`, then an ICMP message of type `type` carrying
// `identifier`, `sequence` and `timestamp` least significant byte first.
Bytes Datagram(std::uint8_t type, std::uint16_t identifier, std::uint32_t timestamp, int ihl = 5,
               std::uint16_t sequence = kSequence, const std::uint8_t (&source)[4] = kProbed) {
  Bytes d(static_cast<std::size_t>(ihl) * 4, 0);
  d[0] = static_cast<std::uint8_t>(0x40 | ihl);
  d[9] = 1;
  std::copy(std::begin(source), std::end(source), d.begin() + 12);
  const std::uint8_t icmp[] = {type,
                               0,
                               0,
                               0,
                               static_cast<std::uint8_t>(identifier),
                               static_cast<std::uint8_t>(identifier >> 8),
                               static_cast<std::uint8_t>(sequence),
                               static_cast<std::uint8_t>(sequence >> 8),
                               static_cast<std::uint8_t>(timestamp),
                               static_cast<std::uint8_t>(timestamp >> 8),
                               static_cast<std::uint8_t>(timestamp >> 16),
                               static_cast<std::uint8_t>(timestamp >> 24)};
  d.insert(d.end(), std::begin(icmp), std::end(icmp));
  d.resize(d.size() + 28, 0);
  return d;
}

ReplyVerdict Judge(const Bytes& d, std::size_t length, std::uint32_t identifier, std::uint32_t now,
                   std::int32_t& roundTrip) {
  return ParseReply(d.data(), length, EchoExpectation{identifier, kSequence, kProbedAddress, now, kTimeoutMs},
                    roundTrip);
}

TEST(EchoRequest, FortyBytesLeastSignificantByteFirst) {
  Bytes buffer(64, 0xEE);
  ASSERT_EQ(BuildEchoRequest(buffer.data(), buffer.size(), 0x1234, 0xABCD, 0x01020304), 40u);
  const Bytes head(buffer.begin(), buffer.begin() + 12);
  const std::uint16_t checksum = static_cast<std::uint16_t>(buffer[2] | (buffer[3] << 8));
  EXPECT_EQ(head, (Bytes{8, 0, buffer[2], buffer[3], 0x34, 0x12, 0xCD, 0xAB, 0x04, 0x03, 0x02, 0x01}));
  EXPECT_NE(checksum, 0);
  for (std::size_t i = 12; i < 40; ++i) EXPECT_EQ(buffer[i], 0) << "data byte " << i;
  for (std::size_t i = 40; i < 64; ++i) EXPECT_EQ(buffer[i], 0xEE) << "nothing written past 40, byte " << i;
}

TEST(EchoRequest, TooSmallBufferIsLeftAlone) {
  Bytes buffer(39, 0xEE);
  EXPECT_EQ(BuildEchoRequest(buffer.data(), buffer.size(), 1, 2, 3), 0u);
  EXPECT_EQ(buffer, Bytes(39, 0xEE));
  EXPECT_EQ(BuildEchoRequest(nullptr, 4096, 1, 2, 3), 0u);
}

TEST(EchoRequest, IdentifierIsTheLow16BitsOfAThreadIdAbove65535) {
  Bytes buffer(40);
  ASSERT_EQ(BuildEchoRequest(buffer.data(), buffer.size(), 0x0003ABCD, 7, 0), 40u);
  EXPECT_EQ(buffer[4], 0xCD);
  EXPECT_EQ(buffer[5], 0xAB);

  std::int32_t roundTrip = -1;
  EXPECT_EQ(Judge(Datagram(0, 0xABCD, 100), 60, 0x0003ABCD, 130, roundTrip), ReplyVerdict::kAccepted);
  EXPECT_EQ(roundTrip, 30);
  EXPECT_EQ(Judge(Datagram(0, 0xABCC, 100), 60, 0x0003ABCD, 130, roundTrip),
            ReplyVerdict::kForeignIdentifier);
  EXPECT_EQ(Judge(Datagram(0, 0x0003, 100), 60, 0x0003ABCD, 130, roundTrip), ReplyVerdict::kForeignIdentifier)
      << "the high half of the thread id never goes on the wire";
}

TEST(Checksum, MatchesTheTextbookComputationStoredInHostOrder) {
  // The worked example of RFC 1071: 00 01 f2 03 f4 f5 f6 f7 sums to ddf2, checksum 220d.
  const Bytes example{0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};
  EXPECT_EQ(NetworkOrderChecksum(example), 0x220D);
  EXPECT_EQ(Checksum(example.data(), example.size()), 0x0D22) << "host order: bytes 22 0d on the wire";

  std::mt19937 random(1071);
  for (std::size_t length = 0; length < 300; ++length) {
    Bytes data(length);
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    if (length % 7 == 0) std::fill(data.begin(), data.end(), 0xFF);  // every carry at once
    const std::uint16_t expected = NetworkOrderChecksum(data);
    const std::uint16_t stored = Checksum(data.data(), data.size());
    EXPECT_EQ(static_cast<std::uint16_t>((stored >> 8) | (stored << 8)), expected) << "length " << length;
  }
}

TEST(Checksum, OddLastByteCountsAsALowByte) {
  const Bytes one{0x12};
  EXPECT_EQ(Checksum(one.data(), 1), static_cast<std::uint16_t>(~0x0012));
  EXPECT_EQ(Checksum(one.data(), 0), 0xFFFF);
}

TEST(Checksum, RequestsVerifyOnTheWire) {
  std::mt19937 random(8);
  for (int i = 0; i < 200; ++i) {
    Bytes buffer(40);
    const auto id = static_cast<std::uint32_t>(random());
    const auto seq = static_cast<std::uint16_t>(random());
    const auto ts = static_cast<std::uint32_t>(random());
    ASSERT_EQ(BuildEchoRequest(buffer.data(), buffer.size(), id, seq, ts), 40u);
    EXPECT_EQ(NetworkOrderChecksum(buffer), 0) << "a receiver's check over the whole message gives 0";
  }
}

TEST(Reply, RoundTripIsAnUnsignedDifferenceReadAsSigned) {
  std::int32_t roundTrip = -1;
  EXPECT_EQ(Judge(Datagram(0, 77, 1000), 60, 77, 1035, roundTrip), ReplyVerdict::kAccepted);
  EXPECT_EQ(roundTrip, 35);
  EXPECT_EQ(Judge(Datagram(0, 77, 0xFFFFFFF0u), 60, 77, 0x10, roundTrip), ReplyVerdict::kAccepted);
  EXPECT_EQ(roundTrip, 32) << "across the clock's wrap";
  EXPECT_EQ(Judge(Datagram(0, 77, 500), 60, 77, 500, roundTrip), ReplyVerdict::kAccepted);
  EXPECT_EQ(roundTrip, 0) << "within the same millisecond";
  EXPECT_EQ(Judge(Datagram(0, 77, 1000), 60, 77, 2000, roundTrip), ReplyVerdict::kAccepted);
  EXPECT_EQ(roundTrip, 1000) << "the time-out itself";
}

TEST(Reply, OnlyTheEchoSentToTheProbedAddressIsCredited) {
  // Probers take turns with one identifier: server i's reply to an earlier
  // echo arrives while server i+1 is probed, and must not count for it.
  const std::uint8_t previousServer[4] = {198, 51, 100, 6};
  std::int32_t roundTrip = 1234;
  EXPECT_EQ(Judge(Datagram(0, 77, 1000, 5, kSequence, previousServer), 60, 77, 1035, roundTrip),
            ReplyVerdict::kForeignSource);
  EXPECT_EQ(Judge(Datagram(0, 77, 1000, 5, kSequence - 1), 60, 77, 1035, roundTrip),
            ReplyVerdict::kOtherSequence);
  // Round trips no echo can have had: from the future, or beyond the time-out.
  EXPECT_EQ(Judge(Datagram(0, 77, 510), 60, 77, 500, roundTrip), ReplyVerdict::kImplausibleRoundTrip);
  EXPECT_EQ(Judge(Datagram(0, 77, 1000), 60, 77, 2001, roundTrip), ReplyVerdict::kImplausibleRoundTrip);
  EXPECT_EQ(roundTrip, 1234) << "a refused reply leaves the round trip alone";
}

TEST(Reply, OtherTypesAndForeignIdentifiersAreSkipped) {
  for (std::uint8_t type : {3, 8, 11, 255}) {
    std::int32_t roundTrip = 1234;
    EXPECT_EQ(Judge(Datagram(type, 77, 1000), 60, 77, 1035, roundTrip), ReplyVerdict::kNotEchoReply)
        << "type " << int{type};
    EXPECT_EQ(roundTrip, 1234) << "a skipped datagram leaves the round trip alone";
  }
  std::int32_t roundTrip = 1234;
  EXPECT_EQ(Judge(Datagram(0, 78, 1000), 60, 77, 1035, roundTrip), ReplyVerdict::kForeignIdentifier);
  EXPECT_EQ(roundTrip, 1234);
}

TEST(Reply, HeaderLengthDecidesWhereTheMessageStarts) {
  // Options in the IPv4 header (IHL 6 and 15) move the ICMP message along.
  for (int ihl : {6, 15}) {
    Bytes d = Datagram(0, 77, 1000, ihl);
    d[20] = 1;  // an option byte that would read as a foreign type if the header were taken as 20 bytes
    std::int32_t roundTrip = -1;
    EXPECT_EQ(Judge(d, d.size(), 77, 1001, roundTrip), ReplyVerdict::kAccepted) << "IHL " << ihl;
    EXPECT_EQ(roundTrip, 1);
  }
}

TEST(Reply, ShortDatagramsAreDiscardedBeforeTheyAreRead) {
  // The timestamp ends 32 bytes into a datagram with a 20-byte header: any
  // shorter length must be refused, whatever the bytes it holds.
  const Bytes d = Datagram(0, 77, 1000);
  for (std::size_t length = 0; length < 32; ++length) {
    Bytes exact(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(length));
    std::int32_t roundTrip = 1234;
    EXPECT_EQ(Judge(exact, length, 77, 1035, roundTrip), ReplyVerdict::kTooShort) << "length " << length;
    EXPECT_EQ(roundTrip, 1234);
  }
  std::int32_t roundTrip = 0;
  EXPECT_EQ(Judge(d, 32, 77, 1035, roundTrip), ReplyVerdict::kAccepted);
  EXPECT_EQ(
      ParseReply(nullptr, 100, EchoExpectation{77, kSequence, kProbedAddress, 1035, kTimeoutMs}, roundTrip),
      ReplyVerdict::kTooShort);
}

TEST(Reply, HeaderLengthBelowFiveWordsOrBeyondTheDatagramIsRefused) {
  for (int ihl = 0; ihl < 5; ++ihl) {
    Bytes d = Datagram(0, 77, 1000);
    d[0] = static_cast<std::uint8_t>(0x40 | ihl);
    std::int32_t roundTrip = 1234;
    EXPECT_EQ(Judge(d, d.size(), 77, 1035, roundTrip), ReplyVerdict::kBadHeaderLength) << "IHL " << ihl;
    EXPECT_EQ(roundTrip, 1234);
  }
  // IHL 15 claims 60 bytes of header.
  Bytes d = Datagram(0, 77, 1000);
  d[0] = 0x4F;
  d.resize(72);
  std::int32_t roundTrip = 1234;
  EXPECT_EQ(Judge(d, 59, 77, 1035, roundTrip), ReplyVerdict::kBadHeaderLength);
  for (std::size_t length = 60; length < 72; ++length) {
    EXPECT_EQ(Judge(d, length, 77, 1035, roundTrip), ReplyVerdict::kTooShort) << "length " << length;
  }
  EXPECT_EQ(roundTrip, 1234);
}

}  // namespace
