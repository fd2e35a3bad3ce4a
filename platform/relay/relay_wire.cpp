// Packet framing and reply-frame reading for the relay module (see relay_wire.h). Bytes only.
#include "relay_wire.h"

#include <zlib.h>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace relay {
namespace {

constexpr char kMagic[] = "kCommand";
constexpr std::size_t kMagicSizeBytes = 8;
constexpr unsigned char kFiller[6] = {1, 2, 3, 4, 5, 6};

void PutLittleEndian(std::string& out, std::uint64_t value, int sizeBytes) {
    for (int i = 0; i < sizeBytes; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
    }
}

std::uint64_t GetLittleEndian(const char* bytes, int sizeBytes) {
    std::uint64_t value = 0;
    for (int i = sizeBytes - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return value;
}

bool IsHeartbeatPrefix(const char* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        if (static_cast<unsigned char>(bytes[i]) != kHeartbeatByte) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string EncodeHeader(const PacketHeader& header) {
    std::string out(kMagic, kMagicSizeBytes);
    out.append(reinterpret_cast<const char*>(kFiller), sizeof kFiller);
    PutLittleEndian(out, header.id, 8);
    PutLittleEndian(out, header.command, 4);
    PutLittleEndian(out, header.status, 2);
    PutLittleEndian(out, header.bodyLength, 8);
    return out;
}

DecodeResult DecodeHeader(const std::string& bytes, PacketHeader& header) {
    const std::size_t prefix = bytes.size() < kMagicSizeBytes ? bytes.size() : kMagicSizeBytes;
    if (bytes.compare(0, prefix, kMagic, prefix) != 0) {
        return DecodeResult::kMalformed;
    }
    if (bytes.size() < kHeaderSizeBytes) {
        return DecodeResult::kNeedMore;
    }
    const char* raw = bytes.data();
    PacketHeader read;
    read.id = GetLittleEndian(raw + 14, 8);
    read.command = static_cast<std::uint32_t>(GetLittleEndian(raw + 22, 4));
    read.status = static_cast<std::uint16_t>(GetLittleEndian(raw + 26, 2));
    read.bodyLength = GetLittleEndian(raw + 28, 8);
    if (read.bodyLength > kMaxBodySizeBytes) {
        return DecodeResult::kMalformed;
    }
    header = read;
    return DecodeResult::kComplete;
}

std::string EncodePacket(std::uint64_t id, std::uint32_t command, std::uint16_t status, const std::string& body) {
    PacketHeader header;
    header.id = id;
    header.command = command;
    header.status = status;
    header.bodyLength = body.size();
    return EncodeHeader(header) + body;
}

std::string EncodeRequestBody(int subCommand, const std::string& json, const std::string& data) {
    std::string body = std::to_string(subCommand);
    body.push_back('\0');
    body += json;
    body.push_back('\0');
    body += data;
    return body;
}

bool Deflate(const std::string& in, std::string& out) {
    out.clear();
    uLongf size = compressBound(static_cast<uLong>(in.size()));
    std::string buffer(size, '\0');
    if (compress(reinterpret_cast<Bytef*>(&buffer[0]), &size, reinterpret_cast<const Bytef*>(in.data()),
                 static_cast<uLong>(in.size())) != Z_OK) {
        return false;
    }
    buffer.resize(size);
    out.swap(buffer);
    return true;
}

bool Inflate(const std::string& in, std::string& out, std::size_t limitBytes) {
    out.clear();
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    stream.avail_in = static_cast<uInt>(in.size());
    char chunk[16384];
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        result = inflate(&stream, Z_NO_FLUSH);
        const std::size_t produced = sizeof chunk - stream.avail_out;
        if ((result != Z_OK && result != Z_STREAM_END) || out.size() + produced > limitBytes) {
            result = Z_DATA_ERROR;
            break;
        }
        out.append(chunk, produced);
        if (result == Z_OK && produced == 0 && stream.avail_in == 0) {
            result = Z_BUF_ERROR;  // the input ended before the stream did
        }
    }
    inflateEnd(&stream);
    if (result != Z_STREAM_END || stream.avail_in != 0) {
        out.clear();
        return false;
    }
    return true;
}

void PacketReader::Feed(const char* bytes, std::size_t size) {
    if (m_malformed || size == 0) {
        return;
    }
    Compact();
    m_buffer.append(bytes, size);
}

void PacketReader::Compact() {
    if (m_start > 0) {
        m_buffer.erase(0, m_start);
        m_start = 0;
    }
}

DecodeResult PacketReader::Next(Packet& packet) {
    if (m_malformed) {
        return DecodeResult::kMalformed;
    }
    while (true) {
        const std::size_t available = m_buffer.size() - m_start;
        const char* head = m_buffer.data() + m_start;
        if (available == 0) {
            return DecodeResult::kNeedMore;
        }
        if (static_cast<unsigned char>(head[0]) != kHeartbeatByte) {
            break;
        }
        // A heartbeat, or the start of one.
        const std::size_t seen = available < kHeartbeatSizeBytes ? available : kHeartbeatSizeBytes;
        if (!IsHeartbeatPrefix(head, seen)) {
            m_malformed = true;
            return DecodeResult::kMalformed;
        }
        if (seen < kHeartbeatSizeBytes) {
            return DecodeResult::kNeedMore;
        }
        m_start += kHeartbeatSizeBytes;
    }
    const std::size_t available = m_buffer.size() - m_start;
    const std::size_t headerBytes = available < kHeaderSizeBytes ? available : kHeaderSizeBytes;
    PacketHeader header;
    const DecodeResult headerResult = DecodeHeader(m_buffer.substr(m_start, headerBytes), header);
    if (headerResult != DecodeResult::kComplete) {
        m_malformed = headerResult == DecodeResult::kMalformed;
        return headerResult;
    }
    if (available - kHeaderSizeBytes < header.bodyLength) {
        return DecodeResult::kNeedMore;
    }
    const std::size_t bodyLength = static_cast<std::size_t>(header.bodyLength);
    packet.header = header;
    packet.body.assign(m_buffer, m_start + kHeaderSizeBytes, bodyLength);
    m_start += kHeaderSizeBytes + bodyLength;
    if (m_start == m_buffer.size()) {
        m_buffer.clear();
        m_start = 0;
    }
    return DecodeResult::kComplete;
}

bool JsonObjectView::Parse(const std::string& text) {
    m_document.Parse(text.c_str(), text.size());
    if (m_document.HasParseError() || !m_document.IsObject()) {
        m_document.SetObject();
        return false;
    }
    return true;
}

const rapidjson::Value* JsonObjectView::Find(const char* name) const {
    if (!m_document.IsObject()) {
        return nullptr;
    }
    auto member = m_document.FindMember(name);
    return member == m_document.MemberEnd() ? nullptr : &member->value;
}

bool JsonObjectView::GetString(const char* name, std::string& value) const {
    const rapidjson::Value* found = Find(name);
    if (found == nullptr || !found->IsString()) {
        return false;
    }
    value.assign(found->GetString(), found->GetStringLength());
    return true;
}

bool JsonObjectView::GetInteger(const char* name, std::int64_t& value) const {
    const rapidjson::Value* found = Find(name);
    if (found == nullptr) {
        return false;
    }
    if (found->IsInt64()) {
        value = found->GetInt64();
        return true;
    }
    if (found->IsUint64()) {
        // Device handles and sizes are unsigned 64-bit on the wire; those above INT64_MAX keep their bits.
        value = static_cast<std::int64_t>(found->GetUint64());
        return true;
    }
    return false;
}

bool JsonObjectView::GetRaw(const char* name, std::string& value) const {
    const rapidjson::Value* found = Find(name);
    if (found == nullptr) {
        return false;
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    found->Accept(writer);
    value.assign(buffer.GetString(), buffer.GetSize());
    return true;
}

FrameResult ParseReplyFrame(const std::string& body, ReplyFrame& frame) {
    const std::size_t flagEnd = body.find('\0');
    if (flagEnd == std::string::npos) {
        return FrameResult::kNoSeparator;
    }
    const std::size_t recordEnd = body.find('\0', flagEnd + 1);
    if (recordEnd == std::string::npos) {
        return FrameResult::kNoSeparator;
    }
    ReplyFrame read;
    read.flag = body.substr(0, flagEnd);
    read.recordJson = body.substr(flagEnd + 1, recordEnd - flagEnd - 1);
    read.data = body.substr(recordEnd + 1);
    JsonObjectView record;
    if (!record.Parse(read.recordJson)) {
        return FrameResult::kBadRecord;
    }
    if (!record.GetInteger("stage", read.stage) || !record.GetInteger("code", read.code) ||
        !record.GetString("uuid", read.uuid) || !record.GetInteger("type", read.type)) {
        return FrameResult::kMissingMember;
    }
    read.hasInfo = record.GetRaw("info", read.infoJson);
    frame = std::move(read);
    return FrameResult::kOk;
}

const char* FrameResultName(FrameResult result) {
    switch (result) {
    case FrameResult::kOk: return "ok";
    case FrameResult::kNoSeparator: return "no separator";
    case FrameResult::kBadRecord: return "bad record";
    case FrameResult::kMissingMember: return "missing member";
    }
    return "unknown";
}

}  // namespace relay
