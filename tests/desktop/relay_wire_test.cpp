// The relay module's packet codec against bytes written out by hand from the wire layout, and against the
// bodies the device service sends for events, status packets and replies.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "relay_wire.h"

namespace {

using namespace std::string_literals;
using relay::DecodeResult;
using relay::FrameResult;
using relay::Packet;
using relay::PacketReader;
using relay::ReplyFrame;

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int value : values) {
        out.push_back(static_cast<char>(value));
    }
    return out;
}

// id 0x0102030405060708, command 300, status 2, body "abc", written out byte by byte.
std::string HandWrittenPacket() {
    return std::string("kCommand") + Bytes({1, 2, 3, 4, 5, 6}) + Bytes({8, 7, 6, 5, 4, 3, 2, 1}) +
           Bytes({0x2c, 0x01, 0, 0}) + Bytes({2, 0}) + Bytes({3, 0, 0, 0, 0, 0, 0, 0}) + "abc";
}

const std::string kHeartbeat(8, '\x16');

std::string StatusBody() { return "1\0{\"stage\":0,\"code\":7,\"uuid\":\"\",\"type\":0}\0"s; }

TEST(RelayWire, EncodesTheHeaderFieldsLittleEndianAtTheirOffsets) {
    EXPECT_EQ(relay::EncodePacket(0x0102030405060708ull, 300, 2, "abc"), HandWrittenPacket());
}

TEST(RelayWire, RequestBodyIsSubCommandJsonAndTwoNuls) {
    EXPECT_EQ(relay::EncodeRequestBody(12, "{\"uuid\":\"u\"}"), "12\0{\"uuid\":\"u\"}\0"s);
}

TEST(RelayWire, ReaderDeliversAPacketOnlyOnceEveryByteIsThere) {
    const std::string wire = HandWrittenPacket();
    for (std::size_t cut = 0; cut < wire.size(); ++cut) {
        PacketReader reader;
        reader.Feed(wire.data(), cut);
        Packet packet;
        ASSERT_EQ(reader.Next(packet), DecodeResult::kNeedMore) << "after " << cut << " bytes";
        reader.Feed(wire.data() + cut, wire.size() - cut);
        ASSERT_EQ(reader.Next(packet), DecodeResult::kComplete) << "cut at " << cut;
        EXPECT_EQ(packet.header.id, 0x0102030405060708ull);
        EXPECT_EQ(packet.header.command, 300u);
        EXPECT_EQ(packet.header.status, 2u);
        EXPECT_EQ(packet.body, "abc");
        EXPECT_EQ(reader.Next(packet), DecodeResult::kNeedMore);
        EXPECT_EQ(reader.BufferedBytes(), 0u);
    }
}

TEST(RelayWire, ReaderSkipsHeartbeatsBetweenPacketsWhateverTheReadBoundaries) {
    const std::string status = relay::EncodePacket(0, 9, 1, StatusBody());
    const std::string wire = kHeartbeat + HandWrittenPacket() + kHeartbeat + kHeartbeat + status + kHeartbeat;
    for (std::size_t chunk = 1; chunk <= wire.size(); ++chunk) {
        PacketReader reader;
        std::vector<Packet> packets;
        for (std::size_t at = 0; at < wire.size(); at += chunk) {
            reader.Feed(wire.data() + at, std::min(chunk, wire.size() - at));
            Packet packet;
            DecodeResult result;
            while ((result = reader.Next(packet)) == DecodeResult::kComplete) {
                packets.push_back(packet);
            }
            ASSERT_EQ(result, DecodeResult::kNeedMore) << "chunk " << chunk << " at " << at;
        }
        ASSERT_EQ(packets.size(), 2u) << "chunk " << chunk;
        EXPECT_EQ(packets[0].body, "abc");
        EXPECT_EQ(packets[1].header.command, 9u);
        EXPECT_EQ(packets[1].body, StatusBody());
        EXPECT_EQ(reader.BufferedBytes(), 0u);
    }
}

