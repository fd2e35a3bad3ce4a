// The relay's listing features against a fake link: which service request each host request becomes, the
// answers made of the service's batches (under the feature's relay name, with the kind in `status`), the
// count and the end of a listing, a module that is not built (code 2) and a lost service. Payloads are
// released by the fake, so the sanitizer build also checks ownership.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_names.h"
#include "feature_codes.h"
#include "relay_lists.h"
#include "relay_test_link.h"

namespace {

using trv::relay::ContactsAnswer;
using trv::relay::ListsService;
using trv::relay::Packet;
using trv::relay::ReplyFrame;
using trv_test::FakeLink;

const wchar_t kDevice[] = L"udid-1";

bool Request(ListsService& lists, const char* name, std::int64_t code, std::int64_t status = 0,
             std::int64_t* statusAfter = nullptr) {
    std::wstring device = kDevice;
    CommandMessage message{};
    message.name = name;
    message.code = code;
    message.status = status;
    message.wideText = &device[0];
    const bool handled = lists.Handle(message);
    if (statusAfter != nullptr) *statusAfter = message.status;
    return handled;
}

void Reply(ListsService& lists, std::uint64_t id, std::uint16_t status, std::int64_t code, const std::string& data) {
    Packet packet;
    packet.header.id = id;
    packet.header.status = status;
    ReplyFrame frame;
    frame.code = code;
    ASSERT_TRUE(lists.OnReply(packet, frame, data));
}

std::vector<std::wstring> Fields(const ContactsAnswer& answer, size_t item) {
    return static_cast<const ItemBatch<TextItem>*>(answer.extra)->items.at(item)->fields;
}

}  // namespace

TEST(RelayLists, EveryFeatureListingBecomesItsServiceRequest) {
    struct Case {
        const char* name;
        std::int64_t code;
        std::uint32_t service;
        const char* answerName;
    };
    const Case cases[] = {
        {ZERITH_COMMAND_DO_NOTE, 58, 1200, ZERITH_COMMAND_DO_NOTE},
        {ZERITH_COMMAND_DO_BOOKMARK, 101, 1400, ZERITH_COMMAND_DO_BOOKMARK},
        {ZERITH_COMMAND_DO_CALENDAR, 65, 1500, ZERITH_COMMAND_DO_CALENDAR},
        {ZERITH_COMMAND_DO_SMS, 24, 201, ZERITH_COMMAND_DO_SMS},
        {ZERITH_COMMAND_DO_MEDIA, 95, 1004, ZERITH_COMMAND_DO_MUSIC},
        {ZERITH_COMMAND_DO_MEDIA, 86, 1005, ZERITH_COMMAND_DO_VIDEO},
        {ZERITH_COMMAND_DO_MEDIA, 92, 1006, ZERITH_COMMAND_DO_VIDEO},
        {ZERITH_COMMAND_DO_MEDIA, 89, 1007, ZERITH_COMMAND_DO_VIDEO},
        {ZERITH_COMMAND_DO_ITUNES, 74, 1008, ZERITH_COMMAND_DO_BOOK},
        {ZERITH_COMMAND_DO_ITUNES, 80, 1003, ZERITH_COMMAND_DO_RINGTONE},
        {ZERITH_COMMAND_DO_RECORDING, 83, 1002, ZERITH_COMMAND_DO_RECORDING},
        {ZERITH_COMMAND_DO_PHOTO, 125, 400, ZERITH_COMMAND_DO_PHOTO},
        {ZERITH_COMMAND_DO_PHOTO, 129, 401, ZERITH_COMMAND_DO_PHOTO},
        {ZERITH_COMMAND_DO_APP, 52, 501, ZERITH_COMMAND_DO_APP},
        {ZERITH_COMMAND_DO_BACKUP, 136, 1602, ZERITH_COMMAND_DO_BACKUP},
    };
    for (const Case& c : cases) {
        FakeLink link;
        ListsService lists(link);
        ASSERT_TRUE(Request(lists, c.name, c.code)) << c.name << " " << c.code;
        ASSERT_EQ(link.requests.size(), 1u) << c.code;
        EXPECT_EQ(link.requests[0].code, c.service) << c.code;
        EXPECT_EQ(link.requests[0].device, "udid-1") << c.code;
        Reply(lists, link.requests[0].id, 1, 0, "[{\"a\":\"x\"}]");
        ASSERT_FALSE(link.answers.empty()) << c.code;
        for (const ContactsAnswer& answer : link.answers) {
            EXPECT_STREQ(answer.name, c.answerName) << c.code;
        }
    }
    FakeLink link;
    ListsService lists(link);
    EXPECT_FALSE(Request(lists, ZERITH_COMMAND_DO_CONTACT, 2)) << "contacts are not a listing of this service";
    EXPECT_FALSE(Request(lists, ZERITH_COMMAND_DO_NOTE, 59)) << "a save is not a listing";
    EXPECT_TRUE(link.requests.empty());
}

