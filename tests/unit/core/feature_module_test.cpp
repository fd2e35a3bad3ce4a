// The request frame of the feature modules, driven with hostile bodies: every request gets exactly
// one final reply, with the code the one rule gives; an exception in a module's work is code 2;
// deep nesting, inflation bombs and NULs are refused without crashing; a code without a module is
// answered too.
#include "utility/hlx_feature_module.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <glog/logging.h>
#include <gtest/gtest.h>

#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_reply_sink.h"
#include "utility/hlx_zlib.h"
#include "utility/ios/hlx_client.h"

namespace hlx {
namespace {

using namespace std::string_literals;

struct SentReply {
  uint64_t id;
  uint32_t command;
  uint16_t status;
  std::string text;  // the JSON record
};

class RecordingSink : public ReplySink {
 public:
  int SendReply(const ReplyRecord& record, const IPCPacket1& packet) override {
    const std::string body = record.SerializeText();
    const size_t start = body.find('\0') + 1;
    std::lock_guard<std::mutex> lock(m_mutex);
    sent.push_back({packet.id, packet.command, packet.status, body.substr(start, body.find('\0', start) - start)});
    return 0;
  }
  std::vector<SentReply> sent;

 private:
  std::mutex m_mutex;
};

// A module needing no device whose work the test sets.
class ProbeModule : public HLXFeatureModule {
 public:
  std::function<int(FeatureRequest&)> work = [](FeatureRequest&) { return 0; };

 protected:
  bool NeedsDevice(const FeatureRequest&) const override { return false; }
  int Run(FeatureRequest& request) override { return work(request); }
};

std::string Compress(const std::string& text) {
  std::string packed;
  EXPECT_TRUE(ZlibCompress(packed, text.data(), text.size()));
  return packed;
}

std::string Nested(size_t depth, const std::string& open, const std::string& close) {
  std::string text;
  text.reserve(depth * (open.size() + close.size()) + 1);
  for (size_t i = 0; i < depth; ++i) text += open;
  text += "1";
  for (size_t i = 0; i < depth; ++i) text += close;
  return text;
}

class FeatureFrame : public testing::Test {
 protected:
  void SetUp() override { SetReplySink(&m_sink); }
  void TearDown() override { SetReplySink(&HLXClient::GetInstance()); }

  // Runs one request; expects exactly one reply, final, on its id; returns its parsed record.
  rapidjson::Document Handle(const std::string& body, const std::string& data = "") {
    m_sink.sent.clear();
    IPCPacket1 packet;
    packet.id = 77;
    packet.command = 4242;
    packet.body = data.empty() ? body : body + data;
    m_module.HandleRequest(packet);
    rapidjson::Document record;
    EXPECT_EQ(m_sink.sent.size(), 1u) << "one final reply, nothing else";
    if (m_sink.sent.empty()) return record;
    const SentReply& reply = m_sink.sent.back();
    EXPECT_EQ(reply.id, 77u);
    EXPECT_EQ(reply.command, 4242u);
    EXPECT_NE(reply.status, static_cast<uint16_t>(PacketStatus::kInProgress));
    EXPECT_FALSE(record.Parse(reply.text.c_str()).HasParseError()) << reply.text;
    return record;
  }

