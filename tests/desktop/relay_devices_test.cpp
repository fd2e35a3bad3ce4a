// The relay module's reading of the device service's events and status packets, fed with bodies as the
// service writes them: which host notifications follow, and what the synchronous questions answer.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "relay_devices.h"

namespace {

using namespace std::string_literals;
using relay::DeviceTable;
using relay::Packet;
using relay::RelayActionKind;

const std::string kUdid = "4283fefc63f0cd0e873a0000c6d07ef7b77e90d3";

Packet MakePacket(std::uint64_t id, std::uint32_t command, std::uint16_t status, const std::string& body) {
    Packet packet;
    packet.header.id = id;
    packet.header.command = command;
    packet.header.status = status;
    packet.header.bodyLength = body.size();
    packet.body = body;
    return packet;
}

Packet Ready(const std::string& udid, const std::string& info) {
    return MakePacket(
        0, 1, 2,
        "1\0"s + "{\"stage\":0,\"code\":65552,\"uuid\":\"" + udid + "\",\"type\":0,\"info\":" + info + "}" + "\0"s);
}

Packet Removed(const std::string& udid) {
    return MakePacket(
        0, 8, 2,
        "1\0"s + "{\"stage\":0,\"code\":65552,\"uuid\":\"" + udid + "\",\"type\":0,\"info\":{\"PID\":12121}}" + "\0"s);
}

Packet Status(std::uint32_t command, std::int64_t code) {
    return MakePacket(0, command, 1,
                      "1\0"s + "{\"stage\":0,\"code\":" + std::to_string(code) + ",\"uuid\":\"\",\"type\":0}" + "\0"s);
}

const std::string kInfo =
    "{\"Model\":\"iPhone10,3\",\"FirmVersion\":\"12.4.1\",\"Type\":\"iPhone\",\"Data_FreeSize\":55834560309,"
    "\"Data_PhysicalSize\":68719476736,\"Pid\":12121,\"TaskId\":0,\"SerialNumber\":\"UHX838NVU781\"}";

TEST(RelayDevices, AReadyDeviceIsConnectedWithItsProductTypeThenFinished) {
    DeviceTable table;
    const auto actions = table.OnPacket(Ready(kUdid, kInfo));
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_EQ(actions[0].kind, RelayActionKind::kConnected);
    EXPECT_EQ(actions[0].device.udid, kUdid);
    EXPECT_EQ(actions[0].device.properties.at("ProductType"), "iPhone10,3");
    EXPECT_EQ(actions[0].device.properties.at("ProductVersion"), "12.4.1");
    EXPECT_EQ(actions[0].device.properties.at("DeviceClass"), "iPhone");
    EXPECT_EQ(actions[1].kind, RelayActionKind::kFinishConnect);
    EXPECT_TRUE(table.IsConnected(kUdid));
    EXPECT_EQ(table.ProductVersion(kUdid), "12.4.1");
    EXPECT_EQ(table.Devices().size(), 1u);
}

TEST(RelayDevices, RemovalOfAReadyDeviceDisconnectsItOnce) {
    DeviceTable table;
    (void)table.OnPacket(Ready(kUdid, kInfo));
    const auto actions = table.OnPacket(Removed(kUdid));
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].kind, RelayActionKind::kDisconnected);
    EXPECT_EQ(actions[0].device.udid, kUdid);
    EXPECT_EQ(DeviceTable::DisplayName(actions[0].device), "iPhone10,3");
    EXPECT_FALSE(table.IsConnected(kUdid));
    EXPECT_EQ(table.ProductVersion(kUdid), "");
    EXPECT_TRUE(table.OnPacket(Removed(kUdid)).empty()) << "a second removal reports nothing";
}

TEST(RelayDevices, EveryListedDeviceLeavesWithTheService) {
    DeviceTable table;
    (void)table.OnPacket(Ready(kUdid, kInfo));
    (void)table.OnPacket(Ready("second", kInfo));
    const auto actions = table.OnServiceGone();
    ASSERT_EQ(actions.size(), 2u);
    for (const auto& action : actions) {
        EXPECT_EQ(action.kind, RelayActionKind::kDisconnected);
    }
    EXPECT_FALSE(table.IsConnected(kUdid));
    EXPECT_FALSE(table.IsConnected("second"));
    EXPECT_TRUE(table.OnServiceGone().empty());
}