TEST(RelayWire, EmptyBodyGivesAPacketWithNoBody) {
    PacketReader reader;
    const std::string wire = relay::EncodePacket(5, 100, 1, "");
    reader.Feed(wire.data(), wire.size());
    Packet packet;
    ASSERT_EQ(reader.Next(packet), DecodeResult::kComplete);
    EXPECT_TRUE(packet.body.empty());
    EXPECT_EQ(packet.header.id, 5u);
}

TEST(RelayWire, BytesOutOfStepMakeTheStreamMalformedForGood) {
    const std::string good = HandWrittenPacket();
    for (const std::string& bad : {std::string("kComman!") + good.substr(8), "\x16\x16\x16x"s,
                                   std::string("garbage and more garbage than a header holds")}) {
        PacketReader reader;
        reader.Feed(bad.data(), bad.size());
        Packet packet;
        EXPECT_EQ(reader.Next(packet), DecodeResult::kMalformed);
        reader.Feed(good.data(), good.size());
        EXPECT_EQ(reader.Next(packet), DecodeResult::kMalformed) << "a later good packet does not resync";
    }
}

TEST(RelayWire, AHugeBodyLengthIsRefusedBeforeItsBytesArrive) {
    std::string header = HandWrittenPacket().substr(0, 28) + Bytes({0, 0, 0, 0x10, 0, 0, 0, 0});  // 256 MiB
    PacketReader reader;
    reader.Feed(header.data(), header.size());
    Packet packet;
    EXPECT_EQ(reader.Next(packet), DecodeResult::kMalformed);
    relay::PacketHeader decoded;
    EXPECT_EQ(relay::DecodeHeader(header, decoded), DecodeResult::kMalformed);
    EXPECT_EQ(relay::DecodeHeader(header.substr(0, 20), decoded), DecodeResult::kNeedMore);
}

TEST(RelayWire, ReadsTheStatusRecordOfTheWireExample) {
    ReplyFrame frame;
    ASSERT_EQ(relay::ParseReplyFrame(StatusBody(), frame), FrameResult::kOk);
    EXPECT_EQ(frame.flag, "1");
    EXPECT_EQ(frame.stage, 0);
    EXPECT_EQ(frame.code, 7);
    EXPECT_EQ(frame.uuid, "");
    EXPECT_EQ(frame.type, 0);
    EXPECT_FALSE(frame.hasInfo);
    EXPECT_TRUE(frame.data.empty());
}

TEST(RelayWire, ReadsTheDeviceReadyEventWithItsInfoObject) {
    const std::string info =
        "{\"Model\":\"iPhone10,3\",\"FirmVersion\":\"12.4.1\",\"Type\":\"iPhone\",\"Data_FreeSize\":55834560309,"
        "\"Data_PhysicalSize\":68719476736,\"Pid\":12121,\"TaskId\":0,\"SerialNumber\":\"UHX838NVU781\"}";
    const std::string body = "1\0"s +
                             "{\"stage\":0,\"code\":65552,\"uuid\":\"4283fefc63f0cd0e873a0000c6d07ef7b77e90d3\","
                             "\"type\":0,\"info\":" +
                             info + "}" + "\0"s;
    ReplyFrame frame;
    ASSERT_EQ(relay::ParseReplyFrame(body, frame), FrameResult::kOk);
    EXPECT_EQ(frame.code, 65552);
    EXPECT_EQ(frame.uuid, "4283fefc63f0cd0e873a0000c6d07ef7b77e90d3");
    ASSERT_TRUE(frame.hasInfo);
    EXPECT_EQ(frame.infoJson, info);
    relay::JsonObjectView view;
    ASSERT_TRUE(view.Parse(frame.infoJson));
    std::string model;
    std::int64_t freeBytes = 0;
    EXPECT_TRUE(view.GetString("Model", model));
    EXPECT_EQ(model, "iPhone10,3");
    EXPECT_TRUE(view.GetInteger("Data_FreeSize", freeBytes));
    EXPECT_EQ(freeBytes, 55834560309);
    EXPECT_FALSE(view.GetInteger("Model", freeBytes)) << "a string is not read as a number";
    EXPECT_FALSE(view.GetString("Pid", model)) << "a number is not read as a string";
}

