// The reply frame against the bytes the desktop side parses, and the request body split.
#include "utility/hlx_reply.h"

#include <zlib.h>

#include <string>

#include <gtest/gtest.h>

#include "utility/hlx_module.h"
#include "utility/hlx_zlib.h"

namespace hlx {
namespace {

using namespace std::string_literals;

std::string Inflate(const std::string& compressed) {
  std::string out(1 << 20, '\0');
  uLongf size = out.size();
  if (uncompress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(compressed.data()),
                 compressed.size()) != Z_OK) {
    return "<not zlib>";
  }
  out.resize(size);
  return out;
}

TEST(ReplyRecord, SerializesTheBytesTheDesktopParses) {
  struct Case {
    const char* uuid;
    int64_t code;
    int32_t stage;
    const char* info;
    std::string expected;
  };
  const Case cases[] = {
      {nullptr, 7, 0, nullptr, "1\0{\"stage\":0,\"code\":7,\"uuid\":\"\",\"type\":0}\0"s},
      {"abc", 0, 3, "{\"a\":1}", "1\0{\"stage\":3,\"code\":0,\"uuid\":\"abc\",\"type\":0,\"info\":{\"a\":1}}\0"s},
      {"u", -1, 0, "", "1\0{\"stage\":0,\"code\":-1,\"uuid\":\"u\",\"type\":0,\"info\":\"\"}\0"s},
      {"u", 1, 0, "[1,2]", "1\0{\"stage\":0,\"code\":1,\"uuid\":\"u\",\"type\":0,\"info\":[1,2]}\0"s},
      {"u", int64_t{1} << 40, 0, "\"text\"",
       "1\0{\"stage\":0,\"code\":1099511627776,\"uuid\":\"u\",\"type\":0,\"info\":\"text\"}\0"s},
      // A quote in the uuid is escaped so that the record still parses.
      {"a\"b", 0, 0, nullptr, "1\0{\"stage\":0,\"code\":0,\"uuid\":\"a\\\"b\",\"type\":0}\0"s},
  };
  for (const Case& c : cases) {
    ReplyRecord record;
    record.uuid = c.uuid;
    record.code = c.code;
    record.stage = c.stage;
    record.info = c.info;
    EXPECT_EQ(ReplyRecord::Serialize(record), c.expected);
  }
}

TEST(ReplyRecord, DataPartIsCompressedForTypeZeroOnly) {
  std::string data(100, 'x');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i);
  ReplyRecord record;
  record.uuid = "d";
  record.data = reinterpret_cast<const uint8_t*>(data.data());
  record.dataLength = static_cast<int64_t>(data.size());

  const std::string text = record.SerializeText();
  const std::string compressed = ReplyRecord::Serialize(record);
  ASSERT_EQ(compressed.compare(0, text.size(), text), 0);
  EXPECT_EQ(Inflate(compressed.substr(text.size())), data);

  record.type = 1;
  const std::string raw = ReplyRecord::Serialize(record);
  EXPECT_EQ(raw, record.SerializeText() + data);
}

TEST(ReplyRecord, ADataPartCompressedBeforehandGoesOutAsTheSameBytes) {
  std::string data;
  for (int i = 0; i < 2000; ++i) data += "{\"item\":" + std::to_string(i % 37) + "},";
  ReplyRecord record;
  record.uuid = "d";
  record.data = reinterpret_cast<const uint8_t*>(data.data());
  record.dataLength = static_cast<int64_t>(data.size());
  const std::string compressedOnTheWay = ReplyRecord::Serialize(record);

  std::string stream;
  ASSERT_TRUE(ZlibCompress(stream, data.data(), data.size()));
  ReplyRecord precompressed = record;
  precompressed.data = reinterpret_cast<const uint8_t*>(stream.data());
  precompressed.dataLength = static_cast<int64_t>(stream.size());
  precompressed.dataCompressed = true;
  EXPECT_EQ(ReplyRecord::Serialize(precompressed), compressedOnTheWay);
}

TEST(ReplyStatus, MapsResultCodesToPacketStatus) {
  EXPECT_EQ(ReplyStatus(0), PacketStatus::kDone);
  EXPECT_EQ(ReplyStatus(6), PacketStatus::kCancelled);
  for (int64_t code : {1, 2, 7, 8, 21, 48, -1}) EXPECT_EQ(ReplyStatus(code), PacketStatus::kFailed) << code;
}

TEST(RequestPayload, SplitsWithinTheBody) {
  struct Case {
    std::string body;
    int sub;
    std::string json;
    std::string data;
  };
  const Case cases[] = {
      {"1\0{\"uuid\":\"x\"}\0"s, 1, "{\"uuid\":\"x\"}", ""},
      {"1\0{}\0\x78\x9c\0\1"s, 1, "{}", "\x78\x9c\0\1"s},
      {"1"s, 1, "", ""},                        // no NUL at all: no JSON part
      {"12\0{\"a\":1}"s, 12, "{\"a\":1}", ""},  // JSON that runs to the end of the body
      {""s, 0, "", ""},
      {"x\0{}\0"s, 0, "{}", ""},
  };
  for (const Case& c : cases) {
    RequestPayload payload = RequestPayload::Parse(c.body);
    EXPECT_EQ(payload.subCommand, c.sub);
    EXPECT_EQ(payload.json, c.json);
    EXPECT_EQ(payload.data, c.data);
    // The data part is the body's own bytes, not a copy of them.
    if (!payload.data.empty()) {
      EXPECT_EQ(payload.data.data() + payload.data.size(), c.body.data() + c.body.size());
    }
  }
}

}  // namespace
}  // namespace hlx