TEST(RelayDevices, RemovalOfADeviceNeverReadyReportsNothing) {
    DeviceTable table;
    EXPECT_TRUE(table.OnPacket(Removed(kUdid)).empty());
    EXPECT_TRUE(table.OnPacket(Status(8, 65552)).empty()) << "removed before it had a UDID";
}

TEST(RelayDevices, StatusElevenIsAnArrivalWithAHandleAndAMonitorFailureWithout) {
    DeviceTable table;
    auto actions = table.OnPacket(Status(11, 65552));
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].kind, RelayActionKind::kStartConnect);
    EXPECT_EQ(actions[0].device.handle, 65552);
    for (std::uint32_t code : {9u, 11u, 14u}) {
        actions = table.OnPacket(Status(code, 0));
        ASSERT_EQ(actions.size(), 1u) << code;
        EXPECT_EQ(actions[0].kind, RelayActionKind::kMonitorFailed);
        EXPECT_EQ(actions[0].code, code);
    }
}

TEST(RelayDevices, ADeviceErrorFailsTheConnection) {
    DeviceTable table;
    const auto actions = table.OnPacket(MakePacket(
        0, 12, 1,
        "1\0"s + "{\"stage\":0,\"code\":65552,\"uuid\":\"" + kUdid + "\",\"type\":0,\"info\":\"7\"}" + "\0"s));
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].kind, RelayActionKind::kConnectFail);
    EXPECT_EQ(actions[0].device.udid, kUdid);
    EXPECT_EQ(actions[0].code, 7u);
    EXPECT_FALSE(table.IsConnected(kUdid));
}

TEST(RelayDevices, ADeviceErrorNamesItsReasonAndAPairingRequestAsksForTrust) {
    const struct {
        const char* info;
        RelayActionKind kind;
        std::uint32_t code;
        // clang-format off
    } kCases[] = {
        {"\"25\"", RelayActionKind::kNotPaired, 25},   {"\"48\"", RelayActionKind::kConnectFail, 48},
        {"26", RelayActionKind::kConnectFail, 26},       {"\"-3\"", RelayActionKind::kConnectFail, 0},
        {"\"99999999999\"", RelayActionKind::kConnectFail, 0}, {"{}", RelayActionKind::kConnectFail, 0},
        // clang-format on
    };
    for (const auto& c : kCases) {
        DeviceTable table;
        const auto actions = table.OnPacket(MakePacket(0, 12, 1,
                                                       "1\0"s + "{\"stage\":0,\"code\":65552,\"uuid\":\"" + kUdid +
                                                           "\",\"type\":0,\"info\":" + c.info + "}" + "\0"s));
        ASSERT_EQ(actions.size(), 1u) << c.info;
        EXPECT_EQ(actions[0].kind, c.kind) << c.info;
        EXPECT_EQ(actions[0].code, c.code) << c.info;
        EXPECT_EQ(actions[0].device.udid, kUdid);
    }
}

// A device that reported why it is not ready (with its name in the report's data part) is waiting: it
// leaves with a removal event or with the service, and becoming ready ends its wait.
TEST(RelayDevices, ADeviceThatIsNotReadyWaitsUntilItIsReadyOrLeaves) {
    const auto report = [](const std::string& udid, const char* code) {
        // An uncompressed data part (type 1) with the device's name.
        return MakePacket(0, 12, 1,
                          "1\0"s + "{\"stage\":0,\"code\":65552,\"uuid\":\"" + udid + "\",\"type\":1,\"info\":\"" + code +
                              "\"}" + "\0"s + "{\"DeviceName\":\"Ada's iPhone\"}");
    };
    DeviceTable table;
    auto actions = table.OnPacket(report(kUdid, "48"));
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].kind, RelayActionKind::kConnectFail);
    EXPECT_EQ(actions[0].device.properties.at("DeviceName"), "Ada's iPhone");
    EXPECT_TRUE(table.IsWaiting(kUdid));
    EXPECT_FALSE(table.IsConnected(kUdid));

    actions = table.OnPacket(Removed(kUdid));
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].kind, RelayActionKind::kDisconnected);
    EXPECT_EQ(DeviceTable::DisplayName(actions[0].device), "Ada's iPhone");
    EXPECT_FALSE(table.IsWaiting(kUdid));
    EXPECT_TRUE(table.OnPacket(Removed(kUdid)).empty()) << "it left once";

    (void)table.OnPacket(report(kUdid, "25"));
    (void)table.OnPacket(Ready(kUdid, kInfo));
    EXPECT_FALSE(table.IsWaiting(kUdid)) << "trusted: ready";
    EXPECT_EQ(table.OnPacket(Removed(kUdid)).size(), 1u) << "it leaves as the ready device only";

    (void)table.OnPacket(report("second", "25"));
    actions = table.OnServiceGone();
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].device.udid, "second");
    EXPECT_FALSE(table.IsWaiting("second"));
}

