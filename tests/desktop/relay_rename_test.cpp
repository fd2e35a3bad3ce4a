// The relay's device rename against a fake link: the request the service gets, the device table and the
// host's answer after a rename the service made, and no answer after one it refused or never got.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "command_names.h"
#include "relay_rename.h"
#include "relay_test_link.h"

namespace {

using namespace std::string_literals;
using relay::DeviceTable;
using relay::Packet;
using relay::RenameService;
using relay::ReplyFrame;
using trv::test::FakeLink;

const std::string kUdid = "udid-1";

struct Rename {
    FakeLink link;
    DeviceTable devices;
    RenameService renames{link, devices};

    Rename() {
        Packet ready;
        ready.header.command = 1;
        ready.header.status = 2;
        ready.body = "1\0"s + R"({"stage":0,"code":7,"uuid":")" + kUdid +
                     R"(","type":0,"info":{"Model":"iPhone10,3","FirmVersion":"12.4.1"}})" + "\0"s;
        ready.header.bodyLength = ready.body.size();
        (void)devices.OnPacket(ready);
    }
    bool Ask(const wchar_t* device, const wchar_t* name, std::int64_t code = relay::kRenameCode) {
        std::wstring deviceText = device != nullptr ? device : L"";
        std::wstring nameText = name != nullptr ? name : L"";
        CommandMessage message{};
        message.name = ZERITH_COMMAND_DO_BASICINFO;
        message.code = code;
        message.wideText = device != nullptr ? &deviceText[0] : nullptr;
        message.extra = name != nullptr ? &nameText[0] : nullptr;
        return renames.Handle(message);
    }
    void Reply(std::uint64_t id, std::int64_t code) {
        Packet packet;
        packet.header.id = id;
        packet.header.status = 1;
        ReplyFrame frame;
        frame.code = code;
        ASSERT_TRUE(renames.OnReply(packet, frame, ""));
    }
};

}  // namespace

TEST(RelayRename, ARenameTheServiceMadeRenamesTheDeviceAndAnswersTheHost) {
    Rename r;
    ASSERT_TRUE(r.Ask(L"udid-1", L"K\u00FCche \"2\""));
    ASSERT_EQ(r.link.requests.size(), 1u);
    EXPECT_EQ(r.link.requests[0].code, 303u);
    EXPECT_EQ(r.link.requests[0].device, kUdid);
    EXPECT_EQ(r.link.requests[0].data,
              "{\"name\":\"K\xC3\xBC"
              "che \\\"2\\\"\"}");
    EXPECT_TRUE(r.link.answers.empty());

    r.Reply(r.link.requests[0].id, 0);
    ASSERT_EQ(r.link.answers.size(), 1u);
    EXPECT_STREQ(r.link.answers[0].name, ZERITH_COMMAND_DO_BASICINFO);
    EXPECT_EQ(r.link.answers[0].code, 135);
    EXPECT_EQ(r.link.answers[0].device, kUdid);
    EXPECT_STREQ(static_cast<const wchar_t*>(r.link.answers[0].payload), L"K\u00FCche \"2\"");
    EXPECT_EQ(DeviceTable::DisplayName(*r.devices.Find(kUdid)),
              "K\xC3\xBC"
              "che \"2\"");
    Packet late;
    late.header.id = r.link.requests[0].id;
    EXPECT_FALSE(r.renames.OnReply(late, ReplyFrame{}, ""));  // answered once
}

TEST(RelayRename, RefusedLostOrUnknownRenamesAreNotAnswered) {
    Rename r;
    ASSERT_TRUE(r.Ask(L"udid-1", L"New"));
    r.Reply(r.link.requests[0].id, 10);     // refused by the service
    ASSERT_TRUE(r.Ask(L"udid-2", L"New"));  // a device the relay does not list
    r.Reply(r.link.requests[1].id, 0);
    ASSERT_TRUE(r.Ask(L"udid-1", L"Other"));
    r.renames.OnServiceGone();
    Packet packet;
    packet.header.id = r.link.requests[2].id;
    EXPECT_FALSE(r.renames.OnReply(packet, ReplyFrame{}, ""));
    EXPECT_TRUE(r.link.answers.empty());
    EXPECT_EQ(DeviceTable::DisplayName(*r.devices.Find(kUdid)), "iPhone10,3");
}

TEST(RelayRename, OnlyCompleteRenameRequestsReachTheService) {
    Rename r;
    EXPECT_FALSE(r.Ask(L"udid-1", L"New", 134));  // another basic-information code
    EXPECT_TRUE(r.Ask(nullptr, L"New"));
    EXPECT_TRUE(r.Ask(L"udid-1", nullptr));
    EXPECT_TRUE(r.Ask(L"udid-1", L""));
    EXPECT_TRUE(r.link.requests.empty());
}
