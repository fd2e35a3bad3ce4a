// The loopback packet codec: the 36-byte header, the heartbeat, and a stream reader that turns the
// bytes of one connection into complete packets whatever the read boundaries. It knows no sockets,
// no request codes and no threads; the IPC channel (hlx_ipc_channel) owns one reader per connection
// and feeds it from its receive thread, so a reader is used by one thread at a time.
//
// Wire layout, little-endian, no padding, fields unaligned:
//   offset  size  field
//        0     8  magic, the ASCII bytes "kCommand"
//        8     6  the bytes 01 02 03 04 05 06; written by senders, never checked
//       14     8  id, uint64: the request id, echoed by replies; 0 in events and status packets
//       22     4  command, uint32: the request code or the event or status number
//       26     2  status, uint16
//       28     8  body length n, uint64
//       36     n  body
// Between packets a peer may write a heartbeat: eight bytes 0x16 with no header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hlx {

inline constexpr size_t kPacketMagicOffset = 0;
inline constexpr size_t kPacketMagicSize = 8;
inline constexpr size_t kPacketFillerOffset = 8;
inline constexpr size_t kPacketFillerSize = 6;
inline constexpr size_t kPacketIdOffset = 14;
inline constexpr size_t kPacketCommandOffset = 22;
inline constexpr size_t kPacketStatusOffset = 26;
inline constexpr size_t kPacketBodyLengthOffset = 28;
inline constexpr size_t kPacketHeaderSize = 36;

// The peer's decoder reads the fields at these fixed offsets; any change breaks the wire.
static_assert(kPacketFillerOffset == kPacketMagicOffset + kPacketMagicSize);
static_assert(kPacketIdOffset == kPacketFillerOffset + kPacketFillerSize);
static_assert(kPacketCommandOffset == kPacketIdOffset + sizeof(uint64_t));
static_assert(kPacketStatusOffset == kPacketCommandOffset + sizeof(uint32_t));
static_assert(kPacketBodyLengthOffset == kPacketStatusOffset + sizeof(uint16_t));
static_assert(kPacketHeaderSize == kPacketBodyLengthOffset + sizeof(uint64_t));
static_assert(kPacketHeaderSize == 36, "the loopback packet header is 36 bytes on the wire");

inline constexpr std::array<uint8_t, kPacketMagicSize> kPacketMagic = {'k', 'C', 'o', 'm', 'm', 'a', 'n', 'd'};
inline constexpr std::array<uint8_t, kPacketFillerSize> kPacketFiller = {1, 2, 3, 4, 5, 6};

inline constexpr uint8_t kHeartbeatByte = 0x16;
inline constexpr size_t kHeartbeatSize = 8;
inline constexpr std::array<uint8_t, kHeartbeatSize> kHeartbeatBytes = {kHeartbeatByte, kHeartbeatByte, kHeartbeatByte,
                                                                        kHeartbeatByte, kHeartbeatByte, kHeartbeatByte,
                                                                        kHeartbeatByte, kHeartbeatByte};

// The header carries a 64-bit length that the receiver cannot trust. The largest honest packets are
// replies with a data part (compressed JSON listings, icons) and file segments, all far below this;
// a length above it is a broken or hostile peer, and the connection is closed rather than letting
// one peer make the service hold gigabytes. Bounding it here also keeps length + 36 from
// overflowing and lets a body length fit size_t everywhere.
inline constexpr uint64_t kMaxPacketBodyBytes = uint64_t{512} * 1024 * 1024;
static_assert(kMaxPacketBodyBytes + kPacketHeaderSize > kMaxPacketBodyBytes);

// A body is gathered in memory reserved from its announced length up front, so that it arrives with
// one copy and no regrowth; the reservation is capped here, since the length is the peer's word. The
// cap holds the largest body an honest transfer sends in one packet: a file segment of the AFC
// transfer unit (4 MiB) with its sub-command and JSON text. Bodies above it grow with what arrived.
inline constexpr uint64_t kMaxReservedBodyBytes = uint64_t{4} * 1024 * 1024 + 64 * 1024;
static_assert(kMaxReservedBodyBytes <= kMaxPacketBodyBytes);

// Codes of the codec layer; stable numbers, logged with PacketErrorName.
enum class PacketError : int32_t {
  kNone = 0,
  kBadMagic = 1,      // bytes where a header should begin do not begin with "kCommand"
  kBodyTooLarge = 2,  // the header's body length exceeds the reader's limit
};
const char* PacketErrorName(PacketError error);

