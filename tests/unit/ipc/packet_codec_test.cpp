// The packet codec against bytes written out by hand: header layout, need-more and malformed
// results, and the stream reader under every chunking of the same streams.
#include "utility/hlx_packet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "unit/ipc/ipc_test_wire.h"

namespace hlx {
namespace {

using test::kWireHeartbeat;
using test::WirePacket;

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

TEST(PacketHeader, EncodesTheWireLayout) {
  IPCPacketHeader header;
  header.id = 0x0807060504030201ULL;
  header.command = 0x0D0C0B0AU;
  header.status = 0x0F0E;
  header.bodyLength = 0x1716151413121110ULL;
  const uint8_t expected[36] = {'k',  'C',  'o',  'm',  'm',  'a',  'n',  'd',  1,    2,    3,    4,
                                5,    6,    0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x0A, 0x0B,
                                0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17};
  const auto bytes = EncodePacketHeader(header);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), std::vector<uint8_t>(expected, expected + 36));

  const HeaderDecodeResult decoded = DecodePacketHeader(expected, sizeof(expected), UINT64_MAX);
  ASSERT_EQ(decoded.status, DecodeStatus::kComplete);
  EXPECT_EQ(decoded.header.id, header.id);
  EXPECT_EQ(decoded.header.command, header.command);
  EXPECT_EQ(decoded.header.status, header.status);
  EXPECT_EQ(decoded.header.bodyLength, header.bodyLength);
}

TEST(PacketHeader, PrefixesNeedMoreAndBadMagicOrLengthIsMalformed) {
  struct Case {
    const char* name;
    std::string bytes;
    PacketError error;
  };
  std::string wrongFirst = WirePacket(1, 2, 3, "", 0);
  wrongFirst[0] = 'K';
  std::string wrongLast = WirePacket(1, 2, 3, "", 0);
  wrongLast[7] = 'D';
  const Case cases[] = {
      {"first magic byte, seen at once", wrongFirst.substr(0, 1), PacketError::kBadMagic},
      {"last magic byte", wrongLast, PacketError::kBadMagic},
      {"limit + 1", WirePacket(1, 2, 3, "", kMaxPacketBodyBytes + 1), PacketError::kBodyTooLarge},
      {"2^64 - 36, whose total wraps to 0", WirePacket(1, 2, 3, "", UINT64_MAX - 35), PacketError::kBodyTooLarge},
      {"2^64 - 2", WirePacket(1, 2, 3, "", UINT64_MAX - 1), PacketError::kBodyTooLarge},
  };
  for (const Case& c : cases) {
    const HeaderDecodeResult decoded = DecodePacketHeader(Bytes(c.bytes), c.bytes.size());
    EXPECT_EQ(decoded.status, DecodeStatus::kMalformed) << c.name;
    EXPECT_EQ(decoded.error, c.error) << c.name;
  }
  std::string atLimit = WirePacket(1, 2, 3, "", kMaxPacketBodyBytes);
  atLimit[9] = 'X';  // receivers ignore the filler bytes
  for (size_t n = 0; n < 36; ++n) {
    const HeaderDecodeResult decoded = DecodePacketHeader(Bytes(atLimit), n);
    EXPECT_EQ(decoded.status, DecodeStatus::kNeedMore) << n;
    EXPECT_EQ(decoded.needBytes, 36 - n) << n;
  }
  EXPECT_EQ(DecodePacketHeader(Bytes(atLimit), 36).status, DecodeStatus::kComplete);
}

struct Expected {
  uint64_t id;
  uint32_t command;
  uint16_t status;
  std::string body;
};

struct StreamCase {
  const char* name;
  std::string stream;
  std::vector<Expected> packets;
  uint32_t heartbeats;
  uint64_t skippedBytes;
};