TEST(RelayDevices, AReadyRecordBrokenByAnUnescapedQuoteIsDroppedWhole) {
    // A quote in a property value, inserted unescaped by the service, makes the record unreadable: no
    // member of it (not even the UDID) can be trusted.
    DeviceTable table;
    EXPECT_TRUE(table.OnPacket(Ready(kUdid, "{\"Model\":\"iPhone\"X\",\"FirmVersion\":\"12.4.1\"}")).empty());
    EXPECT_FALSE(table.IsConnected(kUdid));
}

TEST(RelayDevices, AReadyDeviceWhoseInfoIsNotAnObjectIsListedWithoutProperties) {
    DeviceTable table;
    const auto actions = table.OnPacket(Ready(kUdid, "\"\""));
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_TRUE(actions[0].device.properties.empty());
    EXPECT_TRUE(table.IsConnected(kUdid));
    EXPECT_EQ(DeviceTable::DisplayName(actions[0].device), kUdid);
}

TEST(RelayDevices, RepliesAndMalformedBodiesAreNotEvents) {
    DeviceTable table;
    Packet reply = Ready(kUdid, kInfo);
    reply.header.id = 1000;
    EXPECT_TRUE(table.OnPacket(reply).empty());
    EXPECT_TRUE(table.OnPacket(MakePacket(0, 1, 2, "garbage")).empty());
    EXPECT_TRUE(table.OnPacket(Ready("", kInfo)).empty()) << "a ready device without UDID";
    EXPECT_FALSE(table.IsConnected(kUdid));
}

}  // namespace

TEST(RelayDevices, BasicInformationNamesTheDeviceOnlyWhileItIsListed) {
    DeviceTable table;
    (void)table.OnPacket(Ready(kUdid, kInfo));
    std::map<std::string, std::string> info;
    ASSERT_TRUE(relay::ReadDeviceInfo(
        "{\"DeviceName\":\"Zo\xc3\xab's iPhone\",\"CycleCount\":294,\"ActivationStateAcknowledged\":true,"
        "\"Data_FreeSize\":55834560309,\"Nested\":{\"a\":1},\"List\":[1]}",
        info));
    EXPECT_EQ(info["DeviceName"], "Zo\xc3\xab's iPhone");
    EXPECT_EQ(info["CycleCount"], "294");
    EXPECT_EQ(info["ActivationStateAcknowledged"], "1");
    EXPECT_EQ(info["Data_FreeSize"], "55834560309");
    EXPECT_EQ(info.count("Nested") + info.count("List"), 0u);
    EXPECT_FALSE(relay::ReadDeviceInfo("[1,2]", info));
    EXPECT_FALSE(relay::ReadDeviceInfo("{\"DeviceName\":", info));

    ASSERT_TRUE(table.AddProperties(kUdid, info));
    const relay::RelayDevice* device = table.Find(kUdid);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(DeviceTable::DisplayName(*device), "Zo\xc3\xab's iPhone");
    EXPECT_EQ(table.ProductVersion(kUdid), "12.4.1") << "the ready event's properties stay";
    (void)table.OnPacket(Removed(kUdid));
    EXPECT_FALSE(table.AddProperties(kUdid, info)) << "a device that left is not listed again";
    EXPECT_EQ(table.Find(kUdid), nullptr);
}
