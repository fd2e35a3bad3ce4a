// Fuzz target of the packet stream reader: arbitrary bytes, fed whole, in chunks chosen from the
// input's hash, and (for short inputs) byte by byte. The reader must never crash, every packet it
// yields must be as long as its header says and within the limit, every input byte must be
// accounted for, and the outcome must not depend on how the bytes were cut into reads.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "replay_driver.h"
#include "utility/hlx_packet.h"

namespace {

struct Outcome {
  std::vector<hlx::DecodedPacket> packets;
  uint64_t heartbeats = 0;
  uint64_t skippedBytes = 0;
  size_t bufferedBytes = 0;
  hlx::PacketError error = hlx::PacketError::kNone;
};

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_packet_reader: %s\n", what);
  std::abort();
}

uint64_t Hash(const uint8_t* data, size_t size) {
  uint64_t hash = 1469598103934665603ULL;  // FNV-1a
  for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ULL;
  return hash;
}

// chunkSeed 0 feeds everything at once; otherwise chunk sizes of 1 to 64 bytes follow the seed.
Outcome Feed(const uint8_t* data, size_t size, uint64_t chunkSeed, size_t fixedChunk) {
  Outcome outcome;
  hlx::PacketReader reader;
  size_t position = 0;
  uint64_t state = chunkSeed;
  while (position < size) {
    size_t take = size - position;
    if (fixedChunk != 0) {
      take = std::min(take, fixedChunk);
    } else if (chunkSeed != 0) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      take = std::min(take, static_cast<size_t>(1 + (state >> 58)));
    }
    const hlx::FeedResult result = reader.Feed(data + position, take, &outcome.packets);
    outcome.heartbeats += result.heartbeats;
    outcome.skippedBytes += result.skippedBytes;
    position += take;
    if (result.error != hlx::PacketError::kNone) {
      outcome.error = result.error;
      if (!reader.HasFailed()) Fail("an error without a failed reader");
      break;
    }
  }
  outcome.bufferedBytes = reader.BufferedBytes();

  uint64_t accounted = outcome.heartbeats * hlx::kHeartbeatSize + outcome.skippedBytes + outcome.bufferedBytes;
  for (const hlx::DecodedPacket& packet : outcome.packets) {
    if (packet.body.size() != packet.header.bodyLength) Fail("body length differs from the header");
    if (packet.header.bodyLength > hlx::kMaxPacketBodyBytes) Fail("packet above the limit");
    accounted += hlx::kPacketHeaderSize + packet.body.size();
  }
  if (outcome.error == hlx::PacketError::kNone ? accounted != size : accounted > size) {
    Fail("input bytes not accounted for");
  }
  return outcome;
}

void ExpectSame(const Outcome& a, const Outcome& b) {
  if (a.packets.size() != b.packets.size()) Fail("packet count depends on chunking");
  for (size_t i = 0; i < a.packets.size(); ++i) {
    const auto& x = a.packets[i];
    const auto& y = b.packets[i];
    if (x.header.id != y.header.id || x.header.command != y.header.command ||
        x.header.status != y.header.status || x.body != y.body) {
      Fail("packet contents depend on chunking");
    }
  }
  if (a.heartbeats != b.heartbeats || a.skippedBytes != b.skippedBytes || a.error != b.error ||
      a.bufferedBytes != b.bufferedBytes) {
    Fail("stream outcome depends on chunking");
  }
}

std::string Packet(uint64_t id, uint32_t command, uint16_t status, const std::string& body) {
  hlx::IPCPacketHeader header;
  header.id = id;
  header.command = command;
  header.status = status;
  header.bodyLength = body.size();
  const auto bytes = hlx::EncodePacketHeader(header);
  return std::string(bytes.begin(), bytes.end()) + body;
}

}  // namespace

std::vector<std::string> HlxFuzzSeedInputs() {
  const std::string heartbeat(hlx::kHeartbeatSize, static_cast<char>(hlx::kHeartbeatByte));
  const std::string request = Packet(7, 300, 0, "{\"uuid\":\"0123\"}");
  static const char kReplyText[] = "1\0{\"stage\":0,\"code\":0}";  // flag, NUL, JSON, NUL
  const std::string reply = Packet(7, 300, 2, std::string(kReplyText, sizeof(kReplyText)) + "data");
  return {
      request,
      Packet(0, 1, 2, ""),
      heartbeat + request + heartbeat + reply,
      Packet(1, 2, 0, "kCommand" + heartbeat + "kComm") + request,
      request + "noise" + reply,
      Packet(9, 9, 0, std::string(3000, 'x')),
  };
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Outcome whole = Feed(data, size, 0, 0);
  ExpectSame(whole, Feed(data, size, Hash(data, size) | 1, 0));
  if (size <= 512) ExpectSame(whole, Feed(data, size, 0, 1));
  return 0;
}
