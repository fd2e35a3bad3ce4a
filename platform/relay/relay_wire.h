#pragma once
// The relay module's side of the device service's loopback protocol: packet headers, the stream reader
// that cuts packets out of the bytes read from the service's connection, request bodies and the reply
// frame ("1", NUL, JSON record, NUL, data). Bytes only: no sockets, no windows, no knowledge of what a
// command number means, so that it builds and is tested natively as well as in the 32-bit desktop tree.
// Not thread-safe; each reader belongs to the one thread that reads its connection.

#include <cstddef>
#include <cstdint>
#include <string>

#include <rapidjson/document.h>

namespace relay {

// Wire header, little-endian, unaligned:
//   @0  8 magic "kCommand"
//   @8  6 the bytes 01..06 (written, not checked)
//   @14 8 id (request id; 0 in events and status packets)
//   @22 4 command (request code, event or status number)
//   @26 2 status (1 last reply / status packet, 2 more to come / device event)
//   @28 8 body length
constexpr std::size_t kHeaderSizeBytes = 36;
constexpr std::size_t kHeartbeatSizeBytes = 8;
constexpr unsigned char kHeartbeatByte = 0x16;
// The service's largest single packets are file segments of 4 MiB and contact exports; anything larger
// than this is a stream out of step, refused before any allocation.
constexpr std::uint64_t kMaxBodySizeBytes = 64ull * 1024 * 1024;

struct PacketHeader {
    std::uint64_t id = 0;
    std::uint32_t command = 0;
    std::uint16_t status = 0;
    std::uint64_t bodyLength = 0;
};

// A reply packet with any status but "more to come" (2) is the request's last: 1 done, 5 cancelled, 6
// failed.
constexpr std::uint16_t kReplyMoreToCome = 2;
inline bool IsLastReply(const PacketHeader& header) { return header.status != kReplyMoreToCome; }

struct Packet {
    PacketHeader header;
    std::string body;  // bodyLength bytes
};

enum class DecodeResult {
    kComplete = 0,
    kNeedMore = 1,
    kMalformed = 2,
};

// The 36 header bytes for `header`.
std::string EncodeHeader(const PacketHeader& header);

// Reads a header from the first bytes of `bytes`: kNeedMore below 36 bytes, kMalformed without the magic or
// with a body length above kMaxBodySizeBytes.
[[nodiscard]] DecodeResult DecodeHeader(const std::string& bytes, PacketHeader& header);

// A whole request packet: header with `body`'s length, then `body`.
std::string EncodePacket(std::uint64_t id, std::uint32_t command, std::uint16_t status, const std::string& body);

// A request body: the sub-command in decimal, NUL, the JSON text, NUL, then the data part as given (the
// service reads it zlib-compressed; see Deflate).
std::string EncodeRequestBody(int subCommand, const std::string& json, const std::string& data = std::string());

// zlib streams, as the service writes its data parts and reads the requests'. Inflate refuses output
// larger than `limitBytes` (a stream that would inflate beyond what any reply holds is not one of the
// service's) and a stream that is cut short or corrupt; both return false with `out` cleared.
[[nodiscard]] bool Deflate(const std::string& in, std::string& out);
[[nodiscard]] bool Inflate(const std::string& in, std::string& out, std::size_t limitBytes = kMaxBodySizeBytes * 4);

// Cuts packets out of a byte stream whatever the read boundaries. The service writes a heartbeat (eight
// 0x16 bytes) with one send and only between packets, so heartbeats are dropped wherever they stand
// between packets, including in the same read as the start of a packet. Bytes that are neither a
// heartbeat nor a header put the reader in the malformed state for good: the connection is out of step
// and its owner closes it.
class PacketReader {
public:
    void Feed(const char* bytes, std::size_t size);
    // kComplete with the next packet in `packet`, kNeedMore when no whole packet is buffered, kMalformed
    // once the stream is out of step.
    [[nodiscard]] DecodeResult Next(Packet& packet);
    std::size_t BufferedBytes() const { return m_buffer.size() - m_start; }

private:
    void Compact();

    std::string m_buffer;
    std::size_t m_start = 0;  // bytes before this offset were consumed
    bool m_malformed = false;
};

// A reply, event or status body: "1", NUL, a JSON record, NUL, then an optional data part.
struct ReplyFrame {
    std::string flag;        // "1" from the service
    std::string recordJson;  // the JSON record text as sent
    std::string data;        // the data part as sent (compressed when `type` is 0)
    std::int64_t stage = 0;
    std::int64_t code = 0;
    std::string uuid;
    std::int64_t type = 0;
    bool hasInfo = false;
    std::string infoJson;  // the raw JSON text of "info" (an object, string, number ...)
};

enum class FrameResult {
    kOk = 0,
    kNoSeparator = 1,    // no NUL after the flag or after the record
    kBadRecord = 2,      // the record is not a JSON object
    kMissingMember = 3,  // "stage", "code", "uuid" or "type" missing or of the wrong type
};

[[nodiscard]] FrameResult ParseReplyFrame(const std::string& body, ReplyFrame& frame);
const char* FrameResultName(FrameResult result);

// Members of one JSON object (a reply record or the info of a device event). The service writes the
// device-ready info without escaping its property values, so a quote in one makes the whole text
// unreadable rather than shifting members.
class JsonObjectView {
public:
    // False when `text` is not one JSON object.
    [[nodiscard]] bool Parse(const std::string& text);
    [[nodiscard]] bool GetString(const char* name, std::string& value) const;
    [[nodiscard]] bool GetInteger(const char* name, std::int64_t& value) const;
    // Any member's value written back as compact JSON text.
    [[nodiscard]] bool GetRaw(const char* name, std::string& value) const;

private:
    const rapidjson::Value* Find(const char* name) const;
    rapidjson::Document m_document;
};

}  // namespace relay