TEST(RelayWire, KeepsTheDataPartAndAnEmptyInfo) {
    const std::string body = "1\0{\"stage\":2,\"code\":0,\"uuid\":\"u\",\"type\":1,\"info\":\"\"}\0"s + "\0\x01raw"s;
    ReplyFrame frame;
    ASSERT_EQ(relay::ParseReplyFrame(body, frame), FrameResult::kOk);
    EXPECT_EQ(frame.stage, 2);
    EXPECT_EQ(frame.type, 1);
    EXPECT_TRUE(frame.hasInfo);
    EXPECT_EQ(frame.infoJson, "\"\"");
    EXPECT_EQ(frame.data, "\0\x01raw"s);
}

TEST(RelayWire, RefusesFramesThatAreNotReplyRecords) {
    ReplyFrame frame;
    EXPECT_EQ(relay::ParseReplyFrame("1", frame), FrameResult::kNoSeparator);
    EXPECT_EQ(relay::ParseReplyFrame("1\0{\"stage\":0}"s, frame), FrameResult::kNoSeparator);
    EXPECT_EQ(relay::ParseReplyFrame("1\0{\"stage\":0,\0"s, frame), FrameResult::kBadRecord);
    EXPECT_EQ(relay::ParseReplyFrame("1\0[]\0"s, frame), FrameResult::kBadRecord);
    EXPECT_EQ(relay::ParseReplyFrame("1\0{\"stage\":0,\"code\":1,\"type\":0}\0"s, frame), FrameResult::kMissingMember);
    EXPECT_EQ(relay::ParseReplyFrame("1\0{\"stage\":0,\"code\":\"1\",\"uuid\":\"\",\"type\":0}\0"s, frame),
              FrameResult::kMissingMember);
}

TEST(RelayWire, UnescapedQuotesInADeviceNameBreakTheObjectInsteadOfShiftingMembers) {
    // The service inserts property values without escaping; such a record must not be half-read.
    relay::JsonObjectView view;
    EXPECT_FALSE(view.Parse("{\"Model\":\"a\"b\",\"Type\":\"iPhone\"}"));
    std::string value;
    EXPECT_FALSE(view.GetString("Type", value));
    ASSERT_TRUE(view.Parse("{\"Name\":\"Zo\\u00eb \\\"x\\\" \\ud83d\\ude00\"}"));
    ASSERT_TRUE(view.GetString("Name", value));
    EXPECT_EQ(value, "Zo\xc3\xab \"x\" \xf0\x9f\x98\x80");
}

}  // namespace

TEST(RelayWire, DataPartsRoundTripThroughZlibAndBrokenStreamsAreRefused) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "{\"id\":\"" + std::to_string(i) + "\"}";
    std::string compressed;
    ASSERT_TRUE(relay::Deflate(text, compressed));
    EXPECT_LT(compressed.size(), text.size() / 4);
    std::string inflated;
    ASSERT_TRUE(relay::Inflate(compressed, inflated));
    EXPECT_EQ(inflated, text);

    EXPECT_FALSE(relay::Inflate(compressed.substr(0, compressed.size() / 2), inflated)) << "cut short";
    EXPECT_TRUE(inflated.empty());
    EXPECT_FALSE(relay::Inflate(compressed, inflated, text.size() - 1)) << "larger than allowed";
    EXPECT_FALSE(relay::Inflate("not zlib at all", inflated));
    EXPECT_FALSE(relay::Inflate(compressed + "trailing", inflated)) << "bytes after the stream";
}

TEST(RelayWire, ARequestBodyCarriesItsDataPartAfterTheSecondNul) {
    EXPECT_EQ(relay::EncodeRequestBody(1, "{}", "\x78\x9c"s), "1\0{}\0\x78\x9c"s);
}