std::vector<StreamCase> StreamCases() {
  const std::string a = WirePacket(1, 300, 0, "{\"uuid\":\"\"}");
  const std::string b = WirePacket(2, 17, 2, std::string("1\0{}\0", 5));
  const std::string empty = WirePacket(3, 600, 1, "");
  const std::string magicBody = WirePacket(4, 9, 0, "kCommand at the start, and kCommand again");
  const std::string heartbeatBody = WirePacket(5, 9, 0, std::string(20, '\x16'));
  std::string badMagic = WirePacket(6, 9, 0, "lost");
  badMagic[1] = 'X';
  const Expected ea{1, 300, 0, "{\"uuid\":\"\"}"};
  const Expected eb{2, 17, 2, std::string("1\0{}\0", 5)};
  const Expected eEmpty{3, 600, 1, ""};
  const Expected eMagic{4, 9, 0, "kCommand at the start, and kCommand again"};
  const Expected eHeartbeat{5, 9, 0, std::string(20, '\x16')};
  const std::string big = WirePacket(7, 1, 0, std::string(10000, 'z'));
  const Expected eBig{7, 1, 0, std::string(10000, 'z')};
  return {
      {"one packet", a, {ea}, 0, 0},
      {"empty body", empty, {eEmpty}, 0, 0},
      {"several in order", a + b + empty + big, {ea, eb, eEmpty, eBig}, 0, 0},
      {"heartbeats before, between and after",
       kWireHeartbeat + a + kWireHeartbeat + kWireHeartbeat + b + kWireHeartbeat,
       {ea, eb},
       4,
       0},
      {"bodies holding the magic and 0x16 runs", magicBody + heartbeatBody + a, {eMagic, eHeartbeat, ea}, 0, 0},
      {"garbage before and between", "junk!" + a + "\x16\x16zz" + b, {ea, eb}, 0, 9},
      {"corrupt magic drops that packet only", badMagic + a, {ea}, 0, badMagic.size()},
      {"a lone 'k' before a packet", "k" + a, {ea}, 0, 1},
      {"garbage right before a heartbeat", "xy" + kWireHeartbeat + a, {ea}, 1, 2},
  };
}

// Feeds the stream in pieces whose sizes come from `sizes` (cycled) and checks the result.
void CheckChunked(const StreamCase& c, const std::vector<size_t>& sizes, const std::string& label) {
  PacketReader reader;
  std::vector<DecodedPacket> packets;
  uint32_t heartbeats = 0;
  uint64_t skipped = 0;
  size_t position = 0;
  for (size_t i = 0; position < c.stream.size(); ++i) {
    const size_t take = std::min(sizes[i % sizes.size()], c.stream.size() - position);
    const FeedResult result = reader.Feed(Bytes(c.stream) + position, take, &packets);
    ASSERT_EQ(result.error, PacketError::kNone) << c.name << " / " << label;
    heartbeats += result.heartbeats;
    skipped += result.skippedBytes;
    position += take;
  }
  ASSERT_EQ(packets.size(), c.packets.size()) << c.name << " / " << label;
  for (size_t i = 0; i < packets.size(); ++i) {
    EXPECT_EQ(packets[i].header.id, c.packets[i].id) << c.name << " / " << label;
    EXPECT_EQ(packets[i].header.command, c.packets[i].command) << c.name << " / " << label;
    EXPECT_EQ(packets[i].header.status, c.packets[i].status) << c.name << " / " << label;
    EXPECT_EQ(packets[i].header.bodyLength, c.packets[i].body.size()) << c.name << " / " << label;
    EXPECT_EQ(packets[i].body, c.packets[i].body) << c.name << " / " << label;
  }
  EXPECT_EQ(heartbeats, c.heartbeats) << c.name << " / " << label;
  EXPECT_EQ(skipped, c.skippedBytes) << c.name << " / " << label;
  EXPECT_EQ(reader.BufferedBytes(), 0u) << c.name << " / " << label;
}

TEST(PacketReader, DeliversEachPacketOnceInOrderWhateverTheReads) {
  std::mt19937 random(20240611);
  std::vector<size_t> randomSizes;
  for (int i = 0; i < 64; ++i) randomSizes.push_back(1 + random() % 50);
  const std::vector<std::pair<std::string, std::vector<size_t>>> chunkings = {
      {"whole", {1 << 20}}, {"byte by byte", {1}}, {"2", {2}},       {"7", {7}},
      {"36", {36}},         {"37", {37}},          {"4096", {4096}}, {"random", randomSizes},
  };
  for (const StreamCase& c : StreamCases()) {
    for (const auto& [label, sizes] : chunkings) CheckChunked(c, sizes, label);
  }
}

