// The loopback packet codec: header bytes to fields and back, and the per-connection stream reader.
// Fields are read and written byte by byte in little-endian order, so neither the host's byte order
// nor alignment matters. No sockets, no logging: the caller decides what a fault means.
#include "utility/hlx_packet.h"

#include <algorithm>
#include <cstring>

namespace hlx {
namespace {

template <typename T>
T LoadLittleEndian(const uint8_t* bytes) {
  T value = 0;
  for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(static_cast<T>(bytes[i]) << (8 * i));
  return value;
}

template <typename T>
void StoreLittleEndian(T value, uint8_t* bytes) {
  for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

// True when the bytes at `data` could be the start of a header: the whole magic, or, when fewer
// than eight bytes remain, a prefix of it.
bool CouldBeMagicStart(const uint8_t* data, size_t size) {
  return std::memcmp(data, kPacketMagic.data(), std::min(size, kPacketMagicSize)) == 0;
}

bool CouldBeHeartbeatStart(const uint8_t* data, size_t size) {
  const size_t count = std::min(size, kHeartbeatSize);
  return std::all_of(data, data + count, [](uint8_t byte) { return byte == kHeartbeatByte; });
}

}  // namespace

const char* PacketErrorName(PacketError error) {
  switch (error) {
    case PacketError::kNone: return "none";
    case PacketError::kBadMagic: return "bad magic";
    case PacketError::kBodyTooLarge: return "body too large";
  }
  return "unknown packet error";
}

std::array<uint8_t, kPacketHeaderSize> EncodePacketHeader(const IPCPacketHeader& header) {
  std::array<uint8_t, kPacketHeaderSize> bytes{};
  std::copy(kPacketMagic.begin(), kPacketMagic.end(), bytes.begin() + kPacketMagicOffset);
  std::copy(kPacketFiller.begin(), kPacketFiller.end(), bytes.begin() + kPacketFillerOffset);
  StoreLittleEndian(header.id, bytes.data() + kPacketIdOffset);
  StoreLittleEndian(header.command, bytes.data() + kPacketCommandOffset);
  StoreLittleEndian(header.status, bytes.data() + kPacketStatusOffset);
  StoreLittleEndian(header.bodyLength, bytes.data() + kPacketBodyLengthOffset);
  return bytes;
}

HeaderDecodeResult DecodePacketHeader(const uint8_t* data, size_t size, uint64_t maxBodyBytes) {
  HeaderDecodeResult result;
  if (size > 0 && !CouldBeMagicStart(data, size)) {
    result.status = DecodeStatus::kMalformed;
    result.error = PacketError::kBadMagic;
    return result;
  }
  if (size < kPacketHeaderSize) {
    result.status = DecodeStatus::kNeedMore;
    result.needBytes = kPacketHeaderSize - size;
    return result;
  }
  result.header.id = LoadLittleEndian<uint64_t>(data + kPacketIdOffset);
  result.header.command = LoadLittleEndian<uint32_t>(data + kPacketCommandOffset);
  result.header.status = LoadLittleEndian<uint16_t>(data + kPacketStatusOffset);
  result.header.bodyLength = LoadLittleEndian<uint64_t>(data + kPacketBodyLengthOffset);
  if (result.header.bodyLength > maxBodyBytes) {
    result.status = DecodeStatus::kMalformed;
    result.error = PacketError::kBodyTooLarge;
    return result;
  }
  result.status = DecodeStatus::kComplete;
  return result;
}

PacketReader::PacketReader(uint64_t maxBodyBytes) : m_maxBodyBytes(std::min(maxBodyBytes, kMaxPacketBodyBytes)) {}

size_t PacketReader::BufferedBytes() const {
  size_t buffered = m_pending.size();
  if (m_state == State::kBody) buffered += kPacketHeaderSize + m_current.body.size();
  return buffered;
}

FeedResult PacketReader::Feed(const uint8_t* data, size_t size, std::vector<DecodedPacket>* out) {
  FeedResult result;
  size_t position = 0;
  while (m_state != State::kFailed) {
    if (m_state == State::kBody) {
      const uint64_t missing = m_current.header.bodyLength - m_current.body.size();
      const size_t take = static_cast<size_t>(std::min<uint64_t>(missing, size - position));
      m_current.body.append(reinterpret_cast<const char*>(data + position), take);
      position += take;
      if (m_current.body.size() < m_current.header.bodyLength) break;  // input used up
      out->push_back(std::move(m_current));
      m_current = DecodedPacket();
      m_state = State::kBoundary;
      continue;
    }

    // At a boundary, take at most one header's worth of input: whatever follows a header is body
    // and is copied once, straight into the packet.
    if (m_pending.size() < kPacketHeaderSize && position < size) {
      const size_t take = std::min(kPacketHeaderSize - m_pending.size(), size - position);
      m_pending.append(reinterpret_cast<const char*>(data + position), take);
      position += take;
    }
    if (m_pending.empty()) break;
    const Step step = ParsePendingBoundary(&result);
    // Need-more only happens with fewer than 36 pending bytes, that is with the input used up.
    if (step == Step::kNeedMore) break;
  }
  if (m_state == State::kFailed) {
    result.error = m_error;
    result.rejectedBodyLength = m_rejectedBodyLength;
  }
  return result;
}

PacketReader::Step PacketReader::ParsePendingBoundary(FeedResult* result) {
  const auto* pending = reinterpret_cast<const uint8_t*>(m_pending.data());
  const size_t size = m_pending.size();

  if (pending[0] == kHeartbeatByte) {
    const size_t limit = std::min(size, kHeartbeatSize);
    size_t run = 0;
    while (run < limit && pending[run] == kHeartbeatByte) ++run;
    if (run == kHeartbeatSize) {
      m_pending.erase(0, kHeartbeatSize);
      ++result->heartbeats;
      return Step::kProgress;
    }
    if (run == size) return Step::kNeedMore;
    // A short run of 0x16 followed by something else is not a heartbeat: resynchronise below.
  } else {
    const HeaderDecodeResult decoded = DecodePacketHeader(pending, size, m_maxBodyBytes);
    if (decoded.status == DecodeStatus::kNeedMore) return Step::kNeedMore;
    if (decoded.status == DecodeStatus::kComplete) {
      m_pending.erase(0, kPacketHeaderSize);
      m_current.header = decoded.header;
      // Reserved from the announced length, up to the cap: a transfer segment arrives with one copy.
      m_current.body.reserve(static_cast<size_t>(std::min(decoded.header.bodyLength, kMaxReservedBodyBytes)));
      // A length of 0 completes at once in the body step.
      m_state = State::kBody;
      return Step::kProgress;
    }
    if (decoded.error == PacketError::kBodyTooLarge) {
      m_state = State::kFailed;
      m_error = decoded.error;
      m_rejectedBodyLength = decoded.header.bodyLength;
      m_pending.clear();
      return Step::kFailed;
    }
  }

  // Garbage: drop bytes up to the next place where a header or a heartbeat could start (judged on
  // the bytes at hand; a partial match at the end waits for more). Stopping at a heartbeat too, not
  // only at the magic, makes the outcome the same however the stream was cut into reads.
  size_t skip = 1;
  while (skip < size && !CouldBeMagicStart(pending + skip, size - skip) &&
         !CouldBeHeartbeatStart(pending + skip, size - skip)) {
    ++skip;
  }
  m_pending.erase(0, skip);
  result->skippedBytes += skip;
  return Step::kProgress;
}

}  // namespace hlx