TEST(RelayLists, BatchesCountAndEndOfAListing) {
    FakeLink link;
    ListsService lists(link);
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_MEDIA, 92, 14));
    const std::uint64_t id = link.requests.at(0).id;
    Reply(lists, id, 2, 0, "");  // the count info comes first, without data
    Reply(lists, id, 2, 0, R"([{"title":"Pilot","season":1,"hd":true,"art":{"w":1}},"loose"])");
    Reply(lists, id, 2, 0, "not json");  // an unreadable batch is skipped, the listing goes on
    Reply(lists, id, 2, 0, R"({"com.a.tv":{"CFBundleName":"TV","Size":12}})");  // records by key
    Reply(lists, id, 1, 0, R"([{"title":"Finale"}])");
    ASSERT_EQ(link.Codes(), (std::vector<std::int64_t>{92, 92, 92, 91, 92}));
    EXPECT_EQ(Fields(link.answers[0], 0), (std::vector<std::wstring>{L"Pilot", L"1", L"true"}));
    EXPECT_EQ(Fields(link.answers[0], 1), std::vector<std::wstring>{L"loose"});
    EXPECT_EQ(Fields(link.answers[1], 0), (std::vector<std::wstring>{L"com.a.tv", L"TV", L"12"}));
    EXPECT_EQ(Fields(link.answers[2], 0), std::vector<std::wstring>{L"Finale"});
    EXPECT_EQ(link.answers[3].value3, 4) << "the count of rows listed";
    EXPECT_EQ(link.answers[4].extra, nullptr) << "the end of the listing";
    EXPECT_EQ(link.answers[4].value2, 0);
    for (const ContactsAnswer& answer : link.answers) {
        EXPECT_EQ(answer.status, 14) << "the video kind";
    }
    EXPECT_EQ(link.answers[0].device, "udid-1");
}

TEST(RelayLists, UnbuiltModulesFailedSendsAndALostServiceEndTheListing) {
    FakeLink link;
    ListsService lists(link);
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_SMS, 24));
    Reply(lists, link.requests.at(0).id, 6, 2, "");  // the module is not built yet: a failed last reply
    EXPECT_EQ(link.Codes(), (std::vector<std::int64_t>{23, 24}));
    EXPECT_EQ(link.answers[0].value3, 0);
    EXPECT_EQ(link.answers[1].value2, 2);

    link.Clear();
    link.refuse = true;
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_APP, 52));
    EXPECT_EQ(link.Codes(), (std::vector<std::int64_t>{51, 52}));
    EXPECT_EQ(link.answers[1].value2, 2);

    link.Clear();
    link.refuse = false;
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_NOTE, 58));
    lists.OnServiceGone();
    EXPECT_EQ(link.Codes(), (std::vector<std::int64_t>{57, 58}));
    Packet late;
    late.header.id = link.requests.back().id;
    EXPECT_FALSE(lists.OnReply(late, ReplyFrame(), "")) << "a reply after the end answers nothing";
}

TEST(RelayLists, QueriesAnswerNotLoadedSoEverySwitchListsAfresh) {
    FakeLink link;
    ListsService lists(link);
    std::int64_t status = -1;
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_MEDIA, 84, 13, &status));
    EXPECT_EQ(status, 0);
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_PHOTO, 127, 1, &status));
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(link.requests.empty());
}

TEST(RelayLists, TheBackupListNeedsNoDeviceOtherListingsDo) {
    FakeLink link;
    ListsService lists(link);
    CommandMessage message{};
    message.name = ZERITH_COMMAND_DO_BACKUP;
    message.code = 136;
    ASSERT_TRUE(lists.Handle(message));
    ASSERT_EQ(link.requests.size(), 1u);
    EXPECT_EQ(link.requests[0].code, 1602u);
    EXPECT_EQ(link.requests[0].device, "");
    EXPECT_EQ(link.requests[0].data, R"({"paths":[""]})") << "the default folder";

    link.Clear();
    message.name = ZERITH_COMMAND_DO_NOTE;
    message.code = 58;
    ASSERT_TRUE(lists.Handle(message));
    EXPECT_EQ(link.requests.size(), 1u) << "no request without a device";
    EXPECT_EQ(link.Codes(), (std::vector<std::int64_t>{57, 58})) << "ended at once";
}