TEST(PacketReader, EveryPrefixOfAPacketIsNeedMore) {
  const std::string body = "body with kCommand inside" + std::string(100, '\x16');
  const std::string packet = WirePacket(42, 501, 0, body);
  for (size_t n = 0; n < packet.size(); ++n) {
    PacketReader reader;
    std::vector<DecodedPacket> packets;
    const FeedResult first = reader.Feed(Bytes(packet), n, &packets);
    EXPECT_EQ(first.error, PacketError::kNone) << n;
    EXPECT_TRUE(packets.empty()) << n;
    EXPECT_EQ(reader.BufferedBytes(), n) << n;
    const FeedResult rest = reader.Feed(Bytes(packet) + n, packet.size() - n, &packets);
    EXPECT_EQ(rest.error, PacketError::kNone) << n;
    ASSERT_EQ(packets.size(), 1u) << n;
    EXPECT_EQ(packets[0].body, body) << n;
  }
}

TEST(PacketReader, OversizedHeaderFailsTheStreamButKeepsEarlierPackets) {
  const std::string good = WirePacket(1, 2, 0, "ok");
  const std::string stream = good + WirePacket(9, 9, 0, "", uint64_t{1} << 40) + good;
  PacketReader reader;
  std::vector<DecodedPacket> packets;
  const FeedResult result = reader.Feed(Bytes(stream), stream.size(), &packets);
  EXPECT_EQ(result.error, PacketError::kBodyTooLarge);
  EXPECT_EQ(result.rejectedBodyLength, uint64_t{1} << 40);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].body, "ok");
  // Nothing after the bad header is trusted any more, however valid it looks.
  EXPECT_EQ(reader.Feed(Bytes(good), good.size(), &packets).error, PacketError::kBodyTooLarge);
  EXPECT_EQ(packets.size(), 1u);
  EXPECT_TRUE(reader.HasFailed());
}

TEST(PacketReader, LargeAnnouncedLengthBuffersOnlyWhatArrived) {
  // Within the limit, so accepted; the reader holds 36 + 10 bytes, not the announced 512 MiB, and
  // reserves no more than the cap for them.
  const std::string stream = WirePacket(1, 2, 0, std::string(10, 'x'), kMaxPacketBodyBytes);
  PacketReader reader;
  std::vector<DecodedPacket> packets;
  EXPECT_EQ(reader.Feed(Bytes(stream), stream.size(), &packets).error, PacketError::kNone);
  EXPECT_TRUE(packets.empty());
  EXPECT_EQ(reader.BufferedBytes(), stream.size());
  EXPECT_GE(reader.ReservedBodyBytes(), kMaxReservedBodyBytes);
  EXPECT_LT(reader.ReservedBodyBytes(), 2 * kMaxReservedBodyBytes);
}

TEST(PacketReader, ABodyUpToTheCapIsGatheredInOneReservationOfItsLength) {
  // A 2 MiB upload segment with its framing, fed in receive-sized pieces: the body's memory is
  // reserved once from the announced length and never moves while the pieces arrive.
  const std::string body = "1" + std::string(1, '\0') + "{\"stage\":2}" + std::string(1, '\0') +
                           std::string(2 * 1024 * 1024, 'b');
  const std::string stream = WirePacket(7, 703, 0, body);
  PacketReader reader;
  std::vector<DecodedPacket> packets;
  constexpr size_t kPiece = 256 * 1024;
  ASSERT_EQ(reader.Feed(Bytes(stream), kPacketHeaderSize + 1, &packets).error, PacketError::kNone);
  const size_t reserved = reader.ReservedBodyBytes();
  EXPECT_GE(reserved, body.size());
  EXPECT_LT(reserved, body.size() + kPiece);
  for (size_t at = kPacketHeaderSize + 1; at < stream.size(); at += kPiece) {
    EXPECT_EQ(reader.ReservedBodyBytes(), reserved) << at;
    ASSERT_EQ(reader.Feed(Bytes(stream) + at, std::min(kPiece, stream.size() - at), &packets).error,
              PacketError::kNone);
  }
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].body, body);
  EXPECT_EQ(packets[0].body.capacity(), reserved);
}

}  // namespace
}  // namespace hlx