  RecordingSink m_sink;
  ProbeModule m_module;
};

TEST_F(FeatureFrame, AnExceptionInTheWorkStillGetsTheFinalReplyWithCode2) {
  m_module.work = [](FeatureRequest&) -> int { throw std::runtime_error("out of luck"); };
  rapidjson::Document record = Handle("1\0{\"uuid\":\"abc\"}\0"s);
  EXPECT_EQ(record["code"].GetInt(), kReplyTaskError);
  EXPECT_STREQ(record["uuid"].GetString(), "abc");
  EXPECT_EQ(m_sink.sent.back().status, static_cast<uint16_t>(PacketStatus::kFailed));

  m_module.work = [](FeatureRequest&) -> int { throw 5; };
  EXPECT_EQ(Handle("1\0{}\0"s)["code"].GetInt(), kReplyTaskError);
}

TEST_F(FeatureFrame, WhatTheWorkHoldsUntilAnsweredGoesAfterTheFinalReply) {
  size_t repliesWhenReleased = 99;
  m_module.work = [&](FeatureRequest& request) {
    std::shared_ptr<void> held(nullptr, [&](void*) { repliesWhenReleased = m_sink.sent.size(); });
    request.HoldUntilAnswered(std::move(held));
    return 0;
  };
  EXPECT_EQ(Handle("1\0{}\0"s)["code"].GetInt(), 0);
  EXPECT_EQ(repliesWhenReleased, 1u) << "released once the final reply was out";
}

TEST_F(FeatureFrame, JsonAndUuidFollowOneRule) {
  struct Case {
    const char* what;
    std::string body;
    int code;
    const char* uuid;
  };
  const Case cases[] = {
      {"a string uuid", "1\0{\"uuid\":\"abc\"}\0"s, kReplySuccess, "abc"},
      {"no uuid", "1\0{}\0"s, kReplySuccess, ""},
      {"sub-command 0 does no work", "0\0{\"uuid\":\"abc\"}\0"s, kReplySuccess, "abc"},
      {"not JSON", "1\0{broken\0"s, kReplyBadRequest, ""},
      {"no JSON part", "1"s, kReplyBadRequest, ""},
      {"not an object", "1\0[1,2]\0"s, kReplyBadRequest, ""},
      {"a number uuid", "1\0{\"uuid\":5}\0"s, kReplyBadRequest, ""},
      {"a null uuid", "1\0{\"uuid\":null}\0"s, kReplyBadRequest, ""},
      {"a NUL in the uuid", "1\0{\"uuid\":\"ab\\u0000c\"}\0"s, kReplyBadRequest, ""},
      {"a uuid of invalid UTF-8", "1\0{\"uuid\":\"\xff\xfe\xc0\xaf\"}\0"s, kReplyBadRequest, ""},
      {"a NUL in another text", "1\0{\"uuid\":\"abc\",\"name\":\"x\\u0000y\"}\0"s, kReplyBadData, "abc"},
      {"a NUL in a member name", "1\0{\"uuid\":\"abc\",\"x\\u0000\":1}\0"s, kReplyBadData, "abc"},
      {"arrays 130,000 deep", "1\0"s + Nested(130000, "[", "]") + "\0"s, kReplyBadRequest, ""},
      {"objects 130,000 deep", "1\0"s + Nested(130000, "{\"a\":", "}") + "\0"s, kReplyBadData, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rapidjson::Document record = Handle(c.body);
    ASSERT_TRUE(record.IsObject());
    EXPECT_EQ(record["code"].GetInt(), c.code);
    EXPECT_STREQ(record["uuid"].GetString(), c.uuid);
  }
}

TEST_F(FeatureFrame, DataPartsThatInflateTooFarNestTooDeepOrHoldANulAre8) {
  m_module.work = [](FeatureRequest& request) {
    rapidjson::Document data;
    return request.ReadData(&data);
  };
  const std::string head = "1\0{\"uuid\":\"u\"}\0"s;
  const std::string bomb = Compress(std::string(kMaxRequestDataBytes + (1 << 20), ' '));
  EXPECT_LT(bomb.size(), 100000u);
  struct Case {
    const char* what;
    std::string data;
    int code;
  };
  const Case cases[] = {
      {"a JSON object", Compress("{\"name\":\"x\"}"), kReplySuccess},
      {"beyond the inflation cap", bomb, kReplyBadData},
      {"objects 130,000 deep", Compress(Nested(130000, "{\"a\":", "}")), kReplyBadData},
      {"a NUL in a text", Compress("{\"name\":\"a\\u0000b\"}"), kReplyBadData},
      {"not zlib", "not zlib", kReplyBadData},
      {"no data part", "", kReplyBadData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Handle(head, c.data)["code"].GetInt(), c.code);
  }
}

// A request's JSON is kept in a block inside its document until it outgrows it: texts and members
// on both sides of that bound reach the work whole.
TEST_F(FeatureFrame, RequestJsonOfAnySizeReachesTheWork) {
  const size_t padSizes[] = {0, 900, 1100, 70000};
  for (size_t padSize : padSizes) {
    SCOPED_TRACE(padSize);
    std::string members;
    for (int i = 0; i < 40; ++i) members += ",\"m" + std::to_string(i) + "\":" + std::to_string(i);
    const std::string text = "{\"pad\":\"" + std::string(padSize, 'p') + "\"" + members + ",\"uuid\":\"abc\"}";
    m_module.work = [&](FeatureRequest& request) {
      const rapidjson::Document& json = request.Json();
      const bool whole = json["pad"].GetStringLength() == padSize && json["m39"].GetInt() == 39 &&
                         json.MemberCount() == 42;
      return whole ? kReplySuccess : kReplyTaskError;
    };
    rapidjson::Document record = Handle("1\0"s + text + "\0"s);
    EXPECT_EQ(record["code"].GetInt(), kReplySuccess);
    EXPECT_STREQ(record["uuid"].GetString(), "abc");
  }
}

// The glog lines written while it is installed.
class LineRecorder : public google::LogSink {
 public:
  LineRecorder() { google::AddLogSink(this); }
  ~LineRecorder() override { google::RemoveLogSink(this); }
  void send(google::LogSeverity, const char*, const char*, int, const google::LogMessageTime&, const char* message,
            size_t length) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    lines.emplace_back(message, length);
  }
  std::vector<std::string> lines;

 private:
  std::mutex m_mutex;
};

// The request's one line is written whenever its severity (INFO for success, ERROR otherwise) is
// logged, and not built at all otherwise.
TEST_F(FeatureFrame, TheRequestLineFollowsTheLowestSeverityLogged) {
  struct Case {
    int lowestLogged;
    int code;
    bool written;
  };
  const Case cases[] = {
      {google::GLOG_INFO, kReplySuccess, true},          {google::GLOG_INFO, kReplyTaskError, true},
      {google::GLOG_ERROR, kReplySuccess, false},        {google::GLOG_ERROR, kReplyTaskError, true},
      {google::NUM_SEVERITIES, kReplyTaskError, false},
  };
  const int32_t saved = FLAGS_minloglevel;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "lowest " << c.lowestLogged << ", code " << c.code);
    m_module.work = [&](FeatureRequest&) { return c.code; };
    FLAGS_minloglevel = c.lowestLogged;
    std::vector<std::string> lines;
    {
      LineRecorder recorder;
      Handle("1\0{\"uuid\":\"abc\"}\0"s);
      lines = recorder.lines;
    }
    FLAGS_minloglevel = saved;
    const std::string expected = "request 77 code 4242 sub 1 device abc result " + std::to_string(c.code) + " (";
    const bool found = std::any_of(lines.begin(), lines.end(),
                                   [&](const std::string& line) { return line.rfind(expected, 0) == 0; });
    EXPECT_EQ(found, c.written);
  }
}

TEST_F(FeatureFrame, ACodeWithoutAModuleGetsAFinalReply) {
  auto packet = std::make_unique<IPCPacket1>();
  packet->id = 78;
  packet->command = 4243;  // entered by no test
  packet->body = "1\0{}\0"s;
  RunRequestTask(std::move(packet));
  ASSERT_EQ(m_sink.sent.size(), 1u);
  EXPECT_EQ(m_sink.sent[0].id, 78u);
  EXPECT_EQ(m_sink.sent[0].status, static_cast<uint16_t>(PacketStatus::kFailed));
  EXPECT_EQ(m_sink.sent[0].text, "{\"stage\":0,\"code\":2,\"uuid\":\"\",\"type\":0}");
}

}  // namespace
}  // namespace hlx