// The header's fields in host form; the magic and filler are implied.
struct IPCPacketHeader {
  uint64_t id = 0;
  uint32_t command = 0;
  uint16_t status = 0;
  uint64_t bodyLength = 0;
};

enum class DecodeStatus : int32_t {
  kComplete = 0,
  kNeedMore = 1,
  kMalformed = 2,
};

struct HeaderDecodeResult {
  DecodeStatus status = DecodeStatus::kNeedMore;
  size_t needBytes = 0;                    // kNeedMore: how many more bytes the header needs at least
  PacketError error = PacketError::kNone;  // kMalformed: why
  IPCPacketHeader header;                  // kComplete; also filled for kBodyTooLarge
};

// The 36 header bytes for a header, magic and filler included.
std::array<uint8_t, kPacketHeaderSize> EncodePacketHeader(const IPCPacketHeader& header);

// Reads a header from the first `size` bytes at `data`. A prefix of a valid header is need-more; a
// prefix that already differs from the magic is malformed at once, so a reader can resynchronise
// without waiting for 36 bytes. A length above maxBodyBytes is malformed (kBodyTooLarge).
[[nodiscard]] HeaderDecodeResult DecodePacketHeader(const uint8_t* data, size_t size,
                                                    uint64_t maxBodyBytes = kMaxPacketBodyBytes);

// One complete packet as the reader yields it; body.size() == header.bodyLength, and std::string
// keeps a NUL after the last byte, so a text body is also a C string.
struct DecodedPacket {
  IPCPacketHeader header;
  std::string body;
};

// What one Feed call saw besides packets, for the caller's events and logs.
struct FeedResult {
  PacketError error = PacketError::kNone;  // kBodyTooLarge: the stream is unusable from here on
  uint64_t rejectedBodyLength = 0;         // the length that caused kBodyTooLarge
  uint32_t heartbeats = 0;                 // heartbeats skipped at packet boundaries
  uint64_t skippedBytes = 0;               // bytes dropped while looking for the next magic
};

// Reassembles packets from one connection's byte stream, so that no packet is lost or corrupted
// whatever the read boundaries:
// - the stream is parsed, not the reads: a read may hold any mix of heartbeats, packet pieces and
//   several packets, and a body chunk that happens to begin with "kCommand" is still body;
// - a heartbeat is recognised only at a packet boundary, in any read, so eight 0x16 bytes inside a
//   body stay body;
// - bytes that are neither a heartbeat nor a header are dropped up to the next "kCommand" or 0x16 (a
//   resynchronisation, reported as skippedBytes) instead of stalling the connection;
// - a body length above the limit fails the reader for good: the caller closes the connection.
// A body's memory is reserved from its announced length, at most kMaxReservedBodyBytes; beyond that
// it grows with the bytes that arrived, never with the length alone.
// Threads: one thread at a time (the channel's receive thread).
class PacketReader {
 public:
  explicit PacketReader(uint64_t maxBodyBytes = kMaxPacketBodyBytes);

  // Consumes all `size` bytes, appending each packet completed by them to *out in stream order.
  // After a kBodyTooLarge result every further call returns it again and consumes nothing.
  [[nodiscard]] FeedResult Feed(const uint8_t* data, size_t size, std::vector<DecodedPacket>* out);

  // Bytes received but not yet part of a yielded packet, heartbeat or skipped run.
  size_t BufferedBytes() const;
  // The memory held for the body being gathered (its capacity; 0 at a boundary).
  size_t ReservedBodyBytes() const { return m_state == State::kBody ? m_current.body.capacity() : 0; }
  bool HasFailed() const { return m_state == State::kFailed; }

 private:
  enum class State { kBoundary, kBody, kFailed };
  enum class Step { kProgress, kNeedMore, kFailed };

  Step ParsePendingBoundary(FeedResult* result);

  const uint64_t m_maxBodyBytes;
  State m_state = State::kBoundary;
  // At a boundary: up to one header's worth of bytes not yet classified. Body bytes never pass
  // through here; they go from the input straight into m_current.body.
  std::string m_pending;
  DecodedPacket m_current;  // the packet whose body is being gathered (kBody)
  PacketError m_error = PacketError::kNone;
  uint64_t m_rejectedBodyLength = 0;
};

}  // namespace hlx
